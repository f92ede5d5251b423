#include "pixel/filters/filters8.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/system/paths.h"
#include "records/dib/dibbuffer.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace {

using quorin::kMaxImageSide;

// A scratch block of `count` elements on the global heap, freed on scope exit.
template <class T>
class Scratch {
  public:
    explicit Scratch(std::uint64_t count)
        : m_data(static_cast<T*>(quorin::AllocLockedBlock(count * sizeof(T)))) {}
    ~Scratch() { quorin::FreeLockedBlock(m_data); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    T* get() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }

  private:
    T* m_data;
};

bool ValidPicture(const void* source, const void* target, std::uint32_t width,
                  std::uint32_t height) {
    return source != nullptr && target != nullptr && width > 0 && height > 0 &&
           width <= kMaxImageSide && height <= kMaxImageSide;
}

std::uint64_t Pixels(std::uint32_t width, std::uint32_t height) {
    return std::uint64_t(width) * height;
}

std::uint8_t Clamp255(std::int32_t value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// Calls `eachRow(in, out, width)` once for every row that a border of `b` pixels leaves, top to
// bottom: `in` is the start of that row in the source, `out` of the same row in the target. The
// rows share one stride, the width, so the call reaches the row k rows away (k in -b..b) as
// in[k x width + c]; it writes columns b..width-b-1 of `out`. The frame, b rows and b columns on
// each side, is the source's, copied before the first call; a picture with no interior is copied
// whole and nothing is called.
template <class RowOp>
bool Interior(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
              std::uint32_t height, std::uint32_t b, RowOp eachRow) {
    if (!ValidPicture(source, target, width, height)) return false;
    if (width < 2 * b + 1 || height < 2 * b + 1) {
        if (source != target) std::memcpy(target, source, Pixels(width, height));
        return true;
    }
    if (source != target) {  // the frame: b rows at the top and bottom, b columns at each side
        std::memcpy(target, source, std::uint64_t(b) * width);
        const std::uint64_t bottom = std::uint64_t(height - b) * width;
        std::memcpy(target + bottom, source + bottom, std::uint64_t(b) * width);
        for (std::uint32_t r = b; r + b < height; ++r) {
            const std::uint64_t row = std::uint64_t(r) * width;
            std::memcpy(target + row, source + row, b);
            std::memcpy(target + row + width - b, source + row + width - b, b);
        }
    }
    for (std::uint32_t r = b; r + b < height; ++r) {
        const std::uint8_t* in = source + std::uint64_t(r) * width;
        std::uint8_t* out = target + std::uint64_t(r) * width;
        eachRow(in, out, std::int64_t(width));
    }
    return true;
}

// One row of a (2b+1) x (2b+1) box: per-column sums of the rows r-b..r+b, then the sums of
// 2b+1 neighbouring column sums (at most 25 x 255: they fit in 16 bits).
template <std::uint32_t B, class Out>
[[gnu::always_inline]] inline void BoxRow(const std::uint8_t* in, std::uint8_t* out, std::int64_t w,
                                          std::uint16_t* sums, Out result) {
    for (std::int64_t c = 0; c < w; ++c) {
        std::uint16_t s = 0;
        for (std::int64_t k = -std::int64_t(B); k <= std::int64_t(B); ++k)
            s = std::uint16_t(s + in[k * w + c]);
        sums[c] = s;
    }
    for (std::int64_t c = B; c + B < w; ++c) {
        std::uint16_t s = 0;
        for (std::int64_t k = -std::int64_t(B); k <= std::int64_t(B); ++k)
            s = std::uint16_t(s + sums[c + k]);
        out[c] = result(s, in[c]);
    }
}

// The box over every interior row; `result` makes a pixel from its box's sum and its own value.
template <std::uint32_t B, class Out>
bool BoxFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
               std::uint32_t height, Out result) {
    if (!ValidPicture(source, target, width, height)) return false;
    Scratch<std::uint16_t> columns(width);
    if (!columns) return false;
    std::uint16_t* sums = columns.get();
    // The same integer sums on every path.
    const auto row = quorin::cpu::Paths<BoxRow<B, Out>>::Choose();
    return Interior(source, target, width, height, B,
                    [&](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        row(in, out, w, sums, result);
                    });
}

