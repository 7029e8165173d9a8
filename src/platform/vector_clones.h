// A hot loop marked KORVANE_VECTOR_CLONES is built twice, for AVX2 and for the baseline
// x86-64 instruction set, and the dynamic loader picks the one the processor runs. Only
// where the toolchain can pick at load time (x86-64 ELF, GCC or Clang); elsewhere it is
// built once. Both builds compute the same values bit for bit: nothing is fused or
// reordered, the wider registers only take more samples at a time.
// Mark only functions that call nothing: GCC may then leave the upper halves of the
// vector registers in use across a call into baseline code, which slows every SSE
// instruction after it, in the rest of the program too.
// Not under ThreadSanitizer: the loader runs the choosing code before the sanitizer's
// runtime is up, and the program dies before main.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANE_NO_LOAD_TIME_CHOICE
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KORVANE_NO_LOAD_TIME_CHOICE
#endif

#if defined(__ELF__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) &&        \
    !defined(KORVANE_NO_LOAD_TIME_CHOICE)
#define KORVANE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORVANE_VECTOR_CLONES
#endif
