#pragma once

// ThreadSanitizer's runtime brings its own operator new, which a test binary then cannot
// replace: tests that inject allocation faults skip in such a build.
#if defined(__SANITIZE_THREAD__)
#define KORVANE_TSAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANE_TSAN_BUILD 1
#endif
#endif

#ifdef KORVANE_TSAN_BUILD
constexpr bool kAllocationFaultsAvailable = false;
#else
constexpr bool kAllocationFaultsAvailable = true;
#endif

#define SKIP_WITHOUT_ALLOCATION_FAULTS()                                                           \
    do {                                                                                           \
        if (!kAllocationFaultsAvailable) {                                                         \
            GTEST_SKIP() << "allocation faults cannot be injected in this build";                  \
        }                                                                                          \
    } while (0)
