#include "pixel/filters/pyramid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "pixel/filters/filterutil.h"
#include "platform/system/cpu.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

using quorin::PyramidWeights;

// ---- work lines ----

template <class T>
bool CArr<T>::Allocate(std::int32_t n) {
    Release();
    if (n < 1 || std::uint64_t(n) > quorin::kMaxBlockBytes / sizeof(T)) return false;
    m_data = new (std::nothrow) T[std::size_t(n)]();
    if (m_data == nullptr) return false;
    m_count = n;
    m_owns = true;
    return true;
}

template <class T>
bool CArr<T>::Resize(std::int32_t n, bool keep) {
    if (n == m_count && m_data != nullptr) return true;
    if (n < 1 || std::uint64_t(n) > quorin::kMaxBlockBytes / sizeof(T)) return false;
    T* data = new (std::nothrow) T[std::size_t(n)]();
    if (data == nullptr) return false;
    if (keep && m_data != nullptr)
        std::memcpy(data, m_data, std::size_t(std::min(n, m_count)) * sizeof(T));
    Release();
    m_data = data;
    m_count = n;
    m_owns = true;
    return true;
}

template class CArr<float>;
template class CNumArr<float>;

namespace {

constexpr PyramidWeights kWeights[] = {
    {{0.4f, 0.25f, 0.05f, 0.0f}},
    {{0.375f, 0.25f, 0.0625f, 0.0f}},
    {{0.6f, 0.25f, -0.05f, 0.0f}},
};

// Reduce taps reach 3 samples either side; expand taps one input sample before and two after.
constexpr std::int64_t kReduceReach = 3;
constexpr std::int64_t kRing = 8;
// On a level larger than kPrefetchLevelBytes the row kernels ask for the line kPrefetchAhead
// floats ahead of where they read. Such a level comes from main memory, and the hardware's own
// prefetch stops at every 4 KiB page; asking ahead across the pages (and from the row's end into
// the next rows) keeps the reads coming. A smaller level mostly sits in the caches, where the
// extra instruction would only cost time (about a tenth more).
constexpr std::int64_t kPrefetchAhead = 2048;
constexpr std::int64_t kPrefetchLevelBytes = std::int64_t(8) << 20;

#if QUORIN_HAVE_AVX2_PATH
// A hint only: the address may lie past the line's end (no fault, nothing read into the sums).
inline void PrefetchAhead(const float* p) {
    const auto at = reinterpret_cast<std::uintptr_t>(p) + kPrefetchAhead * sizeof(float);
    _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
}
#endif

// The reduce sums, written out so the order of the float operations is fixed: centre, then
// pairs outwards. Filters without a fourth weight leave its pair out.
[[gnu::always_inline]] inline float Reduce3(float a, float b, float c, float d, float e,
                                            const float* w) {
    return w[0] * a + w[1] * (b + c) + w[2] * (d + e);
}
[[gnu::always_inline]] inline float Reduce4(float a, float b, float c, float d, float e, float f,
                                            float g, const float* w) {
    return w[0] * a + w[1] * (b + c) + w[2] * (d + e) + w[3] * (f + g);
}

// Padded-index tables: reduce takes 3 extra samples each side (mirrored about the end sample).
bool ReduceTable(std::vector<std::int32_t>& table, std::int64_t n) {
    return quorin::BorderTable(table, n, kReduceReach, kReduceReach, quorin::MirrorWhole);
}

// Expand reads input samples -1 .. m + 1; input j sits at output position 2j, mirrored about
// the first and the last output sample.
bool ExpandTable(std::vector<std::int32_t>& table, std::int64_t n) {
    const std::int64_t m = (n + 1) >> 1;
    try {
        table.resize(std::size_t(m + 3));
    } catch (...) {
        return false;
    }
    for (std::int64_t j = -1; j <= m + 1; ++j)
        table[std::size_t(j + 1)] = static_cast<std::int32_t>(quorin::MirrorWhole(2 * j, n) / 2);
    return true;
}

// How an expanded line meets the level: written, added or subtracted.
enum class Merge { Store, Add, Subtract };

// ---- the row kernels, built for the baseline and for AVX2 (same operations, same order) ----

#if QUORIN_HAVE_AVX2_PATH
// Inner outputs k .. end - 1 of a line without a fourth weight, 8 (wide) or 4 at a time: the
// even and odd samples are split by shuffles straight from the line, and each output is
// w0 E[k] + w1 (O[k-1] + O[k]) + w2 (E[k-1] + E[k+1]) as in the scalar loop. The 8-wide
// shuffles keep the 128-bit halves apart, so the sums come out in the order 0 1 4 5 2 3 6 7 and
// one permutation puts them right. Reads up to in[2 (end - 1) + 3]; answers where it stopped.
template <bool ahead>
QUORIN_TARGET_AVX2 inline std::int64_t ReduceInnerAvx2(const float* in, std::int64_t k,
                                                       std::int64_t end, const float* w,
                                                       float* out) {
    const __m256 w0 = _mm256_set1_ps(w[0]), w1 = _mm256_set1_ps(w[1]), w2 = _mm256_set1_ps(w[2]);
    for (; k + 8 <= end; k += 8) {
        const float* p = in + 2 * k;
        if constexpr (ahead) PrefetchAhead(p);
        const __m256 a = _mm256_loadu_ps(p - 2), b = _mm256_loadu_ps(p + 6);
        const __m256 c = _mm256_loadu_ps(p), d = _mm256_loadu_ps(p + 8);
        const __m256 e = _mm256_loadu_ps(p + 2), f = _mm256_loadu_ps(p + 10);
        const __m256 sum = _mm256_add_ps(
            _mm256_add_ps(_mm256_mul_ps(w0, _mm256_shuffle_ps(c, d, 0x88)),
                          _mm256_mul_ps(w1, _mm256_add_ps(_mm256_shuffle_ps(a, b, 0xDD),
                                                          _mm256_shuffle_ps(c, d, 0xDD)))),
            _mm256_mul_ps(
                w2, _mm256_add_ps(_mm256_shuffle_ps(a, b, 0x88), _mm256_shuffle_ps(e, f, 0x88))));
        _mm256_storeu_ps(out + k,
                         _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sum), 0xD8)));
    }
    return k;
}

