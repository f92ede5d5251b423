#include "pixel/filters/filters16.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "pixel/filters/filterutil.h"
#include "pixel/filters/smooth16.h"
#include "records/core/rounding.h"

using quorin::ImageElements;
using quorin::WorkBuffer;

namespace {

std::uint16_t Clamp16(std::int64_t v) {
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
}

// One clipping pass into dst (already a copy of src); true when a pixel changed.
bool ClipPass(const std::uint16_t* src, std::uint16_t* dst, std::size_t width, std::size_t height,
              std::size_t r) {
    bool changed = false;
    for (std::size_t y = r; y + r < height; ++y) {
        for (std::size_t x = r; x + r < width; ++x) {
            std::uint16_t lo = 65535, hi = 0;
            const auto take = [&](std::uint16_t v) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            };
            const std::uint16_t* top = src + (y - r) * width + (x - r);
            const std::uint16_t* bottom = src + (y + r) * width + (x - r);
            for (std::size_t i = 0; i <= 2 * r; ++i) {
                take(top[i]);
                take(bottom[i]);
            }
            for (std::size_t j = y - r + 1; j < y + r; ++j) {
                take(src[j * width + x - r]);
                take(src[j * width + x + r]);
            }
            for (std::size_t j = y - r + 1; j < y + r; ++j) {
                std::uint16_t* row = dst + j * width;
                for (std::size_t i = x - r + 1; i < x + r; ++i) {
                    const std::uint16_t v = std::clamp(row[i], lo, hi);
                    if (v != row[i]) {
                        row[i] = v;
                        changed = true;
                    }
                }
            }
        }
    }
    return changed;
}

}  // namespace

bool ClipSpikes16(const std::uint16_t* src, std::uint16_t* dst, int width, int height, int r) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0) return false;
    if (r < 1 || std::int64_t(2) * r >= width) return false;
    if (src != dst) std::memmove(dst, src, count * 2);
    if (std::int64_t(2) * r >= height) return false;
    // The rim is read from the source; when both are one buffer it is read from a copy.
    std::unique_ptr<std::uint16_t[]> copy;
    if (src == dst) {
        copy = WorkBuffer<std::uint16_t>(count);
        if (!copy) return false;
        std::memcpy(copy.get(), src, count * 2);
        src = copy.get();
    }
    return ClipPass(src, dst, std::size_t(width), std::size_t(height), std::size_t(r));
}

void ClipSpikesIterated16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                          int level) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0) return;
    if (level < 1000) {
        ClipSpikes16(src, dst, width, height, level);
        return;
    }
    ClipSpikes16(src, dst, width, height, 1);
    std::unique_ptr<std::uint16_t[]> previous;
    const std::int64_t last = std::int64_t(level) - 1000;
    for (std::int64_t r = 2; r <= last; ++r) {
        if (2 * r >= width || 2 * r >= height) break;  // a pass would only copy
        if (!previous && !(previous = WorkBuffer<std::uint16_t>(count))) return;
        std::memcpy(previous.get(), dst, count * 2);
        ClipSpikes16(previous.get(), dst, width, height, static_cast<int>(r));
    }
}

void ApplyLut16(const std::uint16_t* table, std::size_t entries, const std::uint16_t* src,
                std::uint16_t* dst, int width, int height) {
    const std::uint64_t count = ImageElements(width, height);
    if (table == nullptr || entries == 0 || src == nullptr || dst == nullptr || count == 0) return;
    const std::size_t top = entries - 1;
    for (std::uint64_t i = 0; i < count; ++i) dst[i] = table[std::min<std::size_t>(src[i], top)];
}

std::uint32_t GaussKernel16(std::uint16_t* kernel, int sigma100, int n) {
    if (kernel == nullptr || n < 1 || sigma100 < 1) return 0;
    const double sigma = sigma100 / 100.0;
    std::vector<double> e;
    try {
        e.resize(std::size_t(n));
    } catch (...) {
        return 0;
    }
    double s = 0.0;
    for (int i = 0; i < n; ++i) {
        const double d = double(i - n / 2);
        e[std::size_t(i)] = std::exp(-(d * d) / (2.0 * sigma * sigma));
        s += e[std::size_t(i)];
    }
    std::uint32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        kernel[i] = quorin::RoundHalfUp<std::uint16_t>(e[std::size_t(i)] * 65535.0 / s);
        sum += kernel[i];
    }
    return sum;
}

