#include "pixel/pano/panoplus.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "pixel/core/statistics.h"
#include "pixel/filters/multiband.h"
#include "records/core/registryreaders.h"

const SPanoPlusVariant CusPanoPlus::kVariant = {
    "QUORIN\\PANO\\Gauss1", "QUORIN\\PANO\\Gauss2", "QUORIN\\PANO\\LUT", 3, 80, 19};
const SPanoPlusVariant CusPanoZX520E::kVariant = {"QUORIN\\PANO\\GaussTarnbox1",
                                                  "QUORIN\\PANO\\GaussTarnbox2",
                                                  "QUORIN\\PANO\\LUTTarnbox",
                                                  4,
                                                  60,
                                                  21};
const SPanoPlusVariant CusPanoZX730H::kVariant = {
    "QUORIN\\PANO\\GaussH1", "QUORIN\\PANO\\GaussH2", "QUORIN\\PANO\\LUTZX730H", 3, 80, 23};

namespace {

using quorin::kNoRegistryBound;

constexpr std::int32_t kGainDefaults[8] = {10, 50, 59, 49, 39, 29, 19, 9};
constexpr std::int32_t kClipDefaults[8] = {576, 576, 672, 768, 864, 960, 1056, 1152};
constexpr std::uint32_t kCompanionBits = 12;
constexpr std::uint32_t kCurveLevels = 256;

std::int32_t ReadDword(const char* key, const char* name, std::int32_t defaultValue,
                       std::int32_t minimum = kNoRegistryBound,
                       std::int32_t maximum = kNoRegistryBound) {
    std::int32_t value = defaultValue;
    GetRegistryDword(key, name, &value, defaultValue, minimum, maximum);
    return value;
}

// A Gauss block. The two blocks differ in the bounds of "Enable", the spelling of the two size
// names and some defaults.
void ReadGaussBlock(const char* key, bool first, std::int32_t level, const std::int32_t (&gains)[8],
                    SPanoGaussBlock& block) {
    block.Enable = (first ? ReadDword(key, "Enable", 1, 0, 1) : ReadDword(key, "Enable", 1)) == 1;
    block.Level = ReadDword(key, "Level", level);
    block.Frequency = ReadDword(key, "Frequency", 2);
    block.Gauss1Size = ReadDword(key, first ? "Gauss1Size" : "Gans1Size", 1);
    block.Gauss2Size = ReadDword(key, first ? "Gauss2Size" : "Gans2Size", 3);
    block.Sigma1_100 = ReadDword(key, "Sigma1_100", 100);
    block.Sigma2_100 = ReadDword(key, "Sigma2_100", 200);
    block.HistoBorder = ReadDword(key, "HistoBorder", 16);
    char name[50];
    for (int d = 0; d < 8; ++d) {
        std::snprintf(name, sizeof name, "k%d_100", d);
        block.k[d] = ReadDword(key, name, gains[d]);
    }
    for (int d = 0; d < 8; ++d) {
        std::snprintf(name, sizeof name, "Clip%d_128", d);
        block.Clip[d] = ReadDword(key, name, kClipDefaults[d]);
    }
}

using Histogram8 = CImgStatistic::Histogram;
using StatVector = CImgStatistic::Vector;
using StatMatrix = CImgStatistic::Matrix;

// The characteristic-point parameters of the contrast curve from the smoothed histogram, cut
// into its modes; null when a step yields nothing.
StatVector* CurveParameters(Histogram8& smoothed) {
    StatVector kernel(5);
    if (kernel.IsEmpty()) return nullptr;
    std::fill(kernel.Data(), kernel.Data() + 5, 0.2);
    std::unique_ptr<StatVector> slopes;
    std::unique_ptr<StatMatrix> signs, extremes;
    for (int round = 0; round < 2; ++round) {
        if (round == 1 && !smoothed.ConvolveInPlace(&kernel)) return nullptr;
        slopes.reset(CImgStatistic::CalculateFirstDerivation(smoothed.GetBins(), 1));
        signs.reset(CImgStatistic::CalculateSignVariation(slopes.get()));
        extremes.reset(CImgStatistic::CalculateCurvature(signs.get()));
        if (!slopes || !signs || !extremes) return nullptr;
        // Too many extremes: smooth once more.
        if (extremes->Rows() <= smoothed.BinCount() / 5) break;
    }
    const std::unique_ptr<StatMatrix> statistics(
        CImgStatistic::CalculateStatistic(&smoothed, extremes.get(), false, nullptr));
    const std::unique_ptr<StatMatrix> selected(
        CImgStatistic::CalculateShape(statistics.get(), 0.04, 0.07, 0.15));
    const std::unique_ptr<StatMatrix> points(
        CImgStatistic::CalculateCharacteristicPointForLUT(&smoothed, selected.get(), 0.05));
    if (!statistics || !selected || !points) return nullptr;
    return CTLut<unsigned char>::BuildFromCharacteristicPoints(points.get(), smoothed.BinCount());
}

}  // namespace

