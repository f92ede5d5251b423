// One kernel's builds for the baseline, AVX2 and AVX-512, and the choice among them at run time.
// Paths<Body> compiles an always-inline body three times: as is, inside an AVX2 function and
// inside an AVX-512 function; bodies that differ per path (wider blocks) are given in turn, as in
// Paths<SumRow<2, 8>, SumRow<4, 8>, SumRow<8, 8>>, each defaulting to the narrower one. A body
// that is not inlined into its entry runs baseline code on every path: mark each one
// [[gnu::always_inline]].
#pragma once

#include "platform/system/cpu.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace quorin::cpu {

// The one of three builds of a kernel the running processor takes.
template <class F>
F ChoosePath(F baseline, [[maybe_unused]] F avx2, [[maybe_unused]] F avx512) {
#if QUORIN_HAVE_AVX2_PATH
    if (UseAvx512()) return avx512;
    if (UseAvx2()) return avx2;
#endif
    return baseline;
}

template <auto Base, auto Wide = Base, auto Widest = Wide>
struct Paths;

// The bodies share one signature. The AVX entries leave the upper register halves clean.
template <class... A, void (*Base)(A...), void (*Wide)(A...), void (*Widest)(A...)>
struct Paths<Base, Wide, Widest> {
    static void Baseline(A... a) { Base(a...); }
#if QUORIN_HAVE_AVX2_PATH
    QUORIN_TARGET_AVX2 static void Avx2(A... a) {
        Wide(a...);
        _mm256_zeroupper();
    }
    QUORIN_TARGET_AVX512 static void Avx512(A... a) {
        Widest(a...);
        _mm256_zeroupper();
    }
    static auto Choose() {
        return ChoosePath(&Baseline, &Avx2, &Avx512);
    }
#else
    static auto Choose() {
        return &Baseline;
    }
#endif
};

}  // namespace quorin::cpu
