# The sanitizer and fuzzing instrumentation of this build, on one interface target:
# every library of the project links it (see ZelvaneLibrary.cmake) and passes it on
# to whatever links them in the build tree, so that tests, applications, examples and
# fuzz targets are instrumented alike, and installed consumers see none of it.
add_library(zelvane_instrumentation INTERFACE)

if(ZELVANE_SANITIZE)
  target_compile_options(zelvane_instrumentation INTERFACE
    -fsanitize=${ZELVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(zelvane_instrumentation INTERFACE -fsanitize=${ZELVANE_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Sanitizer instrumentation makes GCC's flow analysis report false positives in
    # Boost's headers (optional<float> inside property_tree's translators).
    target_compile_options(zelvane_instrumentation INTERFACE -Wno-maybe-uninitialized)
    if(ZELVANE_SANITIZE MATCHES "thread")
      # Boost.Asio's fences are not modelled by the thread sanitizer; GCC says so on
      # every unit that includes it.
      target_compile_options(zelvane_instrumentation INTERFACE -Wno-tsan)
    endif()
  endif()
endif()

if(ZELVANE_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "the fuzz targets need clang (libFuzzer): CXX=clang++")
  endif()
  # Coverage feedback for libFuzzer in everything the fuzz targets run; the targets
  # themselves add the fuzzer's main (-fsanitize=fuzzer).
  target_compile_options(zelvane_instrumentation INTERFACE -fsanitize=fuzzer-no-link)
endif()