namespace quorin {

// The analysed region: the image less the borders when it is wider than 100 pixels. Edges are
// worked out in 64 bits and kept inside the image, whatever the settings hold.
win::RECT PanoAnalysedRegion(std::uint32_t width, std::uint32_t height, const SPanoLutBlock& lut) {
    if (width <= 100) return {0, 0, win::LONG(width), win::LONG(height)};
    const auto within = [](std::int64_t v, std::uint32_t side) {
        return win::LONG(std::clamp<std::int64_t>(v, 0, side));
    };
    return {within(lut.BorderLeft, width), within(lut.BorderTop, height),
            within(std::int64_t(width) - lut.BorderRight, width),
            within(std::int64_t(height) - lut.BorderBottom, height)};
}

CImgStatistic::Histogram* PanoCurveHistogram(
    const CTHistogram<unsigned short, unsigned int, double>& histogram) {
    const std::unique_ptr<CTHistogram<unsigned short, unsigned int, double>> rebinned(
        histogram.RebinTo8Bits());
    if (!rebinned || rebinned->BinData() == nullptr) return nullptr;
    // The statistics read histograms of 8-bit levels: the 256 bins move over as they are.
    Histogram8 levels(nullptr, 8);
    if (levels.BinData() == nullptr || levels.BinCount() != rebinned->BinCount()) return nullptr;
    std::copy(rebinned->BinData(), rebinned->BinData() + levels.BinCount(), levels.BinData());
    levels.FillEmptyBins();
    std::unique_ptr<Histogram8> smoothed(levels.Smooth(5));
    StatVector kernel(5);
    if (!smoothed || kernel.IsEmpty() || !smoothed->SmoothInPlace(5)) return nullptr;
    std::fill(kernel.Data(), kernel.Data() + 5, 0.2);
    if (!smoothed->ConvolveInPlace(&kernel)) return nullptr;
    return smoothed.release();
}

}  // namespace quorin

CusPanoPlus::CusPanoPlus(SImage* image, const SPanoPlusVariant& variant)
    : CusPano(image, 17), m_variant(&variant) {
    SetDeviceCode(variant.deviceCode);
}

CusPanoPlus::CusPanoPlus(const CusPanoPlus& other) : CusPano(other), m_variant(other.m_variant) {
    SetDeviceCode(other.GetDeviceCode());
}

CusPanoPlus::~CusPanoPlus() = default;

bool CusPanoPlus::AddLogo() {
    const bool left = Stamp(8006, false, -150, 48);
    const bool right = Stamp(8005, false, 150, 48);
    return left && right;
}

bool CusPanoPlus::ReadParameters() {
    ReadGaussBlock(m_variant->gauss1Key, true, 5, kGainDefaults, m_gauss1);
    std::int32_t gains2[8];
    std::copy(std::begin(kGainDefaults), std::end(kGainDefaults), gains2);
    gains2[0] = 0;
    gains2[1] = m_variant->gauss2Gain1;
    ReadGaussBlock(m_variant->gauss2Key, false, m_variant->gauss2Level, gains2, m_gauss2);

    const char* key = m_variant->lutKey;
    m_lut.BorderLeft = ReadDword(key, "BorderLeft", 50);
    m_lut.BorderTop = ReadDword(key, "BorderTop", 50);
    m_lut.BorderRight = ReadDword(key, "BorderRight", 50);
    m_lut.BorderBottom = ReadDword(key, "BorderBottom", 50);
    m_lut.GaussLowPercent = ReadDword(key, "GaussLowPercent", 1);
    m_lut.GaussHighPercent = ReadDword(key, "GaussHighPercent", 99);
    m_lut.AdjustWithBorder = ReadDword(key, "AdjustWithBorder", 0, 0, 1) == 1;
    m_lut.RemoveBlackZone = ReadDword(key, "RemoveBlackZone", 0, 0, 1) == 1;
    return true;
}

