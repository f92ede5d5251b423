// Panoramic images: the typed part CTImgPano (the grey image template with three display tables,
// the percentile window, the convolution and the two-Gaussian detail enhancement) and the three
// concrete images CucPano, CusPano and CunPano (8-, 16- and 32-bit pixels) that join it with the
// panoramic interface CImgPano. CusPano is the base of the registry-driven panoramic images
// (panoplus.h) and of the computed-radiography panoramic image.
#pragma once
#include <quorin/simage.h>

#include <cstdint>
#include <memory>

#include "pixel/core/lut.h"
#include "pixel/image/greyimage.h"
#include "pixel/image/img.h"
#include "pixel/pano/panoconvolve.h"

// Display modes of the panoramic tables.
enum EPanoLutMode : std::int32_t { kPanoWindowLut = 0, kPanoCurveLut = 1, kPanoGammaLut = 2 };

template <class P>
class CTImgPano : public CTImgNB<P, unsigned char, unsigned int> {
  public:
    using Base = CTImgNB<P, unsigned char, unsigned int>;
    using Matrix = typename Base::Matrix;
    using DisplayImage = typename Base::DisplayImage;
    using Lut = CTLut<unsigned char>;

    // A zeroed image, with the pixel type's depth or `bits` (1 up to the pixel type's depth).
    CTImgPano(std::uint32_t height, std::uint32_t width);
    CTImgPano(std::uint32_t height, std::uint32_t width, std::uint32_t bits);
    explicit CTImgPano(SImage* image);
    // Pixels and window are copied; the copy starts without tables.
    CTImgPano(const CTImgPano& other) : Base(other) {}
    CTImgPano& operator=(const CTImgPano&) = delete;
    ~CTImgPano() override;

    // Template slot 4: target = table[pixel] through the table of the mode (0 window, 1 curve,
    // 2 gamma). False for a target of another size, another mode or a table not built.
    virtual bool RenderWithLut(DisplayImage& target, std::int32_t mode);
    // Template slot 5: the mixed-power curve over the image's levels with `levels` output levels
    // and (a, b, w) = parameters[0..2]. False for fewer than three parameters or levels outside
    // 1..256. Every build drops the previous table of its kind first.
    virtual bool BuildCurveLut(const CTVector<double>* parameters, std::uint32_t levels);
    // Template slot 6: the power curve x^(parameters[1] x factor).
    virtual bool BuildGammaLut(const CTVector<double>* parameters, std::uint32_t levels,
                               double factor);
    // Template slot 7: the window ramp from window low to window high.
    virtual bool BuildWindowLut(std::uint32_t levels);
    // Template slot 8: a processing hook of the computed-radiography image; true here.
    virtual bool ApplyPyramid(CTImgPano& target, std::int32_t mode);

    // A new image of the same size, depth and window holding the convolution of the pixels
    // (quorin::ConvolvePixels); null when it cannot be made.
    Base* Convolved(const CTFilter& kernel, std::int32_t border) const;
    // Interface slot 22: convolution with outside taps skipped, copied into the pixels.
    bool ConvolveInPlace(const CTFilter* kernel);
    // Interface slot 20: the image's detail against a coarse Gaussian (size2, sigma2), itself run
    // on a copy zoomed by `scale` unless scale is 1, added half and half to the pixels. A fine
    // Gaussian (size1, sigma1) comes first unless both are 0. False, the pixels unchanged, for a
    // scale of 0, size2 and sigma2 both 0, or a kernel or image that cannot be made.
    bool GaussEnhance(std::int32_t size1, double sigma1, std::int32_t size2, double sigma2,
                      double scale);
    // The relief of the template into a copy, copied back; the window becomes 0..top level.
    bool ReliefInPlace();

    const Lut* WindowLut() const { return m_windowLut.get(); }
    const Lut* CurveLut() const { return m_curveLut.get(); }
    const Lut* GammaLut() const { return m_gammaLut.get(); }