template <bool ahead>
inline std::int64_t ReduceInnerSse(const float* in, std::int64_t k, std::int64_t end,
                                   const float* w, float* out) {
    const __m128 w0 = _mm_set1_ps(w[0]), w1 = _mm_set1_ps(w[1]), w2 = _mm_set1_ps(w[2]);
    for (; k + 4 <= end; k += 4) {
        const float* p = in + 2 * k;
        if constexpr (ahead) PrefetchAhead(p);
        const __m128 a = _mm_loadu_ps(p - 2), b = _mm_loadu_ps(p + 2);
        const __m128 c = _mm_loadu_ps(p), d = _mm_loadu_ps(p + 4);
        const __m128 e = b, f = _mm_loadu_ps(p + 6);
        const __m128 sum = _mm_add_ps(
            _mm_add_ps(
                _mm_mul_ps(w0, _mm_shuffle_ps(c, d, 0x88)),
                _mm_mul_ps(w1, _mm_add_ps(_mm_shuffle_ps(a, b, 0xDD), _mm_shuffle_ps(c, d, 0xDD)))),
            _mm_mul_ps(w2, _mm_add_ps(_mm_shuffle_ps(a, b, 0x88), _mm_shuffle_ps(e, f, 0x88))));
        _mm_storeu_ps(out + k, sum);
    }
    return k;
}
#endif