bool CusPanoPlus::Enhance(std::unique_ptr<Companion>& companion, const SPanoGaussBlock& block) {
    if (companion) {
        companion->ComputeMinMax();
        return true;
    }
    if (!HasPixels()) return false;
    companion.reset(new (std::nothrow) Companion(Height(), Width(), kCompanionBits));
    if (!companion || !companion->HasPixels()) {
        companion.reset();
        return false;
    }
    // From here on the companion stays, whatever the outcome: a failed one has no curve table
    // (and never a window table), so rendering it answers false.
    const bool built = EnhanceInto(*companion, block);
    companion->ComputeMinMax();
    return built;
}

bool CusPanoPlus::EnhanceInto(Companion& image, const SPanoGaussBlock& block) const {
    const win::RECT region = quorin::PanoAnalysedRegion(Width(), Height(), m_lut);
    // Multi-band enhancement into 0..4095; every block value goes in as its low 16 bits.
    std::unique_ptr<std::uint32_t[]> work(new (std::nothrow) std::uint32_t[4096]());
    if (!work) return false;
    std::uint16_t gains[8], clips[8];
    for (int d = 0; d < 8; ++d) {
        gains[d] = std::uint16_t(block.k[d]);
        clips[d] = std::uint16_t(block.Clip[d]);
    }
    if (!MultiBandEnhance16(Pixels()->Data(), int(Width()), int(Height()), image.Pixels()->Data(),
                            work.get(), std::uint16_t(block.Level), std::uint16_t(block.Frequency),
                            std::uint16_t(block.Gauss1Size), std::uint16_t(block.Gauss2Size),
                            std::uint16_t(block.Sigma1_100), std::uint16_t(block.Sigma2_100),
                            std::uint16_t(block.HistoBorder), gains, clips))
        return false;

    // Percentages outside 0..100 or in the wrong order are refused by the stretch.
    const double f1 = m_lut.GaussLowPercent / 100.0;
    const double f2 = m_lut.GaussHighPercent / 100.0;
    if (!image.StretchBetweenFractions(f1, f2, m_lut.AdjustWithBorder ? &region : nullptr))
        return false;

    CTHistogram<unsigned short, unsigned int, double> histogram(&region, int(kCompanionBits));
    if (!histogram.Calculate(image.Pixels())) return false;
    const std::unique_ptr<Histogram8> smoothed(quorin::PanoCurveHistogram(histogram));
    if (!smoothed) return false;
    const std::unique_ptr<StatVector> parameters(CurveParameters(*smoothed));
    return parameters && image.BuildCurveLut(parameters.get(), kCurveLevels);
}

bool CusPanoPlus::RenderWithLut(DisplayImage& target, std::int32_t mode) {
    Companion* image = this;
    if (mode == kPanoGammaLut && m_companion2)
        image = m_companion2.get();
    else if (mode == kPanoCurveLut && m_companion1)
        image = m_companion1.get();
    return image->Companion::RenderWithLut(target,
                                           image->CurveLut() ? kPanoCurveLut : kPanoWindowLut);
}

bool CusPanoPlus::BuildCurveLut(const CTVector<double>* parameters, std::uint32_t levels) {
    ReadParameters();
    const bool enhanced = !m_gauss1.Enable || Enhance(m_companion1, m_gauss1);
    const bool own = CusPano::BuildCurveLut(parameters, levels);
    return enhanced && own;
}

bool CusPanoPlus::BuildGammaLut(const CTVector<double>* /*parameters*/, std::uint32_t /*levels*/,
                                double /*factor*/) {
    ReadParameters();
    return !m_gauss2.Enable || Enhance(m_companion2, m_gauss2);
}
