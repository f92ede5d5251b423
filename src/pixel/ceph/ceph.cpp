#include "pixel/ceph/ceph.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "pixel/filters/filters16.h"
#include "pixel/image/greyops.h"
#include "records/core/registryreaders.h"
#include "records/core/rounding.h"

CInfosLUTGray* CImgCeph::CreateLUTInfo() {
    return new (std::nothrow) CInfosLUTGray(std::uint8_t{239}, std::uint16_t{256});
}

namespace quorin {

template <class B>
void HistogramCutLevels(const B* bins, std::uint64_t n, double lowFraction, double highFraction,
                        std::uint64_t* low, std::uint64_t* high) {
    std::uint64_t lo = 0, hi = n == 0 ? 0 : n - 1;
    double total = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) total += double(bins[i]);
    if (n != 0 && total > 0.0) {
        double running = 0.0;
        const double lowCount = lowFraction * total, highCount = highFraction * total;
        while (lo < n - 1 && !((running += double(bins[lo])) > lowCount)) ++lo;
        running = 0.0;
        while (hi > 0 && !((running += double(bins[hi])) > highCount)) --hi;
    }
    if (low != nullptr) *low = lo;
    if (high != nullptr) *high = hi;
}

template void HistogramCutLevels(const unsigned int*, std::uint64_t, double, double, std::uint64_t*,
                                 std::uint64_t*);

}  // namespace quorin

template <class P, class L, class C>
CTImgCeph<P, L, C>::~CTImgCeph() = default;

template <class P, class L, class C>
void CTImgCeph<P, L, C>::ComputeMinMax() {
    Base::ComputeMinMax();
    if (!this->HasPixels() || this->m_bits > unsigned(quorin::kMaxHistogramBits)) return;
    CTHistogram<P> histogram(nullptr, int(this->m_bits));
    if (!histogram.Calculate(this->m_pixels.get())) return;
    const unsigned int* bins = histogram.BinData();
    const double N = double(this->m_height) * double(this->m_width);
    std::uint64_t low = this->m_windowLow, high = this->m_windowHigh;
    if (N * 0.01 > 0) {
        double running = 0;
        std::uint64_t level = low;
        while (level < high && (running += bins[level]) < N * 0.01) ++level;
        // A level after the last would leave the window empty (or wrap at the top level).
        low = std::min(level + 1, high);
    }
    if (N * 0.0005 > 0) {
        double running = 0;
        std::uint64_t level = high;
        while (level > low && (running += bins[level]) < N * 0.0005) --level;
        high = level > low ? level - 1 : low;
    }
    this->SetWindow(static_cast<P>(low), static_cast<P>(high));
}

template <class P, class L, class C>
void CTImgCeph<P, L, C>::GetExposureState(int* mode, float* rangeRatio, float* lowRatio) {
    const double top = double(this->m_levelCount - 1);
    const double range = double(this->m_range) / top;
    double lowShare = 0.0;
    if (this->m_exposureState == 0) {
        if (this->m_windowLow < 500) {
            this->m_exposureState = range >= 0.25 ? 1 : 2;
        } else {
            this->m_exposureState = 2;
            lowShare = double(this->m_windowLow) / top;
        }
    }
    if (mode != nullptr) *mode = int(this->m_exposureState);
    if (rangeRatio != nullptr) *rangeRatio = float(range);
    if (lowRatio != nullptr) *lowRatio = float(lowShare);
}

template class CTImgCeph<unsigned short, unsigned short, unsigned int>;
template class CTImgCeph<unsigned int, unsigned int, unsigned int>;

CusCeph::~CusCeph() = default;

bool CusCeph::AddLogo() {
    return StampBitmap(quorin::LoadLogoBitmap(8003), false);
}

bool CunCeph::AddLogo() {
    return StampBitmap(quorin::LoadLogoBitmap(8003), false);
}

// The mask is looked up without a module handle, where no such resource lives.
win::HBITMAP LoadDeviceMaskBitmap() {
    return nullptr;
}

void CusCeph::GetExposureState(int* mode, float* rangeRatio, float* lowRatio) {
    if (mode != nullptr) *mode = 0;
    if (rangeRatio != nullptr) *rangeRatio = 0.0f;
    if (lowRatio != nullptr) *lowRatio = 0.0f;
}

bool CusCeph::CopyInto(CusCeph* other) const {
    if (other == nullptr || other == this) return true;
    return SameSize(*other) && CopyPixelsTo(*other);
}

bool CusCeph::ApplyProcessingLut(CusCeph* destination, bool apply, int recompute) {
    if (!apply) return CopyInto(destination);
    CusCeph* target = destination != nullptr ? destination : this;
    if (!m_processingLut || m_processingLut->IsEmpty() || !HasPixels() || !SameSize(*target) ||
        !target->HasPixels())
        return false;
    const unsigned short* src = m_pixels->Data();
    unsigned short* dst = target->Pixels()->Data();
    const std::uint64_t count = std::uint64_t(Height()) * Width();
    for (std::uint64_t k = 0; k < count; ++k) dst[k] = m_processingLut->Map(src[k]);
    target->PixelsChanged();
    if (recompute == 1) target->ComputeMinMax();
    return true;
}

