#include "pixel/pano/pano.h"

#include <quorin/histogram.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "pixel/filters/filters8.h"
#include "pixel/image/greyops.h"
#include "records/core/rounding.h"

namespace {

// The deepest image whose levels a table can cover (the histograms' limit as well).
constexpr std::uint64_t kMaxTableEntries = std::uint64_t{1} << quorin::kMaxHistogramBits;

// The image's pixels convolved with the Gaussian (size, sigma); null when the kernel or the
// result cannot be made.
template <class P>
CTMatrix<P>* GaussConvolved(const CTMatrix<P>& pixels, std::int32_t size, double sigma,
                            quorin::ConvolutionBorder border) {
    const CTGaussFilter<double> kernel(size, sigma);
    if (kernel.IsEmpty()) return nullptr;
    std::unique_ptr<CTMatrix<P>> result(new (std::nothrow)
                                            CTMatrix<P>(pixels.Rows(), pixels.Columns()));
    if (!result || result->IsEmpty() ||
        !quorin::ConvolvePixels(pixels, kernel, std::int32_t(border), *result))
        return nullptr;
    return result.release();
}

}  // namespace

namespace quorin {
int PanoDeviceLogo(std::int32_t deviceCode) {
    switch (deviceCode) {
        case 14:
            return 8002;
        case 19:
        case 21:
        case 23:
            return 0;
        default:
            return 8004;
    }
}
}  // namespace quorin

// ------------------------------------------------------------------ CTImgPano

template <class P>
CTImgPano<P>::CTImgPano(std::uint32_t height, std::uint32_t width) : Base(height, width) {}

template <class P>
CTImgPano<P>::CTImgPano(std::uint32_t height, std::uint32_t width, std::uint32_t bits)
    : Base(height, width) {
    if (bits >= 1 && bits <= quorin::DefaultBits<P>()) this->SetBits(bits);
}

template <class P>
CTImgPano<P>::CTImgPano(SImage* image) : Base(image) {}

template <class P>
CTImgPano<P>::~CTImgPano() = default;

template <class P>
bool CTImgPano<P>::SetLut(std::unique_ptr<Lut>& slot, Lut* table) {
    slot.reset(table);
    if (slot && slot->IsEmpty()) slot.reset();
    return slot != nullptr;
}

template <class P>
bool CTImgPano<P>::RenderWithLut(DisplayImage& target, std::int32_t mode) {
    if (target.Height() != this->Height() || target.Width() != this->Width()) return false;
    const Lut* table = mode == kPanoWindowLut  ? m_windowLut.get()
                       : mode == kPanoCurveLut ? m_curveLut.get()
                       : mode == kPanoGammaLut ? m_gammaLut.get()
                                               : nullptr;
    return table != nullptr && this->ApplyLut(target, *table);
}

template <class P>
bool CTImgPano<P>::BuildCurveLut(const CTVector<double>* parameters, std::uint32_t levels) {
    m_curveLut.reset();
    const std::uint64_t n = this->LevelCount();
    if (parameters == nullptr || parameters->Size() < 3 || levels < 1 || levels > 256 || n < 2 ||
        n > kMaxTableEntries)
        return false;
    const double* p = parameters->Data();
    return SetLut(m_curveLut, new (std::nothrow) Lut(unsigned(n), levels, p[0], p[1], p[2]));
}

template <class P>
bool CTImgPano<P>::BuildGammaLut(const CTVector<double>* parameters, std::uint32_t levels,
                                 double factor) {
    m_gammaLut.reset();
    const std::uint64_t n = this->LevelCount();
    if (parameters == nullptr || parameters->Size() < 2 || levels < 1 || levels > 256 || n < 2 ||
        n > kMaxTableEntries)
        return false;
    const double exponent = parameters->Data()[1] * factor;
    return SetLut(m_gammaLut, new (std::nothrow) Lut(unsigned(n), levels, 0.0, exponent, 0.0));
}

template <class P>
bool CTImgPano<P>::BuildWindowLut(std::uint32_t levels) {
    m_windowLut.reset();
    const std::uint64_t n = this->LevelCount();
    if (levels < 1 || levels > 256 || n < 2 || n > kMaxTableEntries) return false;
    return SetLut(m_windowLut,
                  new (std::nothrow) Lut(unsigned(n), levels, unsigned(this->WindowLow()),
                                         unsigned(this->WindowHigh())));
}

