# The language standard, for every target of the project (fuzzers included).
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# One INTERFACE target carries the compiler flags of every target of the project.
add_library(didira_flags INTERFACE)
target_compile_options(didira_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(didira_flags INTERFACE QT_NO_CONTEXTLESS_CONNECT)
if(DIDIRA_WERROR)
  target_compile_options(didira_flags INTERFACE -Werror)
  target_compile_definitions(didira_flags INTERFACE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()
if(DIDIRA_SANITIZE)
  target_compile_options(didira_flags INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(didira_flags INTERFACE -fsanitize=address,undefined)
endif()

# Release builds are hardened as Debian builds its packages: the flags
# dpkg-buildflags gives with every hardening feature on (fortified functions,
# stack protector, format checks, relocations read-only and bound at start).
# Optimisation and debug information stay the build type's. Sanitizer and
# fuzzer builds go without: fortified functions hide accesses from them.
set(_didira_release_types Release RelWithDebInfo MinSizeRel)
if(CMAKE_BUILD_TYPE IN_LIST _didira_release_types AND NOT DIDIRA_SANITIZE AND NOT DIDIRA_FUZZ)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(_kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
        ${DPKG_BUILDFLAGS} --get ${_kind}
      OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    # -ffile-prefix-map would name the configuring directory in every object.
    list(FILTER _flags EXCLUDE REGEX "^-(O|g|ffile-prefix-map=)")
    if(_kind STREQUAL LDFLAGS)
      target_link_options(didira_flags INTERFACE ${_flags})
    else()
      target_compile_options(didira_flags INTERFACE ${_flags})
    endif()
  endforeach()
endif()