bool CusCeph::Enhance(CusCeph* destination, int mode, int /*option*/) {
    if (mode == 0) return CopyInto(destination);
    CusCeph* target = destination != nullptr ? destination : this;
    if (!HasPixels() || !SameSize(*target) || !target->HasPixels()) return false;
    CTMatrix<unsigned short> enhanced(Height(), Width());
    if (enhanced.IsEmpty() || !CombinedEnhance16(m_pixels->Data(), enhanced.Data(), int(Width()),
                                                 int(Height()), int(TopLevel())))
        return false;
    std::memcpy(target->Pixels()->Data(), enhanced.Data(),
                std::size_t(Height()) * Width() * sizeof(unsigned short));
    target->PixelsChanged();
    target->ComputeMinMax();
    return true;
}

void CusCeph::BuildProcessingLut(std::uint16_t* table, std::int64_t n, std::int64_t low,
                                 std::int64_t high, int curveFlag) {
    BuildProcessingLut16(table, n, low, high, curveFlag, 0);
}

bool CusCeph::AutoWindowFromRegistry(int useInset) {
    if (!HasPixels() || Bits() > 16) return false;
    const win::RECT region{100, 100, std::int32_t(Width()) - 100, std::int32_t(Height()) - 100};
    CTHistogram<unsigned short> histogram(useInset == 1 ? &region : nullptr, int(Bits()));
    if (!histogram.Calculate(m_pixels.get())) return false;
    unsigned int* bins = histogram.BinData();
    bins[0] = 0;  // black is not part of the picture
    std::int32_t lowValue = 1, highValue = 1;
    GetRegistryDword("QUORIN\\QV\\Ceph", "LowVal", &lowValue, 1, 0, 100);
    GetRegistryDword("QUORIN\\QV\\Ceph", "HighVal", &highValue, 1, 0, 10000);
    std::uint64_t low = 0, high = 0;
    quorin::HistogramCutLevels(bins, histogram.BinCount(), lowValue * 0.01, highValue * 0.0001,
                               &low, &high);
    const auto n = static_cast<unsigned int>(LevelCount());
    std::unique_ptr<CTLut<unsigned short>> lut(new (std::nothrow) CTLut<unsigned short>(n, n));
    if (!lut || lut->IsEmpty()) return false;
    BuildProcessingLut(lut->Data(), n, std::int64_t(low), std::int64_t(high), useInset);
    m_processingLut = std::move(lut);
    return true;
}

namespace {

bool IsNeutral(const double* v, double first, double second) {
    bool zeros = true, neutral = v[0] == first && v[1] == second;
    for (int i = 0; i < 8; ++i) zeros = zeros && v[i] == 0.0;
    for (int i = 2; i < 8; ++i) neutral = neutral && v[i] == 0.0;
    return zeros || neutral;
}

// The cubic convolution kernel with a = -1.
double CubicWeight(double t) {
    t = std::fabs(t);
    if (t < 1.0) return t * t * t - 2.0 * t * t + 1.0;
    if (t < 2.0) return -t * t * t + 5.0 * t * t - 8.0 * t + 4.0;
    return 0.0;
}

}  // namespace

bool CusCeph::CorrectIntensity(CTMatrix<unsigned short>& image, const CTMatrix<double>& distance,
                               const double* k) const {
    unsigned short* px = image.Data();
    const double* d = distance.Data();
    const std::uint64_t count = std::uint64_t(image.Rows()) * image.Columns();
    const auto attenuation = [&](std::uint64_t i) {
        const double r = d[i];
        return (4095.0 - double(px[i])) / (k[3] * r * r * r + k[2] * r * r + k[1] * r + k[0]);
    };
    double largest = 0.0, smallest = 65535.0;
    bool anyZero = false;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (px[i] == 0) {
            anyZero = true;
            continue;
        }
        const double a = attenuation(i);
        if (!std::isfinite(a)) continue;  // a root of the polynomial: the pixel stays
        largest = std::max(largest, a);
        smallest = std::min(smallest, a);
    }
    // Without a spread the scale would divide by zero; the image is left as it is.
    if (!(largest > smallest)) return false;
    const double scale = (anyZero ? 4095.0 : 4094.0) / (largest - smallest);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (px[i] == 0) continue;
        const double a = attenuation(i);
        if (!std::isfinite(a)) continue;
        px[i] = static_cast<unsigned short>(
            4095 - quorin::RoundHalfUp<std::int64_t>((a - smallest) * scale));
    }
    return true;
}

