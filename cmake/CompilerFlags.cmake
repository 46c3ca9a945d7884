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