// One pass of a 3 x 3 maximum (Max) or minimum over the interior, in place: the two rows above
// the one being written are kept in their original state in two row buffers.
template <bool Max>
bool Extremum3x3InPlace(std::uint8_t* image, std::uint32_t width, std::uint32_t height) {
    if (!ValidPicture(image, image, width, height)) return false;
    if (width < 3 || height < 3) return true;
    Scratch<std::uint8_t> buffers(2 * std::uint64_t(width));
    if (!buffers) return false;
    std::uint8_t* above = buffers.get();
    std::uint8_t* current = buffers.get() + width;
    const auto pick = [](std::uint8_t a, std::uint8_t b) {
        return Max ? std::max(a, b) : std::min(a, b);
    };
    std::memcpy(above, image, width);
    for (std::uint32_t r = 1; r + 1 < height; ++r) {
        std::uint8_t* row = image + std::uint64_t(r) * width;
        const std::uint8_t* below = row + width;
        std::memcpy(current, row, width);
        for (std::uint32_t c = 1; c + 1 < width; ++c) {
            std::uint8_t v = pick(pick(above[c - 1], above[c]), above[c + 1]);
            v = pick(v, pick(pick(current[c - 1], current[c]), current[c + 1]));
            v = pick(v, pick(pick(below[c - 1], below[c]), below[c + 1]));
            row[c] = v;
        }
        std::swap(above, current);
    }
    return true;
}

template <bool Max>
bool Extremum3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height) {
    if (!ValidPicture(source, target, width, height)) return false;
    if (source != target) std::memcpy(target, source, Pixels(width, height));
    return Extremum3x3InPlace<Max>(target, width, height);
}

// Sum of the values of a window without its two smallest and two largest.
template <int N>
std::uint32_t TrimmedSum(const std::uint8_t (&v)[N]) {
    std::uint32_t total = 0;
    std::uint8_t min1 = 255, min2 = 255, max1 = 0, max2 = 0;  // min1 <= min2, max1 >= max2
    for (int k = 0; k < N; ++k) {
        const std::uint8_t x = v[k];
        total += x;
        if (x < min1) {
            min2 = min1;
            min1 = x;
        } else if (x < min2) {
            min2 = x;
        }
        if (x > max1) {
            max2 = max1;
            max1 = x;
        } else if (x > max2) {
            max2 = x;
        }
    }
    return total - min1 - min2 - max1 - max2;
}

template <int R>
bool TrimmedMean(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height) {
    constexpr int kSide = 2 * R + 1;
    constexpr int kCount = kSide * kSide;
    return Interior(source, target, width, height, R,
                    [](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        std::uint8_t v[kCount];
                        for (std::int64_t c = R; c + R < w; ++c) {
                            int n = 0;
                            for (std::int64_t i = -R; i <= R; ++i)
                                for (std::int64_t j = -R; j <= R; ++j) v[n++] = in[i * w + c + j];
                            out[c] = static_cast<std::uint8_t>(TrimmedSum(v) / (kCount - 4));
                        }
                    });
}

// Reduces a picture by a block size: each small pixel the mean of its block (sum / b^2).
void Reduce(const std::uint8_t* source, std::uint32_t width, std::uint8_t* small,
            std::uint32_t smallWidth, std::uint32_t smallHeight, std::uint32_t block) {
    for (std::uint32_t y = 0; y < smallHeight; ++y)
        for (std::uint32_t x = 0; x < smallWidth; ++x) {
            std::uint32_t sum = 0;
            for (std::uint32_t i = 0; i < block; ++i)
                for (std::uint32_t j = 0; j < block; ++j)
                    sum += source[std::uint64_t(y * block + i) * width + x * block + j];
            small[std::uint64_t(y) * smallWidth + x] =
                static_cast<std::uint8_t>(sum / (block * block));
        }
}

