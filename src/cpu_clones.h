// ZELVANE_CPU_CLONES(targets): compiles a function once per target named and once for any
// processor, the loader choosing among them when the library is loaded (GCC's and
// clang's target_clones). The choice is made by a resolver that runs while the library
// is being relocated, before a thread sanitizer's runtime has started: instrumented, it
// crashes the program at load. Builds under the thread sanitizer therefore get the code
// for any processor only, which gives the same results.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELVANE_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZELVANE_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && !defined(ZELVANE_THREAD_SANITIZER)
#define ZELVANE_CPU_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define ZELVANE_CPU_CLONES(...)
#endif
