#include "pixel/panoconvolve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

template <class T>
CTGaussFilter<T>::CTGaussFilter(std::int64_t n, double sigma)
    : CTMatrix<T>(n >= 1 && n <= quorin::kMaxKernelSide ? unsigned(n) : 0u,
                  n >= 1 && n <= quorin::kMaxKernelSide ? unsigned(n) : 0u) {
    if (this->IsEmpty()) return;
    const double twoSigmaSquared = 2 * sigma * sigma;
    if (!std::isfinite(sigma) || !(twoSigmaSquared > 0)) {
        this->Release();
        return;
    }
    // Odd sizes centre on a pixel; even sizes on the corner between the four middle pixels.
    const bool odd = n % 2 == 1;
    const double c = odd ? double((n - 1) / 2) : double(n / 2);
    const auto distance = [&](std::int64_t i) { return odd ? double(i) - c : double(i) + 0.5 - c; };
    T* w = this->Data();
    double sum = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        for (std::int64_t j = 0; j < n; ++j) {
            const double di = distance(i), dj = distance(j);
            const double value = std::exp(-(di * di + dj * dj) / twoSigmaSquared);
            w[i * n + j] = T(value);
            sum += value;
        }
    }
    if (!(sum > 0) || !std::isfinite(sum)) {
        this->Release();
        return;
    }
    for (std::int64_t k = 0; k < n * n; ++k) w[k] = T(w[k] / sum);
}

template class CTGaussFilter<double>;

namespace quorin {

namespace {

// A sum truncated into the pixel type: NaN and negative sums give 0, sums beyond its range
// its largest value.
template <class P>
P Truncated(double value) {
    constexpr double top = double(std::numeric_limits<P>::max());
    if (!(value > 0)) return P(0);
    if (value >= top) return std::numeric_limits<P>::max();
    return static_cast<P>(value);
}

template <class P>
double MeanOf(const CTMatrix<P>& m) {
    const std::uint64_t count = std::uint64_t(m.Rows()) * m.Columns();
    const P* data = m.Data();
    std::uint64_t sum = 0;
    for (std::uint64_t k = 0; k < count; ++k) sum += data[k];
    return double(sum) / double(count);
}

}  // namespace

template <class P>
bool ConvolvePixels(const CTMatrix<P>& source, const CTFilter& kernel, std::int32_t border,
                    CTMatrix<P>& target) {
    if (source.IsEmpty() || kernel.IsEmpty() || &source == &target ||
        target.Rows() != source.Rows() || target.Columns() != source.Columns() ||
        kernel.Rows() > kMaxKernelSide || kernel.Columns() > kMaxKernelSide)
        return false;
    if (border != std::int32_t(ConvolutionBorder::Skip) &&
        border != std::int32_t(ConvolutionBorder::Mean))
        return false;
    const bool mean = border == std::int32_t(ConvolutionBorder::Mean);
    const std::int64_t H = source.Rows(), W = source.Columns();
    const std::int64_t r = kernel.Rows(), k = kernel.Columns();
    const std::int64_t hr = r / 2, hk = k / 2;  // (r-1)/2 and r/2 agree for odd r
    const double outside = mean ? MeanOf(source) : 0.0;

    // One row of sums: for every tap (i, j) in order the row takes its term, so each pixel's sum
    // is added up in the same order as tap after tap at that pixel.
    // Source rows are turned into doubles once, into a ring of as many rows as a window holds.
    const std::int64_t ringRows = std::min(r, H);
    const std::unique_ptr<double[]> sums(new (std::nothrow) double[std::size_t(W)]);
    const std::unique_ptr<double[]> ring(
        new (std::nothrow) double[std::size_t(ringRows) * std::size_t(W)]);
    if (!sums || !ring) return false;
    double* acc = sums.get();
    // Columns every tap reaches inside the image: [xa, xb).
    const std::int64_t xa = std::min(hk, W);
    const std::int64_t xb = std::max(xa, W - (k - 1 - hk));
    std::int64_t converted = 0;  // rows below this one are (or were) in the ring
    for (std::int64_t y = 0; y < H; ++y) {
        for (const std::int64_t end = std::min(y - hr + r, H); converted < end; ++converted) {
            const P* in = source.RowData(unsigned(converted));
            double* row = ring.get() + (converted % ringRows) * W;
            for (std::int64_t x = 0; x < W; ++x) row[x] = double(in[x]);
        }
        std::fill(acc, acc + W, 0.0);
        for (std::int64_t i = 0; i < r; ++i) {
            const std::int64_t sy = y - hr + i;
            const double* weights = kernel.RowData(unsigned(i));
            if (sy < 0 || sy >= H) {
                if (!mean) continue;
                for (std::int64_t j = 0; j < k; ++j) {
                    const double term = weights[j] * outside;
                    for (std::int64_t x = 0; x < W; ++x) acc[x] += term;
                }
                continue;
            }
            const double* in = ring.get() + (sy % ringRows) * W;
            // Border columns, where some taps fall outside: tap by tap.
            for (std::int64_t j = 0; j < k; ++j) {
                const double w = weights[j];
                const double term = w * outside;
                const std::int64_t dx = j - hk;
                const auto column = [&](std::int64_t x) {
                    if (x + dx >= 0 && x + dx < W)
                        acc[x] += w * in[x + dx];
                    else if (mean)
                        acc[x] += term;
                };
                for (std::int64_t x = 0; x < xa; ++x) column(x);
                for (std::int64_t x = xb; x < W; ++x) column(x);
            }
            // Inner columns: four taps per pass, still added one after the other.
            std::int64_t j = 0;
            for (; j + 4 <= k; j += 4) {
                const double w0 = weights[j], w1 = weights[j + 1], w2 = weights[j + 2],
                             w3 = weights[j + 3];
                const std::int64_t d = j - hk;
                for (std::int64_t x = xa; x < xb; ++x) {
                    double sum = acc[x];
                    sum += w0 * in[x + d];
                    sum += w1 * in[x + d + 1];
                    sum += w2 * in[x + d + 2];
                    sum += w3 * in[x + d + 3];
                    acc[x] = sum;
                }
            }
            for (; j < k; ++j) {
                const double w = weights[j];
                const std::int64_t d = j - hk;
                for (std::int64_t x = xa; x < xb; ++x) acc[x] += w * in[x + d];
            }
        }
        P* out = target.RowData(unsigned(y));
        for (std::int64_t x = 0; x < W; ++x) out[x] = Truncated<P>(acc[x]);
    }
    return true;
}

template bool ConvolvePixels<unsigned char>(const CTMatrix<unsigned char>&, const CTFilter&,
                                            std::int32_t, CTMatrix<unsigned char>&);
template bool ConvolvePixels<unsigned short>(const CTMatrix<unsigned short>&, const CTFilter&,
                                             std::int32_t, CTMatrix<unsigned short>&);
template bool ConvolvePixels<unsigned int>(const CTMatrix<unsigned int>&, const CTFilter&,
                                           std::int32_t, CTMatrix<unsigned int>&);

}  // namespace quorin