  protected:
    // Window low and high at the levels where the histogram of the region (null: the whole
    // image), summed from either end, first holds more than MulDiv(width, height, divisor)
    // pixels; the high search stops above level 0. A side without such a level keeps its value.
    void PercentileWindow(const win::RECT* region, std::uint32_t divisor);
    // Drops the table of `slot` and builds a new one; false when it cannot be made.
    bool SetLut(std::unique_ptr<Lut>& slot, Lut* table);

  private:
    std::unique_ptr<Lut> m_windowLut;  // mode 0
    std::unique_ptr<Lut> m_curveLut;   // mode 1
    std::unique_ptr<Lut> m_gammaLut;   // mode 2
};

extern template class CTImgPano<unsigned char>;
extern template class CTImgPano<unsigned short>;
extern template class CTImgPano<unsigned int>;

// The interface slots the panoramic images share, with the differences of the pixel widths
// decided here once: logo and corners answer false for 32-bit pixels, the multi-filter and the
// 8-bit relief belong to 8-bit pixels.
template <class P>
class CTImgPanoGrey : public CTImgGrey<CTImgPano<P>, CImgPano> {
  public:
    using Grey = CTImgGrey<CTImgPano<P>, CImgPano>;
    using Grey::Grey;

    // Slot 2: the device logo (erased into the picture at the default place), then bitmaps 8006
    // and 8005 at (-150, 225) and (150, 225); true when all three were stamped.
    bool AddLogo() override;
    bool FillCorners(std::uint32_t value) override;  // slot 3: true, nothing filled
    bool GaussEnhance(std::int32_t size1, double sigma1, std::int32_t size2, double sigma2,
                      double scale) override {
        return CTImgPano<P>::GaussEnhance(size1, sigma1, size2, sigma2, scale);
    }
    bool MultiFilter(std::int32_t strength) override;  // slot 21
    bool Convolve(const CTFilter* kernel) override {   // slot 22
        return CTImgPano<P>::ConvolveInPlace(kernel);
    }
    bool Relief() override;  // slot 23

  protected:
    // Stamps bitmap `id` of the system's bitmaps (false when there is none).
    bool Stamp(int id, bool erase, std::optional<std::int32_t> x = {},
               std::optional<std::int32_t> y = {});
    // Runs an 8-bit filter (source, target, width, height) from the pixels into a copy and takes
    // the copy back when it succeeds.
    template <class Filter>
    bool FilterPixels(Filter filter);
};

extern template class CTImgPanoGrey<unsigned char>;
extern template class CTImgPanoGrey<unsigned short>;
extern template class CTImgPanoGrey<unsigned int>;

class CucPano : public CTImgPanoGrey<unsigned char> {
  public:
    explicit CucPano(SImage* image) : CTImgPanoGrey(image) {}
    CucPano(std::uint32_t height, std::uint32_t width) : CTImgPanoGrey(height, width) {}
    CucPano(const CucPano& other) = default;
    // Template slot 1: the window is always 0..255; the pixels are not scanned.
    void ComputeMinMax() override { SetWindow(0, 255); }
};

class CusPano : public CTImgPanoGrey<unsigned short> {
  public:
    // Adopts the record's pixels, keeps the device code and runs the percentile window.
    explicit CusPano(SImage* image, std::int32_t deviceCode = 17);
    CusPano(const CusPano& other);
    // Template slot 1: the percentile window, a thousandth of the pixels cut at either end.
    void ComputeMinMax() override { PercentileWindow(nullptr, 1000); }
};

class CunPano : public CTImgPanoGrey<unsigned int> {
  public:
    explicit CunPano(SImage* image) : CTImgPanoGrey(image) {}
    CunPano(const CunPano& other) = default;
};

namespace quorin {
// The logo bitmap of a panoramic device code: 8002, none (0) for codes 19, 21 and 23, else 8004.
int PanoDeviceLogo(std::int32_t deviceCode);
}  // namespace quorin
