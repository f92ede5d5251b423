#include "pixel/filters/multiband.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "pixel/filters/filters16.h"
#include "pixel/filters/filterutil.h"
#include "pixel/filters/smooth16.h"

using quorin::WorkBuffer;

namespace {

constexpr std::int64_t kTop = 4095;
constexpr int kMaxLevels = 8;

// A level's result is at most 4095 x gain / 100 + 65535 (a 16-bit gain, a 16-bit low-pass), and
// the coarser levels add up to kMaxLevels of them: the sums of every level fit 32 bits.
static_assert(kMaxLevels * (kTop * 65535 / 100 + 65536) <=
              std::numeric_limits<std::uint32_t>::max());

struct Kernel {
    std::vector<std::uint16_t> taps;
    std::uint32_t sum = 0;
    bool Make(int sigma100, int n) {
        try {
            taps.assign(std::size_t(n), 0);
        } catch (...) {
            return false;
        }
        sum = GaussKernel16(taps.data(), sigma100, n);
        return sum != 0;
    }
};

struct Settings {
    int levels, frequency;
    Kernel k1, k2;
    const std::uint16_t* gains;
    const std::uint16_t* clips;
};

// floor(sqrt(v)) exactly.
std::uint64_t IntegerSqrt(std::uint64_t v) {
    auto r = static_cast<std::uint64_t>(std::sqrt(double(v)));
    while (r > 0 && r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return r;
}

// Level l (1-based) of image I (w x h, a multiple of F^(L-l+1) in both directions) into result.
// Each level's result and the sum with the coarser levels are kept in 32 bits.
bool BandStep(const std::uint16_t* image, std::uint32_t* result, int w, int h, int l,
              const Settings& s) {
    const std::uint64_t count = std::uint64_t(w) * std::uint64_t(h);
    std::unique_ptr<std::uint32_t[]> up;
    if (l < s.levels) {
        const int f = s.frequency, sw = w / f, sh = h / f;
        auto small = WorkBuffer<std::uint16_t>(std::uint64_t(sw) * sh);
        auto coarser = WorkBuffer<std::uint32_t>(std::uint64_t(sw) * sh);
        up = WorkBuffer<std::uint32_t>(count);
        if (!small || !coarser || !up) return false;
        if (!BlockAverage16(image, small.get(), w, h, f) ||
            !BandStep(small.get(), coarser.get(), sw, sh, l + 1, s) ||
            !quorin::BilinearExpand<std::uint32_t>(coarser.get(), up.get(), nullptr, w, h, f))
            return false;
    }
    auto low = WorkBuffer<std::uint16_t>(count);
    auto tmp = WorkBuffer<std::uint16_t>(count);
    auto band = WorkBuffer<std::int32_t>(count);
    if (!low || !tmp || !band) return false;
    quorin::Smoother16 smoother;
    if (!smoother.Prepare(s.k2.taps.data(), int(s.k2.taps.size()), s.k2.sum, w, h)) return false;
    smoother.Run(image, tmp.get(), [&](int y, const std::uint16_t* row) {
        std::memcpy(low.get() + std::size_t(y) * w, row, std::size_t(w) * 2);
    });
    // The band is the difference of the two smoothings around 4095; it is kept in 32 bits so
    // that inputs beyond 12 bits cannot wrap it.
    std::int32_t bmin = 2 * kTop, bmax = 0;
    if (!smoother.Prepare(s.k1.taps.data(), int(s.k1.taps.size()), s.k1.sum, w, h)) return false;
    smoother.Run(image, tmp.get(), [&](int y, const std::uint16_t* row) {
        const std::uint16_t* lowRow = low.get() + std::size_t(y) * w;
        std::int32_t* out = band.get() + std::size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const std::int32_t v = std::int32_t(row[x]) - lowRow[x] + std::int32_t(kTop);
            out[x] = v;
            bmin = std::min(bmin, v);
            bmax = std::max(bmax, v);
        }
    });

    if (bmax > bmin) {
        // Band normalised to 0..4095; its mean m and deviation S in 128ths.
        const std::int64_t range = std::int64_t(bmax) - bmin;
        std::int64_t meanSum = 0;
        for (int y = 0; y < h; ++y) {
            std::int32_t* row = band.get() + std::size_t(y) * w;
            std::int64_t rowSum = 0;
            for (int x = 0; x < w; ++x) {
                row[x] = static_cast<std::int32_t>((std::int64_t(row[x]) - bmin) * kTop / range);
                rowSum += row[x];
            }
            meanSum += rowSum * 128 / w;
        }
        const std::int64_t m = meanSum / h;
        unsigned __int128 squares = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::int64_t d = std::int64_t(band[i]) * 128 - m;
            squares += static_cast<unsigned __int128>(d * d);
        }
        const auto S =
            static_cast<std::int64_t>(IntegerSqrt(static_cast<std::uint64_t>(squares / count)));
        const std::int64_t D = S * s.clips[l - 1] / 128;
        const std::int64_t lo = m < D ? 0 : (m - D) / 128;
        const std::int64_t hi = std::min<std::int64_t>((m + D) / 128, kTop);
        std::vector<std::uint32_t> table(kTop + 1, 0), averaged(kTop + 1, 0);
        quorin::MultiBandTable(table.data(), lo, hi, 1.0, 50);
        CausalMovingAverage(table.data(), averaged.data(), kTop + 1, 100, 0);
        const double gain = s.gains[l - 1];
        for (std::uint64_t i = 0; i < count; ++i) {
            const double v = double(averaged[std::size_t(band[i])]) * gain / 100.0 + double(low[i]);
            result[i] = static_cast<std::uint32_t>(std::trunc(v));
        }
    } else {
        // A flat band has no detail: the level is its low-pass alone.
        std::copy(low.get(), low.get() + count, result);
    }
    if (up)
        for (std::uint64_t i = 0; i < count; ++i) result[i] += up[i];
    return true;
}

}  // namespace