// A line of n samples reduced into (n + 1) >> 1; table: the reduce table of n (entry t is the
// sample at position t - 3). The inner samples are read straight from the line; only the first
// and last outputs go through the table; `ahead` asks for the line ahead of the reads.
template <bool wide, bool ahead>
[[gnu::always_inline]] inline void ReduceLineBody(const float* in, std::int64_t n,
                                                  const std::int32_t* table, const float* w,
                                                  float* out) {
    const std::int64_t m = (n + 1) >> 1;
    const auto at = [&](std::int64_t i) { return in[table[i + kReduceReach]]; };
    const bool four = w[3] != 0.0f;
    // Inner outputs k read 2k - reach .. 2k + reach inside the line.
    const std::int64_t reach = four ? 3 : 2;
    const std::int64_t lo = std::min((reach + 1) / 2, m);
    const std::int64_t hi = std::max(lo, n - reach > 0 ? (n - 1 - reach) / 2 + 1 : lo);
    const auto edge = [&](std::int64_t k) {
        const std::int64_t c = 2 * k;
        out[k] = four ? Reduce4(at(c), at(c - 1), at(c + 1), at(c - 2), at(c + 2), at(c - 3),
                                at(c + 3), w)
                      : Reduce3(at(c), at(c - 1), at(c + 1), at(c - 2), at(c + 2), w);
    };
    for (std::int64_t k = 0; k < lo; ++k) edge(k);
    if (four) {
        for (std::int64_t k = lo; k < hi; ++k)
            out[k] = Reduce4(in[2 * k], in[2 * k - 1], in[2 * k + 1], in[2 * k - 2], in[2 * k + 2],
                             in[2 * k - 3], in[2 * k + 3], w);
    } else {
        std::int64_t k = lo;
#if QUORIN_HAVE_AVX2_PATH
        // Blocks stop one sample short of the line's end.
        const std::int64_t end = std::min(hi, std::max(lo, (n - 2) / 2));
        if constexpr (wide)
            k = ReduceInnerAvx2<ahead>(in, k, end, w, out);
        else
            k = ReduceInnerSse<ahead>(in, k, end, w, out);
#endif
        const float w0 = w[0], w1 = w[1], w2 = w[2];
        for (; k < hi; ++k)
            out[k] = w0 * in[2 * k] + w1 * (in[2 * k - 1] + in[2 * k + 1]) +
                     w2 * (in[2 * k - 2] + in[2 * k + 2]);
    }
    for (std::int64_t k = hi; k < m; ++k) edge(k);
}

// One output row of the vertical reduce from the seven rows r[0..6] (centre r[3]).
[[gnu::always_inline]] inline void ReduceColumnsBody(const float* const* r, std::int64_t width,
                                                     const float* w, float* out) {
    const float w0 = w[0], w1 = w[1], w2 = w[2];
    const float *r0 = r[0], *r1 = r[1], *r2 = r[2], *r3 = r[3], *r4 = r[4], *r5 = r[5], *r6 = r[6];
    if (w[3] == 0.0f) {
        for (std::int64_t x = 0; x < width; ++x)
            out[x] = w0 * r3[x] + w1 * (r2[x] + r4[x]) + w2 * (r1[x] + r5[x]);
    } else {
        for (std::int64_t x = 0; x < width; ++x)
            out[x] = Reduce4(r3[x], r2[x], r4[x], r1[x], r5[x], r0[x], r6[x], w);
    }
}

// One row of the vertical expand: output row 2k from rows k - 1, k, k + 1 (a, b, c), output row
// 2k + 1 from rows k, k + 1 and, with a fourth weight, k - 1 and k + 2 (b, c, a, d).
[[gnu::always_inline]] inline void ExpandColumnsBody(const float* a, const float* b, const float* c,
                                                     const float* d, bool odd, std::int64_t width,
                                                     const float* cw, float* out) {
    const float c0 = cw[0], c1 = cw[1], c2 = cw[2], c3 = cw[3];
    if (!odd) {
        for (std::int64_t x = 0; x < width; ++x) out[x] = c0 * b[x] + c2 * (a[x] + c[x]);
    } else if (c3 == 0.0f) {
        for (std::int64_t x = 0; x < width; ++x) out[x] = c1 * (b[x] + c[x]);
    } else {
        for (std::int64_t x = 0; x < width; ++x) out[x] = c1 * (b[x] + c[x]) + c3 * (a[x] + d[x]);
    }
}

