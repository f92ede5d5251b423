#include "pixel/ceph/cephlens.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "pixel/filters/filters16.h"
#include "pixel/filters/multiband.h"
#include "pixel/image/greyops.h"
#include "platform/system/priority.h"
#include "records/core/registryreaders.h"
#include "records/core/rounding.h"
#include "viewer/registrystring.h"

namespace quorin {
namespace {

template <class T>
std::unique_ptr<T[]> NewArray(std::uint64_t n) {
    if (n == 0) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(n)]);
}

// The widest Gaussian a registry may ask for: 2 x 100 + 1 taps.
constexpr std::int32_t kMaxGaussHalfWidth = 100;

}  // namespace

bool CephLensCache::Allocate(std::uint32_t width, std::uint32_t height) {
    m_buffer = NewArray<std::uint16_t>(std::uint64_t(width) * height);
    m_width = m_buffer ? width : 0;
    m_height = m_buffer ? height : 0;
    m_origin = 0;
    m_rowStep = m_width;
    m_columnStep = 1;
    first = second = 0.0;
    level1 = level2 = level3 = 0;
    return m_buffer != nullptr;
}

void CephLensCache::MirrorHorizontal() {
    if (Empty()) return;
    m_origin += std::int64_t(m_width - 1) * m_columnStep;
    m_columnStep = -m_columnStep;
}

void CephLensCache::MirrorVertical() {
    if (Empty()) return;
    m_origin += std::int64_t(m_height - 1) * m_rowStep;
    m_rowStep = -m_rowStep;
}

void CephLensCache::Rotate(std::int32_t angle, bool clockwise) {
    if (Empty()) return;
    if (angle == 180) {
        MirrorHorizontal();
        MirrorVertical();
        return;
    }
    if (angle != 90 && angle != 270) return;
    const std::int64_t rows = m_rowStep, columns = m_columnStep;
    if ((angle == 90) == clockwise) {  // (r, c) to (c, height-1-r)
        m_origin += std::int64_t(m_height - 1) * rows;
        m_rowStep = columns;
        m_columnStep = -rows;
    } else {  // (r, c) to (width-1-c, r)
        m_origin += std::int64_t(m_width - 1) * columns;
        m_rowStep = -columns;
        m_columnStep = rows;
    }
    std::swap(m_width, m_height);
}

double BinMean(const std::uint32_t* R, std::int64_t a, std::int64_t b) {
    double weighted = 0.0, sum = 0.0;
    for (std::int64_t i = a; i <= b; ++i) {
        weighted += double(i) * R[i];
        sum += R[i];
    }
    return a > b || sum == 0.0 ? 0.0 : weighted / sum;
}

namespace {

double Spread(const std::uint32_t* E, std::int64_t p, std::int64_t q) {
    if (p > q) return 0.0;
    const double mu = BinMean(E, p, q);
    double s = 0.0;
    for (std::int64_t i = p; i <= q; ++i) s += (double(i) - mu) * (double(i) - mu) * E[i];
    return s;
}

}  // namespace

std::int64_t HistogramSplit(const std::uint32_t* R, std::int64_t m) {
    if (R == nullptr || m < 1) return 0;
    double total = 0.0;
    for (std::int64_t i = 0; i < m; ++i) total += R[i];
    const auto a = RoundHalfUp<std::int64_t>(total / double(m));
    auto E = NewArray<std::uint32_t>(std::uint64_t(m));
    if (!E) return 0;
    // Each bin takes its lower neighbour's excess over the mean count.
    if (CausalMovingAverage(R, E.get(), m, 1, -a) == 0) return 0;
    std::int64_t lo = 0, hi = m - 1;
    while (lo < m && E[lo] == 0) ++lo;
    while (hi > lo && E[hi] == 0) --hi;
    double best = Spread(E.get(), lo, hi);
    std::int64_t split = 0;
    for (std::int64_t t = lo; t <= hi; ++t) {
        const double cost = Spread(E.get(), lo, t) + Spread(E.get(), t + 1, hi);
        if (cost < best) {
            best = cost;
            split = t;
        }
    }
    return split;
}

