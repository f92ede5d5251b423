#include "pixel/filters/floatmultiscale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pixel/filters/filterutil.h"
#include "platform/system/paths.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quorin {
namespace {

// The largest working plane made: 2^30 floats (4 GiB), far beyond any detector.
constexpr std::int64_t kMaxPlane = std::int64_t{1} << 30;

template <class T>
std::unique_ptr<T[]> NewArray(std::int64_t n) {
    if (n < 1) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(n)]);
}

}  // namespace

bool FloatLogTable(float* table, std::size_t n, const std::uint16_t* pixels, std::uint64_t count) {
    if (table == nullptr || n < 2 || (pixels == nullptr && count > 0)) return false;
    const std::uint64_t M = n - 1;
    std::uint64_t m0 = M, m1 = 0;
    bool any = false;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t v = pixels[k];
        if (v >= M) continue;
        any = true;
        m0 = std::min(m0, v);
        m1 = std::max(m1, v);
    }
    if (!any) m0 = m1 = 0;
    const double top = double(M) + 200.0;
    const double c = std::log(top - double(m1));
    const double scale = m0 < m1 ? double(M) / (std::log(top - double(m0)) - c) : 0.0;
    for (std::uint64_t i = 0; i < M; ++i)
        table[i] = static_cast<float>(double(M) - (std::log(top - double(i)) - c) * scale);
    table[M] = static_cast<float>(M);
    return true;
}

void ToFloatWithMargins(std::int64_t W, const std::uint16_t* src, float* dst, std::int64_t w,
                        std::int64_t h, std::int64_t H, const float* table, std::size_t entries) {
    if (src == nullptr || dst == nullptr || w < 1 || h < 1 || W < w || H < h) return;
    const std::int64_t ox = (W - w) / 2, oy = (H - h) / 2;
    const auto value = [&](std::uint16_t v) -> float {
        if (table == nullptr || entries == 0) return float(v);
        return table[std::min<std::size_t>(v, entries - 1)];
    };
    for (std::int64_t y = 0; y < h; ++y) {
        float* row = dst + (oy + y) * W;
        const std::uint16_t* in = src + y * w;
        for (std::int64_t x = 0; x < w; ++x) row[ox + x] = value(in[x]);
        for (std::int64_t k = 0; k < ox; ++k) row[ox - 1 - k] = row[ox + MirrorHalf(k, w)];
        for (std::int64_t k = 0; ox + w + k < W; ++k)
            row[ox + w + k] = row[ox + w - 1 - MirrorHalf(k, w)];
    }
    const auto copyRow = [&](std::int64_t to, std::int64_t from) {
        std::memcpy(dst + to * W, dst + from * W, std::size_t(W) * sizeof(float));
    };
    for (std::int64_t k = 0; k < oy; ++k) copyRow(oy - 1 - k, oy + MirrorHalf(k, h));
    for (std::int64_t k = 0; oy + h + k < H; ++k)
        copyRow(oy + h + k, oy + h - 1 - MirrorHalf(k, h));
}

void FromFloat(const float* plane, std::uint16_t* dst, std::int64_t W, std::int64_t H,
               std::int64_t w, std::int64_t h) {
    if (plane == nullptr || dst == nullptr || w < 1 || h < 1 || W < w || H < h) return;
    const std::int64_t ox = (W - w) / 2, oy = (H - h) / 2;
    for (std::int64_t y = 0; y < h; ++y) {
        const float* row = plane + (oy + y) * W + ox;
        for (std::int64_t x = 0; x < w; ++x) {
            const float v = std::trunc(row[x] + 0.5f);
            // NaN and values beyond 16 bits would make the conversion undefined.
            dst[y * w + x] = !(v > 0.0f) ? 0 : v >= 65535.0f ? 65535 : std::uint16_t(v);
        }
    }
}

bool FloatGaussKernel(float* kernel, float sigma, int n) {
    if (kernel == nullptr || n < 1) return false;
    if (!(sigma > 0.0f)) {  // a zero sigma would divide by zero: the impulse is its limit
        std::fill(kernel, kernel + n, 0.0f);
        kernel[n / 2] = 1.0f;
        return true;
    }
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float d = float(i - n / 2);
        kernel[i] = std::exp(-(d * d) / (2.0f * sigma * sigma));
        sum += kernel[i];
    }
    for (int i = 0; i < n; ++i) kernel[i] /= sum;
    return true;
}