// The line of m = (n + 1) >> 1 samples at in (in[-1] and in[m], in[m + 1] mirrored) expanded to
// n samples and merged into out: even outputs c0 in[k] + c2 (in[k-1] + in[k+1]), odd ones
// c1 (in[k] + in[k+1]) + c3 (in[k-1] + in[k+2]), each computed whole before it meets out.
template <Merge mode>
[[gnu::always_inline]] inline void ExpandMergeBody(const float* in, std::int64_t n, const float* cw,
                                                   float* out) {
    const float c0 = cw[0], c1 = cw[1], c2 = cw[2], c3 = cw[3];
    const auto merge = [](float& o, float v) {
        if constexpr (mode == Merge::Store)
            o = v;
        else if constexpr (mode == Merge::Add)
            o = o + v;
        else
            o = o - v;
    };
    if (n <= 2) {  // both outputs of a line of two are its one sample
        for (std::int64_t x = 0; x < n; ++x) merge(out[x], in[0]);
        return;
    }
    const std::int64_t pairs = n >> 1;
    if (c3 == 0.0f) {
        for (std::int64_t k = 0; k < pairs; ++k) {
            const float even = c0 * in[k] + c2 * (in[k - 1] + in[k + 1]);
            const float odd = c1 * (in[k] + in[k + 1]);
            merge(out[2 * k], even);
            merge(out[2 * k + 1], odd);
        }
    } else {
        for (std::int64_t k = 0; k < pairs; ++k) {
            const float even = c0 * in[k] + c2 * (in[k - 1] + in[k + 1]);
            const float odd = c1 * (in[k] + in[k + 1]) + c3 * (in[k - 1] + in[k + 2]);
            merge(out[2 * k], even);
            merge(out[2 * k + 1], odd);
        }
    }
    if (n & 1) merge(out[n - 1], c0 * in[pairs] + c2 * (in[pairs - 1] + in[pairs + 1]));
}

// Work memory of the reduce and the expand, kept per thread from call to call and only grown,
// never cleared: the ring's tags say which rows it holds.
struct Work {
    std::vector<std::int32_t> columns, rows;  // border tables
    std::vector<float> ring;                  // kRing rows of H (reduce) / one padded line
    std::int64_t tags[kRing];                 // the row of H each ring slot holds, -1 none

    bool Reserve(std::int64_t floats) {
        try {
            if (std::int64_t(ring.size()) < floats) ring.resize(std::size_t(floats));
        } catch (...) {
            return false;
        }
        std::fill(std::begin(tags), std::end(tags), -1);
        return true;
    }
};

Work& ThreadWork() {
    thread_local Work work;
    return work;
}

// The level (C x R) reduced into child: each row reduced horizontally (the rows of H, (C+1)>>1
// wide), then H's columns vertically. H is never held whole: its rows are made on demand into a
// ring of 8, enough for the 7 rows one output row reads.
template <bool wide>
[[gnu::always_inline]] inline void ReduceBody(const C2DArr<float>& level, C2DArr<float>& child,
                                              Work& work, const float* w) {
    const std::int64_t C = level.Width(), width = child.Width();
    const std::int32_t* columns = work.columns.data();
    const std::int32_t* rows = work.rows.data();
    const bool ahead =
        C * std::int64_t(level.Height()) * std::int64_t(sizeof(float)) > kPrefetchLevelBytes;
    for (std::int64_t k = 0; k < child.Height(); ++k) {
        const float* r[7];
        for (int t = 0; t < 7; ++t) {
            const std::int64_t y = rows[std::size_t(2 * k + t)];
            float* slot = &work.ring[std::size_t(y % kRing) * std::size_t(width)];
            if (work.tags[y % kRing] != y) {
                if (ahead)
                    ReduceLineBody<wide, true>(level.Row(std::uint32_t(y)), C, columns, w, slot);
                else
                    ReduceLineBody<wide, false>(level.Row(std::uint32_t(y)), C, columns, w, slot);
                work.tags[y % kRing] = y;
            }
            r[t] = slot;
        }
        ReduceColumnsBody(r, width, w, child.Row(std::uint32_t(k)));
    }
}

// child expanded back to C x R and merged into level: row y of the vertical expansion
// is made into a padded line, then expanded along the row straight into the level's row.
template <Merge mode>
[[gnu::always_inline]] inline void ExpandBody(const C2DArr<float>& child, C2DArr<float>& level,
                                              Work& work, const float* c) {
    const std::int64_t C = level.Width(), R = level.Height(), width = child.Width();
    const std::int32_t* rows = work.rows.data();
    const std::int32_t* columns = work.columns.data();
    const std::size_t padded = work.columns.size();
    float* line = work.ring.data() + 1;  // line[-1] .. line[width + 1]
    for (std::int64_t y = 0; y < R; ++y) {
        const std::int64_t k = y >> 1;
        if (R <= 2) {  // a line of one or two samples expands to copies of its one sample
            std::memcpy(line, child.Row(0), std::size_t(width) * sizeof(float));
        } else {
            const auto row = [&](std::int64_t t) { return child.Row(std::uint32_t(rows[t])); };
            ExpandColumnsBody(row(k), row(k + 1), row(k + 2), (y & 1) ? row(k + 3) : nullptr,
                              (y & 1) != 0, width, c, line);
        }
        line[-1] = line[columns[0]];
        for (std::size_t t = std::size_t(width) + 1; t < padded; ++t)
            line[std::int64_t(t) - 1] = line[columns[t]];
        ExpandMergeBody<mode>(line, C, c, level.Row(std::uint32_t(y)));
    }
}