void CacheStatistics(const std::uint32_t* h, std::int64_t n, std::int64_t top,
                     CephLensCache* cache) {
    if (h == nullptr || cache == nullptr || n < 1 || top < 16) return;  // fewer than 2 bins
    const auto m = static_cast<std::uint16_t>(top / 8);
    const std::int64_t step = n / m;
    auto R = NewArray<std::uint32_t>(m);
    if (!R) return;
    for (std::int64_t j = 0; j < m; ++j) R[j] = j * step < n ? h[j * step] : 0;
    R[0] = R[1];
    const std::int64_t t1 = HistogramSplit(R.get(), m);
    double first = BinMean(R.get(), 0, t1);
    std::fill(R.get(), R.get() + t1, 0u);
    const std::int64_t t2 = HistogramSplit(R.get(), m);
    double second = BinMean(R.get(), t2, m - 1);
    for (std::int64_t j = t1; j < m && double(j) < second; ++j) R[j] = 0;
    const std::int64_t t3 = HistogramSplit(R.get(), m);
    cache->level3 = static_cast<std::uint16_t>(t1 * step);
    cache->level1 = static_cast<std::uint16_t>(t2 * step);
    cache->level2 = static_cast<std::uint16_t>(t3 * step);
    first *= double(step);
    second *= double(step);
    if (second < first) {
        first = 0.0;
        second = double(n - 1);
    }
    cache->first = first;
    cache->second = second;
}

void SetLensLevelCount(LensParameters* p, std::int64_t size, int bits) {
    std::int64_t doublings = 0;
    while ((std::int64_t{1} << doublings) < size && doublings < 62) ++doublings;
    p->levelCount = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(doublings - std::int64_t(p->unenhancedLevels), 0, 13));
    p->maximumLevel = static_cast<std::uint16_t>((std::int64_t{1} << std::clamp(bits, 0, 16)) - 1);
}

namespace {

// A whole number that may be absent: the registry's when present, else the default.
std::int32_t Dword(const char* key, const char* name, std::int32_t fallback,
                   std::int32_t minimum = kNoRegistryBound,
                   std::int32_t maximum = kNoRegistryBound) {
    std::int32_t value = fallback;
    GetRegistryDword(key, name, &value, fallback, minimum, maximum);
    return value;
}

// A hundredth as the units store it (multiplied by the single-precision 0.01), or the default.
float Hundredths(const char* key, const char* name, float fallback) {
    std::int32_t value = 0;
    const auto offered = static_cast<std::int32_t>(fallback * 100.0f);
    if (!GetRegistryDword(key, name, &value, offered)) return fallback;
    return float(value) * 0.01f;
}

// A decimal text of at most 20 characters; the default when absent or not a number.
template <class T>
T DecimalText(const char* key, const char* name, T fallback) {
    char defaultText[32];
    if constexpr (std::is_floating_point_v<T>)
        std::snprintf(defaultText, sizeof defaultText, "%f", fallback);
    else
        std::snprintf(defaultText, sizeof defaultText, "%d", int(fallback));
    char text[21] = {};
    GetRegistryString(key, name, text, sizeof text, defaultText);
    const char* begin = text;
    while (*begin == ' ') ++begin;
    if (*begin == '+') ++begin;
    T value{};
    const auto [end, error] = std::from_chars(begin, text + std::strlen(text), value);
    if (error != std::errc() || end == begin) return fallback;
    return value;
}

}  // namespace

