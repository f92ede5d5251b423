#include "pixel/filters/smooth16.h"

#include "platform/system/cpu.h"

namespace quorin {
namespace {

// 32-bit sums multiply 16 by 16 bits (the widening multiply vectorises); 64-bit sums take a
// symmetric kernel's mirrored taps with one product (the integer sum is the same).
template <class Acc>
[[gnu::always_inline]] inline void Rows(const ConvolveJob16& job, Acc* acc) {
    const std::size_t width = job.width, n = job.n;
    const std::size_t centre = job.paired ? n / 2 : 0;
    {
        const std::uint16_t* s = job.sources[centre];
        const std::uint16_t k = job.kernel[centre];
        for (std::size_t x = 0; x < width; ++x) acc[x] = Acc(k) * Acc(s[x]);
    }
    if (job.paired && sizeof(Acc) == 4) {
        for (std::size_t t = 0; t < n / 2; ++t) {
            const std::uint16_t k = job.kernel[t];
            const std::uint16_t* a = job.sources[t];
            const std::uint16_t* b = job.sources[n - 1 - t];
            for (std::size_t x = 0; x < width; ++x)
                acc[x] += Acc(k) * Acc(static_cast<std::uint16_t>(a[x] + b[x]));
        }
    } else if (job.paired) {
        for (std::size_t t = 0; t < n / 2; ++t) {
            const Acc k = job.kernel[t];
            const std::uint16_t* a = job.sources[t];
            const std::uint16_t* b = job.sources[n - 1 - t];
            for (std::size_t x = 0; x < width; ++x) acc[x] += k * (Acc(a[x]) + b[x]);
        }
    } else {
        for (std::size_t t = 1; t < n; ++t) {
            const std::uint16_t k = job.kernel[t];
            if (k == 0) continue;
            const std::uint16_t* s = job.sources[t];
            for (std::size_t x = 0; x < width; ++x) acc[x] += Acc(k) * Acc(s[x]);
        }
    }
    std::uint16_t* out = job.out;
    if constexpr (sizeof(Acc) == 4) {
        // The quotient (at most 65535) estimated in float is off by at most one; the remainder
        // puts it right, so the result is the exact truncated quotient.
        const auto d = static_cast<std::int32_t>(job.sum);
        const float scale = 2.0f / float(job.sum);
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t v = acc[x];
            std::int32_t q = static_cast<std::int32_t>(float(std::int32_t(v >> 1)) * scale);
            const auto r = static_cast<std::int32_t>(v - std::uint32_t(q) * std::uint32_t(d));
            q += (r >= d) - (r < 0);
            out[x] = static_cast<std::uint16_t>(q);
        }
    } else {
        for (std::size_t x = 0; x < width; ++x)
            out[x] = static_cast<std::uint16_t>(acc[x] / job.sum);
    }
}

template <class Acc>
void RowsBaseline(const ConvolveJob16& job, Acc* acc) {
    Rows(job, acc);
}

#if QUORIN_HAVE_AVX2_PATH
template <class Acc>
QUORIN_TARGET_AVX2 void RowsAvx2(const ConvolveJob16& job, Acc* acc) {
    Rows(job, acc);
}
#endif

template <class Acc>
void Dispatch(const ConvolveJob16& job, Acc* acc) {
#if QUORIN_HAVE_AVX2_PATH
    if (cpu::UseAvx2()) return RowsAvx2(job, acc);
#endif
    RowsBaseline(job, acc);
}

}  // namespace

void ConvolveRows16(const ConvolveJob16& job, std::uint32_t* acc) {
    Dispatch(job, acc);
}
void ConvolveRows16(const ConvolveJob16& job, std::uint64_t* acc) {
    Dispatch(job, acc);
}

}  // namespace quorin
