#include "pixel/panoconvolve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

#include "platform/cpu.h"

#if QUORIN_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

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

// What one output row of a convolution reads: for each kernel row i the source row it lays over,
// in doubles, or null when that row lies outside the image. Rows are padded by hk samples before
// and k - 1 - hk after with what an outside tap reads: the mean, or 0.0 for a skipped tap (adding
// w x 0.0 leaves a sum as it is while w is finite), so rows[i][x + j] is tap j of column x.
struct ConvolutionRow {
    const CTFilter* kernel;
    const double* const* rows;
    bool mean;
    double outside;
};

// The sum at column x, tap after tap in kernel order.
double SumAt(const ConvolutionRow& c, std::int64_t x) {
    const std::int64_t r = c.kernel->Rows(), k = c.kernel->Columns();
    double acc = 0.0;
    for (std::int64_t i = 0; i < r; ++i) {
        const double* weights = c.kernel->RowData(unsigned(i));
        const double* in = c.rows[i];
        if (in == nullptr) {
            if (c.mean)
                for (std::int64_t j = 0; j < k; ++j) acc += weights[j] * c.outside;
            continue;
        }
        for (std::int64_t j = 0; j < k; ++j) acc += weights[j] * in[x + j];
    }
    return acc;
}

// The same with the outside taps skipped one by one, for kernels whose weights are not all
// finite (w x 0.0 would not vanish); `width` is the image's.
double SumAtSkipping(const ConvolutionRow& c, std::int64_t x, std::int64_t width) {
    const std::int64_t r = c.kernel->Rows(), k = c.kernel->Columns(), hk = k / 2;
    double acc = 0.0;
    for (std::int64_t i = 0; i < r; ++i) {
        const double* weights = c.kernel->RowData(unsigned(i));
        if (c.rows[i] == nullptr) continue;
        for (std::int64_t j = 0; j < k; ++j)
            if (x + j - hk >= 0 && x + j - hk < width) acc += weights[j] * c.rows[i][x + j];
    }
    return acc;
}

// Sums of M x L neighbouring columns from x0 on, in M vectors of L doubles: the sums stay in
// registers through all taps, each taking its terms in kernel order (the vectors run across
// columns, never across taps).
template <int L>
using Doubles [[gnu::vector_size(L * sizeof(double)), gnu::aligned(sizeof(double))]] = double;

template <int L, int M>
[[gnu::always_inline]] inline void SumBlock(const ConvolutionRow& c, std::int64_t x0, double* out) {
    using V = Doubles<L>;
    const std::int64_t r = c.kernel->Rows(), k = c.kernel->Columns();
    V acc[M] = {};
    for (std::int64_t i = 0; i < r; ++i) {
        const double* weights = c.kernel->RowData(unsigned(i));
        if (c.rows[i] == nullptr) {
            if (!c.mean) continue;
            for (std::int64_t j = 0; j < k; ++j) {
                const double term = weights[j] * c.outside;
                for (int m = 0; m < M; ++m) acc[m] += term;
            }
            continue;
        }
        const double* in = c.rows[i] + x0;
        for (std::int64_t j = 0; j < k; ++j) {
            const double w = weights[j];
            for (int m = 0; m < M; ++m) acc[m] += w * *reinterpret_cast<const V*>(in + j + m * L);
        }
    }
    for (int m = 0; m < M; ++m) *reinterpret_cast<V*>(out + m * L) = acc[m];
}

// The sums of the whole blocks below `width` into out; answers where they end.
template <int L, int M>
[[gnu::always_inline]] inline std::int64_t SumBlocks(const ConvolutionRow& c, std::int64_t width,
                                                     double* out) {
    std::int64_t x = 0;
    for (; x + L * M <= width; x += L * M) SumBlock<L, M>(c, x, out + x);
    return x;
}

std::int64_t SumBlocksBaseline(const ConvolutionRow& c, std::int64_t width, double* out) {
    return SumBlocks<2, 8>(c, width, out);
}

#if QUORIN_HAVE_AVX2_PATH
QUORIN_TARGET_AVX2 std::int64_t SumBlocksAvx2(const ConvolutionRow& c, std::int64_t width,
                                              double* out) {
    const std::int64_t x = SumBlocks<4, 8>(c, width, out);
    // Leave the upper register halves clean: baseline code run after dirty halves is several
    // times slower.
    _mm256_zeroupper();
    return x;
}
#endif

// The sums of one output row's `width` columns into out.
void SumRow(const ConvolutionRow& c, std::int64_t width, bool exactPadding, double* out) {
    if (!exactPadding) {
        for (std::int64_t x = 0; x < width; ++x) out[x] = SumAtSkipping(c, x, width);
        return;
    }
#if QUORIN_HAVE_AVX2_PATH
    std::int64_t x =
        cpu::UseAvx2() ? SumBlocksAvx2(c, width, out) : SumBlocksBaseline(c, width, out);
#else
    std::int64_t x = SumBlocksBaseline(c, width, out);
#endif
    for (; x < width; ++x) out[x] = SumAt(c, x);
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
    const double* weights = kernel.Data();
    const bool exactPadding =
        mean || std::all_of(weights, weights + r * k, [](double w) { return std::isfinite(w); });

    // Source rows are turned into padded rows of doubles once, into a ring of as many rows as a
    // window holds.
    const double outside = mean ? MeanOf(source) : 0.0;
    const std::int64_t ringRows = std::min(r, H), stride = W + k - 1;
    const std::unique_ptr<double[]> sums(new (std::nothrow) double[std::size_t(W)]);
    const std::unique_ptr<double[]> ring(
        new (std::nothrow) double[std::size_t(ringRows) * std::size_t(stride)]);
    const std::unique_ptr<const double*[]> rows(new (std::nothrow) const double*[std::size_t(r)]);
    if (!sums || !ring || !rows) return false;
    std::fill(ring.get(), ring.get() + ringRows * stride, outside);
    const ConvolutionRow c{&kernel, rows.get(), mean, outside};
    std::int64_t converted = 0;  // rows below this one are (or were) in the ring
    for (std::int64_t y = 0; y < H; ++y) {
        for (const std::int64_t end = std::min(y - hr + r, H); converted < end; ++converted) {
            const P* in = source.RowData(unsigned(converted));
            double* row = ring.get() + (converted % ringRows) * stride + hk;
            for (std::int64_t x = 0; x < W; ++x) row[x] = double(in[x]);
        }
        for (std::int64_t i = 0; i < r; ++i) {
            const std::int64_t sy = y - hr + i;
            rows[std::size_t(i)] =
                sy < 0 || sy >= H ? nullptr : ring.get() + (sy % ringRows) * stride;
        }
        SumRow(c, W, exactPadding, sums.get());
        P* out = target.RowData(unsigned(y));
        for (std::int64_t x = 0; x < W; ++x) out[x] = Truncated<P>(sums[std::size_t(x)]);
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