bool LoadLensParameters(LensParameters* p, int mode, std::int64_t size, int bits,
                        std::uint16_t deviceCode) {
    if (p == nullptr || (mode != 4 && mode != 8 && mode != 9)) return false;
    const bool bone = mode == 8;
    const char* key = bone ? "QUORIN\\CEPH\\Filter_bone" : "QUORIN\\CEPH\\Filter_edges";
    *p = LensParameters{};
    char name[32];
    for (int i = 0; i < 14; ++i) {
        std::snprintf(name, sizeof name, "Weight%d", i);
        p->weight[i] = Hundredths(key, name, i == 0 ? 0.16f : i <= 6 ? 1.5f : 0.0f);
        std::snprintf(name, sizeof name, "Clip%d", i);
        p->clip[i] = Hundredths(key, name, i <= 7 ? 2.56f : 0.0f);
    }
    p->unenhancedLevels = Dword(key, "UnenhancedLevels", bone ? 6 : 7);
    p->gaussHalfWidthHF = std::clamp(Dword(key, "GaussHalfWidthHF", 3), 0, kMaxGaussHalfWidth);
    p->gaussSigmaHF = Hundredths(key, "GaussSigmaHF", 1.0f);
    p->gaussHalfWidthLF = std::clamp(Dword(key, "GaussHalfWidthLF", 6), 0, kMaxGaussHalfWidth);
    p->gaussSigmaLF = Hundredths(key, "GaussSigmaLF", 2.0f);
    p->logFlag = Dword(key, "Log", 1, 0, 1) == 1 ? 1 : 0;
    p->secondFlag = 0;
    const bool wide = deviceCode == 192 || deviceCode == 193 || deviceCode == 196;
    const int s100 = DecimalText<int>(key, "s100", bone ? (wide ? 70 : 20) : 30);
    const int s200 = DecimalText<int>(key, "s200", bone ? (deviceCode == 197 ? 0 : 20) : -30);
    p->s100 = static_cast<std::int16_t>(std::clamp(s100, -32768, 32767));
    p->s200 = static_cast<std::int16_t>(std::clamp(s200, -32768, 32767));
    p->histogramBorder = static_cast<std::int16_t>(
        std::clamp(Dword(key, "HistoBorder", deviceCode != 0 ? 0 : 100), 0, 32767));
    const double e = DecimalText<double>(key, "e", 1.0);
    // The exponent of a gamma curve: zero, negative or huge values would make it infinite.
    p->e = std::isfinite(e) && e > 0.0 && e <= 100.0 ? e : 1.0;
    SetLensLevelCount(p, size, bits);
    return true;
}

LensWindow ComputeLensWindow(const CephLensCache& cache, std::int64_t maximumLevel,
                             std::int32_t s100, std::int32_t s200, std::uint16_t deviceCode) {
    const bool wide = deviceCode == 192 || deviceCode == 193 || deviceCode == 196;
    const double base = deviceCode == 0 ? cache.first
                        : wide          ? double((cache.level1 + cache.level3) / 2)
                                        : double(cache.level3);
    const double middle = cache.level2;
    LensWindow window;
    window.low = static_cast<std::int64_t>(std::trunc((1.0 - s200 / 100.0) * base));
    window.high = static_cast<std::int64_t>(
        std::trunc((double(maximumLevel) - middle) * s100 / 100.0 + middle));
    if (window.low > window.high) {
        window.low = 0;
        window.high = maximumLevel;
    }
    if (window.low > maximumLevel) window.low = 0;
    if (window.high > maximumLevel) window.high = maximumLevel;
    // Percentages beyond 100 would put a level below 0.
    if (window.low < 0) window.low = 0;
    if (window.high < window.low) window.high = maximumLevel;
    window.start = RoundHalfUp<std::int64_t>(base);
    window.end = RoundHalfUp<std::int64_t>(middle);
    return window;
}

}  // namespace quorin

using quorin::CephLensCache;
using quorin::LensParameters;

CusCephVelmoLens::~CusCephVelmoLens() = default;
CusCephVelmoLensV3::~CusCephVelmoLensV3() = default;

bool CusCephVelmoLensV3::AddLogo() {
    return StampBitmap(quorin::LoadLogoBitmap(8010), false);
}

bool CusCephVelmoLensV3::Enhance(CusCeph* destination, int mode, int option) {
    return Run(destination, mode, option, true);
}

bool CusCephVelmoLens::Enhance(CusCeph* destination, int mode, int option) {
    return Run(destination, mode, option, false);
}

void CusCephVelmoLens::GetExposureState(int* mode, float* brightness, float* levelRatio) {
    const double M = double(LevelCount() - 1);
    std::uint64_t top = LevelCount() - 1;
    double mean = 0.0;
    if (HasPixels()) {
        // Images of 100 pixels or less a side have no region: the whole image stands for it.
        const bool inset = Width() > 100 && Height() > 100;
        const std::uint32_t r0 = inset ? 50 : 0, c0 = inset ? 50 : 0;
        const std::uint32_t r1 = inset ? Height() - 50 : Height();
        const std::uint32_t c1 = inset ? Width() - 50 : Width();
        const win::RECT region{std::int32_t(c0), std::int32_t(r0), std::int32_t(c1),
                               std::int32_t(r1)};
        CTHistogram<unsigned short> histogram(&region, int(Bits()));
        if (histogram.Calculate(m_pixels.get()))
            quorin::HistogramCutLevels(histogram.BinData(), histogram.BinCount(), 0.0, 0.0, nullptr,
                                       &top);
        for (std::uint32_t r = r0; r < r1; ++r) {
            const unsigned short* row = m_pixels->RowData(r);
            double sum = 0.0;
            for (std::uint32_t c = c0; c < c1; ++c) sum += row[c];
            mean += sum / double(c1 - c0);
        }
        mean /= double(r1 - r0);
    }
    const double bright = (M - mean) / M;
    if (m_exposureState == 0) {
        double ratio = 0.0;
        if (top < 3800) {
            m_exposureState = 2;
            ratio = (M - double(top)) / M;
        } else {
            m_exposureState = float(bright) >= 0.1f ? 1 : 2;
        }
        if (levelRatio != nullptr) *levelRatio = float(ratio);
    }
    if (mode != nullptr) *mode = int(m_exposureState);
    if (brightness != nullptr) *brightness = float(bright);
}

