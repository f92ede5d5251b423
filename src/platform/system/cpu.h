// Run-time choice between the baseline x86-64 kernels and their AVX2 and AVX-512 builds. Every
// path must give the same bytes (each pixel's terms added in the same order, no fused
// multiply-add), so a test can force the lower paths and compare.
#pragma once

namespace quorin::cpu {

// True when the processor runs AVX2 code and no ScopedBaselineOnly is alive.
bool UseAvx2();

// True when the processor runs AVX-512 code with byte and word, vector-length, doubleword and
// byte-permute instructions (F, BW, VL, DQ, VBMI), UseAvx2() answers true and no ScopedAvx2Only
// is alive.
bool UseAvx512();

// While alive, UseAvx2() and UseAvx512() answer false on every thread (a test hook; nests).
class ScopedBaselineOnly {
  public:
    ScopedBaselineOnly();
    ~ScopedBaselineOnly();
    ScopedBaselineOnly(const ScopedBaselineOnly&) = delete;
    ScopedBaselineOnly& operator=(const ScopedBaselineOnly&) = delete;
};

// While alive, UseAvx512() answers false on every thread: the AVX2 paths run where the processor
// has both (a test hook; nests).
class ScopedAvx2Only {
  public:
    ScopedAvx2Only();
    ~ScopedAvx2Only();
    ScopedAvx2Only(const ScopedAvx2Only&) = delete;
    ScopedAvx2Only& operator=(const ScopedAvx2Only&) = delete;
};

}  // namespace quorin::cpu

// Marks a function compiled for AVX2 (without FMA: -ffp-contract=off keeps products and sums
// apart in any case). Call such a function only when UseAvx2() answers true.
// A function that uses 256-bit registers must leave with their upper halves cleared: call
// _mm256_zeroupper() before every return. The compiler usually adds it but once left one path
// without it, and all the baseline SSE code run after that was three times slower.
// QUORIN_TARGET_AVX512 marks a function for AVX-512 (call it only when UseAvx512() answers
// true); the same rule on upper halves holds for its 256- and 512-bit registers.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORIN_HAVE_AVX2_PATH 1
#define QUORIN_TARGET_AVX2 __attribute__((target("avx2")))
#define QUORIN_TARGET_AVX512 \
    __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")))
#else
#define QUORIN_HAVE_AVX2_PATH 0
#define QUORIN_TARGET_AVX2
#define QUORIN_TARGET_AVX512
#endif