namespace quorin {

void MultiBandTable(std::uint32_t* table, std::int64_t low, std::int64_t high, double exponent,
                    std::int64_t split) {
    if (table == nullptr) return;
    low = std::clamp<std::int64_t>(low, 0, kTop);
    high = std::clamp<std::int64_t>(high, low, kTop);
    const std::int64_t d = high - low, q = d * split / 100;
    std::fill(table, table + low, 0u);
    for (std::int64_t j = q; j >= 1; --j) {
        const auto bend = static_cast<std::int64_t>(
            std::trunc(std::pow(double(j) / double(q), exponent) * 1024.0));
        table[low + (q - j)] = static_cast<std::uint32_t>(((1024 - bend) * kTop) >> 11);
    }
    for (std::int64_t j = 0; j <= d - q; ++j) {
        // A window of one level has only the curve's first entry (0/0 taken as 0).
        const double ratio = d - q > 0 ? double(j) / double(d - q) : 0.0;
        const auto bend = static_cast<std::int64_t>(std::trunc(std::pow(ratio, exponent) * 1024.0));
        table[low + q + j] = static_cast<std::uint32_t>(((1024 + bend) * kTop) >> 11);
    }
    std::fill(table + high + 1, table + kTop + 1, static_cast<std::uint32_t>(kTop));
}

}  // namespace quorin

bool MultiBandEnhance16(const std::uint16_t* src, int width, int height, std::uint16_t* dst,
                        std::uint32_t* histogram, std::uint16_t levels, std::uint16_t frequency,
                        std::uint16_t size1, std::uint16_t size2, std::uint16_t sigma1,
                        std::uint16_t sigma2, std::uint16_t border, const std::uint16_t* gains,
                        const std::uint16_t* clips) {
    if (src == nullptr || dst == nullptr || gains == nullptr || clips == nullptr) return false;
    if (quorin::ImageElements(width, height) == 0) return false;
    if (levels < 1 || levels > kMaxLevels || frequency < 1) return false;
    // P = F^L, refused as soon as it passes a side (so it never overflows).
    std::int64_t P = 1;
    for (int i = 0; i < levels; ++i) {
        P *= frequency;
        if (P > width || P > height) return false;
    }
    Settings s{levels, frequency, {}, {}, gains, clips};
    if (!s.k1.Make(sigma1, size1) || !s.k2.Make(sigma2, size2)) return false;

    // The image padded to multiples of P, centred (offsets rounded half up) and mirrored out.
    const std::int64_t W = (width + P - 1) / P * P, H = (height + P - 1) / P * P;
    const std::int64_t ox = (W - width + 1) / 2, oy = (H - height + 1) / 2;
    if (quorin::ImageElements(W, H) == 0) return false;
    auto padded = WorkBuffer<std::uint16_t>(std::uint64_t(W) * H);
    if (!padded) return false;
    for (std::int64_t y = 0; y < H; ++y) {
        const std::uint16_t* row = src + quorin::MirrorHalf(y - oy, height) * width;
        std::uint16_t* out = padded.get() + y * W;
        for (std::int64_t x = 0; x < W; ++x) out[x] = row[quorin::MirrorHalf(x - ox, width)];
    }
    auto enhanced = WorkBuffer<std::uint32_t>(std::uint64_t(W) * H);
    if (!enhanced || !BandStep(padded.get(), enhanced.get(), int(W), int(H), 1, s)) return false;

    std::uint32_t mn = std::numeric_limits<std::uint32_t>::max(), mx = 0;
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint32_t* row = enhanced.get() + (y + oy) * W + ox;
        for (std::int64_t x = 0; x < width; ++x) {
            mn = std::min(mn, row[x]);
            mx = std::max(mx, row[x]);
        }
    }
    const std::int64_t range = mx == mn ? 1 : std::int64_t(mx) - mn;
    if (histogram != nullptr) std::fill(histogram, histogram + kTop + 1, 0u);
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint32_t* row = enhanced.get() + (y + oy) * W + ox;
        std::uint16_t* out = dst + y * width;
        const bool countedRow = y >= border && y < height - border;
        for (std::int64_t x = 0; x < width; ++x) {
            const auto v = static_cast<std::uint16_t>((std::int64_t(row[x]) - mn) * kTop / range);
            out[x] = v;
            if (histogram != nullptr && countedRow && x >= border && x < width - border)
                ++histogram[v];
        }
    }
    return true;
}