bool CusCephVelmoLens::ApplyProcessingLut(CusCeph*, bool, int) {
    return true;
}

bool CusCephVelmoLens::Correct(CusCeph* output, const double*, int, double, double, const double*,
                               int, double, double, std::uint32_t, bool) {
    if (output != nullptr && output != this && !CopyInto(output)) return false;
    return true;
}

void CusCephVelmoLens::BuildProcessingLut(std::uint16_t* table, std::int64_t n, std::int64_t low,
                                          std::int64_t high, int curveFlag) {
    BuildProcessingLut16(table, n, low, high, curveFlag, 1);
}

bool CusCephVelmoLens::MirrorHorizontal() {
    if (!CusCeph::MirrorHorizontal()) return false;
    m_bone.MirrorHorizontal();
    m_edges.MirrorHorizontal();
    return true;
}

bool CusCephVelmoLens::MirrorVertical() {
    if (!CusCeph::MirrorVertical()) return false;
    m_bone.MirrorVertical();
    m_edges.MirrorVertical();
    return true;
}

bool CusCephVelmoLens::Rotate(std::int32_t angle, bool clockwise) {
    if (!CusCeph::Rotate(angle, clockwise)) return false;
    m_bone.Rotate(angle, clockwise);
    m_edges.Rotate(angle, clockwise);
    return true;
}

bool CusCephVelmoLens::FillBuiltIn(CephLensCache& cache, const LensParameters& p,
                                   std::int64_t strength) {
    const std::uint32_t w = Width(), h = Height();
    const std::uint64_t count = std::uint64_t(w) * h;
    auto work = quorin::NewArray<std::uint16_t>(count);
    auto histogram = quorin::NewArray<std::uint32_t>(4096);
    const int L = p.levelCount;
    auto gains = quorin::NewArray<std::uint16_t>(std::uint64_t(std::max(L, 1)));
    auto clips = quorin::NewArray<std::uint16_t>(std::uint64_t(std::max(L, 1)));
    CephLensCache filled;
    if (!work || !histogram || !gains || !clips || !filled.Allocate(w, h)) return false;
    if (!AttenuationToLog16(m_pixels->Data(), int(w), int(h), work.get(), histogram.get()))
        return false;
    // An option beyond the built-in range must not wrap the clip of a band.
    const auto clip = static_cast<std::uint16_t>(std::clamp<std::int64_t>(strength, 0, 65535));
    for (int l = 0; l < L; ++l) {
        gains[l] = static_cast<std::uint16_t>(std::trunc((1.0 - double(l) / L) * 140.0));
        clips[l] = clip;
    }
    if (!MultiBandEnhance16(work.get(), int(w), int(h), filled.Buffer(), histogram.get(),
                            std::uint16_t(L), 2, 7, 25, 100, 400, std::uint16_t(p.histogramBorder),
                            gains.get(), clips.get()))
        return false;
    quorin::CacheStatistics(histogram.get(), 4096, std::min<std::int64_t>(TopLevel(), 4095),
                            &filled);
    cache = std::move(filled);
    return true;
}