namespace {

// Four or eight floats of one register: element-wise operations only, so every lane is rounded
// exactly as a scalar sum would be.
typedef float Lanes4 __attribute__((vector_size(16)));
typedef float Lanes8 __attribute__((vector_size(32)));
typedef float Lanes16 __attribute__((vector_size(64)));

// Unaligned loads and stores of a register.
template <class V>
[[gnu::always_inline]] inline void Load(V& v, const float* p) {
    typedef V Unaligned __attribute__((aligned(4), may_alias));
    v = *reinterpret_cast<const Unaligned*>(p);
}
template <class V>
[[gnu::always_inline]] inline void Store(float* p, const V& v) {
    typedef V Unaligned __attribute__((aligned(4), may_alias));
    *reinterpret_cast<Unaligned*>(p) = v;
}

#if defined(__x86_64__)
constexpr bool kCanStream = true;
// Four floats written past the caches (p on 16 bytes).
[[gnu::always_inline]] inline void StreamStore(float* p, const Lanes4& v) {
    _mm_stream_ps(p, v);
}
[[gnu::always_inline]] inline void StreamFence() {
    _mm_sfence();
}
#else
constexpr bool kCanStream = false;
inline void StreamStore(float* p, const Lanes4& v) {
    Store(p, v);
}
inline void StreamFence() {}
#endif

// Rows become columns: r[j][i] takes r[i][j].
[[gnu::always_inline]] inline void Transpose(Lanes4 (&r)[4]) {
    const Lanes4 t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
    const Lanes4 t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
    const Lanes4 t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
    const Lanes4 t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
    r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

[[gnu::always_inline]] inline void Transpose(Lanes8 (&r)[8]) {
    Lanes8 t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
        t[k] = __builtin_shufflevector(r[k], r[k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[k + 1] = __builtin_shufflevector(r[k], r[k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    for (int k = 0; k < 8; k += 4)
        for (int h = 0; h < 2; ++h) {
            u[k + 2 * h] =
                __builtin_shufflevector(t[k + h], t[k + h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
            u[k + 2 * h + 1] =
                __builtin_shufflevector(t[k + h], t[k + h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        }
    for (int k = 0; k < 4; ++k) {
        r[k] = __builtin_shufflevector(u[k], u[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        r[k + 4] = __builtin_shufflevector(u[k], u[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// Sixteen rows: pairs of rows interleaved, then pairs of pairs (each group of four a 4 x 4
// transpose), then the groups of four moved into place in two steps.
[[gnu::always_inline]] inline void Transpose(Lanes16 (&r)[16]) {
    Lanes16 t[16], u[16];
    for (int k = 0; k < 16; k += 2) {
        t[k] = __builtin_shufflevector(r[k], r[k + 1], 0, 16, 1, 17, 4, 20, 5, 21, 8, 24, 9, 25, 12,
                                       28, 13, 29);
        t[k + 1] = __builtin_shufflevector(r[k], r[k + 1], 2, 18, 3, 19, 6, 22, 7, 23, 10, 26, 11,
                                           27, 14, 30, 15, 31);
    }
    // u[k + m], group g: column 4g + m of rows k .. k+3.
    for (int k = 0; k < 16; k += 4)
        for (int h = 0; h < 2; ++h) {
            u[k + 2 * h] = __builtin_shufflevector(t[k + h], t[k + h + 2], 0, 1, 16, 17, 4, 5, 20,
                                                   21, 8, 9, 24, 25, 12, 13, 28, 29);
            u[k + 2 * h + 1] = __builtin_shufflevector(t[k + h], t[k + h + 2], 2, 3, 18, 19, 6, 7,
                                                       22, 23, 10, 11, 26, 27, 14, 15, 30, 31);
        }
    for (int k = 0; k < 16; k += 8)
        for (int m = 0; m < 4; ++m) {
            t[k + m] = __builtin_shufflevector(u[k + m], u[k + 4 + m], 0, 1, 2, 3, 16, 17, 18, 19,
                                               8, 9, 10, 11, 24, 25, 26, 27);
            t[k + 4 + m] = __builtin_shufflevector(u[k + m], u[k + 4 + m], 4, 5, 6, 7, 20, 21, 22,
                                                   23, 12, 13, 14, 15, 28, 29, 30, 31);
        }
    for (int m = 0; m < 8; ++m) {
        const int g = m < 4 ? 0 : 1;  // t[m] holds groups g and g + 2 of rows 0..7 side by side
        r[4 * g + m % 4] = __builtin_shufflevector(t[m], t[8 + m], 0, 1, 2, 3, 4, 5, 6, 7, 16, 17,
                                                   18, 19, 20, 21, 22, 23);
        r[4 * g + 8 + m % 4] = __builtin_shufflevector(t[m], t[8 + m], 8, 9, 10, 11, 12, 13, 14, 15,
                                                       24, 25, 26, 27, 28, 29, 30, 31);
    }
}

// Lines convolved together: each output position of a strip is one run of kStripLines values of
// the transposed destination, so the destination is written in whole cache lines.
constexpr int kStripLines = 64;

// Line y with n - 1 mirrored samples around it (n/2 before), into `padded`.
void PadLine(const float* src, std::int64_t length, std::int64_t y, int n, float* padded) {
    const std::int64_t half = n / 2;
    const float* line = src + y * length;
    for (std::int64_t p = 0; p < half; ++p) padded[p] = line[MirrorHalf(p - half, length)];
    std::memcpy(padded + half, line, std::size_t(length) * sizeof(float));
    for (std::int64_t p = half + length; p < length + n - 1; ++p)
        padded[p] = line[MirrorHalf(p - half, length)];
}

// Sample x of one padded line: taps added in the order 0..n-1, as every path does.
[[gnu::always_inline]] inline float Tap(const float* padded, const float* kernel, int n,
                                        std::int64_t x) {
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum += kernel[i] * padded[x + i];
    return sum;
}

// Floats of a line asked for ahead of the ones turned into columns.
constexpr std::int64_t kReadAhead = 128;

// W lines from y on turned into columns with n - 1 mirrored ones around them (n/2 before):
// column p of `columns` (W floats) holds the lines' samples at position p - n/2.
template <class V, int W>
[[gnu::always_inline]] inline void GatherColumns(const float* src, std::int64_t length,
                                                 std::int64_t y, int n, float* columns) {
    const std::int64_t half = n / 2;
    const float* line = src + y * length;
    const std::int64_t whole = length / W * W;
    for (std::int64_t x = 0; x < whole; x += W) {
        V r[W];
        // The lines are read side by side: each is asked for from memory a little ahead, which
        // the hardware alone does not keep up with on so many runs at once.
        const std::int64_t ahead = std::min(x + kReadAhead, length - 1);
        for (int b = 0; b < W; ++b) __builtin_prefetch(line + b * length + ahead, 0, 3);
        for (int b = 0; b < W; ++b) Load(r[b], line + b * length + x);
        Transpose(r);
        for (int j = 0; j < W; ++j) Store(columns + (half + x + j) * W, r[j]);
    }
    for (std::int64_t x = whole; x < length; ++x)
        for (int b = 0; b < W; ++b) columns[(half + x) * W + b] = line[b * length + x];
    const auto mirror = [&](std::int64_t p) {
        V v;
        Load(v, columns + (half + MirrorHalf(p - half, length)) * W);
        Store(columns + p * W, v);
    };
    for (std::int64_t p = 0; p < half; ++p) mirror(p);
    for (std::int64_t p = half + length; p < length + n - 1; ++p) mirror(p);
}

// R consecutive output positions of W lines from their columns (`columns` at the first one):
// one register per position, one lane per line, the taps in the order 0..n-1.
template <class V, int W, int R>
[[gnu::always_inline]] inline void ConvolveColumns(const float* columns, const float* kernel, int n,
                                                   V (&sum)[R]) {
    for (int r = 0; r < R; ++r) sum[r] = V{};
    for (int i = 0; i < n; ++i) {
        const V k = V{} + kernel[i];
        for (int r = 0; r < R; ++r) {
            V v;
            Load(v, columns + (r + i) * W);
            sum[r] += k * v;
        }
    }
}

// Output positions computed together per group of W lines.
constexpr int kBlockPositions = 8;

// `count` lines (a multiple of W) from y0 on. Each group of W lines is first turned into
// columns, so a position's W outputs are one register: they are stored as they stand as part of
// the position's run of the destination. With `stream` (a strip of kStripLines lines whose runs
// start on cache lines) the runs of one block of positions are gathered first and written past
// the caches in whole lines.
template <class V, int W>
[[gnu::always_inline]] inline void ConvolveStrip(const float* src, float* columns, int count,
                                                 float* dst, const float* kernel, int n,
                                                 std::int64_t length, std::int64_t lines,
                                                 std::int64_t y0, bool stream) {
    constexpr int R = kBlockPositions;
    alignas(64) float runs[R][kStripLines];
    const std::int64_t span = (length + n - 1) * W;  // one group's columns
    for (int t = 0; t < count; t += W)
        GatherColumns<V, W>(src, length, y0 + t, n, columns + t / W * span);
    const auto put = [&](std::int64_t x, int r, int t, const V& v) {
        if (stream)
            Store(runs[r] + t, v);
        else
            Store(dst + (x + r) * lines + y0 + t, v);
    };
    for (std::int64_t x0 = 0; x0 < length; x0 += R) {
        const int m = int(std::min<std::int64_t>(R, length - x0));
        for (int t = 0; t < count; t += W) {
            const float* at = columns + t / W * span + x0 * W;
            if (m == R) {
                V sum[R];
                ConvolveColumns<V, W, R>(at, kernel, n, sum);
                for (int r = 0; r < R; ++r) put(x0, r, t, sum[r]);
            } else {
                for (int r = 0; r < m; ++r) {
                    V sum[1];
                    ConvolveColumns<V, W, 1>(at + r * W, kernel, n, sum);
                    put(x0, r, t, sum[0]);
                }
            }
        }
        if (stream)
            for (int r = 0; r < m; ++r)
                for (int t = 0; t < kStripLines; t += 4) {
                    Lanes4 v;
                    Load(v, runs[r] + t);
                    StreamStore(dst + (x0 + r) * lines + y0 + t, v);
                }
    }
}

// Lines y .. until-1 from strips of at most kStripLines lines (a multiple of W each), then one
// at a time; answers `until`.
template <class V, int W>
[[gnu::always_inline]] inline std::int64_t ConvolveRange(const float* src, float* dst,
                                                         const float* kernel, int n,
                                                         std::int64_t length, std::int64_t lines,
                                                         float* padded, std::int64_t y,
                                                         std::int64_t until, bool stream) {
    while (until - y >= W) {
        const int count = int(std::min<std::int64_t>(kStripLines, (until - y) / W * W));
        ConvolveStrip<V, W>(src, padded, count, dst, kernel, n, length, lines, y,
                            stream && count == kStripLines);
        y += count;
    }
    for (; y < until; ++y) {
        PadLine(src, length, y, n, padded);
        for (std::int64_t x = 0; x < length; ++x) dst[x * lines + y] = Tap(padded, kernel, n, x);
    }
    return until;
}

// A destination this large is not read back from the caches anyway: its strips are written past
// them, which spares reading each line in before it is overwritten.
constexpr std::int64_t kStreamBytes = std::int64_t{8} << 20;

template <class V, int W>
[[gnu::always_inline]] inline void ConvolveLines(const float* src, float* dst, const float* kernel,
                                                 int n, std::int64_t length, std::int64_t lines,
                                                 float* padded) {
    const auto address = reinterpret_cast<std::uintptr_t>(dst);
    const bool stream = kCanStream && lines % 16 == 0 && address % sizeof(float) == 0 &&
                        length * lines * std::int64_t(sizeof(float)) >= kStreamBytes;
    // The lines before the first one whose runs start on a cache line go the ordinary way.
    const std::int64_t lead = stream ? std::int64_t((64 - address % 64) % 64 / sizeof(float)) : 0;
    std::int64_t y =
        ConvolveRange<V, W>(src, dst, kernel, n, length, lines, padded, 0, lead, false);
    const std::int64_t streamed = stream ? lead + (lines - lead) / kStripLines * kStripLines : lead;
    y = ConvolveRange<V, W>(src, dst, kernel, n, length, lines, padded, y, streamed, true);
    ConvolveRange<V, W>(src, dst, kernel, n, length, lines, padded, y, lines, false);
    if (stream) StreamFence();
}

}  // namespace

void FloatConvolvePass(const float* src, float* dst, const float* kernel, int n,
                       std::int64_t length, std::int64_t lines) {
    if (src == nullptr || dst == nullptr || kernel == nullptr || n < 1 || length < 1 || lines < 1)
        return;
    // The strip's lines turned into columns with their mirrored ends (or a padded line): a pass
    // over a large plane would otherwise take fresh pages for them each time. Sixteen floats
    // more let the columns start on a cache line.
    struct StripLines;
    float* block =
        ThreadWorkBuffer<float, StripLines>(std::uint64_t(length + n - 1) * kStripLines + 16);
    if (block == nullptr) return;
    const auto misplaced = reinterpret_cast<std::uintptr_t>(block) % 64 / sizeof(float);
    float* padded = block + (16 - misplaced) % 16;
    cpu::Paths<ConvolveLines<Lanes4, 4>, ConvolveLines<Lanes8, 8>,
               ConvolveLines<Lanes16, 16>>::Choose()(src, dst, kernel, n, length, lines, padded);
}

void DifferenceOfGaussians(std::int64_t width, float* plane, std::int64_t height, const float* k1,
                           int n1, float* work1, const float* k2, int n2, float* work2) {
    if (plane == nullptr || work1 == nullptr || work2 == nullptr || width < 1 || height < 1) return;
    // Two transposing passes bring each Gaussian back to the plane's orientation.
    FloatConvolvePass(plane, work1, k2, n2, width, height);
    FloatConvolvePass(work1, work2, k2, n2, height, width);
    FloatConvolvePass(plane, work1, k1, n1, width, height);
    FloatConvolvePass(work1, plane, k1, n1, height, width);
    const std::int64_t count = width * height;
    for (std::int64_t k = 0; k < count; ++k) plane[k] -= work2[k];
}

void MeanAndSpread(std::int64_t width, const float* plane, std::int64_t height, float k, float* low,
                   float* high) {
    if (plane == nullptr || width < 1 || height < 1) return;
    const std::int64_t count = width * height;
    double sum = 0.0;
    for (std::int64_t i = 0; i < count; ++i) sum += plane[i];
    const double mean = sum / double(count);
    double squares = 0.0;
    for (std::int64_t i = 0; i < count; ++i) {
        const double d = plane[i] - mean;
        squares += d * d;
    }
    const float m = float(mean);
    const float s = float(std::sqrt(squares / double(count)));
    if (low != nullptr) *low = m - k * s;
    if (high != nullptr) *high = m + k * s;
}

void FloatMinMax(std::int64_t width, std::int64_t height, const float* plane, float* min,
                 float* max) {
    if (plane == nullptr || width < 1 || height < 1) return;
    float lo = plane[0], hi = plane[0];
    for (std::int64_t i = 1; i < width * height; ++i) {  // plain loops vectorise
        lo = plane[i] < lo ? plane[i] : lo;
        hi = plane[i] > hi ? plane[i] : hi;
    }
    if (min != nullptr) *min = lo;
    if (max != nullptr) *max = hi;
}

void MinMax16(const std::uint16_t* pixels, std::int64_t width, std::int64_t height, float* min,
              float* max) {
    if (pixels == nullptr || width < 1 || height < 1) return;
    std::uint16_t lo = pixels[0], hi = pixels[0];
    for (std::int64_t i = 1; i < width * height; ++i) {
        lo = std::min(lo, pixels[i]);
        hi = std::max(hi, pixels[i]);
    }
    if (min != nullptr) *min = float(lo);
    if (max != nullptr) *max = float(hi);
}

void LinearRescale(float* plane, std::int64_t width, std::int64_t height, float lo, float hi,
                   float a, float b, float s) {
    if (plane == nullptr || width < 1 || height < 1) return;
    const float bottom = a * s, top = b * s;
    const float slope = hi != lo ? (b - a) * s / (hi - lo) : 0.0f;
    const std::int64_t count = width * height;
    for (std::int64_t i = 0; i < count; ++i) {
        const float v = plane[i];
        plane[i] = v < lo ? bottom : v > hi ? top : (v - lo) * slope + bottom;
    }
}

void ExpandAndAdd(float* dst, const float* src, std::int64_t width, std::int64_t height) {
    if (dst == nullptr || src == nullptr || width < 1 || height < 1) return;
    const std::int64_t outWidth = 2 * width;
    for (std::int64_t y = 0; y < height; ++y) {
        const float* r0 = src + y * width;
        const float* r1 = src + std::min(y + 1, height - 1) * width;
        float* o0 = dst + (2 * y) * outWidth;
        float* o1 = o0 + outWidth;
        for (std::int64_t x = 0; x < width; ++x) {
            const std::int64_t x1 = std::min(x + 1, width - 1);
            const float a = r0[x], b = r0[x1], c = r1[x], d = r1[x1];
            o0[2 * x] += 0.5625f * a + 0.1875f * b + 0.1875f * c + 0.0625f * d;
            o0[2 * x + 1] += 0.1875f * a + 0.5625f * b + 0.0625f * c + 0.1875f * d;
            o1[2 * x] += 0.1875f * a + 0.0625f * b + 0.5625f * c + 0.1875f * d;
            o1[2 * x + 1] += 0.0625f * a + 0.1875f * b + 0.1875f * c + 0.5625f * d;
        }
    }
}

bool FloatMultiScaleEnhance(const std::uint16_t* src, std::uint16_t* dst, std::int64_t w,
                            std::int64_t h, const LensParameters& p) {
    if (src == nullptr || dst == nullptr || w < 1 || h < 1) return false;
    float smin = 0.0f, smax = 0.0f;
    MinMax16(src, w, h, &smin, &smax);
    const int N = p.levelCount;
    if (N < 1) {
        std::memmove(dst, src, std::size_t(w * h) * sizeof(std::uint16_t));
        return true;
    }
    if (N > kMaxFloatLevels) return false;

    const std::int64_t F = std::int64_t{1} << (N - 1);
    const std::int64_t W = (w + F - 1) / F * F, H = (h + F - 1) / F * F;
    if (W > kMaxPlane / H) return false;
    const std::int64_t plane = W * H;
    // Registry half-widths are bounded by the caller; a negative one makes a kernel of one tap.
    const int nH = 2 * std::max(p.gaussHalfWidthHF, 0) + 1;
    const int nL = 2 * std::max(p.gaussHalfWidthLF, 0) + 1;
    auto levels = NewArray<float>(4 * plane / 3);
    auto t1 = NewArray<float>(plane), t2 = NewArray<float>(plane);
    auto kh = NewArray<float>(nH), kl = NewArray<float>(nL);
    const std::size_t entries = std::size_t(p.maximumLevel) + 1;
    std::unique_ptr<float[]> table;
    if (p.logFlag != 0) table = NewArray<float>(std::int64_t(entries));
    if (!levels || !t1 || !t2 || !kh || !kl || (p.logFlag != 0 && !table)) return false;
    FloatGaussKernel(kh.get(), p.gaussSigmaHF, nH);
    FloatGaussKernel(kl.get(), p.gaussSigmaLF, nL);
    if (table) FloatLogTable(table.get(), entries, src, std::uint64_t(w * h));

    // Level i starts at offset[i] of the one block, level 0 first.
    std::int64_t offset[kMaxFloatLevels + 1] = {};
    for (int i = 0; i < N; ++i) offset[i + 1] = offset[i] + (W >> i) * (H >> i);
    float* base = levels.get();
    ToFloatWithMargins(W, src, base, w, h, H, table.get(), table ? entries : 0);

    for (int i = 0; i + 1 < N; ++i) {
        const std::int64_t wi = W >> i, wo = W >> (i + 1), ho = H >> (i + 1);
        const float* in = base + offset[i];
        float* out = base + offset[i + 1];
        for (std::int64_t y = 0; y < ho; ++y) {
            const float* a = in + 2 * y * wi;
            const float* b = a + wi;
            for (std::int64_t x = 0; x < wo; ++x)
                out[y * wo + x] = 0.25f * (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1]);
        }
    }

    for (int i = N - 1; i >= 0; --i) {
        const std::int64_t wi = W >> i, hi = H >> i;
        float* level = base + offset[i];
        DifferenceOfGaussians(wi, level, hi, kh.get(), nH, t1.get(), kl.get(), nL, t2.get());
        float low = 0.0f, high = 0.0f;
        MeanAndSpread(wi, level, hi, p.clip[i], &low, &high);
        LinearRescale(level, wi, hi, low, high, 0.0f, 4095.0f, p.weight[i]);
        const float* lowPass = t2.get();
        for (std::int64_t k = 0; k < wi * hi; ++k) level[k] += lowPass[k];
        if (i < N - 1) ExpandAndAdd(level, base + offset[i + 1], wi / 2, hi / 2);
    }

    float fmin = 0.0f, fmax = 0.0f;
    FloatMinMax(W, H, base, &fmin, &fmax);
    LinearRescale(base, W, H, fmin, fmax, smin, smax, 1.0f);
    FromFloat(base, dst, W, H, w, h);
    return true;
}

}  // namespace quorin
