#include "pixel/intraoral/intraorallut.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <numbers>

#include "pixel/core/lut.h"
#include "pixel/intraoral/intraoralsensors.h"
#include "records/core/rounding.h"

namespace quorin {

template <class T>
void KneeCurve(T* table, std::uint64_t n, std::uint64_t low, std::uint64_t high, double a) {
    if (table == nullptr || n == 0) return;
    const double pi = std::numbers::pi;
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t value = 0;
        if (i <= low) {
            value = 0;
        } else if (i <= high) {
            const double t = double(i - low) / double(high - low);
            value =
                std::min<std::uint64_t>(239, RoundHalfUp<std::uint64_t>(std::pow(t, a) * 239.0));
        } else {
            // i > high means n - 1 - high > 0 here.
            const double t = double(i - high) * pi / 2.0 / double(n - 1 - high);
            value = std::min<std::uint64_t>(255,
                                            RoundHalfUp<std::uint64_t>(std::sin(t) * 16.0 + 239.0));
        }
        table[i] = static_cast<T>(value);
    }
}

template <class T>
void SigmoidCurve(T* table, std::uint64_t n, std::uint64_t low, double a, double b, double c,
                  int p) {
    if (table == nullptr || n == 0) return;
    if (!(b > a)) b = a + 1.0;
    const double scale = 1.0 + std::pow(4095.0 / c, p);
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t value = 0;
        if (i <= low) {
            value = 0;
        } else if (i >= 4095) {
            value = 4095;
        } else {
            const double x = (double(i) - a) / (b - a) * 4095.0;
            const double v = 4095.0 * scale / (1.0 + std::pow(x / c, p));
            value = std::min<std::uint64_t>(4095, RoundHalfUp<std::uint64_t>(v));
        }
        table[i] = static_cast<T>(std::min<std::uint64_t>(value, std::numeric_limits<T>::max()));
    }
}

template <class T>
bool PowerCurve(T* table, std::uint64_t n, std::int64_t low, std::int64_t maxHisto,
                std::int64_t ratio, double a) {
    if (table == nullptr || n < 2 || n > std::numeric_limits<unsigned int>::max() || low < 0 ||
        !(low < maxHisto))
        return false;
    const std::int64_t top = low + (maxHisto - low) * ratio / 100;
    if (!(top > low)) return false;
    std::unique_ptr<CTLut<unsigned char>> curve(
        new (std::nothrow) CTLut<unsigned char>(static_cast<unsigned>(n), 256, a, a, 1.0));
    if (!curve || curve->Size() != n) return false;
    const std::int64_t count = std::int64_t(n);
    for (std::int64_t i = 0; i < std::min(low, count); ++i) table[i] = 0;
    for (std::int64_t k = 0; low + k < top && low + k < count; ++k)
        table[low + k] = curve->Map(std::max(0, MulDiv(k, count, top - low)));
    for (std::int64_t i = std::max<std::int64_t>(top, 0); i < count; ++i) table[i] = 255;
    return true;
}

template <class T>
bool ControlPointCurve(T* table, std::uint64_t n, int mode, std::int64_t low, std::int64_t high) {
    if (table == nullptr || n == 0 || !IsZelTableMode(mode) || low == 0 || high == 0) return false;
    if (!(low < high)) return false;
    const std::int64_t end = low < 4000 ? 4000 : high;
    const std::int64_t k = ((end - low) * 85 / 100) * 255 / (high - low);
    if (k <= 0) return false;

    // Piecewise-linear through the points on an 8-bit input scale, in integers.
    const std::int32_t* in = ZelCurvesOf(mode).pointsIn;
    const std::int32_t* out = ZelCurvesOf(mode).pointsOut;
    std::int32_t curve[256];
    int segment = 0;
    for (std::int32_t x = 0; x < 256; ++x) {
        while (segment < 7 && x >= (in[segment + 1] >> 4)) ++segment;
        if (segment >= 7) {
            curve[x] = out[7];
            continue;
        }
        const std::int32_t x0 = in[segment] >> 4, x1 = in[segment + 1] >> 4;
        curve[x] = out[segment] + (x - x0) * (out[segment + 1] - out[segment]) / (x1 - x0);
    }
    const std::uint64_t last = std::min<std::uint64_t>(std::uint64_t(k), 255);
    for (std::uint64_t j = 0; j < n; ++j)
        table[j] = static_cast<T>(j <= last ? curve[j * 255 / std::uint64_t(k)] : 255);
    return true;
}

#define QUORIN_INTRAORAL_CURVES(T)                                                                \
    template void KneeCurve<T>(T*, std::uint64_t, std::uint64_t, std::uint64_t, double);          \
    template void SigmoidCurve<T>(T*, std::uint64_t, std::uint64_t, double, double, double, int); \
    template bool PowerCurve<T>(T*, std::uint64_t, std::int64_t, std::int64_t, std::int64_t,      \
                                double);                                                          \
    template bool ControlPointCurve<T>(T*, std::uint64_t, int, std::int64_t, std::int64_t);
QUORIN_INTRAORAL_CURVES(unsigned char)
QUORIN_INTRAORAL_CURVES(unsigned short)
#undef QUORIN_INTRAORAL_CURVES

}  // namespace quorin