bool CusCephVelmoLens::FillFromRegistry(CephLensCache& cache, int mode, LensParameters* p) {
    const std::uint32_t w = Width(), h = Height();
    const std::uint64_t count = std::uint64_t(w) * h;
    const std::uint64_t n = LevelCount();
    auto table = quorin::NewArray<float>(n);
    auto scratch = quorin::NewArray<std::uint16_t>(count);
    auto histogram = quorin::NewArray<std::uint32_t>(n);
    CephLensCache filled;
    if (!table || !scratch || !histogram || !filled.Allocate(w, h)) return false;
    const unsigned short* px = m_pixels->Data();
    quorin::FloatLogTable(table.get(), n, px, count);
    for (std::uint64_t k = 0; k < count; ++k)
        scratch[k] = px[k] < n ? static_cast<std::uint16_t>(std::trunc(table[px[k]]))
                               : static_cast<std::uint16_t>(n - 1);
    quorin::LoadLensParameters(p, mode, std::max(w, h), int(Bits()), m_deviceCode);
    if (!quorin::FloatMultiScaleEnhance(scratch.get(), filled.Buffer(), w, h, *p)) return false;
    std::fill(histogram.get(), histogram.get() + n, 0u);
    const std::uint32_t border = std::uint32_t(std::max<std::int16_t>(p->histogramBorder, 0));
    const std::uint16_t* out = filled.Buffer();
    for (std::uint32_t r = border; r + border < h; ++r)
        for (std::uint32_t c = border; c + border < w; ++c) {
            const std::uint16_t v = out[std::uint64_t(r) * w + c];
            if (v < n) ++histogram[v];
        }
    quorin::CacheStatistics(histogram.get(), std::int64_t(n), TopLevel(), &filled);
    cache = std::move(filled);
    return true;
}

bool CusCephVelmoLens::Run(CusCeph* destination, int mode, int option, bool registry) {
    if (mode != 0 && mode != 3 && mode != 4 && mode != 8 && mode != 9) return false;
    CusCeph* target = destination != nullptr ? destination : this;
    if (!HasPixels() || !SameSize(*target) || !target->HasPixels()) return false;
    // The work tables hold every level of the image and of the built-in 12-bit window.
    const std::uint64_t entries = std::max<std::uint64_t>(LevelCount(), 4096);
    auto table = quorin::NewArray<std::uint32_t>(entries);
    auto averaged = quorin::NewArray<std::uint32_t>(entries);
    if (!table || !averaged) return false;
    const bool wide = WideUnit();
    const win::PriorityGuard priority;

    if (mode == 0 || mode == 3) {
        if (!CusCeph::ApplyProcessingLut(target, TestUpperQuarterShare(), 1)) return false;
        return target->CusCeph::Enhance(nullptr, mode, option);
    }

    CephLensCache& cache = mode == 8 ? m_bone : m_edges;
    LensParameters p;
    std::int64_t maximumLevel = 4095;
    double exponent = wide ? 0.75 : 0.85;
    if (registry) {
        if (cache.Empty()) {
            if (!FillFromRegistry(cache, mode, &p)) return false;
        } else {
            quorin::LoadLensParameters(&p, mode, -1, 16, m_deviceCode);
        }
        maximumLevel = TopLevel();
        exponent = p.e;
    } else {
        p.s100 = 70;
        p.s200 = -100;
        p.levelCount = 8;
        p.histogramBorder = m_deviceCode == 0 ? 100 : 0;
        p.maximumLevel = 4095;
        std::int64_t strength;  // wide: an option far out of range must not overflow
        if (mode == 8) {
            p.s200 = m_deviceCode == 197 ? 0 : 50;
            if (!wide) p.s100 = 85;
            strength = ((9 - std::int64_t{option}) * 6400) / 100;
        } else {
            p.levelCount = 4;
            p.s200 = -50;
            strength = ((16 - std::int64_t{option}) * 2560) / 100;
        }
        if (cache.Empty() && !FillBuiltIn(cache, p, strength)) return false;
    }
    if (cache.Width() != Width() || cache.Height() != Height()) return false;

    const quorin::LensWindow window =
        quorin::ComputeLensWindow(cache, maximumLevel, p.s100, p.s200, m_deviceCode);
    const std::int64_t n = maximumLevel + 1;
    TwoSegmentGammaLut(table.get(), n, window.low, window.high, window.start, window.end, exponent,
                       wide ? 50 : 60);
    CausalMovingAverage(table.get(), averaged.get(), n, 500, 0);
    for (std::uint32_t r = 0; r < Height(); ++r) {
        unsigned short* row = target->Pixels()->RowData(r);
        for (std::uint32_t c = 0; c < Width(); ++c)
            row[c] =
                static_cast<std::uint16_t>(averaged[std::min<std::int64_t>(cache.At(r, c), n - 1)]);
    }
    MarkChanged(*target);
    return true;
}