// One detail level: reduce by `block`, clip spikes, Laplacian with a dead zone, 3 x 3 mean,
// expand back, and add (3 x 3 sum) x gain / 36 to the accumulator inside a 2-pixel border.
bool DetailStep(const std::uint8_t* source, std::int16_t* accumulator, std::uint32_t width,
                std::uint32_t height, std::uint32_t block, std::int32_t deadZone,
                std::int32_t gain) {
    const std::uint32_t sw = width / block;
    const std::uint32_t sh = height / block;
    if (sw < 3 || sh < 3) return true;
    const std::uint64_t smallCount = Pixels(sw, sh);
    Scratch<std::uint8_t> reduced(smallCount), clipped(smallCount);
    Scratch<std::int32_t> laplacian(smallCount), smooth(smallCount);
    Scratch<std::int32_t> detail(Pixels(width, height));
    if (!reduced || !clipped || !laplacian || !smooth || !detail) return false;
    Reduce(source, width, reduced.get(), sw, sh, block);
    ClipToNeighbourRange(reduced.get(), clipped.get(), sw, sh);

    const std::uint8_t* s = clipped.get();
    std::int32_t* lap = laplacian.get();  // zero-filled: the 2-pixel border stays 0
    const std::int64_t w = sw;
    for (std::int64_t y = 2; y + 2 < std::int64_t(sh); ++y)
        for (std::int64_t x = 2; x + 2 < w; ++x) {
            const std::uint8_t* p = s + y * w + x;
            // Twice the Laplacian in integers, so that halving truncates toward zero.
            const std::int32_t twice = 16 * p[0] - 2 * (p[-w] + p[w] + p[-1] + p[1]) -
                                       (p[-w - 1] + p[-w + 1] + p[w - 1] + p[w + 1]) -
                                       (p[-2 * w] + p[2 * w] + p[-2] + p[2]);
            const std::int32_t l = twice / 2;
            lap[y * w + x] = l < -deadZone ? l + deadZone : l > deadZone ? l - deadZone : 0;
        }
    std::int32_t* sm = smooth.get();
    std::memcpy(sm, lap, smallCount * sizeof(std::int32_t));
    for (std::int64_t y = 1; y + 1 < std::int64_t(sh); ++y)
        for (std::int64_t x = 1; x + 1 < w; ++x) {
            std::int32_t sum = 0;
            for (std::int64_t i = -1; i <= 1; ++i)
                for (std::int64_t j = -1; j <= 1; ++j) sum += lap[(y + i) * w + x + j];
            sm[y * w + x] = sum / 9;
        }
    std::int32_t* full = detail.get();  // zero-filled: rows and columns past the blocks stay 0
    for (std::uint64_t y = 0; y < std::uint64_t(sh) * block; ++y)
        for (std::uint64_t x = 0; x < std::uint64_t(sw) * block; ++x)
            full[y * width + x] = sm[(y / block) * sw + x / block];
    const std::int64_t fw = width;
    for (std::int64_t y = 2; y + 2 < std::int64_t(height); ++y)
        for (std::int64_t x = 2; x + 2 < fw; ++x) {
            std::int32_t sum = 0;
            for (std::int64_t i = -1; i <= 1; ++i)
                for (std::int64_t j = -1; j <= 1; ++j) sum += full[(y + i) * fw + x + j];
            const std::int32_t value = accumulator[y * fw + x] + sum * gain / 36;
            accumulator[y * fw + x] = static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
        }
    return true;
}

}  // namespace

