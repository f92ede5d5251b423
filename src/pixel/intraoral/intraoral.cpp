#include "pixel/intraoral/intraoral.h"

#include <quorin/geometry.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "pixel/core/arrays.h"
#include "pixel/filters/filters8.h"
#include "pixel/filters/pyramid.h"
#include "pixel/image/greyops.h"
#include "pixel/intraoral/intraorallut.h"
#include "records/core/registryreaders.h"
#include "records/dib/dibbuffer.h"

namespace {

using quorin::CornerPairs;

std::uint64_t PixelCount(std::uint32_t width, std::uint32_t height) {
    return std::uint64_t(width) * height;
}

// Gain of the exposure judgement: (4095 - low) / (4095 - reference low), at most 1.0. A
// reference at or above 4095 leaves nothing to divide by: the gain is then 1.0.
double ExposureGain(std::uint64_t low, std::uint64_t refLow) {
    const double denominator = 4095.0 - double(refLow);
    if (!(denominator > 0.0)) return 1.0;
    return std::min((4095.0 - double(low)) / denominator, 1.0);
}

// Mean of each full (2r+1) x (2r+1) window, truncated; pixels without a full window copied.
void BoxSmooth16(const std::uint16_t* src, std::uint16_t* dst, std::uint32_t width,
                 std::uint32_t height, std::int64_t r) {
    const std::int64_t w = width, h = height;
    std::memcpy(dst, src, PixelCount(width, height) * sizeof(std::uint16_t));
    if (w < 2 * r + 1 || h < 2 * r + 1) return;
    const std::uint64_t area = std::uint64_t(2 * r + 1) * std::uint64_t(2 * r + 1);
    std::vector<std::uint64_t> columns(std::size_t(w), 0);
    for (std::int64_t y = r; y + r < h; ++y) {
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint64_t s = 0;
            for (std::int64_t k = -r; k <= r; ++k) s += src[(y + k) * w + x];
            columns[std::size_t(x)] = s;
        }
        for (std::int64_t x = r; x + r < w; ++x) {
            std::uint64_t s = 0;
            for (std::int64_t k = -r; k <= r; ++k) s += columns[std::size_t(x + k)];
            dst[y * w + x] = static_cast<std::uint16_t>(s / area);
        }
    }
}

}  // namespace

// ---- CTImgZEL -------------------------------------------------------------------------------

template <class P, class L, class C>
CTImgZEL<P, L, C>::CTImgZEL(std::uint32_t height, std::uint32_t width)
    : Base(height, width), m_refHigh(this->m_topLevel) {}

template <class P, class L, class C>
CTImgZEL<P, L, C>::CTImgZEL(SImage* image) : Base(image), m_refHigh(this->m_topLevel) {}

template <class P, class L, class C>
CTImgZEL<P, L, C>::CTImgZEL(const CTImgZEL& other)
    : Base(other), m_refLow(other.m_refLow), m_refHigh(other.m_refHigh) {
    for (int i = 0; i < 2; ++i)
        if (other.m_luts[i]) m_luts[i].reset(new (std::nothrow) Lut(*other.m_luts[i]));
}

template <class P, class L, class C>
CTImgZEL<P, L, C>::~CTImgZEL() = default;

