# Compiler warnings shared by every target of the project.
function(zelvane_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZELVANE_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Sanitizer instrumentation makes GCC's flow analysis report false positives in
    # Boost's headers (optional<float> inside property_tree's translators).
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  if(ZELVANE_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Boost.Asio's fences are not modelled by the thread sanitizer; GCC says so on
    # every unit that includes it.
    target_compile_options(${target} PRIVATE -Wno-tsan)
  endif()
  if(ZELVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
