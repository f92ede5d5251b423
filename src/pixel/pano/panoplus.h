// The registry-driven panoramic images: CusPanoPlus and its two device variants CusPanoZX520E and
// CusPanoZX730H. Each reads two multi-band Gaussian blocks and one contrast-curve block from the
// settings, builds up to two enhanced 12-bit companion images with a contrast curve of their own
// taken from their histogram, and renders the companion the caller's mode asks for.
#pragma once
#include <quorin/histogram.h>

#include <cstdint>
#include <memory>

#include "pixel/core/statistics.h"
#include "pixel/pano/pano.h"

// One multi-band Gaussian block (band gains in hundredths, clip levels in 128ths).
struct SPanoGaussBlock {
    std::int32_t Level = 10;
    std::int32_t Frequency = 2;
    std::int32_t Gauss1Size = 5;
    std::int32_t Gauss2Size = 5;
    std::int32_t Sigma1_100 = 100;
    std::int32_t Sigma2_100 = 100;
    std::int32_t HistoBorder = 0;
    std::int32_t k[8] = {};
    std::int32_t Clip[8] = {};
    bool Enable = true;
};

// The contrast-curve block: the analysed region's borders and the stretch fractions in percent.
struct SPanoLutBlock {
    std::int32_t BorderLeft = 50;
    std::int32_t BorderRight = 50;
    std::int32_t BorderTop = 50;
    std::int32_t BorderBottom = 50;
    std::int32_t GaussLowPercent = 1;
    std::int32_t GaussHighPercent = 99;
    bool AdjustWithBorder = false;
    bool RemoveBlackZone = false;  // read and kept; nothing uses it
};

// What tells the three classes apart: their keys below Software, the Gauss2 defaults that
// differ and their device code.
struct SPanoPlusVariant {
    const char* gauss1Key;
    const char* gauss2Key;
    const char* lutKey;
    std::int32_t gauss2Level;
    std::int32_t gauss2Gain1;
    std::int32_t deviceCode;
};

class CusPanoPlus : public CusPano {
  public:
    using Companion = CTImgPano<unsigned short>;

    explicit CusPanoPlus(SImage* image) : CusPanoPlus(image, kVariant) {}
    // Copies the image; the copy starts with the blocks' initial values and no companions.
    CusPanoPlus(const CusPanoPlus& other);
    ~CusPanoPlus() override;

    // Slot 2: only bitmaps 8006 and 8005 at (-150, 48) and (150, 48); no device logo.
    bool AddLogo() override;

    // Template slot 4: companion 2 for mode 2 and companion 1 for mode 1 when they exist, else
    // this image, rendered through its curve table when it has one and its window table else.
    bool RenderWithLut(DisplayImage& target, std::int32_t mode) override;
    // Template slot 5: reads the settings, enhances into companion 1 when Gauss1 is enabled, then
    // builds this image's own curve table; true when both succeed.
    bool BuildCurveLut(const CTVector<double>* parameters, std::uint32_t levels) override;
    // Template slot 6: reads the settings and enhances into companion 2 when Gauss2 is enabled;
    // no gamma table is built.
    bool BuildGammaLut(const CTVector<double>* parameters, std::uint32_t levels,
                       double factor) override;
    // Template slot 9: the three blocks from the settings, missing values taking their defaults.
    virtual bool ReadParameters();

    const SPanoGaussBlock& Gauss1() const { return m_gauss1; }
    const SPanoGaussBlock& Gauss2() const { return m_gauss2; }
    const SPanoLutBlock& LutBlock() const { return m_lut; }
    const Companion* Companion1() const { return m_companion1.get(); }
    const Companion* Companion2() const { return m_companion2.get(); }

    static const SPanoPlusVariant kVariant;

  protected:
    CusPanoPlus(SImage* image, const SPanoPlusVariant& variant);

  private:
    // The enhancement of one companion: multi-band Gaussian into a 12-bit image, stretch between
    // the percentiles, contrast curve from its smoothed histogram. Runs once per companion: once
    // made, the companion is kept even when a later step fails (it then has no curve table), and
    // later calls only refresh its window.
    bool Enhance(std::unique_ptr<Companion>& companion, const SPanoGaussBlock& block);
    // The steps after the companion is made; false at the first that fails.
    bool EnhanceInto(Companion& image, const SPanoGaussBlock& block) const;

    const SPanoPlusVariant* m_variant;
    std::unique_ptr<Companion> m_companion1;  // from Gauss1, mode 1
    std::unique_ptr<Companion> m_companion2;  // from Gauss2, mode 2
    SPanoGaussBlock m_gauss1;
    SPanoGaussBlock m_gauss2;
    SPanoLutBlock m_lut;
};

class CusPanoZX520E : public CusPanoPlus {
  public:
    explicit CusPanoZX520E(SImage* image) : CusPanoPlus(image, kVariant) {}
    CusPanoZX520E(const CusPanoZX520E& other) = default;
    static const SPanoPlusVariant kVariant;
};

class CusPanoZX730H : public CusPanoPlus {
  public:
    explicit CusPanoZX730H(SImage* image) : CusPanoPlus(image, kVariant) {}
    CusPanoZX730H(const CusPanoZX730H& other) = default;
    static const SPanoPlusVariant kVariant;
};

namespace quorin {
// The region a companion's histogram is taken over: the whole image up to 100 pixels wide, else
// the image less the four borders, each edge kept inside the image.
win::RECT PanoAnalysedRegion(std::uint32_t width, std::uint32_t height, const SPanoLutBlock& lut);
// The histogram the contrast curve is read from: a 12-bit histogram rebinned to 256 bins, empty
// bins filled, a running median of 5 bins applied twice, then a mean of 5 bins. Null on failure.
CImgStatistic::Histogram* PanoCurveHistogram(
    const CTHistogram<unsigned short, unsigned int, double>& histogram);
}  // namespace quorin
