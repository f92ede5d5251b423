// Run-time choice between the baseline x86-64 kernels and their AVX2 builds. Both paths must give
// the same bytes (each pixel's terms added in the same order, no fused multiply-add), so a test
// can force the baseline path and compare.
#pragma once

namespace quorin::cpu {

// True when the processor runs AVX2 code and no ScopedBaselineOnly is alive.
bool UseAvx2();

// While alive, UseAvx2() answers false on every thread (a test hook; nests).
class ScopedBaselineOnly {
public:
    ScopedBaselineOnly();
    ~ScopedBaselineOnly();
    ScopedBaselineOnly(const ScopedBaselineOnly&) = delete;
    ScopedBaselineOnly& operator=(const ScopedBaselineOnly&) = delete;
};

}  // namespace quorin::cpu

// Marks a function compiled for AVX2 (without FMA: -ffp-contract=off keeps products and sums
// apart in any case). Call such a function only when UseAvx2() answers true.
// A function that uses 256-bit registers must leave with their upper halves cleared: call
// _mm256_zeroupper() before every return. The compiler usually adds it but once left one path
// without it, and all the baseline SSE code run after that was three times slower.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORIN_HAVE_AVX2_PATH 1
#define QUORIN_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define QUORIN_HAVE_AVX2_PATH 0
#define QUORIN_TARGET_AVX2
#endif
