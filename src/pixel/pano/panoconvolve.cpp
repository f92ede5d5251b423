#include "pixel/pano/panoconvolve.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/system/paths.h"

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
// its largest value (written without branches, so that a row of them vectorises).
template <class P>
P Truncated(double value) {
    constexpr double top = double(std::numeric_limits<P>::max());
    const double low = value > 0 ? value : 0.0;
    return static_cast<P>(low < top ? low : top);
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
[[gnu::always_inline]] inline double SumAt(const ConvolutionRow& c, std::int64_t x) {
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
using Doubles [[gnu::vector_size(L * sizeof(double))]] = double;

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
            for (int m = 0; m < M; ++m) {
                V v;  // rows are aligned only as doubles are
                std::memcpy(&v, in + j + m * L, sizeof v);
                acc[m] += w * v;
            }
        }
    }
    std::memcpy(out, acc, sizeof acc);
}

// The sums of one output row's `width` columns into out: blocks of M vectors, then single
// vectors, then column by column.
template <int L, int M>
[[gnu::always_inline]] inline void SumRow(const ConvolutionRow& c, std::int64_t width,
                                          double* out) {
    std::int64_t x = 0;
    for (; x + L * M <= width; x += L * M) SumBlock<L, M>(c, x, out + x);
    for (; x + L <= width; x += L) SumBlock<L, 1>(c, x, out + x);
    for (; x < width; ++x) out[x] = SumAt(c, x);
}

// One source row into doubles / one row of sums into pixels.
template <class P>
[[gnu::always_inline]] inline void Widen(const P* in, std::int64_t width, double* out) {
    for (std::int64_t x = 0; x < width; ++x) out[x] = double(in[x]);
}
template <class P>
[[gnu::always_inline]] inline void Narrow(const double* in, std::int64_t width, P* out) {
    for (std::int64_t x = 0; x < width; ++x) out[x] = Truncated<P>(in[x]);
}

// The row kernels, built for the baseline, AVX2 and AVX-512; each pixel's terms are added in the
// same order in all.
template <class P>
struct RowKernels {
    void (*sumRow)(const ConvolutionRow&, std::int64_t, double*);
    void (*widen)(const P*, std::int64_t, double*);
    void (*narrow)(const double*, std::int64_t, P*);
};

template <class P>
RowKernels<P> ChooseKernels() {
    return {cpu::Paths<SumRow<2, 8>, SumRow<4, 8>, SumRow<8, 8>>::Choose(),
            cpu::Paths<Widen<P>>::Choose(), cpu::Paths<Narrow<P>>::Choose()};
}

}  // namespace

template <class P>
bool ConvolutionRows<P>::Start(const CTMatrix<P>& source, const CTFilter& kernel,
                               std::int32_t border) {
    if (source.IsEmpty() || kernel.IsEmpty() || kernel.Rows() > kMaxKernelSide ||
        kernel.Columns() > kMaxKernelSide)
        return false;
    if (border != std::int32_t(ConvolutionBorder::Skip) &&
        border != std::int32_t(ConvolutionBorder::Mean))
        return false;
    m_source = &source;
    m_kernel = &kernel;
    m_mean = border == std::int32_t(ConvolutionBorder::Mean);
    const std::int64_t H = source.Rows(), W = source.Columns();
    const std::int64_t r = kernel.Rows(), k = kernel.Columns();
    const double* weights = kernel.Data();
    m_exactPadding =
        m_mean || std::all_of(weights, weights + r * k, [](double w) { return std::isfinite(w); });

    // Source rows are turned into padded rows of doubles once, into a ring of as many rows as a
    // window holds.
    m_outside = m_mean ? MeanOf(source) : 0.0;
    m_ringRows = std::min(r, H);
    m_stride = W + k - 1;
    m_sums.reset(new (std::nothrow) double[std::size_t(W)]);
    m_ring.reset(new (std::nothrow) double[std::size_t(m_ringRows) * std::size_t(m_stride)]);
    m_rows.reset(new (std::nothrow) const double*[std::size_t(r)]);
    if (!m_sums || !m_ring || !m_rows) return false;
    std::fill(m_ring.get(), m_ring.get() + m_ringRows * m_stride, m_outside);
    m_converted = 0;
    m_y = 0;
    return true;
}

template <class P>
bool ConvolutionRows<P>::Next(P* out) {
    if (m_source == nullptr || m_y >= std::int64_t(m_source->Rows())) return false;
    const std::int64_t H = m_source->Rows(), W = m_source->Columns();
    const std::int64_t r = m_kernel->Rows(), hr = r / 2;  // (r-1)/2 and r/2 agree for odd r
    const std::int64_t hk = m_kernel->Columns() / 2;
    const RowKernels<P> kernels = ChooseKernels<P>();
    for (const std::int64_t end = std::min(m_y - hr + r, H); m_converted < end; ++m_converted)
        kernels.widen(m_source->RowData(unsigned(m_converted)), W,
                      m_ring.get() + (m_converted % m_ringRows) * m_stride + hk);
    for (std::int64_t i = 0; i < r; ++i) {
        const std::int64_t sy = m_y - hr + i;
        m_rows[std::size_t(i)] =
            sy < 0 || sy >= H ? nullptr : m_ring.get() + (sy % m_ringRows) * m_stride;
    }
    const ConvolutionRow c{m_kernel, m_rows.get(), m_mean, m_outside};
    if (m_exactPadding) {
        kernels.sumRow(c, W, m_sums.get());
    } else {
        for (std::int64_t x = 0; x < W; ++x) m_sums[std::size_t(x)] = SumAtSkipping(c, x, W);
    }
    kernels.narrow(m_sums.get(), W, out);
    ++m_y;
    return true;
}

template class ConvolutionRows<unsigned char>;
template class ConvolutionRows<unsigned short>;
template class ConvolutionRows<unsigned int>;

template <class P>
bool ConvolvePixels(const CTMatrix<P>& source, const CTFilter& kernel, std::int32_t border,
                    CTMatrix<P>& target) {
    if (&source == &target || target.Rows() != source.Rows() ||
        target.Columns() != source.Columns())
        return false;
    ConvolutionRows<P> rows;
    if (!rows.Start(source, kernel, border)) return false;
    for (unsigned y = 0; y < source.Rows(); ++y) rows.Next(target.RowData(y));
    return true;
}

template bool ConvolvePixels<unsigned char>(const CTMatrix<unsigned char>&, const CTFilter&,
                                            std::int32_t, CTMatrix<unsigned char>&);
template bool ConvolvePixels<unsigned short>(const CTMatrix<unsigned short>&, const CTFilter&,
                                             std::int32_t, CTMatrix<unsigned short>&);
template bool ConvolvePixels<unsigned int>(const CTMatrix<unsigned int>&, const CTFilter&,
                                           std::int32_t, CTMatrix<unsigned int>&);

}  // namespace quorin
