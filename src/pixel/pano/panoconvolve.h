// The convolution of the panoramic images and its Gaussian kernel: a kernel of doubles laid over
// a pixel matrix, accumulated in double and truncated to the pixel type, with the two border
// rules of the panoramic enhancement, and the normalised n x n Gaussian it is mostly used with.
#pragma once
#include <quorin/matrix.h>

#include <cstdint>
#include <memory>

// A convolution kernel: rows x columns weights.
using CTFilter = CTMatrix<double>;

// The n x n Gaussian of deviation sigma, divided by its sum. Odd n is centred on (n-1)/2; even n
// on n/2 with the distances taken from i + 0.5, so that it is symmetric about (n-1)/2 as well.
// Empty when n is not 1..kMaxKernelSide, sigma is 0 or not finite, or the weights do not sum to
// a positive finite number (a sigma so small that every weight underflows).
template <class T>
class CTGaussFilter : public CTMatrix<T> {
  public:
    CTGaussFilter(std::int64_t n, double sigma);
};

extern template class CTGaussFilter<double>;

namespace quorin {

// The widest kernel side a convolution takes: the work grows with its square.
inline constexpr std::uint32_t kMaxKernelSide = 1023;

// What an outside tap reads: nothing (the tap is skipped, the sum is not renormalised) or the
// mean of all pixels of the source.
enum class ConvolutionBorder : std::int32_t { Skip = 0, Mean = 1 };

// target(y, x) = sum over kernel rows i and columns j of kernel(i, j) x source(y - hr + i,
// x - hk + j), summed in that order in double, clamped to the pixel type and truncated;
// hr = (rows-1)/2 for odd rows and rows/2 for even, hk = columns/2. The target must have the
// source's size and be another matrix. False for an empty kernel or source, a kernel side above
// kMaxKernelSide, a border rule other than the two, or a size mismatch.
template <class P>
bool ConvolvePixels(const CTMatrix<P>& source, const CTFilter& kernel, std::int32_t border,
                    CTMatrix<P>& target);

// The same convolution handed out one output row at a time, so that a caller can use each row
// as it comes instead of holding the whole result. Rows of the source up to the last one handed
// out may be overwritten: the rows still to be read are already held.
template <class P>
class ConvolutionRows {
  public:
    // False for an empty kernel or source, a kernel side above kMaxKernelSide, a border rule
    // other than the two, or no memory. The source and the kernel must outlive the rows.
    bool Start(const CTMatrix<P>& source, const CTFilter& kernel, std::int32_t border);
    // The next output row, truncated into `out` (the source's width); false after the last.
    bool Next(P* out);

  private:
    const CTMatrix<P>* m_source = nullptr;
    const CTFilter* m_kernel = nullptr;
    bool m_mean = false;
    bool m_exactPadding = false;
    double m_outside = 0.0;
    std::int64_t m_ringRows = 0;
    std::int64_t m_stride = 0;
    std::int64_t m_converted = 0;  // source rows below this one are (or were) in the ring
    std::int64_t m_y = 0;          // the next output row
    std::unique_ptr<double[]> m_sums;
    std::unique_ptr<double[]> m_ring;
    std::unique_ptr<const double*[]> m_rows;
};

extern template class ConvolutionRows<unsigned char>;
extern template class ConvolutionRows<unsigned short>;
extern template class ConvolutionRows<unsigned int>;

}  // namespace quorin