template <class P, class L, class C>
typename CTImgZEL<P, L, C>::Lut* CTImgZEL<P, L, C>::GetProcessingLUT(int mode) const {
    return quorin::IsZelTableMode(mode) ? m_luts[mode - quorin::kZelModeGentle].get() : nullptr;
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::BuildProcessingLUT(int mode, std::int64_t, std::int64_t) {
    if (!quorin::IsZelTableMode(mode)) return false;
    auto& lut = m_luts[mode - quorin::kZelModeGentle];
    lut.reset();
    const std::uint64_t n = this->m_levelCount;
    if (n < 2 || n > (std::uint64_t{1} << 16)) return false;
    lut.reset(new (std::nothrow) Lut(static_cast<unsigned>(n), 256));
    if (!lut || lut->Size() != n) {
        lut.reset();
        return false;
    }
    std::fill(lut->Data(), lut->Data() + n, L(0));
    return true;
}

template <class P, class L, class C>
void CTImgZEL<P, L, C>::BuildProcessingLUTs(std::int64_t low, std::int64_t high) {
    BuildProcessingLUT(quorin::kZelModeGentle, low, high);
    BuildProcessingLUT(quorin::kZelModeSteep, low, high);
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::RobustWindow(const win::RECT& region, const CornerPairs& pairs,
                                     unsigned int threshold) {
    std::unique_ptr<CTHistogram<P>> histogram;
    if (this->HasPixels())
        histogram = quorin::CornerFreeHistogram(*this->m_pixels, region, pairs, int(this->m_bits));
    P low = 0, high = 0;
    if (!histogram || !histogram->Bounds(threshold, threshold, &low, &high)) {
        this->SetWindow(this->m_topLevel, 0);
        return false;
    }
    this->SetWindow(low, high);
    return true;
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::SensorRobustWindow(const CornerPairs& pairs) {
    return RobustWindow(quorin::InsetRegion(this->m_width, this->m_height, 30), pairs, 40);
}

template <class P, class L, class C>
void CTImgZEL<P, L, C>::ResetReferencesAt(std::uint64_t low, std::uint64_t high) {
    if (m_refLow == low && m_refHigh == high) {
        m_refLow = 0;
        m_refHigh = static_cast<P>(sizeof(P) == 1 ? 255 : 4095);
    }
}

template <class P, class L, class C>
void CTImgZEL<P, L, C>::SimpleExposureState(int* state, float* gain, float* second) {
    const P wl = this->m_windowLow, wh = this->m_windowHigh;
    ResetReferencesAt(wl, wh);
    const double g = ExposureGain(wl, m_refLow);
    if (this->m_exposureState == 0) {
        bool good;
        if (m_refLow == 0)
            good = wl >= 256 && this->m_range >= 512;
        else
            good = std::uint64_t(wl) >= std::uint64_t(m_refLow) + 45 && this->m_range >= 512 &&
                   wh <= m_refHigh;
        this->m_exposureState = good ? 1 : 2;
    }
    if (state != nullptr) *state = int(this->m_exposureState);
    if (gain != nullptr) *gain = float(g);
    if (second != nullptr) *second = 0.0f;
}

template <class P, class L, class C>
void CTImgZEL<P, L, C>::HistogramExposureState(int* state, float* gain, float* second,
                                               const CornerPairs& pairs) {
    const win::RECT region{0, 3, static_cast<win::LONG>(this->m_width),
                           static_cast<win::LONG>(std::int64_t(this->m_height) - 3)};
    std::unique_ptr<CTHistogram<P>> histogram;
    if (this->HasPixels())
        histogram = quorin::CornerFreeHistogram(*this->m_pixels, region, pairs, int(this->m_bits));
    quorin::HistogramExposure judged;
    double g = 0.0;
    if (histogram &&
        quorin::JudgeHistogram(histogram->BinData(), histogram->BinCount(), m_refLow, m_refHigh,
                               PixelCount(this->m_width, this->m_height), &judged)) {
        this->SetWindow(static_cast<P>(judged.low), static_cast<P>(judged.high));
        ResetReferencesAt(judged.low, judged.high);
        g = ExposureGain(judged.low, m_refLow);
        g = g <= 0.5 ? g * 0.5 : (g - 0.5) * 1.5 + 0.25;
        if (this->m_exposureState == 0) {
            bool good;
            if (m_refLow == 0)
                good = this->m_windowLow >= 256 && this->m_range >= 512;
            else
                good =
                    judged.acceptableShape && !judged.saturated && this->m_windowHigh <= m_refHigh;
            this->m_exposureState = good ? 1 : 2;
        }
    }
    if (state != nullptr) *state = int(this->m_exposureState);
    if (gain != nullptr) *gain = float(g);
    if (second != nullptr) *second = 0.0f;
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::FillKneeLUT(int mode, double exponent, std::int32_t inset,
                                    unsigned int threshold, bool useLowFound,
                                    const CornerPairs& pairs, std::uint64_t* found) {
    Lut* lut = GetProcessingLUT(mode);
    if (lut == nullptr || !this->HasPixels()) return false;
    const auto histogram = quorin::CornerFreeHistogram(
        *this->m_pixels, quorin::InsetRegion(this->m_width, this->m_height, inset), pairs,
        int(this->m_bits));
    quorin::PeakValley window;
    if (!histogram || !quorin::FindPeakValley(histogram->BinData(), histogram->BinCount(),
                                              threshold, threshold, true, useLowFound, &window))
        return false;
    if (found != nullptr) *found = window.high;
    quorin::KneeCurve(lut->Data(), lut->Size(), window.low, window.high, exponent);
    return true;
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::MapInto(CTImgZEL& target, int mode) {
    if (!this->HasPixels() || !target.HasPixels() || target.m_height != this->m_height ||
        target.m_width != this->m_width)
        return false;
    target.ComputeMinMax();
    const P* in = this->m_pixels->Data();
    P* out = target.m_pixels->Data();
    const std::uint64_t count = PixelCount(this->m_width, this->m_height);
    if (quorin::IsZelTableMode(mode)) {
        if (!BuildProcessingLUT(mode, target.m_windowLow, target.m_windowHigh)) return false;
        const Lut* lut = GetProcessingLUT(mode);
        if (lut == nullptr) return false;
        for (std::uint64_t k = 0; k < count; ++k) out[k] = static_cast<P>(lut->Map(in[k]));
    } else {
        const bool identity = mode == quorin::kZelModeIdentity;
        const quorin::WindowRamp ramp(
            this->m_levelCount, static_cast<std::uint32_t>(target.m_levelCount),
            identity ? 0 : this->m_windowLow, identity ? 0 : this->m_windowHigh);
        if (!ramp.Valid()) return false;
        for (std::uint64_t k = 0; k < count; ++k) out[k] = static_cast<P>(ramp(in[k]));
    }
    target.PixelsChanged();
    return true;
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::PyramidInto(CTImgZEL& target) {
    if constexpr (sizeof(P) != 2) {
        return false;
    } else {
        if (!this->HasPixels() || !target.HasPixels() || target.m_height != this->m_height ||
            target.m_width != this->m_width || this->m_bits != 12)
            return false;
        C2DArr<unsigned short> source, result;
        if (!source.Create(this->m_width, this->m_height, sizeof(P), this->m_pixels->Data()) ||
            !result.Create(this->m_width, this->m_height, sizeof(P), target.m_pixels->Data()))
            return false;
        if (!PyramidFixedGainEnhance(result, source)) return false;
        target.PixelsChanged();
        target.ComputeMinMax();
        return true;
    }
}

template <class P, class L, class C>
bool CTImgZEL<P, L, C>::ReliefInPlace(bool capAt255) {
    if (!this->HasPixels()) return false;
    const P before = this->m_windowHigh;
    if constexpr (sizeof(P) == 1) {
        if (!Filter8(Relief8)) return false;
    } else {
        Base relief(this->m_height, this->m_width);
        if (!relief.HasPixels() || !Base::Relief(relief)) return false;
        std::memcpy(this->m_pixels->Data(), relief.Pixels()->Data(),
                    PixelCount(this->m_width, this->m_height) * sizeof(P));
        this->PixelsChanged();
    }
    Base::ComputeMinMax();
    this->SetWindow(0, capAt255 && before <= 255 ? P(255) : this->m_topLevel);
    return true;
}

template <class P, class L, class C>
template <class Filter>
bool CTImgZEL<P, L, C>::Filter8(Filter filter) {
    if constexpr (sizeof(P) != 1) {
        return false;
    } else {
        if (!this->HasPixels()) return false;
        const std::uint64_t count = PixelCount(this->m_width, this->m_height);
        auto* copy = static_cast<std::uint8_t*>(quorin::AllocLockedBlock(count));
        if (copy == nullptr) return false;
        std::memcpy(copy, this->m_pixels->Data(), count);
        const bool done = filter(copy, this->m_pixels->Data(), this->m_width, this->m_height);
        quorin::FreeLockedBlock(copy);
        this->PixelsChanged();
        return done;
    }
}

template class CTImgZEL<unsigned char, unsigned char, unsigned int>;
template class CTImgZEL<unsigned short, unsigned char, unsigned int>;
template class CTImgZEL<unsigned short, unsigned short, unsigned int>;

// ---- logos ------------------------------------------------------------------------------------

namespace quorin {

template <class Image>
bool StampSensorLogo(Image& image, int bitmapId) {
    win::HBITMAP bitmap = bitmapId != 0 ? LoadLogoBitmap(bitmapId) : nullptr;
    return bitmap != nullptr && image.StampBitmap(bitmap, false);
}

}  // namespace quorin

// ---- 16-bit sensors ---------------------------------------------------------------------------

CusZELus::CusZELus(SImage* image, unsigned short refLow, unsigned short refHigh)
    : CTImgGrey(image) {
    SetReferences(refLow, refHigh);
}

CusZELus::CusZELus(const CusZELus& other, unsigned short refLow, unsigned short refHigh)
    : CTImgGrey(other), m_sensorType(other.m_sensorType) {
    SetReferences(refLow, refHigh);
}

void CusZELus::GetExposureState(int* state, float* gain, float* second) {
    if (quorin::FindZelSensor(m_sensorType).histogramExposure) {
        CornerPairs pairs;
        quorin::GetCornerPairs(GetCornersInfo(), pairs);
        HistogramExposureState(state, gain, second, pairs);
    } else {
        SimpleExposureState(state, gain, second);
    }
}

bool CusZELus::Relief() {
    return ReliefInPlace(true);
}

bool CusZELus::ProcessInto(CTImgZELus&) {
    return false;
}

bool CusZELus::ProcessInto(CTImgZELus& target, int mode) {
    return MapInto(target, mode);
}

// ---- images with the robust window ------------------------------------------------------------

template <class Image>
void CTImgZELRobust<Image>::ComputeMinMax() {
    CornerPairs pairs;
    quorin::GetCornerPairs(this->GetCornersInfo(), pairs);
    this->SensorRobustWindow(pairs);
}

template <class Image>
bool CTImgZELRobust<Image>::SetCorners(const CInfosCorners* corners) {
    if (!CImg::SetCorners(corners)) return false;
    Initialise();
    return true;
}

template <class Image>
void CTImgZELRobust<Image>::Initialise() {
    ComputeMinMax();
    this->BuildProcessingLUTs(this->m_windowLow, this->m_windowHigh);
}

template <class Image>
bool CTImgZELRobust<Image>::LayCurve(quorin::ZelCurve curve, int mode, std::int64_t low,
                                     std::int64_t high) {
    const auto top = std::int64_t(this->m_topLevel);
    const auto levels = std::int64_t(this->m_levelCount);
    switch (curve) {
        case quorin::ZelCurve::kKnee:
            return 0 <= low && low <= high && high <= top && BuildKneeLUT(mode, 6, 40, false);
        case quorin::ZelCurve::kSigmoid:
            return 0 <= low && low <= high && high <= top && BuildSigmoidLUT(mode);
        case quorin::ZelCurve::kPower:
            return 0 <= low && low <= levels && high <= levels && low < high &&
                   BuildPowerLUT(mode, low);
    }
    return false;
}

template <class Image>
bool CTImgZELRobust<Image>::BuildKneeLUT(int mode, std::int32_t inset, unsigned int threshold,
                                         bool useLowFound) {
    CornerPairs pairs;
    quorin::GetCornerPairs(this->GetCornersInfo(), pairs);
    std::uint64_t found = 0;
    if (!this->FillKneeLUT(mode, quorin::ZelCurvesOf(mode).exponent, inset, threshold, useLowFound,
                           pairs, &found))
        return false;
    this->SetExtraValue(static_cast<std::uint32_t>(found));
    return true;
}

template <class Image>
bool CTImgZELRobust<Image>::BuildSigmoidLUT(int mode) {
    auto* lut = this->GetProcessingLUT(mode);
    if (lut == nullptr || !this->HasPixels()) return false;
    CornerPairs pairs;
    quorin::GetCornerPairs(this->GetCornersInfo(), pairs);
    const auto histogram = quorin::CornerFreeHistogram(
        *this->m_pixels, quorin::InsetRegion(this->m_width, this->m_height, 6), pairs,
        int(this->m_bits));
    quorin::PeakValley found;
    if (!histogram || !quorin::FindPeakValley(histogram->BinData(), histogram->BinCount(), 40, 40,
                                              true, false, &found))
        return false;
    const double a = double(found.low);
    const double b = found.high > found.low ? double(found.high) : a + 1.0;
    double c = double(found.low) + (4095.0 - double(found.low)) / 2.0;
    if (found.peak > found.low && double(found.peak) < b)
        c = (double(found.peak) - a) / (b - a) * 4095.0;
    if (!(c > 0.0)) c = 2047.5;
    quorin::SigmoidCurve(lut->Data(), lut->Size(), found.low, a, b, c,
                         quorin::ZelCurvesOf(mode).sigmoidPower);
    return true;
}

template <class Image>
bool CTImgZELRobust<Image>::BuildPowerLUT(int mode, std::int64_t low) {
    std::int32_t maxHisto = 4095, ratio = 100;
    GetRegistryDword("QUORIN\\ZEL", "MaxHisto", &maxHisto, 4095, 0, 4095);
    GetRegistryDword("QUORIN\\ZEL", "RapportAmalgame", &ratio, 100, 50, 100);
    auto* lut = this->GetProcessingLUT(mode);
    return lut != nullptr && quorin::PowerCurve(lut->Data(), lut->Size(), low, maxHisto, ratio,
                                                quorin::ZelCurvesOf(mode).exponent);
}

template class CTImgZELRobust<CusZELus>;
template class CTImgZELRobust<CusZEL>;

CusZEL7::CusZEL7(SImage* image, unsigned short refLow, unsigned short refHigh,
                 std::uint32_t sensorType, std::uint8_t flag)
    : CTImgZELRobust(image, refLow, refHigh), m_flag(flag) {
    m_sensorType = sensorType;
    Initialise();
}

CusZEL7::CusZEL7(const CusZELus& other, unsigned short refLow, unsigned short refHigh,
                 std::uint32_t sensorType, std::uint8_t flag)
    : CTImgZELRobust(other, refLow, refHigh), m_flag(flag) {
    m_sensorType = sensorType;
    Initialise();
}

bool CusZEL7::BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) {
    return CTImgZELus::BuildProcessingLUT(mode, low, high) &&
           LayCurve(quorin::ZelCurveFor(quorin::ZelImage::kCusZEL7, m_sensorType, m_flag != 0),
                    mode, low, high);
}

bool CusZEL7::ProcessInto(CTImgZELus& target) {
    return PyramidInto(target);
}

bool CusZEL7::AddLogo() {
    return quorin::StampSensorLogo(*this, quorin::SensorLogoId(m_sensorType, false));
}

CusZEL::CusZEL(SImage* image) : CTImgGrey(image) {}

CusZEL::CusZEL(const CusZEL& other) : CTImgGrey(other), m_sensorType(other.m_sensorType) {}

void CusZEL::GetExposureState(int* state, float* gain, float* second) {
    SimpleExposureState(state, gain, second);
}

bool CusZEL::FillCorners(std::uint32_t) {
    return true;
}

bool CusZEL::Relief() {
    return ReliefInPlace(false);
}

CusZEL6::CusZEL6(SImage* image) : CTImgZELRobust(image) {
    Initialise();
}

CusZEL6::CusZEL6(const CusZEL6& other) : CTImgZELRobust(other) {
    Initialise();
}

bool CusZEL6::BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) {
    return CTImgZELusc::BuildProcessingLUT(mode, low, high) &&
           LayCurve(quorin::ZelCurveFor(quorin::ZelImage::kCusZEL6, m_sensorType, false), mode, low,
                    high);
}

bool CusZEL6::AddLogo() {
    return quorin::StampSensorLogo(*this, quorin::SensorLogoId(m_sensorType, true));
}

bool CusZEL6::ProcessInto(CTImgNB<unsigned char, unsigned char, unsigned int>& target, int mode) {
    if (!HasPixels() || !target.HasPixels() || target.Height() != m_height ||
        target.Width() != m_width)
        return false;
    ComputeMinMax();
    CTImgNB<unsigned short, unsigned char, unsigned int> copy(*this);
    if (!copy.HasPixels()) return false;
    if (std::int64_t(m_windowHigh) - std::int64_t(m_windowLow) < std::int64_t(m_levelCount / 4))
        BoxSmooth16(m_pixels->Data(), copy.Pixels()->Data(), m_width, m_height, 2);
    if (quorin::IsZelTableMode(mode)) {
        const Lut* lut = GetProcessingLUT(mode);
        return lut != nullptr && copy.ApplyLut(target, *lut);
    }
    return copy.ApplyWindow(target, mode == quorin::kZelModeIdentity);
}

// ---- 8-bit sensors ----------------------------------------------------------------------------

CucZEL::CucZEL(SImage* image, std::int32_t, std::int32_t) : CTImgGrey(image) {}

CucZEL::CucZEL(std::uint32_t height, std::uint32_t width, std::int32_t, std::int32_t)
    : CTImgGrey(height, width) {}

void CucZEL::ComputeMinMax() {
    SetWindow(0, 255);
}

bool CucZEL::FillCorners(std::uint32_t) {
    return false;
}

bool CucZEL::Relief() {
    return ReliefInPlace(false);
}

bool CucZEL::ApplySensorFilter() {
    return Filter8([](const std::uint8_t* s, std::uint8_t* t, std::uint32_t w, std::uint32_t h) {
        return ::MultiFilter(s, t, w, h);
    });
}

bool CucZEL3::ApplySensorFilter() {
    return Filter8(NeighbourhoodSharpen);
}

CucZEL5::CucZEL5(SImage* image, std::int32_t low, std::int32_t high) : CucZEL(image, low, high) {
    BuildProcessingLUTs(low, high);
}

CucZEL5::CucZEL5(std::uint32_t height, std::uint32_t width, std::int32_t low, std::int32_t high)
    : CucZEL(height, width, low, high) {
    BuildProcessingLUTs(low, high);
}

bool CucZEL5::BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) {
    if (!CTImgZELuc::BuildProcessingLUT(mode, low, high)) return false;
    Lut* lut = GetProcessingLUT(mode);
    return quorin::ControlPointCurve(lut->Data(), lut->Size(), mode, low, high);
}

bool CucZEL5_HR::ApplySensorFilter() {
    return Filter8(MultiLevelDetail);
}

CucZEL6::CucZEL6(std::uint32_t height, std::uint32_t width, std::int32_t low, std::int32_t high)
    : CucZEL(height, width, low, high) {}

void CucZEL6::GetExposureState(int* state, float* gain, float* second) {
    SimpleExposureState(state, gain, second);
}

bool CucZEL6::FillCorners(std::uint32_t value) {
    return CTImgGrey::FillCorners(value);
}

bool CucZEL6::ApplySensorFilter() {
    return Filter8([](const std::uint8_t* s, std::uint8_t* t, std::uint32_t w, std::uint32_t h) {
        const std::uint64_t count = std::uint64_t(w) * h;
        auto* detail =
            static_cast<std::int16_t*>(quorin::AllocLockedBlock(count * sizeof(std::int16_t)));
        if (detail == nullptr) return false;
        const bool done = DetailEnhance8(w, h, s, detail, 8);
        if (done)
            for (std::uint64_t k = 0; k < count; ++k)
                t[k] = static_cast<std::uint8_t>(std::clamp(s[k] + detail[k], 0, 255));
        quorin::FreeLockedBlock(detail);
        return done;
    });
}