bool ConvolvePass16(const std::uint16_t* src, std::uint16_t* dst, const std::uint16_t* kernel,
                    int n, std::uint32_t kernelSum, int length, int lines) {
    if (src == nullptr || dst == nullptr) return false;
    quorin::Smoother16 smoother;
    // Each line is one row of a length x 1 image.
    if (!smoother.Prepare(kernel, n, kernelSum, length, 1)) return false;
    auto line = WorkBuffer<std::uint16_t>(std::uint64_t(length));
    if (!line || ImageElements(length, lines) == 0) return false;
    for (int y = 0; y < lines; ++y) {
        smoother.Horizontal(src + std::size_t(y) * length, line.get());
        for (int x = 0; x < length; ++x) dst[std::size_t(x) * lines + y] = line[std::size_t(x)];
    }
    return true;
}

bool GaussSmooth16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                   double amplitude, int sigma100) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0) return false;
    const double reach = std::sqrt(-2.0 * std::log(0.5 / amplitude)) * sigma100 / 100.0;
    // An amplitude of 0.5 or less, or a sigma of 0, has no reach: the image is copied. The
    // half-width is bounded so that the kernel's count fits its 16-bit weights' table.
    const std::int64_t h =
        std::isfinite(reach) && reach >= 1.0 ? std::int64_t(std::min(reach, 32767.0)) : 0;
    if (h == 0) {
        if (src != dst) std::memmove(dst, src, count * 2);
        return true;
    }
    const int n = static_cast<int>(2 * h + 1);
    std::vector<std::uint16_t> kernel(std::size_t(n), 0);
    const std::uint32_t sum = GaussKernel16(kernel.data(), sigma100, n);
    quorin::Smoother16 smoother;
    struct Horizontal;  // the horizontally smoothed image, kept between calls
    std::uint16_t* tmp = quorin::ThreadWorkBuffer<std::uint16_t, Horizontal>(count);
    if (tmp == nullptr || !smoother.Prepare(kernel.data(), n, sum, width, height)) return false;
    smoother.Run(src, tmp, [&](int y, const std::uint16_t* row) {
        std::memcpy(dst + std::size_t(y) * width, row, std::size_t(width) * 2);
    });
    return true;
}

bool BlockAverage16(const std::uint16_t* src, std::uint16_t* dst, int width, int height, int f) {
    if (src == nullptr || dst == nullptr || ImageElements(width, height) == 0) return false;
    if (f < 1 || f > width || f > height) return false;
    const std::size_t sw = std::size_t(width / f), sh = std::size_t(height / f), uf = f;
    const std::uint64_t area = std::uint64_t(f) * f;
    std::vector<std::uint64_t> sums;
    try {
        sums.assign(sw, 0);
    } catch (...) {
        return false;
    }
    for (std::size_t r = 0; r < sh; ++r) {
        std::fill(sums.begin(), sums.end(), 0);
        for (std::size_t j = 0; j < uf; ++j) {
            const std::uint16_t* row = src + (r * uf + j) * std::size_t(width);
            for (std::size_t c = 0; c < sw; ++c)
                for (std::size_t i = 0; i < uf; ++i) sums[c] += row[c * uf + i];
        }
        // trunc(sum / f^2 + 0.5) in exact integers.
        for (std::size_t c = 0; c < sw; ++c)
            dst[r * sw + c] = static_cast<std::uint16_t>((2 * sums[c] + area) / (2 * area));
    }
    return true;
}

