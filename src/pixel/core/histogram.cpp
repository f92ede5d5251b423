#include <quorin/histogram.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <type_traits>

#include "pixel/core/containers.h"
#include "records/core/rounding.h"

namespace {

// The region clipped to a rows x columns matrix: an empty or inverted region means the whole
// matrix; a region that misses the matrix keeps nothing.
struct Span {
    std::uint64_t top, bottom, left, right;
};

template <class I>
Span ClipRegion(const win::RECT& region, I rows, I columns) {
    const Span whole{0, rows, 0, columns};
    if (region.right <= region.left || region.bottom <= region.top) return whole;
    const auto clip = [](std::int64_t value, std::uint64_t limit) {
        return static_cast<std::uint64_t>(std::clamp<std::int64_t>(value, 0, std::int64_t(limit)));
    };
    Span span{clip(region.top, rows), clip(region.bottom, rows), clip(region.left, columns),
              clip(region.right, columns)};
    if (span.top >= span.bottom || span.left >= span.right) return Span{0, 0, 0, 0};
    return span;
}

}  // namespace

template <class P, class I, class B>
CTHistogram<P, I, B>::CTHistogram(const win::RECT* region, int bits) {
    if (region != nullptr) m_region = *region;
    m_bits = bits != 0 ? bits : quorin::PixelTraits<P>::kDefaultBits;
    if (m_bits < 1 || m_bits > quorin::kMaxHistogramBits) {
        m_bits = bits;
        return;
    }
    m_bins = new (std::nothrow) Bins(I(1) << m_bits);
    if (m_bins != nullptr && m_bins->IsEmpty()) {
        delete m_bins;
        m_bins = nullptr;
    }
    if (m_bins != nullptr) m_binCount = m_bins->Size();
}

template <class P, class I, class B>
CTHistogram<P, I, B>::CTHistogram(const CTHistogram& other)
    : m_region(other.m_region), m_bits(other.m_bits) {
    if (other.m_bins == nullptr) return;
    m_bins = new (std::nothrow) Bins(*other.m_bins);
    if (m_bins != nullptr && m_bins->IsEmpty()) {
        delete m_bins;
        m_bins = nullptr;
    }
    if (m_bins != nullptr) m_binCount = m_bins->Size();
}

template <class P, class I, class B>
CTHistogram<P, I, B>& CTHistogram<P, I, B>::operator=(const CTHistogram& other) {
    if (this != &other) {
        CTHistogram copy(other);
        std::swap(m_binCount, copy.m_binCount);
        std::swap(m_region, copy.m_region);
        std::swap(m_bits, copy.m_bits);
        std::swap(m_bins, copy.m_bins);
    }
    return *this;
}

template <class P, class I, class B>
CTHistogram<P, I, B>::~CTHistogram() {
    delete m_bins;
}

template <class P, class I, class B>
void CTHistogram<P, I, B>::Reset() {
    if (B* bins = BinData()) std::fill(bins, bins + m_binCount, B(0));
}

template <class P, class I, class B>
bool CTHistogram<P, I, B>::Calculate(const CTMatrix<P, I>* matrix) {
    if (matrix == nullptr || m_bins == nullptr) return false;
    Reset();
    if (matrix->IsEmpty()) return true;
    B* bins = BinData();
    const std::uint64_t binCount = m_binCount;
    const Span span = ClipRegion(m_region, matrix->Rows(), matrix->Columns());
    // Whole-number counts of a large region go to four tables in turn, added up at the end: in
    // a smooth picture neighbouring pixels fall in the same few bins, and one table would make
    // each count wait for the one before it.
    constexpr int kTables = 4;
    std::unique_ptr<B[]> more;
    if constexpr (std::is_integral_v<B>) {
        const std::uint64_t pixels = (span.bottom - span.top) * (span.right - span.left);
        if (pixels >= 16 * binCount && span.right - span.left >= kTables)
            more.reset(new (std::nothrow) B[(kTables - 1) * binCount]());
    }
    B* tables[kTables] = {bins, bins, bins, bins};  // one table, in pixel order, without more
    if (more)
        for (int t = 1; t < kTables; ++t) tables[t] = more.get() + (t - 1) * binCount;
    for (std::uint64_t r = span.top; r < span.bottom; ++r) {
        const P* row = matrix->RowData(static_cast<I>(r));
        std::uint64_t c = span.left;
        for (; c + kTables <= span.right; c += kTables)
            for (int t = 0; t < kTables; ++t) {
                const P value = row[c + t];
                if (value < binCount) tables[t][value] += B(1);
            }
        for (; c < span.right; ++c) {
            const P value = row[c];
            if (value < binCount) bins[value] += B(1);
        }
    }
    if (more)
        for (int t = 1; t < kTables; ++t)
            for (std::uint64_t i = 0; i < binCount; ++i) bins[i] += tables[t][i];
    return true;
}

