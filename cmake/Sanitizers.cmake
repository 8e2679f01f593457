# Sanitizers apply to everything we compile, so that templates instantiated in tests are
# instrumented the same way as the libraries.
if(TALVERIN_SANITIZE AND TALVERIN_TSAN)
  message(FATAL_ERROR "TALVERIN_SANITIZE and TALVERIN_TSAN are separate builds")
endif()
if(TALVERIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # What fuzz/ compiles its libraries under test with: coverage for the fuzzer to steer by.
  set(TALVERIN_FUZZ_COVERAGE -fsanitize=fuzzer-no-link)
endif()
if(TALVERIN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

set(TALVERIN_WARNINGS -Wall -Wextra -Wpedantic -Werror)