namespace {

std::uint8_t Median3(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Sorts the columns of three rows into low, middle and high rows. The blocks never overlap
// (restrict lets the loop run on vectors).
[[gnu::always_inline]] inline void SortColumns(const std::uint8_t* __restrict above,
                                               const std::uint8_t* __restrict row,
                                               const std::uint8_t* __restrict below,
                                               std::uint8_t* __restrict low,
                                               std::uint8_t* __restrict mid,
                                               std::uint8_t* __restrict high, std::int64_t n) {
    for (std::int64_t c = 0; c < n; ++c) {
        const std::uint8_t a = above[c], b = row[c], d = below[c];
        const std::uint8_t ab = std::min(a, b), ba = std::max(a, b);
        const std::uint8_t x = std::max(ab, d);
        low[c] = std::min(ab, d);
        mid[c] = std::min(ba, x);
        high[c] = std::max(ba, x);
    }
}

// The median of nine is the median of (largest low, median middle, smallest high) of three
// sorted columns; each sorted column serves three pixels.
[[gnu::always_inline]] inline void MedianOfColumns(const std::uint8_t* __restrict low,
                                                   const std::uint8_t* __restrict mid,
                                                   const std::uint8_t* __restrict high,
                                                   std::uint8_t* __restrict out, std::int64_t n) {
    for (std::int64_t c = 1; c + 1 < n; ++c) {
        const std::uint8_t lows = std::max(std::max(low[c - 1], low[c]), low[c + 1]);
        const std::uint8_t mids = Median3(mid[c - 1], mid[c], mid[c + 1]);
        const std::uint8_t highs = std::min(std::min(high[c - 1], high[c]), high[c + 1]);
        out[c] = Median3(lows, mids, highs);
    }
}

// One interior row of the median, in a baseline and an AVX2 build.
void MedianRowBaseline(const std::uint8_t* in, std::uint8_t* out, std::int64_t w, std::uint8_t* low,
                       std::uint8_t* mid, std::uint8_t* high) {
    SortColumns(in - w, in, in + w, low, mid, high, w);
    MedianOfColumns(low, mid, high, out, w);
}

#if QUORIN_HAVE_AVX2_PATH
// Thirty-two pixels at a time straight from the three rows: the columns at offsets -1, 0 and +1
// sorted in registers and combined as above; the last pixels through the baseline loops.
QUORIN_TARGET_AVX2 void MedianRowAvx2(const std::uint8_t* in, std::uint8_t* out, std::int64_t w,
                                      std::uint8_t* low, std::uint8_t* mid, std::uint8_t* high) {
    std::int64_t c = 1;
    for (; c + 33 <= w; c += 32) {
        __m256i lo[3], mi[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            const std::uint8_t* p = in + c + k - 1;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - w));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + w));
            const __m256i ab = _mm256_min_epu8(a, b), ba = _mm256_max_epu8(a, b);
            const __m256i x = _mm256_max_epu8(ab, d);
            lo[k] = _mm256_min_epu8(ab, d);
            mi[k] = _mm256_min_epu8(ba, x);
            hi[k] = _mm256_max_epu8(ba, x);
        }
        const __m256i lows = _mm256_max_epu8(_mm256_max_epu8(lo[0], lo[1]), lo[2]);
        const __m256i highs = _mm256_min_epu8(_mm256_min_epu8(hi[0], hi[1]), hi[2]);
        const __m256i mids = _mm256_max_epu8(_mm256_min_epu8(mi[0], mi[1]),
                                             _mm256_min_epu8(_mm256_max_epu8(mi[0], mi[1]), mi[2]));
        const __m256i v = _mm256_max_epu8(_mm256_min_epu8(lows, mids),
                                          _mm256_min_epu8(_mm256_max_epu8(lows, mids), highs));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), v);
    }
    // Columns c-1 .. w-1 sorted, the pixels c .. w-2 from them.
    const std::int64_t rest = w - (c - 1);
    SortColumns(in - w + c - 1, in + c - 1, in + w + c - 1, low, mid, high, rest);
    MedianOfColumns(low, mid, high, out + c - 1, rest);
}

// Sixty-four columns sorted (low, middle, high) from the rows above, at and below `p`.
QUORIN_TARGET_AVX512 inline void SortColumns64(const std::uint8_t* p, std::int64_t w,
                                               __m512i (&sorted)[3]) {
    const __m512i a = _mm512_loadu_si512(p - w), b = _mm512_loadu_si512(p);
    const __m512i d = _mm512_loadu_si512(p + w);
    const __m512i ab = _mm512_min_epu8(a, b), ba = _mm512_max_epu8(a, b);
    const __m512i x = _mm512_max_epu8(ab, d);
    sorted[0] = _mm512_min_epu8(ab, d);
    sorted[1] = _mm512_min_epu8(ba, x);
    sorted[2] = _mm512_max_epu8(ba, x);
}

// The medians of sixty-four pixels from their sorted columns on the left, at and on the right.
QUORIN_TARGET_AVX512 inline __m512i Median64(const __m512i (&l)[3], const __m512i (&m)[3],
                                             const __m512i (&r)[3]) {
    const __m512i lows = _mm512_max_epu8(_mm512_max_epu8(l[0], m[0]), r[0]);
    const __m512i highs = _mm512_min_epu8(_mm512_min_epu8(l[2], m[2]), r[2]);
    const __m512i mids = _mm512_max_epu8(_mm512_min_epu8(l[1], m[1]),
                                         _mm512_min_epu8(_mm512_max_epu8(l[1], m[1]), r[1]));
    return _mm512_max_epu8(_mm512_min_epu8(lows, mids),
                           _mm512_min_epu8(_mm512_max_epu8(lows, mids), highs));
}

// The medians of the sixty-four pixels from `p` on, each column offset sorted from memory.
QUORIN_TARGET_AVX512 inline __m512i MedianAt(const std::uint8_t* p, std::int64_t w) {
    __m512i l[3], m[3], r[3];
    SortColumns64(p - 1, w, l);
    SortColumns64(p, w, m);
    SortColumns64(p + 1, w, r);
    return Median64(l, m, r);
}