template <class P>
bool CTImgPano<P>::ApplyPyramid(CTImgPano& /*target*/, std::int32_t /*mode*/) {
    return true;
}

template <class P>
void CTImgPano<P>::PercentileWindow(const win::RECT* region, std::uint32_t divisor) {
    if (!this->HasPixels() || this->Bits() > unsigned(quorin::kMaxHistogramBits)) return;
    CTHistogram<P> histogram(region, int(this->Bits()));
    if (!histogram.Calculate(this->Pixels())) return;
    const unsigned int* bins = histogram.BinData();
    const std::uint64_t n = histogram.BinCount();
    // None for divisor 0.
    const auto threshold =
        std::uint64_t(std::max(0, quorin::MulDiv(this->Width(), this->Height(), divisor)));
    P low = this->WindowLow();
    P high = this->WindowHigh();
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
        if ((sum += bins[i]) > threshold) {
            low = static_cast<P>(i);
            break;
        }
    }
    sum = 0;
    for (std::uint64_t i = n - 1; i >= 1; --i) {
        if ((sum += bins[i]) > threshold) {
            high = static_cast<P>(i);
            break;
        }
    }
    this->SetWindow(low, high);  // an inverted window gets range 0
}

template <class P>
typename CTImgPano<P>::Base* CTImgPano<P>::Convolved(const CTFilter& kernel,
                                                     std::int32_t border) const {
    if (!this->HasPixels()) return nullptr;
    std::unique_ptr<Base> result(this->NewLike(this->Height(), this->Width()));
    if (!result || !quorin::ConvolvePixels(*this->Pixels(), kernel, border, *result->Pixels()))
        return nullptr;
    return result.release();
}

template <class P>
bool CTImgPano<P>::ConvolveInPlace(const CTFilter* kernel) {
    if (kernel == nullptr) return false;
    std::unique_ptr<Base> result(Convolved(*kernel, std::int32_t(quorin::ConvolutionBorder::Skip)));
    return result && result->CopyPixelsTo(*this);
}

template <class P>
bool CTImgPano<P>::GaussEnhance(std::int32_t size1, double sigma1, std::int32_t size2,
                                double sigma2, double scale) {
    if (scale == 0.0 || (size2 == 0 && sigma2 == 0.0) || !this->HasPixels()) return false;
    const Matrix& pixels = *this->Pixels();
    using quorin::ConvolutionBorder;
    const std::uint32_t height = pixels.Rows(), width = pixels.Columns();

    // The fine image comes row by row as the result is written (unless both of its arguments
    // are 0: the pixels themselves), so it is never held whole.
    const bool plain = size1 == 0 && sigma1 == 0.0;
    std::optional<CTGaussFilter<double>> fineKernel;
    quorin::ConvolutionRows<P> fine;
    std::unique_ptr<P[]> fineRow;
    if (!plain) {
        fineKernel.emplace(size1, sigma1);
        fineRow.reset(new (std::nothrow) P[width]);
        if (fineKernel->IsEmpty() || !fineRow ||
            !fine.Start(pixels, *fineKernel, std::int32_t(ConvolutionBorder::Skip)))
            return false;
    }

    // The coarse Gaussian may run on a zoomed copy (a wide kernel on fewer pixels), with outside
    // taps reading the mean; it is then zoomed back to exactly the image's size.
    std::unique_ptr<Matrix> coarse;
    if (scale == 1.0) {
        coarse.reset(GaussConvolved(pixels, size2, sigma2, ConvolutionBorder::Skip));
    } else {
        const std::unique_ptr<Matrix> zoomed(quorin::ZoomedPixels(pixels, scale));
        if (!zoomed) return false;
        const std::unique_ptr<Matrix> blurred(
            GaussConvolved(*zoomed, size2, sigma2, ConvolutionBorder::Mean));
        if (!blurred) return false;
        coarse.reset(quorin::ResizedPixels(*blurred, height, width));
    }
    if (!coarse) return false;

    // detail = floor((fine - coarse + top) x 0.5 + 0.5) and result = floor((detail + pixel) x 0.5
    // + 0.5). Every term is a whole number below 2^34, exact in double, so each step is the
    // floor of (n + 1) / 2 of a whole n: the same values in 64-bit integers, with an arithmetic
    // shift for the floor. A pixel only feeds its own result and the fine rows still to come
    // read rows already held, so the image is written in place.
    const std::int64_t top = this->TopLevel();
    constexpr std::int64_t kMax = std::numeric_limits<P>::max();
    for (std::uint32_t y = 0; y < height; ++y) {
        P* out = pixels.RowData(y);
        const P* c = coarse->RowData(y);
        const P* f = out;
        if (!plain) {
            fine.Next(fineRow.get());
            f = fineRow.get();
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::int64_t detail = (std::int64_t(f[x]) - std::int64_t(c[x]) + top + 1) >> 1;
            const std::int64_t value = (detail + std::int64_t(out[x]) + 1) >> 1;
            out[x] = static_cast<P>(std::clamp<std::int64_t>(value, 0, kMax));
        }
    }
    this->PixelsChanged();
    this->ComputeMinMax();
    return true;
}