void ReduceBaseline(const C2DArr<float>& level, C2DArr<float>& child, Work& work, const float* w) {
    ReduceBody<false>(level, child, work, w);
}

template <Merge mode>
void ExpandBaseline(const C2DArr<float>& child, C2DArr<float>& level, Work& work, const float* c) {
    ExpandBody<mode>(child, level, work, c);
}

#if QUORIN_HAVE_AVX2_PATH
// The AVX2 builds leave the upper register halves clean: baseline code run after dirty halves
// is several times slower.
QUORIN_TARGET_AVX2 void ReduceAvx2(const C2DArr<float>& level, C2DArr<float>& child, Work& work,
                                   const float* w) {
    ReduceBody<true>(level, child, work, w);
    _mm256_zeroupper();
}

template <Merge mode>
QUORIN_TARGET_AVX2 void ExpandAvx2(const C2DArr<float>& child, C2DArr<float>& level, Work& work,
                                   const float* c) {
    ExpandBody<mode>(child, level, work, c);
    _mm256_zeroupper();
}
#endif

bool Reduce(const C2DArr<float>& level, C2DArr<float>& child, const PyramidWeights& weights) {
    const std::int64_t C = level.Width(), R = level.Height();
    Work& work = ThreadWork();
    if (!ReduceTable(work.columns, C) || !ReduceTable(work.rows, R) ||
        !work.Reserve(kRing * std::int64_t(child.Width())))
        return false;
#if QUORIN_HAVE_AVX2_PATH
    if (quorin::cpu::UseAvx2()) {
        ReduceAvx2(level, child, work, weights.w);
        return true;
    }
#endif
    ReduceBaseline(level, child, work, weights.w);
    return true;
}

template <Merge mode>
bool Expand(const C2DArr<float>& child, C2DArr<float>& level, const PyramidWeights& weights) {
    const std::int64_t C = level.Width(), R = level.Height();
    const float c[4] = {2.0f * weights.w[0], 2.0f * weights.w[1], 2.0f * weights.w[2],
                        2.0f * weights.w[3]};
    Work& work = ThreadWork();
    if (!ExpandTable(work.rows, R) || !ExpandTable(work.columns, C) ||
        !work.Reserve(std::int64_t(child.Width()) + 3))
        return false;
#if QUORIN_HAVE_AVX2_PATH
    if (quorin::cpu::UseAvx2()) {
        ExpandAvx2<mode>(child, level, work, c);
        return true;
    }
#endif
    ExpandBaseline<mode>(child, level, work, c);
    return true;
}

std::unique_ptr<C2DArr<float>> MakeArray(std::uint32_t width, std::uint32_t height) {
    std::unique_ptr<C2DArr<float>> array(new (std::nothrow) C2DArr<float>);
    if (!array || !array->Create(width, height, 1, nullptr)) return nullptr;
    return array;
}

}  // namespace

namespace quorin {

const PyramidWeights* PyramidFilterWeights(std::uint32_t index) {
    return index < std::size(kWeights) ? &kWeights[index] : nullptr;
}

void PyramidReduceLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w) {
    std::vector<std::int32_t> table;
    if (in == nullptr || out == nullptr || n < 1 || !ReduceTable(table, n)) return;
    ReduceLineBody<false, false>(in, n, table.data(), w.w, out);
}

void PyramidExpandLine(const float* in, float* out, std::int64_t n, const PyramidWeights& w) {
    std::vector<std::int32_t> table;
    if (in == nullptr || out == nullptr || n < 1 || !ExpandTable(table, n)) return;
    std::vector<float> line(table.size());
    for (std::size_t k = 0; k < table.size(); ++k) line[k] = in[table[k]];
    const float c[4] = {2.0f * w.w[0], 2.0f * w.w[1], 2.0f * w.w[2], 2.0f * w.w[3]};
    ExpandMergeBody<Merge::Store>(line.data() + 1, n, c, out);
}