namespace quorin {

template <class T>
bool BilinearExpand(const T* small, T* dst, const T* guide, int width, int height, int f) {
    const std::uint64_t count = ImageElements(width, height, sizeof(T));
    if (small == nullptr || dst == nullptr || count == 0) return false;
    if (f < 1 || f > width || f > height) return false;
    const std::size_t uf = std::size_t(f), area = uf * uf;
    auto weights = WorkBuffer<double>(4 * std::uint64_t(area));
    if (!weights) return false;
    double* w00 = weights.get();
    double *w01 = w00 + area, *w10 = w01 + area, *w11 = w10 + area;
    const double f2 = double(f) * double(f);
    for (std::size_t j = 0; j < uf; ++j) {
        for (std::size_t i = 0; i < uf; ++i) {
            w00[j * uf + i] = double((uf - j) * (uf - i)) / f2;
            w01[j * uf + i] = double((uf - j) * i) / f2;
            w10[j * uf + i] = double(j * (uf - i)) / f2;
            w11[j * uf + i] = double(j * i) / f2;
        }
    }
    if (guide != nullptr && (width % f != 0 || height % f != 0) && guide != dst)
        std::memmove(dst, guide, count * sizeof(T));
    const std::size_t W = std::size_t(width), sw = W / uf, sh = std::size_t(height) / uf;
    const std::size_t h2 = uf / 2, tail = uf - h2;
    const auto S = [&](std::size_t r, std::size_t c) { return double(small[r * sw + c]); };
    const auto put = [&](std::size_t y, std::size_t x, double v) {
        dst[y * W + x] = quorin::RoundHalfUp<T>(v);
    };
    const std::size_t right0 = (sw - 1) * uf + h2, bottom0 = (sh - 1) * uf + h2;
    // Corners: the corner pixels of the small image repeated.
    for (std::size_t y = 0; y < h2; ++y) {
        for (std::size_t x = 0; x < h2; ++x) put(y, x, S(0, 0));
        for (std::size_t x = right0; x < right0 + tail; ++x) put(y, x, S(0, sw - 1));
    }
    for (std::size_t y = bottom0; y < bottom0 + tail; ++y) {
        for (std::size_t x = 0; x < h2; ++x) put(y, x, S(sh - 1, 0));
        for (std::size_t x = right0; x < right0 + tail; ++x) put(y, x, S(sh - 1, sw - 1));
    }
    // Top and bottom bands: interpolated along the row only.
    for (std::size_t c = 0; c + 1 < sw; ++c) {
        for (std::size_t i = 0; i < uf; ++i) {
            const std::size_t x = h2 + c * uf + i;
            const double top = (S(0, c) * double(uf - i) + S(0, c + 1) * double(i)) / double(f);
            const double bottom =
                (S(sh - 1, c) * double(uf - i) + S(sh - 1, c + 1) * double(i)) / double(f);
            for (std::size_t y = 0; y < h2; ++y) put(y, x, top);
            for (std::size_t y = bottom0; y < bottom0 + tail; ++y) put(y, x, bottom);
        }
    }
    // Left and right bands: interpolated along the column only.
    for (std::size_t r = 0; r + 1 < sh; ++r) {
        for (std::size_t j = 0; j < uf; ++j) {
            const std::size_t y = h2 + r * uf + j;
            const double left = (S(r, 0) * double(uf - j) + S(r + 1, 0) * double(j)) / double(f);
            const double right =
                (S(r, sw - 1) * double(uf - j) + S(r + 1, sw - 1) * double(j)) / double(f);
            for (std::size_t x = 0; x < h2; ++x) put(y, x, left);
            for (std::size_t x = right0; x < right0 + tail; ++x) put(y, x, right);
        }
    }
    // Inside: the four neighbouring small pixels with the block's weights.
    for (std::size_t r = 0; r + 1 < sh; ++r) {
        for (std::size_t j = 0; j < uf; ++j) {
            const std::size_t y = h2 + r * uf + j;
            T* out = dst + y * W + h2;
            const T* s0 = small + r * sw;
            const T* s1 = s0 + sw;
            const double* a = &w00[j * uf];
            const double* b = &w01[j * uf];
            const double* c = &w10[j * uf];
            const double* d = &w11[j * uf];
            for (std::size_t col = 0; col + 1 < sw; ++col, out += uf) {
                const double p = s0[col], q = s0[col + 1], u = s1[col], v = s1[col + 1];
                for (std::size_t i = 0; i < uf; ++i)
                    out[i] = quorin::RoundHalfUp<T>(p * a[i] + q * b[i] + u * c[i] + v * d[i]);
            }
        }
    }
    return true;
}

template bool BilinearExpand<std::uint16_t>(const std::uint16_t*, std::uint16_t*,
                                            const std::uint16_t*, int, int, int);
template bool BilinearExpand<std::uint32_t>(const std::uint32_t*, std::uint32_t*,
                                            const std::uint32_t*, int, int, int);

}  // namespace quorin

