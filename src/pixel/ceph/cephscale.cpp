// The scale measurement of the cephalometric images: the reference strip is found as a pair of
// edges in the column profile of a band in the upper half of the image, and the spacing of its
// marks from the row profile of the strip.
#include <quorin/histogram.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "pixel/ceph/ceph.h"
#include "pixel/core/statistics.h"

namespace quorin {
namespace {

using Profile = CTHistogram<unsigned short, unsigned int, double>;
using Vector = CTVector<double>;

constexpr std::int64_t kBandTop = 100;
constexpr std::uint32_t kProfileBins = 4096;

// The 5-bin running median, then the 5-tap mean; false when a step fails.
bool SmoothProfile(Profile& profile) {
    Vector kernel(5);
    if (kernel.IsEmpty()) return false;
    for (unsigned i = 0; i < 5; ++i) kernel[i] = 0.2;
    return profile.SmoothInPlace(5) && profile.ConvolveInPlace(&kernel);
}

// The first derivative (step 1) of a profile; null on failure.
Vector* Derivative(const Profile& profile) {
    return CImgStatistic::CalculateFirstDerivation(profile.GetBins(), 1);
}

// Positions of the largest and smallest value over [a, b), the first of equal values; an empty
// range gives a for the largest and 0 for the smallest.
std::int64_t ArgMax(const double* d, std::int64_t a, std::int64_t b) {
    std::int64_t best = a;
    for (std::int64_t i = a; i < b; ++i)
        if (d[i] > d[best]) best = i;
    return best;
}
std::int64_t ArgMin(const double* d, std::int64_t a, std::int64_t b) {
    if (a >= b) return 0;
    std::int64_t best = a;
    for (std::int64_t i = a; i < b; ++i)
        if (d[i] < d[best]) best = i;
    return best;
}

// Truncation toward zero to 32 bits, saturating (a profile of tall bands may exceed 2^31).
double Trunc32(double v) {
    if (!(v == v)) return 0.0;
    return std::clamp(std::trunc(v), double(std::numeric_limits<std::int32_t>::min()),
                      double(std::numeric_limits<std::int32_t>::max()));
}

double StandardDeviation(const double* v, int n, double mean) {
    double squares = 0.0;
    for (int i = 0; i < n; ++i) squares += (v[i] - mean) * (v[i] - mean);
    return std::sqrt(squares / n);
}

bool SpacingInRange(double a) {
    return 700.0 / 13.0 < a && a < 1500.0 / 13.0;
}

double ThreeMarkSpacing(const std::uint32_t* c) {
    const double values[3] = {double(c[1] - c[0]), double(c[2] - c[1]), double((c[2] - c[0]) / 2)};
    const double mean = (values[0] + values[1] + values[2]) / 3.0;
    const double spread = StandardDeviation(values, 3, mean);
    return spread < 5.0 && SpacingInRange(mean) ? mean : -1.0;
}

}  // namespace

double SpacingFromMarkCentres(const std::uint32_t* c, int k) {
    if (c == nullptr || k < 3) return -1.0;
    if (k == 3) return ThreeMarkSpacing(c);
    double bestMean = 0.0, bestSpread = 0.0;
    for (int q = 0; q + 3 < k; ++q) {
        const double values[4] = {double(c[q + 1] - c[q]), double(c[q + 2] - c[q + 1]),
                                  double(c[q + 3] - c[q + 2]), double((c[q + 3] - c[q]) / 3)};
        const double mean = (values[0] + values[1] + values[2] + values[3]) / 4.0;
        const double spread = StandardDeviation(values, 4, mean);
        if (q == 0 || spread < bestSpread) {
            bestSpread = spread;
            bestMean = mean;
        }
    }
    if (bestSpread < 5.0) return SpacingInRange(bestMean) ? bestMean : -1.0;
    return k == 4 ? ThreeMarkSpacing(c) : -1.0;
}

bool FindScaleStrip(const CTMatrix<unsigned short>& pixels, bool lastTwoThirds, std::uint32_t* left,
                    std::uint32_t* right) {
    if (left != nullptr) *left = 0;
    if (right != nullptr) *right = 0;
    const std::int64_t height = pixels.Rows(), width = pixels.Columns();
    const std::int64_t w2 = width * 2 / 3;
    const std::int64_t bandRows = height / 2 - kBandTop;
    if (pixels.IsEmpty() || w2 < 1 || w2 > kProfileBins || bandRows < 1) return false;
    const std::int64_t first = lastTwoThirds ? width - w2 - 1 : 0;

    Profile profile(nullptr, 12);
    double* bins = profile.BinData();
    if (bins == nullptr) return false;
    for (std::int64_t r = kBandTop; r < kBandTop + bandRows; ++r) {
        const unsigned short* row = pixels.RowData(std::uint32_t(r)) + first;
        for (std::int64_t c = 0; c < w2; ++c) bins[c] += row[c];
    }
    if (!SmoothProfile(profile)) return false;
    std::unique_ptr<Vector> slope(Derivative(profile));
    if (!slope || slope->Size() != kProfileBins) return false;
    Profile smoothed(nullptr, 12);
    if (smoothed.BinData() == nullptr) return false;
    std::copy(slope->Data(), slope->Data() + kProfileBins, smoothed.BinData());
    if (!SmoothProfile(smoothed)) return false;
    const double* d = smoothed.BinData();

    const std::int64_t end = w2 - 21;
    const std::int64_t jmax = ArgMax(d, 20, end), jmin = ArgMin(d, 20, end);
    const double vmax = d[jmax], vmin = d[jmin];
    std::int64_t l = 0, r = 0;
    if (jmin >= jmax) {
        l = jmax;
        r = jmin;
    } else if (const std::int64_t j2 = ArgMin(d, jmax, end);
               std::fabs(Trunc32(d[j2])) >= 0.2 * std::fabs(Trunc32(vmax)) && d[j2] <= 0) {
        l = jmax;
        r = j2;
    } else if (const std::int64_t j3 = ArgMax(d, 20, jmin);
               std::fabs(Trunc32(d[j3])) >= 0.2 * std::fabs(Trunc32(vmin)) && d[j3] >= 0) {
        l = j3;
        r = jmin;
    } else {
        const std::int64_t j4 = ArgMin(d, jmin + 20, jmax - 20);
        const std::int64_t j5 = ArgMax(d, jmin + 20, jmax - 20);
        if (j4 >= j5) {
            l = j5;
            r = j4;
        } else if (!lastTwoThirds) {  // the strip touches the band's outer end
            l = 0;
            r = jmin;
        } else {
            l = jmin;
            r = w2 - 1;
        }
    }
    const std::uint32_t stripWidth = std::uint32_t(r) - std::uint32_t(l);
    if (stripWidth < 10 || stripWidth > 100) return false;
    if (left != nullptr) *left = std::uint32_t(l + first);
    if (right != nullptr) *right = std::uint32_t(r + first);
    return true;
}

double ScaleMarkSpacing(const CTMatrix<unsigned short>& pixels, std::uint32_t left,
                        std::uint32_t right) {
    const std::int64_t H2 = std::int64_t(pixels.Rows()) / 2 - kBandTop;
    if (pixels.IsEmpty() || H2 < 1 || H2 > kProfileBins || left >= right ||
        right > pixels.Columns())
        return -1.0;
    Profile profile(nullptr, 12);
    double* bins = profile.BinData();
    if (bins == nullptr) return -1.0;
    for (std::int64_t r = 0; r < H2; ++r) {
        const unsigned short* row = pixels.RowData(std::uint32_t(kBandTop + r));
        double sum = 0.0;
        for (std::uint32_t c = left; c < right; ++c) sum += row[c];
        bins[r] = sum;
    }
    if (!SmoothProfile(profile)) return -1.0;
    std::unique_ptr<Vector> slope(Derivative(profile));
    if (!slope || slope->Size() < kProfileBins) return -1.0;
    const double* d = slope->Data();

    double M = d[20];
    for (std::int64_t i = 21; i <= H2 - 2; ++i) M = std::max(M, d[i]);
    std::uint32_t centres[10];
    int k = 0;
    std::int64_t start = -1;
    for (std::int64_t i = 0; i <= H2 && k < 10; ++i) {
        const bool flagged = i >= 20 && i < H2 && d[i] > 0.3 * M;
        if (flagged && start < 0) start = i;
        if (!flagged && start >= 0) {
            centres[k++] = std::uint32_t((start + i) / 2);
            start = -1;
        }
    }
    return SpacingFromMarkCentres(centres, k);
}

}  // namespace quorin

double CusCeph::MeasureScale(double referenceLength, int side, bool mirrored) const {
    if (!HasPixels()) return -1.0;
    const bool lastTwoThirds = (side == 1) != mirrored;
    std::uint32_t left = 0, right = 0;
    if (!quorin::FindScaleStrip(*m_pixels, lastTwoThirds, &left, &right)) return -1.0;
    const double spacing = quorin::ScaleMarkSpacing(*m_pixels, left, right);
    return spacing > 0.0 ? referenceLength / spacing : -1.0;
}
