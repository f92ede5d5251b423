// CTHistogram: counts of the pixel values of a matrix (or of a rectangle of it) in 2^bits bins,
// with the derived histograms the enhancement works with: cumulative, normalised, rebinned to
// 8 bits, convolved and running-median smoothed. Operations that make a new object return it
// for the caller to delete, or null; nothing throws.
#pragma once
#include <quorin/export.h>
#include <quorin/matrix.h>
#include <quorin/pixeltraits.h>
#include <quorin/rect.h>
#include <quorin/vector.h>

#include <cstdint>

namespace quorin {
// The deepest histogram made: 2^24 bins.
inline constexpr int kMaxHistogramBits = 24;
}  // namespace quorin

template <class P, class I = unsigned int, class B = unsigned int>
class CTHistogram {
  public:
    using Bins = CTVector<B, I>;

    // `region` null or empty: the whole matrix. `bits` 0: the pixel type's depth (8 or 16; wider
    // pixels need an explicit depth). A depth outside 1..24 leaves the histogram without bins.
    explicit CTHistogram(const win::RECT* region = nullptr, int bits = 0);
    CTHistogram(const CTHistogram& other);
    CTHistogram& operator=(const CTHistogram& other);
    virtual ~CTHistogram();

    // Clears the bins and counts the pixels of the region (clipped to the matrix; an empty or
    // inverted rectangle means the whole matrix). Values at or above the bin count are skipped.
    // False for a null matrix or a histogram without bins.
    bool Calculate(const CTMatrix<P, I>* matrix);
    void Reset();
    quorin::BinSum<B> Total() const;

    // Low level: the first bin above `lowThreshold` (0 when none); high level: the last bin above
    // `highThreshold`, the top bin when none or when that is bin 0. False without bins.
    bool Bounds(B lowThreshold, B highThreshold, P* low, P* high) const;

    CTHistogram<P, I, double>* Cumulative() const;
    // Cumulative histogram over the total; null for an empty histogram (total 0) or on failure.
    CTVector<double, I>* CumulativeNormalised() const;
    // 256 bins: bin i goes to bin floor(i x 255 / (n-1) + 0.5).
    CTHistogram<P, I, double>* RebinTo8Bits() const;
    // out[i] = sum of bin[i - h + t] x kernel[t] over the bins that exist, h = the kernel's
    // half-width; null for an empty kernel.
    CTHistogram<P, I, double>* Convolve(const CTVector<double, I>* kernel) const;
    bool ConvolveInPlace(const CTVector<double, I>* kernel);
    // Running median of n bins (n odd, above 1), bins beyond the ends counting as 0.
    CTHistogram* Smooth(I n) const;
    bool SmoothInPlace(I n);
    // Every inner bin that is exactly 0 becomes the mean of its neighbours, going upwards.
    void FillEmptyBins();

    I BinCount() const { return m_binCount; }
    int Bits() const { return m_bits; }
    const win::RECT& Region() const { return m_region; }
    Bins* GetBins() const { return m_bins; }
    B* BinData() const { return m_bins != nullptr ? m_bins->Data() : nullptr; }

  private:
    template <class P2, class I2, class B2>
    friend class CTHistogram;

    I m_binCount = 0;
    win::RECT m_region{0, 0, 0, 0};
    int m_bits = 0;
    Bins* m_bins = nullptr;  // owned
};

// The library builds for other programs the histogram the statistics take: 8-bit pixels, double
// bins.
extern template class QUORIN_EXPORT CTHistogram<unsigned char, unsigned int, double>;