bool PyramidReduce(const C2DArr<float>& level, C2DArr<float>& child, const PyramidWeights& w) {
    if (!level.IsValid() || !child.IsValid() || child.Width() != (level.Width() + 1) >> 1 ||
        child.Height() != (level.Height() + 1) >> 1)
        return false;
    return Reduce(level, child, w);
}

bool PyramidExpand(const C2DArr<float>& child, C2DArr<float>& level, int sign,
                   const PyramidWeights& w) {
    if (!level.IsValid() || !child.IsValid() || child.Width() != (level.Width() + 1) >> 1 ||
        child.Height() != (level.Height() + 1) >> 1)
        return false;
    return sign < 0 ? Expand<Merge::Subtract>(child, level, w)
                    : Expand<Merge::Add>(child, level, w);
}

void MapLevel(C2DArr<float>& level, float noiseThreshold, float largeThreshold, float noiseGain,
              float gain, float boost) {
    const double tn = noiseThreshold, tl = largeThreshold, gn = noiseGain, g = gain, gb = boost;
    const double middle = (gn - g) * tn, top = (g - gb) * tl + (gn - g) * tn;
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        float* row = level.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const double v = row[x], a = std::fabs(v);
            double mapped;
            if (a < tn)
                mapped = a * gn;
            else if (a < tl)
                mapped = a * g + middle;
            else
                mapped = a * gb + top;
            row[x] = static_cast<float>(v < 0.0 ? -mapped : mapped);
        }
    }
}

void MapLevelFixed(C2DArr<float>& level, int i) {
    static constexpr double kGain[kPyramidLevels] = {2.8, 3.2, 3.0, 2.75, 2.5, 2.2};
    static constexpr double kThreshold[kPyramidLevels] = {10, 25, 25, 25, 25, 25};
    if (i < 0 || i >= kPyramidLevels) return;
    const double G = kGain[i], T = kThreshold[i];
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        float* row = level.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const double v = row[x], a = std::fabs(v);
            const double mapped = a < T ? a * G : a - T + G * T;
            row[x] = static_cast<float>(v < 0.0 ? -mapped : mapped);
        }
    }
}

double EstimateNoise(const C2DArr<float>& level) {
    const std::int64_t C = level.Width(), R = level.Height();
    if (!level.IsValid()) return 1.0;
    const auto b = static_cast<std::int64_t>(std::trunc(double(std::min(C, R)) * 0.025));
    const std::int64_t y0 = b, y1 = R - b, x0 = b, x1 = C - b;
    if (y0 >= y1 || x0 >= x1) return 1.0;
    // Variance of the values with -limit < v < limit (all when limit is null), sampling every
    // `step`-th row and column; not a number when nothing is sampled.
    const auto variance = [&](std::int64_t step, const double* limit) {
        double sum = 0.0, squares = 0.0;
        std::uint64_t count = 0;
        for (std::int64_t y = y0; y < y1; y += step) {
            const float* row = level.Row(std::uint32_t(y));
            for (std::int64_t x = x0; x < x1; x += step) {
                const double v = row[x];
                if (limit != nullptr && !(v > -*limit && v < *limit)) continue;
                sum += v;
                squares += v * v;
                ++count;
            }
        }
        if (count == 0) return std::nan("");
        const double mean = sum / double(count);
        return squares / double(count) - mean * mean;
    };
    double s = variance(3, nullptr);
    if (!(s > 1.0)) return 1.0;
    double last = s;
    for (int i = 0; i < 10; ++i) {
        const double t = 3.0 * std::sqrt(s);
        const double next = variance(1, &t);
        // Nothing inside the band (a level far from zero): the estimate stays where it was.
        if (std::isnan(next)) break;
        last = next;
        if (next / s > 0.95) break;
        s = next;
    }
    return last;
}