bool CusCeph::CorrectGeometry(const CTMatrix<unsigned short>& source, CusCeph& output,
                              const CTMatrix<double>& distance, double cx, double cy,
                              const double* g) const {
    const std::uint32_t h = source.Rows(), w = source.Columns();
    std::unique_ptr<CTMatrix<double>> rows(new (std::nothrow) CTMatrix<double>(h, w));
    std::unique_ptr<CTMatrix<double>> columns(new (std::nothrow) CTMatrix<double>(h, w));
    if (!rows || rows->IsEmpty() || !columns || columns->IsEmpty()) return false;
    for (std::uint32_t i = 0; i < h; ++i) {
        for (std::uint32_t j = 0; j < w; ++j) {
            const double s = *distance.At(i, j) * 0.0195;
            double f = 0.0;
            if (s != 0.0) {
                double power = 1.0;
                for (int t = 0; t < 8; ++t, power *= s) f += g[t] * power;
            }
            *rows->At(i, j) = f * (double(i) - cy) + cy;
            *columns->At(i, j) = f * (double(j) - cx) + cx;
        }
    }
    const double top = double(output.LevelCount() - 1);
    // The base of the last interpolated pixel, for sources outside the interpolation interior;
    // before the first one the pixel's own source position, limited to the image.
    bool haveBase = false;
    std::int64_t baseRow = 0, baseColumn = 0;
    const auto clampTo = [](double v, std::int64_t last) -> std::int64_t {
        if (!(v > 0.0)) return 0;  // NaN too
        return v >= double(last) ? last : static_cast<std::int64_t>(v);
    };
    unsigned short* out = output.Pixels()->Data();
    for (std::uint32_t i = 0; i < h; ++i) {
        for (std::uint32_t j = 0; j < w; ++j) {
            const double sr = *rows->At(i, j), sc = *columns->At(i, j);
            // Positions far outside the image are never converted (that would be undefined).
            const bool inside =
                sr >= 1.0 && sr < double(h) - 3.0 && sc >= 1.0 && sc < double(w) - 3.0;
            unsigned short value;
            if (inside) {
                const auto y0 = static_cast<std::int64_t>(sr), x0 = static_cast<std::int64_t>(sc);
                const double dy = sr - double(y0), dx = sc - double(x0);
                const double wy[4] = {CubicWeight(dy + 1), CubicWeight(dy), CubicWeight(dy - 1),
                                      CubicWeight(dy - 2)};
                const double wx[4] = {CubicWeight(dx + 1), CubicWeight(dx), CubicWeight(dx - 1),
                                      CubicWeight(dx - 2)};
                double sum = 0.0;
                for (int a = 0; a < 4; ++a) {
                    const unsigned short* row = source.RowData(std::uint32_t(y0 - 1 + a));
                    double line = 0.0;
                    for (int b = 0; b < 4; ++b) line += wx[b] * double(row[x0 - 1 + b]);
                    sum += wy[a] * line;
                }
                sum = std::trunc(sum);
                value = static_cast<unsigned short>(sum < 0.0 ? 0.0 : sum > top ? top : sum);
                haveBase = true;
                baseRow = y0;
                baseColumn = x0;
            } else if (haveBase) {
                value = *source.At(std::uint32_t(baseRow), std::uint32_t(baseColumn));
            } else {
                value = *source.At(std::uint32_t(clampTo(std::trunc(sr), h - 1)),
                                   std::uint32_t(clampTo(std::trunc(sc), w - 1)));
            }
            out[std::uint64_t(i) * w + j] = value;
        }
    }
    output.m_sourceRows = std::move(rows);
    output.m_sourceColumns = std::move(columns);
    output.PixelsChanged();
    return true;
}

bool CusCeph::Correct(CusCeph* output, const double* intensity, int /*intensityCount*/, double cx,
                      double cy, const double* geometric, int geometricValid, double scale1,
                      double scale2, std::uint32_t /*unused*/, bool recompute) {
    if (output == nullptr || !HasPixels() || !SameSize(*output) || !output->HasPixels())
        return false;
    const std::uint32_t h = Height(), w = Width();
    CTMatrix<double> distance(h, w);
    CusCeph scratch(h, w);
    if (distance.IsEmpty() || !scratch.HasPixels()) return false;
    bool result = true;
    // Images too narrow for a rim keep their pixels (the clipping would write nothing).
    std::memcpy(scratch.Pixels()->Data(), m_pixels->Data(),
                std::size_t(h) * w * sizeof(unsigned short));
    ClipSpikesIterated16(m_pixels->Data(), scratch.Pixels()->Data(), int(w), int(h), 1002);
    for (std::uint32_t i = 0; i < h; ++i) {
        double* row = distance.RowData(i);
        for (std::uint32_t j = 0; j < w; ++j)
            row[j] = std::sqrt((double(j) - cx) * (double(j) - cx) +
                               (double(i) - cy) * (double(i) - cy));
    }
    double k[8] = {}, g[8] = {};
    if (intensity != nullptr) std::copy(intensity, intensity + 8, k);
    const int valid = std::clamp(geometricValid, 0, 8);
    if (geometric != nullptr) std::copy(geometric, geometric + valid, g);
    if (!IsNeutral(k, 1.0, 0.0) && !CorrectIntensity(*scratch.Pixels(), distance, k))
        result = false;
    if (!IsNeutral(g, 0.0, 1.0)) {
        if (scale1 != scale2 || !CorrectGeometry(*scratch.Pixels(), *output, distance, cx, cy, g))
            result = false;
    } else if (!scratch.CopyInto(output)) {
        result = false;
    }
    if (recompute) output->ComputeMinMax();
    return result;
}