template <class P, class I, class B>
quorin::BinSum<B> CTHistogram<P, I, B>::Total() const {
    quorin::BinSum<B> sum = 0;
    if (const B* bins = BinData())
        for (I i = 0; i < m_binCount; ++i) sum += bins[i];
    return sum;
}

template <class P, class I, class B>
bool CTHistogram<P, I, B>::Bounds(B lowThreshold, B highThreshold, P* low, P* high) const {
    const B* bins = BinData();
    if (bins == nullptr) return false;
    std::uint64_t lowLevel = 0;
    while (lowLevel < m_binCount && !(bins[lowLevel] > lowThreshold)) ++lowLevel;
    if (lowLevel >= m_binCount) lowLevel = 0;
    std::uint64_t highLevel = m_binCount - 1;
    while (highLevel > 0 && !(bins[highLevel] > highThreshold)) --highLevel;
    if (highLevel == 0) highLevel = m_binCount - 1;
    if (low != nullptr) *low = static_cast<P>(lowLevel);
    if (high != nullptr) *high = static_cast<P>(highLevel);
    return true;
}

template <class P, class I, class B>
CTHistogram<P, I, double>* CTHistogram<P, I, B>::Cumulative() const {
    if (m_bins == nullptr) return nullptr;
    std::unique_ptr<CTHistogram<P, I, double>> result(
        new (std::nothrow) CTHistogram<P, I, double>(&m_region, m_bits));
    if (!result || result->m_binCount != m_binCount) return nullptr;
    const B* bins = BinData();
    double* out = result->BinData();
    double sum = 0.0;
    for (I i = 0; i < m_binCount; ++i) out[i] = sum += static_cast<double>(bins[i]);
    return result.release();
}

template <class P, class I, class B>
CTVector<double, I>* CTHistogram<P, I, B>::CumulativeNormalised() const {
    std::unique_ptr<CTHistogram<P, I, double>> cumulative(Cumulative());
    if (!cumulative) return nullptr;
    const double total = cumulative->BinData()[m_binCount - 1];
    if (!(total > 0.0)) return nullptr;
    std::unique_ptr<CTVector<double, I>> result(new (std::nothrow) CTVector<double, I>(m_binCount));
    if (!result || result->IsEmpty()) return nullptr;
    const double* in = cumulative->BinData();
    double* out = result->Data();
    for (I i = 0; i < m_binCount; ++i) out[i] = in[i] / total;
    return result.release();
}

template <class P, class I, class B>
CTHistogram<P, I, double>* CTHistogram<P, I, B>::RebinTo8Bits() const {
    if (m_bins == nullptr) return nullptr;
    std::unique_ptr<CTHistogram<P, I, double>> result(new (std::nothrow)
                                                          CTHistogram<P, I, double>(&m_region, 8));
    if (!result || result->m_bins == nullptr) return nullptr;
    const B* bins = BinData();
    double* out = result->BinData();
    const double last = static_cast<double>(m_binCount - 1);
    for (I i = 0; i < m_binCount; ++i) {
        const auto target = quorin::RoundHalfUp<std::uint32_t>(double(i) * 255.0 / last);
        out[std::min<std::uint32_t>(target, 255)] += static_cast<double>(bins[i]);
    }
    return result.release();
}