// 0, 1, .. 63: the lanes of a register of bytes.
alignas(64) constexpr std::array<std::uint8_t, 64> kByteLanes = [] {
    std::array<std::uint8_t, 64> lanes{};
    for (int i = 0; i < 64; ++i) lanes[i] = std::uint8_t(i);
    return lanes;
}();

// The same network on sixty-four pixels at a time. Each block of columns is sorted once; the
// columns one to the left and one to the right come from it and its neighbouring blocks through
// byte permutes. The first block of a row, and the last ones (ending on the row's last pixel,
// over pixels done already), sort their three column offsets from memory; rows of fewer than 66
// pixels go the AVX2 way.
QUORIN_TARGET_AVX512 void MedianRowAvx512(const std::uint8_t* in, std::uint8_t* out, std::int64_t w,
                                          std::uint8_t* low, std::uint8_t* mid,
                                          std::uint8_t* high) {
    if (w < 66) {
        MedianRowAvx2(in, out, w, low, mid, high);
        return;
    }
    const __m512i lanes = _mm512_load_si512(kByteLanes.data());
    const __m512i toLeft = _mm512_add_epi8(lanes, _mm512_set1_epi8(63));  // 63, 64, .. 126
    const __m512i toRight = _mm512_add_epi8(lanes, _mm512_set1_epi8(1));  // 1, 2, .. 64
    // The first block's own columns are the "before" of the blocks that follow.
    __m512i before[3], left[3], right[3];
    SortColumns64(in, w, left);
    SortColumns64(in + 1, w, before);
    SortColumns64(in + 2, w, right);
    _mm512_storeu_si512(out + 1, Median64(left, before, right));
    std::int64_t c = 65;
    if (c + 128 <= w) {
        __m512i here[3], after[3];
        SortColumns64(in + c, w, here);
        for (; c + 128 <= w; c += 64) {
            SortColumns64(in + c + 64, w, after);
            for (int k = 0; k < 3; ++k) {
                left[k] = _mm512_permutex2var_epi8(before[k], toLeft, here[k]);
                right[k] = _mm512_permutex2var_epi8(here[k], toRight, after[k]);
            }
            _mm512_storeu_si512(out + c, Median64(left, here, right));
            for (int k = 0; k < 3; ++k) {
                before[k] = here[k];
                here[k] = after[k];
            }
        }
    }
    while (c <= w - 2) {
        const std::int64_t at = std::min(c, w - 65);
        _mm512_storeu_si512(out + at, MedianAt(in + at, w));
        c = at + 64;
    }
    _mm256_zeroupper();
}
#endif

}  // namespace

bool Median3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
               std::uint32_t height) {
    if (!ValidPicture(source, target, width, height)) return false;
    Scratch<std::uint8_t> columns(3 * std::uint64_t(width));
    if (!columns) return false;
    std::uint8_t* low = columns.get();
    std::uint8_t* mid = low + width;
    std::uint8_t* high = mid + width;
#if QUORIN_HAVE_AVX2_PATH
    const auto row = quorin::cpu::ChoosePath(MedianRowBaseline, MedianRowAvx2, MedianRowAvx512);
#else
    const auto row = MedianRowBaseline;
#endif
    return Interior(source, target, width, height, 1,
                    [=](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        row(in, out, w, low, mid, high);
                    });
}

bool Mean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height) {
    return BoxFilter<1>(source, target, width, height,
                        [](std::uint16_t sum, std::uint8_t) { return std::uint8_t(sum / 9); });
}

bool NeighbourMean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                      std::uint32_t height) {
    return BoxFilter<1>(source, target, width, height, [](std::uint16_t sum, std::uint8_t centre) {
        return std::uint8_t((sum - centre) >> 3);
    });
}

bool Mean5x5(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height) {
    return BoxFilter<2>(source, target, width, height,
                        [](std::uint16_t sum, std::uint8_t) { return std::uint8_t(sum / 25); });
}

bool TrimmedMean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                    std::uint32_t height) {
    return TrimmedMean<1>(source, target, width, height);
}

bool TrimmedMean5x5(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                    std::uint32_t height) {
    return TrimmedMean<2>(source, target, width, height);
}

bool Max3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
            std::uint32_t height) {
    return Extremum3x3<true>(source, target, width, height);
}

