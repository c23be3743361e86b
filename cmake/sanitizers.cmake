# Instrumented builds. Both options apply to every target defined after this
# file is included (core library, tests, command line).
option(QUARRIX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUARRIX_FUZZ "Build the libFuzzer targets under fuzz/ (needs clang)" OFF)

if(QUARRIX_SANITIZE OR QUARRIX_FUZZ)
  # Any undefined behaviour ends the run, so a test or fuzz input cannot pass over it.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUARRIX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUARRIX_FUZZ needs clang (configure with CXX=clang++)")
  endif()
  # Coverage feedback for the core; only the fuzz executables link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