bool BilinearExpand16(const std::uint16_t* small, std::uint16_t* dst, const std::uint16_t* guide,
                      int width, int height, int f) {
    return quorin::BilinearExpand(small, dst, guide, width, height, f);
}

void Max3x3_16(const std::uint16_t* src, std::uint16_t* dst, int width, int height) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0) return;
    std::unique_ptr<std::uint16_t[]> copy;
    if (src == dst) {
        if (!(copy = WorkBuffer<std::uint16_t>(count))) return;
        std::memcpy(copy.get(), src, count * 2);
        src = copy.get();
    }
    const std::size_t W = std::size_t(width), H = std::size_t(height);
    std::memcpy(dst, src, W * 2);
    if (H > 1) std::memcpy(dst + (H - 1) * W, src + (H - 1) * W, W * 2);
    for (std::size_t y = 1; y + 1 < H; ++y) {
        const std::uint16_t* a = src + (y - 1) * W;
        const std::uint16_t* b = a + W;
        const std::uint16_t* c = b + W;
        std::uint16_t* out = dst + y * W;
        out[0] = b[0];
        out[W - 1] = b[W - 1];
        for (std::size_t x = 1; x + 1 < W; ++x) {
            std::uint16_t m = std::max({a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1]});
            out[x] = std::max({m, c[x - 1], c[x], c[x + 1]});
        }
    }
}

void DiffOffset16(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* dst, int width,
                  int height, int offset) {
    const std::uint64_t count = ImageElements(width, height);
    if (a == nullptr || b == nullptr || dst == nullptr || count == 0) return;
    for (std::uint64_t i = 0; i < count; ++i) dst[i] = Clamp16(std::int64_t(a[i]) - b[i] + offset);
}

void NormalisingProduct16(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* dst,
                          int width, int height, int mx, int my) {
    const std::uint64_t count = ImageElements(width, height);
    if (a == nullptr || b == nullptr || dst == nullptr || count == 0) return;
    std::int64_t x0 = std::max(mx, 0), x1 = std::int64_t(width) - std::max(mx, 0);
    std::int64_t y0 = std::max(my, 0), y1 = std::int64_t(height) - std::max(my, 0);
    // Margins that leave no inner region: the whole image takes its place, so the range is
    // taken from real pixels.
    const bool empty = x0 >= x1 || y0 >= y1;
    if (empty) x0 = 0, x1 = width, y0 = 0, y1 = height;
    std::int64_t minA = 65535, maxA = 0, minB = 65535;
    for (std::int64_t y = y0; y < y1; ++y) {
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::size_t i = std::size_t(y) * width + x;
            minA = std::min<std::int64_t>(minA, a[i]);
            maxA = std::max<std::int64_t>(maxA, a[i]);
            minB = std::min<std::int64_t>(minB, b[i]);
        }
    }
    std::uint32_t top = 0;
    for (std::int64_t y = y0; y < y1; ++y)
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::size_t i = std::size_t(y) * width + x;
            top = std::max(top, static_cast<std::uint32_t>((b[i] - minB) * (a[i] - minA)));
        }
    const double scale = (top == 0 || empty) ? 1.0 : double(maxA - minA) / double(top);
    for (std::uint64_t i = 0; i < count; ++i) {
        const double v = double((std::int64_t(a[i]) - minA) * (std::int64_t(b[i]) - minB)) * scale +
                         double(minA);
        dst[i] = static_cast<std::uint16_t>(std::trunc(std::clamp(v, double(minA), double(maxA))));
    }
}