bool Max3x3InPlace(std::uint8_t* image, std::uint32_t width, std::uint32_t height) {
    return Extremum3x3InPlace<true>(image, width, height);
}

bool Min3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
            std::uint32_t height) {
    return Extremum3x3<false>(source, target, width, height);
}

bool Min3x3InPlace(std::uint8_t* image, std::uint32_t width, std::uint32_t height) {
    return Extremum3x3InPlace<false>(image, width, height);
}

bool Open3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height) {
    return Min3x3(source, target, width, height) && Max3x3InPlace(target, width, height);
}

bool ClipToNeighbourRange(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                          std::uint32_t height) {
    return Interior(source, target, width, height, 1,
                    [](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        for (std::int64_t c = 1; c + 1 < w; ++c) {
                            const std::uint8_t n[8] = {in[c - w - 1], in[c - w],    in[c - w + 1],
                                                       in[c - 1],     in[c + 1],    in[c + w - 1],
                                                       in[c + w],     in[c + w + 1]};
                            const auto [low, high] = std::minmax_element(n, n + 8);
                            out[c] = std::clamp(in[c], *low, *high);
                        }
                    });
}

bool Relief8(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height) {
    return Interior(source, target, width, height, 1,
                    [](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        for (std::int64_t c = 1; c + 1 < w; ++c) {
                            const std::int32_t s = in[c - w] + in[c - w + 1] + in[c + 1] -
                                                   in[c - 1] - in[c + w - 1] - in[c + w];
                            out[c] = Clamp255(s * 3 / 2 + 150);
                        }
                    });
}

bool NeighbourhoodSharpen(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                          std::uint32_t height) {
    constexpr std::uint32_t kR = 5;
    if (!ValidPicture(source, target, width, height)) return false;
    Scratch<std::uint32_t> columns(width);
    if (!columns) return false;
    std::uint32_t* sums = columns.get();  // sums of the 11 rows around the current row
    bool first = true;
    return Interior(source, target, width, height, kR,
                    [&](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        if (first) {
                            for (std::int64_t c = 0; c < w; ++c) {
                                std::uint32_t s = 0;
                                for (std::int64_t k = -std::int64_t(kR); k <= std::int64_t(kR); ++k)
                                    s += in[k * w + c];
                                sums[c] = s;
                            }
                            first = false;
                        } else {  // the window moved down one row
                            for (std::int64_t c = 0; c < w; ++c)
                                sums[c] += in[std::int64_t(kR) * w + c] -
                                           in[-std::int64_t(kR + 1) * w + c];
                        }
                        std::uint32_t box = 0;
                        for (std::int64_t c = 0; c < 2 * std::int64_t(kR) + 1; ++c) box += sums[c];
                        for (std::int64_t c = kR; c + kR < w; ++c) {
                            if (c > std::int64_t(kR)) box += sums[c + kR] - sums[c - kR - 1];
                            const std::int32_t m = std::int32_t((box + 60) / 121);
                            const std::int32_t centre = in[c];
                            const std::int32_t sign = centre > m + 5 ? 1 : centre < m - 5 ? -1 : 0;
                            if (sign == 0) {
                                out[c] = in[c];
                                continue;
                            }
                            std::int32_t v = centre;
                            const auto direct = [&](std::int32_t n) {
                                const std::int32_t d = centre - n;
                                if (d * sign > 0) v += (d * 3) >> 1;
                            };
                            const auto diagonal = [&](std::int32_t n) {
                                const std::int32_t d = centre - n;
                                if (d * sign > 0) v += d >> 1;
                            };
                            direct(in[c - w]);
                            direct(in[c - 1]);
                            direct(in[c + 1]);
                            direct(in[c + w]);
                            diagonal(in[c - w - 1]);
                            diagonal(in[c - w + 1]);
                            diagonal(in[c + w + 1]);
                            const std::int32_t lowerLeft = centre - in[c + w - 1];
                            if (lowerLeft * sign > 0) v += lowerLeft / 2;
                            out[c] = Clamp255(v);
                        }
                    });
}

