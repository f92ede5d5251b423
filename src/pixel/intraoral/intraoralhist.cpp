#include "pixel/intraoral/intraoralhist.h"

#include <quorin/geometry.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "records/core/rounding.h"

namespace quorin {

void GetCornerPairs(const CInfosCorners* corners, CornerPairs& pairs) {
    for (int i = 0; i < 8; ++i) pairs[i] = 0;
    if (corners == nullptr) return;
    for (int i = 0; i < 4; ++i) corners->GetCorner(i, &pairs[2 * i], &pairs[2 * i + 1]);
}

win::RECT InsetRegion(std::uint32_t width, std::uint32_t height, std::int32_t inset) {
    const auto clamp = [](std::int64_t v) {
        return static_cast<win::LONG>(std::clamp<std::int64_t>(
            v, std::numeric_limits<win::LONG>::min(), std::numeric_limits<win::LONG>::max()));
    };
    return win::RECT{clamp(inset), clamp(inset), clamp(std::int64_t(width) - inset),
                     clamp(std::int64_t(height) - inset)};
}

namespace {

// The region the histogram counts: clipped to the image, the whole image when empty or inverted
// (as the histogram itself reads it).
struct Span {
    std::int64_t top, bottom, left, right;
};

Span CountedSpan(const win::RECT& region, std::int64_t rows, std::int64_t columns) {
    if (region.right <= region.left || region.bottom <= region.top) return {0, rows, 0, columns};
    return {std::clamp<std::int64_t>(region.top, 0, rows),
            std::clamp<std::int64_t>(region.bottom, 0, rows),
            std::clamp<std::int64_t>(region.left, 0, columns),
            std::clamp<std::int64_t>(region.right, 0, columns)};
}

}  // namespace

template <class P>
std::unique_ptr<CTHistogram<P>> CornerFreeHistogram(const CTMatrix<P>& pixels,
                                                    const win::RECT& region,
                                                    const CornerPairs& pairs, int bits) {
    if (pixels.IsEmpty() || bits < 1 || bits > kMaxHistogramBits) return nullptr;
    std::unique_ptr<CTHistogram<P>> histogram(new (std::nothrow) CTHistogram<P>(&region, bits));
    if (!histogram || histogram->BinData() == nullptr || !histogram->Calculate(&pixels))
        return nullptr;
    unsigned int* bins = histogram->BinData();
    const std::uint64_t n = histogram->BinCount();
    const std::int64_t height = pixels.Rows();
    const std::int64_t width = pixels.Columns();
    const Span span = CountedSpan(region, height, width);
    // The same right triangles as the corner filling paints, taken out again.
    for (int corner = 0; corner < 4; ++corner) {
        const std::int64_t w = pairs[2 * corner];
        const std::int64_t h = pairs[2 * corner + 1];
        if (w <= 0 || h <= 0) continue;
        const std::int64_t rows = std::min(height, h + 2);
        const std::int64_t m = std::min(width, w + 2);
        const bool top = corner < 2;
        const bool left = corner % 2 == 0;
        for (std::int64_t k = 0; k < rows; ++k) {
            const std::int64_t r = top ? k : height - 1 - k;
            if (r < span.top || r >= span.bottom) continue;
            const auto q = static_cast<std::int64_t>(
                std::floor((1.0 - double(k) / double(rows)) * double(m) + 0.5));
            const std::int64_t first = std::max(left ? 0 : width - q, span.left);
            const std::int64_t last = std::min(left ? q : width, span.right);
            const P* row = pixels.RowData(static_cast<unsigned>(r));
            for (std::int64_t c = first; c < last; ++c) {
                const std::uint64_t v = row[c];
                if (v < n && bins[v] > 0) --bins[v];
            }
        }
    }
    return histogram;
}

template std::unique_ptr<CTHistogram<unsigned char>> CornerFreeHistogram(
    const CTMatrix<unsigned char>&, const win::RECT&, const CornerPairs&, int);
template std::unique_ptr<CTHistogram<unsigned short>> CornerFreeHistogram(
    const CTMatrix<unsigned short>&, const win::RECT&, const CornerPairs&, int);

namespace {

// Prominence of every peak of h: its height minus the higher of the lowest bins met on each side
// before a higher bin (on the left: at least as high). One pass per side with a stack of the bins
// not yet overtaken, each carrying the lowest bin between it and the current position.
void Prominences(const std::vector<std::uint32_t>& h, const std::vector<char>& isPeak,
                 std::vector<std::uint32_t>& out) {
    const std::size_t n = h.size();
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> leftBase(n, 0);
    struct Entry {
        std::size_t index;
        std::uint32_t lowestAfter;  // lowest bin after `index` up to the current position
    };
    std::vector<Entry> stack;
    stack.reserve(n);
    std::uint32_t prefixLow = kNone;  // lowest bin so far: the walk that meets no higher bin
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t merged = kNone;
        while (!stack.empty() && h[stack.back().index] < h[i]) {
            merged = std::min({merged, stack.back().lowestAfter, h[stack.back().index]});
            stack.pop_back();
        }
        if (!stack.empty()) stack.back().lowestAfter = std::min(stack.back().lowestAfter, merged);
        if (isPeak[i]) leftBase[i] = stack.empty() ? prefixLow : stack.back().lowestAfter;
        if (!stack.empty()) stack.back().lowestAfter = std::min(stack.back().lowestAfter, h[i]);
        stack.push_back({i, kNone});
        prefixLow = std::min(prefixLow, h[i]);
    }
    stack.clear();
    std::uint32_t suffixLow = kNone;
    for (std::size_t k = n; k-- > 0;) {
        std::uint32_t merged = kNone;
        while (!stack.empty() && h[stack.back().index] <= h[k]) {
            merged = std::min({merged, stack.back().lowestAfter, h[stack.back().index]});
            stack.pop_back();
        }
        if (!stack.empty()) stack.back().lowestAfter = std::min(stack.back().lowestAfter, merged);
        if (isPeak[k]) {
            const std::uint32_t right = stack.empty() ? suffixLow : stack.back().lowestAfter;
            const std::uint32_t left = leftBase[k];
            // A side with no bins at all sets no base.
            std::uint32_t base = 0;
            if (left != kNone) base = std::max(base, left);
            if (right != kNone) base = std::max(base, right);
            out[k] = h[k] - std::min(base, h[k]);
        }
        if (!stack.empty()) stack.back().lowestAfter = std::min(stack.back().lowestAfter, h[k]);
        stack.push_back({k, kNone});
        suffixLow = std::min(suffixLow, h[k]);
    }
}

}  // namespace