void AddScaledDetail16(const std::uint16_t* base, const std::uint16_t* detail, std::uint16_t* dst,
                       int width, int height, int offset, int gain, int top) {
    const std::uint64_t count = ImageElements(width, height);
    if (base == nullptr || detail == nullptr || dst == nullptr || count == 0) return;
    const std::int64_t g = std::int64_t(gain) * 16 / 10;
    const std::int64_t limit = std::clamp<std::int64_t>(top, 0, 65535);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::int64_t v = base[i] + (((std::int64_t(detail[i]) - offset) * g) >> 4);
        dst[i] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, limit));
    }
}

bool CombinedEnhance16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                       int top) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0 || src == dst) return false;
    constexpr int kBlock = 5;
    const int sw = width / kBlock, sh = height / kBlock;
    auto A = WorkBuffer<std::uint16_t>(count);
    auto B = WorkBuffer<std::uint16_t>(count);
    // The small image needs at least one whole block; without it the background is A itself.
    auto small = WorkBuffer<std::uint16_t>(std::max<std::uint64_t>(std::uint64_t(sw) * sh, 1));
    if (!A || !B || !small) return false;
    std::uint16_t* D = dst;
    if (!GaussSmooth16(src, A.get(), width, height, top, 200)) return false;
    if (sw >= 1 && sh >= 1) {
        if (!BlockAverage16(A.get(), small.get(), width, height, kBlock) ||
            !GaussSmooth16(small.get(), B.get(), sw, sh, top, 700))
            return false;
        Max3x3_16(B.get(), small.get(), sw, sh);
        Max3x3_16(small.get(), B.get(), sw, sh);
        if (!BilinearExpand16(B.get(), D, A.get(), width, height, kBlock)) return false;
    } else {
        std::memcpy(D, A.get(), count * 2);
    }
    if (!GaussSmooth16(D, B.get(), width, height, top, 300)) return false;
    DiffOffset16(A.get(), B.get(), D, width, height, 32768);
    NormalisingProduct16(A.get(), D, D, width, height, 40, 60);
    DiffOffset16(src, A.get(), B.get(), width, height, 32768);
    AddScaledDetail16(D, B.get(), dst, width, height, 32768, 15, top);
    return true;
}

bool AttenuationToLog16(const std::uint16_t* src, int width, int height, std::uint16_t* dst,
                        std::uint32_t* histogram) {
    const std::uint64_t count = ImageElements(width, height);
    if (src == nullptr || dst == nullptr || count == 0) return false;
    auto logs = WorkBuffer<std::int32_t>(count);
    if (!logs) return false;
    std::int32_t vmin = std::numeric_limits<std::int32_t>::max(), vmax = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        // Values above the 12-bit top have no logarithm; they count as the top itself.
        const std::int32_t v =
            src[i] >= 4095
                ? 0
                : static_cast<std::int32_t>(std::trunc(std::log(4095.0 - src[i]) * 1024.0));
        logs[i] = v;
        vmin = std::min(vmin, v);
        vmax = std::max(vmax, v);
    }
    if (histogram != nullptr) std::fill(histogram, histogram + 4096, 0u);
    const double range = double(vmax - vmin);
    for (std::uint64_t i = 0; i < count; ++i) {
        const double stretched = range > 0.0 ? double(logs[i] - vmin) * 4095.0 / range : 0.0;
        const auto out = static_cast<std::uint16_t>(std::trunc(4095.0 - (stretched + 0.5)));
        dst[i] = out;
        if (histogram != nullptr) ++histogram[out];
    }
    return true;
}

