# libFuzzer targets (fuzz/), built from the same libraries as the program: with clang, every
# library instrumented for the fuzzer and the sanitizers, each target linked with libFuzzer's
# main. scripts/fuzz.sh configures a folder of its own with this on and runs the targets.
option(VELMORA_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(VELMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELMORA_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(VELMORA_ASAN OR VELMORA_TSAN)
    message(FATAL_ERROR "VELMORA_FUZZ brings its own sanitizers: leave VELMORA_ASAN and VELMORA_TSAN off")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