template <class P, class I, class B>
CTHistogram<P, I, double>* CTHistogram<P, I, B>::Convolve(const CTVector<double, I>* kernel) const {
    if (m_bins == nullptr || kernel == nullptr || kernel->IsEmpty()) return nullptr;
    std::unique_ptr<CTHistogram<P, I, double>> result(
        new (std::nothrow) CTHistogram<P, I, double>(&m_region, m_bits));
    if (!result || result->m_binCount != m_binCount) return nullptr;
    const std::int64_t k = kernel->Size();
    const std::int64_t h = quorin::RoundHalfUp<std::int64_t>((k - 1) / 2.0);
    const std::int64_t n = m_binCount;
    const double* weights = kernel->Data();
    const B* bins = BinData();
    double* out = result->BinData();
    for (std::int64_t i = 0; i < n; ++i) {
        // The kernel laid from bin i - h; the part outside the bins is left out.
        const std::int64_t first = std::max<std::int64_t>(0, h - i);
        const std::int64_t last = std::min<std::int64_t>(k - 1, n - 1 - i + h);
        double sum = 0.0;
        for (std::int64_t t = first; t <= last; ++t)
            sum += static_cast<double>(bins[i - h + t]) * weights[t];
        out[i] = sum;
    }
    return result.release();
}

template <class P, class I, class B>
bool CTHistogram<P, I, B>::ConvolveInPlace(const CTVector<double, I>* kernel) {
    std::unique_ptr<CTHistogram<P, I, double>> convolved(Convolve(kernel));
    if (!convolved) return false;
    B* bins = BinData();
    const double* in = convolved->BinData();
    for (I i = 0; i < m_binCount; ++i) bins[i] = static_cast<B>(in[i]);
    return true;
}

template <class P, class I, class B>
CTHistogram<P, I, B>* CTHistogram<P, I, B>::Smooth(I n) const {
    if (m_bins == nullptr || n < 3 || n % 2 == 0) return nullptr;
    std::unique_ptr<CTHistogram> result(new (std::nothrow) CTHistogram(&m_region, m_bits));
    if (!result || result->m_binCount != m_binCount) return nullptr;
    // A window wider than twice the bins holds more zeros than anything else: its median is 0.
    if (std::uint64_t(n) > 2 * std::uint64_t(m_binCount)) return result.release();
    std::unique_ptr<B[]> window(new (std::nothrow) B[n]);
    if (!window) return nullptr;
    const std::int64_t half = n / 2;
    const std::int64_t count = m_binCount;
    const B* bins = BinData();
    B* out = result->BinData();
    for (std::int64_t i = 0; i < count; ++i) {
        for (std::int64_t t = 0; t < std::int64_t(n); ++t) {
            const std::int64_t j = i - half + t;
            window[t] = j >= 0 && j < count ? bins[j] : B(0);
        }
        // The (n/2 + 1)-th smallest value of the window.
        std::nth_element(window.get(), window.get() + half, window.get() + n);
        out[i] = window[half];
    }
    return result.release();
}

template <class P, class I, class B>
bool CTHistogram<P, I, B>::SmoothInPlace(I n) {
    std::unique_ptr<CTHistogram> smoothed(Smooth(n));
    if (!smoothed) return false;
    std::swap(m_bins, smoothed->m_bins);
    return true;
}

template <class P, class I, class B>
void CTHistogram<P, I, B>::FillEmptyBins() {
    B* bins = BinData();
    if (bins == nullptr) return;
    for (I i = 1; i + 1 < m_binCount; ++i) {
        if (bins[i] != B(0)) continue;
        if constexpr (std::is_floating_point_v<B>)
            bins[i] = (bins[i - 1] + bins[i + 1]) / 2;
        else
            bins[i] = static_cast<B>((std::uint64_t(bins[i - 1]) + bins[i + 1]) / 2);
    }
}

template class CTHistogram<unsigned char, unsigned int, unsigned int>;
template class CTHistogram<unsigned short, unsigned int, unsigned int>;
template class CTHistogram<unsigned int, unsigned int, unsigned int>;
template class CTHistogram<unsigned char, unsigned int, double>;
template class CTHistogram<unsigned short, unsigned int, double>;
template class CTHistogram<unsigned int, unsigned int, double>;