bool FindPeakValley(const unsigned int* bins, std::uint64_t n, unsigned int lowThreshold,
                    unsigned int highThreshold, bool fractionTest, bool useLowFound,
                    PeakValley* result) {
    if (bins == nullptr || n < 3 || result == nullptr) return false;
    try {
        std::vector<std::uint32_t> h1(bins, bins + n);
        h1[0] = h1[n - 1] = 0;
        const std::uint64_t top = n - 1;

        // Bounds rule: none above the threshold gives 0 below and the top bin above.
        std::uint64_t low = 0;
        while (low < n && !(h1[low] > lowThreshold)) ++low;
        if (low >= n) low = 0;
        std::uint64_t high = top;
        while (high > 0 && !(h1[high] > highThreshold)) --high;
        if (high == 0) high = top;

        // Running median of 3 bins, bins beyond the ends counting as 0.
        std::vector<std::uint32_t> h2(n, 0);
        for (std::uint64_t i = 1; i + 1 < n; ++i) {
            const std::uint32_t a = h1[i - 1], b = h1[i], c = h1[i + 1];
            h2[i] = std::max(std::min(a, b), std::min(std::max(a, b), c));
        }

        // Peaks: at least as high as the right neighbour and higher than the left one, so a
        // plateau of equal bins gives one peak, at its left end.
        std::vector<char> isPeak(n, 0);
        for (std::uint64_t i = 1; i + 1 < n; ++i)
            isPeak[i] = h2[i] >= h2[i + 1] && h2[i] > h2[i - 1];
        std::vector<std::uint32_t> prominence(n, 0);
        Prominences(h2, isPeak, prominence);
        const auto highest = std::max_element(h2.begin(), h2.end()) - h2.begin();
        prominence[std::size_t(highest)] = h2[std::size_t(highest)];

        std::uint64_t total = 0;
        std::uint32_t largest = 0;
        for (std::uint32_t p : prominence) {
            total += p;
            largest = std::max(largest, p);
        }
        const std::uint64_t threshold = std::max(RoundHalfUp<std::uint64_t>(double(total) * 0.0001),
                                                 RoundHalfUp<std::uint64_t>(double(largest) * 0.1));
        std::uint64_t peaks = 0;
        for (std::uint32_t& p : prominence) {
            if (p < threshold) p = 0;
            if (p != 0) ++peaks;
        }
        result->peak = 0;
        for (std::uint64_t i = 0; i < n; ++i)
            if (prominence[i] > prominence[result->peak]) result->peak = i;

        // The first 51-level run that holds at least 50 pixels.
        std::uint64_t lowFound = top >= 50 ? top - 50 : 0;
        if (top > 50) {
            std::uint64_t window = 0;
            for (std::uint64_t i = 0; i <= 50; ++i) window += h2[i];
            for (std::uint64_t i = 0; i < top - 50; ++i) {
                if (window >= 50) {
                    lowFound = i + 25;
                    break;
                }
                window = window + h2[i + 51] - h2[i];
            }
        }

        result->low = useLowFound ? lowFound : low;
        result->high = high;
        result->lowFound = lowFound;
        result->valley = false;
        if (peaks < 2) return true;

        const std::uint64_t s = top - RoundHalfUp<std::uint64_t>(double(top - lowFound) * 0.15);
        bool peakBelow = false;
        for (std::uint64_t i = 0; i <= s && !peakBelow; ++i) peakBelow = prominence[i] != 0;
        if (!peakBelow) return true;
        std::uint64_t peak = s + 1;
        while (peak < n && prominence[peak] == 0) ++peak;
        if (peak >= n) return true;

        // Down from that peak to the next one, keeping the lowest bin (ties move down).
        std::uint64_t candidate = peak;
        std::uint32_t lowest = h2[peak];
        for (std::uint64_t i = peak; i-- > 0;) {
            if (prominence[i] != 0) break;
            if (h2[i] <= lowest) {
                lowest = h2[i];
                candidate = i;
            }
        }
        std::uint64_t above = 0, all = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            all += h2[i];
            if (i >= candidate) above += h2[i];
        }
        if (!fractionTest || (all > 0 && double(above) / double(all) <= 0.3)) {
            result->high = candidate;
            result->valley = true;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool JudgeHistogram(const unsigned int* bins, std::uint64_t n, std::uint64_t refLow,
                    std::uint64_t refHigh, std::uint64_t pixels, HistogramExposure* result) {
    if (bins == nullptr || n < 2 || result == nullptr) return false;
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < n; ++i) total += bins[i];
    std::uint64_t low = 0;
    while (low < n && bins[low] == 0) ++low;
    if (low >= n) low = 0;
    std::uint64_t high = low;  // the top bin (saturated pixels) is not looked at
    for (std::uint64_t i = n - 1; i-- > 0;) {
        if (bins[i] != 0) {
            high = std::max(i, low);
            break;
        }
    }
    result->low = low;
    result->high = high;
    result->lowCount = bins[low];

    // Levels counted from 1 upwards until a quarter of the pixels is reached.
    const std::uint64_t quarter = total / 2 / 2;
    std::uint64_t running = 0, q = 0;
    for (std::uint64_t i = 1; i < n; ++i) {
        running += bins[i];
        ++q;
        if (running >= quarter) break;
    }
    const std::int64_t r = std::int64_t(high) - std::int64_t(low) + 1;
    const std::int64_t span = std::int64_t(refHigh) - std::int64_t(refLow) + 1;
    result->acceptableShape = r >= span / 2 || q < 2459;

    // Saturation: a dark, crowded start at the reference low itself.
    result->saturated = false;
    if (refLow > 0 && refLow < n) {
        const std::uint64_t last = std::min<std::uint64_t>(4095, n - 1);
        std::uint64_t busiest = refLow;
        for (std::uint64_t i = refLow + 1; i <= last; ++i)
            if (bins[i] > bins[busiest]) busiest = i;
        std::uint64_t lowPart = 0;
        for (std::uint64_t i = refLow; i <= std::min<std::uint64_t>(2048, n - 1); ++i)
            lowPart += bins[i];
        result->saturated = low < refLow + 45 &&
                            double(result->lowCount) > std::floor(0.05 * double(pixels) + 0.5) &&
                            busiest == refLow && double(lowPart) > 0.66 * double(total);
    }
    return true;
}

}  // namespace quorin