bool WriteLevel(const C2DArr<float>& level, C2DArr<unsigned short>& target, std::uint32_t top) {
    if (!level.IsValid() || !target.IsValid() || target.Width() < level.Width() ||
        target.Height() < level.Height())
        return false;
    const float limit = static_cast<float>(std::min<std::uint32_t>(top, 65535));
    for (std::uint32_t y = 0; y < level.Height(); ++y) {
        const float* in = level.Row(y);
        unsigned short* out = target.Row(y);
        for (std::uint32_t x = 0; x < level.Width(); ++x) {
            const float v = in[x];
            out[x] = v > 0.0f ? static_cast<unsigned short>(std::trunc(std::min(v, limit))) : 0;
        }
    }
    return true;
}

}  // namespace quorin

// ---- CMRANode ----

CMRANode::~CMRANode() {
    CMRANode::Reset();
}

void CMRANode::Reset() {
    delete m_child;
    m_child = nullptr;
    delete m_data;
    m_data = nullptr;
    m_parent = nullptr;
}

bool CMRANode::CreateData(std::uint32_t width, std::uint32_t height) {
    auto array = MakeArray(width, height);
    if (!array) return false;
    m_data = array.release();
    return true;
}

bool CMRANode::Init(const C2DArr<float>& source) {
    Reset();
    if (!source.IsValid() || !CreateData(source.Width(), source.Height())) return false;
    return m_data->CopyFrom(source) || (Reset(), false);
}

bool CMRANode::Init(const C2DArr<unsigned short>& source, const float* table,
                    std::uint32_t tableEntries) {
    Reset();
    if (!source.IsValid() || table == nullptr || tableEntries == 0 ||
        !CreateData(source.Width(), source.Height()))
        return false;
    for (std::uint32_t y = 0; y < source.Height(); ++y) {
        const unsigned short* in = source.Row(y);
        float* out = m_data->Row(y);
        for (std::uint32_t x = 0; x < source.Width(); ++x)
            out[x] = table[std::min<std::uint32_t>(in[x], tableEntries - 1)];
    }
    return true;
}

bool CMRANode::Init(const C2DArr<unsigned short>& source) {
    Reset();
    if (!source.IsValid() || !CreateData(source.Width(), source.Height())) return false;
    for (std::uint32_t y = 0; y < source.Height(); ++y) {
        const unsigned short* in = source.Row(y);
        float* out = m_data->Row(y);
        for (std::uint32_t x = 0; x < source.Width(); ++x) out[x] = in[x];
    }
    return true;
}

bool CMRANode::CopyFrom(const CMRANode&) {
    return false;
}

std::uint32_t CMRANode::NextWidth() const {
    return m_data != nullptr ? (m_data->Width() + 1) >> 1 : 0;
}
std::uint32_t CMRANode::NextHeight() const {
    return m_data != nullptr ? (m_data->Height() + 1) >> 1 : 0;
}

int CMRANode::Level() const {
    int level = 0;
    for (const CMRANode* node = m_parent; node != nullptr; node = node->m_parent) ++level;
    return level;
}

// ---- CPyramid ----

bool CPyramid::CreateChild() {
    delete m_child;
    m_child = nullptr;
    if (m_data == nullptr) return false;
    auto* child = new (std::nothrow) CPyramid(m_filterIndex);
    if (child == nullptr) return false;
    child->m_parent = this;
    m_child = child;
    return child->CreateData(NextWidth(), NextHeight());
}

bool CPyramid::Decompose() {
    const PyramidWeights* weights = quorin::PyramidFilterWeights(m_filterIndex);
    if (m_data == nullptr || weights == nullptr) return false;
    if (!CreateChild()) return false;
    return Reduce(*m_data, *m_child->Data(), *weights) &&
           Expand<Merge::Subtract>(*m_child->Data(), *m_data, *weights);
}

bool CPyramid::Reconstruct() {
    const PyramidWeights* weights = quorin::PyramidFilterWeights(m_filterIndex);
    if (m_data == nullptr || weights == nullptr) return false;
    if (m_child == nullptr) return true;  // the coarsest node has nothing to merge
    // Each node after its child: the chain is merged from the coarsest level upwards.
    if (m_child->Child() != nullptr && !m_child->Reconstruct()) return false;
    C2DArr<float>* child = m_child->Data();
    if (child == nullptr || child->Width() != NextWidth() || child->Height() != NextHeight())
        return false;
    if (!Expand<Merge::Add>(*child, *m_data, *weights)) return false;
    delete m_child;
    m_child = nullptr;
    return true;
}

