# The metafile parser: ASX, PLS, M3U and [Reference] text from the network.
didira_add_fuzzer(resolver_fuzzer ${CMAKE_SOURCE_DIR}/fuzz/resolver_fuzzer.cpp
  ${CMAKE_SOURCE_DIR}/player/MetafileParser.cpp)
target_link_libraries(resolver_fuzzer PRIVATE Qt6::Core)