void TwoSegmentGammaLut(std::uint32_t* table, std::int64_t n, std::int64_t low, std::int64_t high,
                        std::int64_t start, std::int64_t end, double exponent, std::int64_t split) {
    if (table == nullptr || n < 1) return;
    const auto put = [&](std::int64_t i, std::int64_t v) {
        if (i >= 0 && i < n) table[i] = static_cast<std::uint32_t>(v);
    };
    const std::int64_t range = high - low;
    for (std::int64_t i = 0; i < std::min(start, n); ++i) put(i, i * low / start);
    const std::int64_t span = end - start;
    const std::int64_t k = span * split / 100;
    for (std::int64_t j = std::max<std::int64_t>(0, -start); j < k && start + j < n; ++j) {
        const double ratio = double(k - j) / double(k);
        const auto bend = static_cast<std::int64_t>(std::trunc(std::pow(ratio, exponent) * 1024.0));
        put(start + j, (((1024 - bend) * range) >> 11) + low);
    }
    if (k <= span) {
        for (std::int64_t j = std::max<std::int64_t>(0, -(start + k));
             j <= span - k && start + k + j < n; ++j) {
            // With no room left for the second curve its one entry is the mid-value, as every
            // curve's first entry is (0/0 taken as 0).
            const double ratio = span - k > 0 ? double(j) / double(span - k) : 0.0;
            const auto bend =
                static_cast<std::int64_t>(std::trunc(std::pow(ratio, exponent) * 1024.0));
            put(start + k + j, (((1024 + bend) * range) >> 11) + low);
        }
    }
    const std::int64_t rest = n - end - 2;
    for (std::int64_t t = std::max<std::int64_t>(0, -(end + 1)); end + 1 + t < n; ++t) {
        // A ramp of one entry (end = n - 2) is its own end point, n - 1.
        put(end + 1 + t, rest > 0 ? t * (n - high - 1) / rest + high : n - 1);
    }
}

void BuildProcessingLut16(std::uint16_t* table, std::int64_t n, std::int64_t low, std::int64_t high,
                          int curveFlag, int fullScale) {
    if (table == nullptr || n < 1) return;
    const bool full = fullScale == 1;
    const std::int64_t lowerFill = full ? 0 : low, upperFill = full ? 4095 : high;
    const auto put = [&](std::int64_t i, double v) {
        if (i >= 0 && i < n) table[i] = static_cast<std::uint16_t>(std::trunc(v));
    };
    const auto curve = [](double t) { return 0.35 * std::pow(t, 0.5) + 0.65 * std::pow(t, 12.0); };
    for (std::int64_t i = 0; i <= std::min(low, n - 1); ++i) put(i, double(lowerFill));
    if (low >= high) {
        for (std::int64_t i = std::max<std::int64_t>(low + 1, 0); i < n; ++i)
            put(i, double(upperFill));
        return;
    }
    const double span = double(high - low);
    for (std::int64_t i = std::max<std::int64_t>(low + 1, 0); i <= high && i < n; ++i) {
        const double t = double(i - low) / span;
        double v;
        if (full)
            v = curveFlag == 1 ? curve(t) * 4095.0 + 0.5 : double(i - low) * 4095.0 / span + 0.5;
        else  // the straight variant runs from low to high as the curve does
            v = curveFlag == 1 ? curve(t) * span + double(low) + 0.5 : t * span + double(low) + 0.5;
        put(i, v);
    }
    for (std::int64_t i = std::max<std::int64_t>(high + 1, 0); i < n; ++i)
        put(i, double(upperFill));
}

std::int64_t CausalMovingAverage(const std::uint32_t* values, std::uint32_t* out, std::int64_t n,
                                 std::int64_t w, std::int64_t offset) {
    if (values == nullptr || out == nullptr || n < 1 || w < 1) return 0;
    const auto term = [&](std::int64_t k) { return std::max<std::int64_t>(values[k] + offset, 0); };
    std::int64_t window = 0, total = 0;
    for (std::int64_t t = 0; t < n; ++t) {
        if (t >= 1) window += term(t - 1);
        if (t - w - 1 >= 0) window -= term(t - w - 1);
        const std::int64_t v = window / w;
        out[t] = static_cast<std::uint32_t>(v);
        total += v;
    }
    return total * 100 / n;
}