template <class P>
bool CTImgPano<P>::ReliefInPlace() {
    if (!this->HasPixels()) return false;
    Base copy(static_cast<const Base&>(*this));
    if (!copy.HasPixels() || !this->Relief(copy) || !copy.CopyPixelsTo(*this)) return false;
    this->SetWindow(0, this->TopLevel());
    return true;
}

template class CTImgPano<unsigned char>;
template class CTImgPano<unsigned short>;
template class CTImgPano<unsigned int>;

// ------------------------------------------------------------------ interface slots

template <class P>
bool CTImgPanoGrey<P>::Stamp(int id, bool erase, std::optional<std::int32_t> x,
                             std::optional<std::int32_t> y) {
    return this->StampBitmap(id != 0 ? quorin::LoadLogoBitmap(id) : nullptr, erase, x, y);
}

template <class P>
bool CTImgPanoGrey<P>::AddLogo() {
    if constexpr (sizeof(P) > 2) {
        return false;
    } else {
        // All three stamps are made whatever the first answers.
        const bool logo = Stamp(quorin::PanoDeviceLogo(this->GetDeviceCode()), true);
        const bool left = Stamp(8006, false, -150, 225);
        const bool right = Stamp(8005, false, 150, 225);
        return logo && left && right;
    }
}

template <class P>
bool CTImgPanoGrey<P>::FillCorners(std::uint32_t /*value*/) {
    return sizeof(P) <= 2;
}

template <class P>
template <class Filter>
bool CTImgPanoGrey<P>::FilterPixels(Filter filter) {
    if (!this->HasPixels()) return false;
    // Into a copy, taken back only when the filter has finished: a failure leaves the image alone.
    CTMatrix<P> result(*this->Pixels());
    if (result.IsEmpty() ||
        !filter(this->Pixels()->Data(), result.Data(), this->Width(), this->Height()))
        return false;
    std::memcpy(this->Pixels()->Data(), result.Data(),
                std::size_t(this->Width()) * this->Height() * sizeof(P));
    this->PixelsChanged();
    return true;
}

template <class P>
bool CTImgPanoGrey<P>::MultiFilter(std::int32_t strength) {
    if constexpr (sizeof(P) != 1) {
        (void)strength;
        return false;
    } else {
        return FilterPixels([strength](const std::uint8_t* in, std::uint8_t* out,
                                       std::uint32_t width, std::uint32_t height) {
            return ::MultiFilter(in, out, width, height, strength);
        });
    }
}

template <class P>
bool CTImgPanoGrey<P>::Relief() {
    if constexpr (sizeof(P) != 1)
        return this->ReliefInPlace();
    else
        return FilterPixels(Relief8);
}

template class CTImgPanoGrey<unsigned char>;
template class CTImgPanoGrey<unsigned short>;
template class CTImgPanoGrey<unsigned int>;

// ------------------------------------------------------------------ CusPano

CusPano::CusPano(SImage* image, std::int32_t deviceCode) : CTImgPanoGrey(image) {
    SetDeviceCode(deviceCode);
    ComputeMinMax();
}

CusPano::CusPano(const CusPano& other) : CTImgPanoGrey(other) {
    SetDeviceCode(other.GetDeviceCode());
    ComputeMinMax();
}
