# Fails when the program holds a name of a test hook (in code, data or symbols).
file(STRINGS ${PROGRAM} found REGEX "pipeline_test|HoldNextTeardown|RunningStateWorkers|TestHook|DIDIRA_AUTOMATION")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "${PROGRAM} holds test hooks:\n${found}")
endif()
