# Instrumented builds. Each lives in its own build folder (scripts/test.sh
# makes build-asan and build-tsan beside the normal one):
#
#   MORVIK_SANITIZE  AddressSanitizer + UndefinedBehaviorSanitizer; any
#                    undefined behaviour ends the program.
#   MORVIK_FUZZ      with MORVIK_SANITIZE and clang: the library objects get
#                    libFuzzer's coverage hooks and tests/fuzz builds one
#                    fuzz target per fuzz_*.cpp.
#   MORVIK_TSAN      ThreadSanitizer: the library objects and the thread
#                    stress test only.
option(MORVIK_FUZZ "Build the libFuzzer targets (clang, with MORVIK_SANITIZE)" OFF)
option(MORVIK_TSAN "Build the thread stress test with ThreadSanitizer" OFF)

if(MORVIK_SANITIZE AND MORVIK_TSAN)
  message(FATAL_ERROR "MORVIK_SANITIZE and MORVIK_TSAN need separate build folders")
endif()

# The optimisation level matters: -O0 makes the CNN passes far too slow for
# the suite, -O2 and above may fold away the faults the checks look for.
set(MORVIK_SANITIZER_OPT -O1 -g -fno-omit-frame-pointer)

if(MORVIK_SANITIZE)
  add_compile_options(${MORVIK_SANITIZER_OPT} -fsanitize=address,undefined
                      -fno-sanitize-recover=undefined)
  # A C host of the library (tests/c) needs UBSan's C++ runtime too (the
  # library's virtual calls are checked), and that runtime the C++ library.
  add_link_options(-fsanitize=address,undefined
                   "$<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime;-lstdc++>")
endif()

if(MORVIK_TSAN)
  add_compile_options(${MORVIK_SANITIZER_OPT} -fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()

if(MORVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MORVIK_FUZZ needs clang (configure with CXX=clang++)")
  endif()
  if(NOT MORVIK_SANITIZE)
    message(FATAL_ERROR "MORVIK_FUZZ needs MORVIK_SANITIZE")
  endif()
  # Coverage hooks only: libFuzzer's main() is linked into the targets alone.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