bool CPyramid::CopyFrom(const CMRANode& other) {
    CMRANode* parent = m_parent;
    Reset();
    m_parent = parent;
    if (other.Data() == nullptr) return false;
    m_filterIndex = other.FilterIndex();
    if (!CreateData(other.Data()->Width(), other.Data()->Height()) ||
        !m_data->CopyFrom(*other.Data()))
        return false;
    if (other.Child() == nullptr) return true;
    auto* child = new (std::nothrow) CPyramid(m_filterIndex);
    if (child == nullptr) return false;
    child->m_parent = this;
    m_child = child;
    return child->CopyFrom(*other.Child());
}

// ---- CPyramidFilter ----

namespace {

bool DecomposeChain(CPyramid& root) {
    CMRANode* node = &root;
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        if (node == nullptr || !node->Decompose()) return false;
        node = node->Child();
    }
    return true;
}

// Node k steps below the root; null past the chain's end.
CMRANode* NodeAt(CMRANode* root, int k) {
    for (int i = 0; i < k && root != nullptr; ++i) root = root->Child();
    return root;
}

}  // namespace

CPyramidFilter::CPyramidFilter(std::uint32_t bits) : m_bits(bits) {}

CPyramidFilter::~CPyramidFilter() {
    Release();
}

void CPyramidFilter::Release() {
    m_state = 0;
    delete m_root;
    m_root = nullptr;
    m_source = nullptr;
}

int CPyramidFilter::Decompose(const C2DArr<unsigned short>& source) {
    if (m_state != 0) {
        m_state = -1;
        return -1;
    }
    m_source = &source;
    m_root = new (std::nothrow) CPyramid(0);
    if (m_root == nullptr || !m_root->Init(source) || !DecomposeChain(*m_root)) {
        delete m_root;
        m_root = nullptr;
        m_state = -1;
        return -1;
    }
    m_state = 1;
    return 0;
}

double CPyramidFilter::NoiseEstimate(int k) const {
    if (m_state != 1 || k < 0 || k >= quorin::kPyramidLevels) return -1.0;
    const CMRANode* node = NodeAt(m_root, k);
    return node != nullptr && node->Data() != nullptr ? quorin::EstimateNoise(*node->Data()) : -1.0;
}

int CPyramidFilter::Enhance(const SCRFilterParam* records) {
    if (m_state != 1 || records == nullptr) {
        m_state = -1;
        return -1;
    }
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        CMRANode* node = NodeAt(m_root, i);
        if (node == nullptr || node->Data() == nullptr || node->Child() == nullptr) continue;
        const SCRFilterParam& r = records[i];
        quorin::MapLevel(*node->Data(), r.NOISETHRESHOLD,
                         std::max(r.LARGESCALETHRESHOLD, r.NOISETHRESHOLD),
                         r.NOISESUPPRESSFACTOR * r.ENHFACTOR, r.ENHFACTOR,
                         std::min(r.LARGESCALEBOOSTFACTOR, r.ENHFACTOR));
    }
    return 0;
}

int CPyramidFilter::Reconstruct(C2DArr<unsigned short>& target) {
    const std::uint32_t bits = std::clamp<std::uint32_t>(m_bits, 1, 16);
    if (m_root == nullptr || m_root->Data() == nullptr || !target.IsValid() ||
        target.Width() < m_root->Data()->Width() || target.Height() < m_root->Data()->Height() ||
        !m_root->Reconstruct() || !quorin::WriteLevel(*m_root->Data(), target, (1u << bits) - 1)) {
        Release();
        m_state = -1;
        return -1;
    }
    Release();
    return 0;
}

bool PyramidFixedGainEnhance(C2DArr<unsigned short>& target, const C2DArr<unsigned short>& source) {
    if (!source.IsValid() || !target.IsValid() || target.Width() < source.Width() ||
        target.Height() < source.Height())
        return false;
    CPyramid root(0);
    if (!root.Init(source) || !DecomposeChain(root)) return false;
    for (int i = 0; i < quorin::kPyramidLevels; ++i) {
        CMRANode* node = NodeAt(&root, i);
        if (node != nullptr && node->Child() != nullptr) quorin::MapLevelFixed(*node->Data(), i);
    }
    return root.Reconstruct() && quorin::WriteLevel(*root.Data(), target, 4095);
}