bool MultiFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height) {
    if (!ValidPicture(source, target, width, height)) return false;
    const std::uint64_t count = Pixels(width, height);
    Scratch<std::uint8_t> median(count), mean(count), dilated(count), eroded(count);
    if (!median || !mean || !dilated || !eroded) return false;
    std::int32_t weight[511];  // W(d) for d = -255..255
    for (std::int32_t d = -255; d <= 255; ++d) {
        const std::int32_t a = d < 0 ? -d : d;
        weight[d + 255] = a <= 15 ? (d < 0 ? -(d * d / 8) : d * d / 8) : 2 * d;
    }
    std::uint8_t* m = mean.get();
    std::uint8_t* dil = dilated.get();
    std::uint8_t* ero = eroded.get();
    if (!Median3x3(source, median.get(), width, height) ||
        !Mean5x5(median.get(), m, width, height) || !Max3x3(m, dil, width, height) ||
        !Max3x3InPlace(dil, width, height) || !Max3x3InPlace(dil, width, height) ||
        !Min3x3(m, ero, width, height) || !Min3x3InPlace(ero, width, height))
        return false;
    for (std::uint64_t k = 0; k < count; ++k)
        target[k] = Clamp255(source[k] + weight[m[k] - dil[k] + 255] + weight[m[k] - ero[k] + 255]);
    return true;
}

bool MultiFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height, std::int32_t strength) {
    if (!ValidPicture(source, target, width, height)) return false;
    const std::uint64_t count = Pixels(width, height);
    Scratch<std::uint8_t> trimmed(count), opened(count), coarse(count), detail(count);
    if (!trimmed || !opened || !coarse || !detail) return false;
    std::int32_t weight[256];
    for (std::int32_t i = 0; i < 256; ++i)
        weight[i] = std::int32_t(std::int64_t(i) * strength >> 2);
    if (!TrimmedMean3x3(source, trimmed.get(), width, height) ||
        !Open3x3(trimmed.get(), opened.get(), width, height))
        return false;

    // The coarse detail: the top-hat of the picture reduced by 3, expanded back and smoothed.
    std::uint8_t* expanded = coarse.get();  // zero-filled
    const std::uint32_t sw = width / 3;
    const std::uint32_t sh = height / 3;
    if (sw >= 3 && sh >= 3) {
        const std::uint64_t smallCount = Pixels(sw, sh);
        Scratch<std::uint8_t> small(smallCount), max1(smallCount), max2(smallCount);
        if (!small || !max1 || !max2) return false;
        Reduce(trimmed.get(), width, small.get(), sw, sh, 3);
        if (!Max3x3(small.get(), max1.get(), sw, sh) || !Max3x3(max1.get(), max2.get(), sw, sh))
            return false;
        for (std::uint32_t y = 1; y + 1 < sh; ++y)
            for (std::uint32_t x = 1; x + 1 < sw; ++x) {
                const std::uint64_t k = std::uint64_t(y) * sw + x;
                const std::uint8_t t = max2.get()[k] > small.get()[k]
                                           ? std::uint8_t(max2.get()[k] - small.get()[k])
                                           : 0;
                for (std::uint32_t i = 0; i < 3; ++i)
                    std::memset(expanded + std::uint64_t(3 * y + i) * width + 3 * x, t, 3);
            }
    }
    if (!Mean3x3(expanded, detail.get(), width, height)) return false;
    const std::uint8_t* b = opened.get();
    const std::uint8_t* c = detail.get();
    return Interior(source, target, width, height, 1,
                    [&](const std::uint8_t* in, std::uint8_t* out, std::int64_t w) {
                        const std::uint64_t row = std::uint64_t(in - source);
                        for (std::int64_t x = 1; x + 1 < w; ++x)
                            out[x] = Clamp255(weight[b[row + x]] - weight[c[row + x]] + in[x]);
                    });
}

bool DetailEnhance8(std::uint32_t width, std::uint32_t height, const std::uint8_t* source,
                    std::int16_t* detail, std::int32_t gain) {
    if (!ValidPicture(source, detail, width, height)) return false;
    return DetailStep(source, detail, width, height, 3, 8, gain);
}

bool MultiLevelDetail(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                      std::uint32_t height) {
    if (!ValidPicture(source, target, width, height)) return false;
    const std::uint64_t count = Pixels(width, height);
    Scratch<std::int16_t> accumulator(count);
    if (!accumulator) return false;
    constexpr std::int32_t kLevel = 1;
    if (!DetailStep(source, accumulator.get(), width, height, 2 * kLevel + 1, 8, 8)) return false;
    for (std::uint64_t k = 0; k < count; ++k)
        target[k] = Clamp255(source[k] + accumulator.get()[k]);
    return true;
}
