// Cephalometric images: the typed part CTImgCeph (the grey image template with a trimmed window,
// the processing parameters and the source maps of the geometric correction), the 16-bit image
// CusCeph (processing LUT from a registry window, the correction step that divides the
// attenuation by a radial polynomial and resamples through a radial distortion polynomial, the
// combined enhancement and the measurement of the image scale from the reference strip), the
// 32-bit image CunCeph, and the factory that picks the class from the depth and the hardware.
#pragma once
#include <quorin/matrix.h>
#include <quorin/simage.h>

#include <cstdint>
#include <memory>

#include "pixel/core/lut.h"
#include "pixel/image/greyimage.h"
#include "pixel/image/img.h"
#include "platform/system/gdibitmap.h"

// The cephalometric interface: the grey interface whose LUT information starts as (239, 256).
class CImgCeph : public CImgNB {
  public:
    CImgCeph() = default;
    CImgCeph(const CImgCeph& other) = default;
    CInfosLUTGray* CreateLUTInfo() override;
};

template <class P, class L, class C = unsigned int>
class CTImgCeph : public CTImgNB<P, L, C> {
  public:
    using Base = CTImgNB<P, L, C>;

    CTImgCeph(std::uint32_t height, std::uint32_t width) : Base(height, width) {}
    explicit CTImgCeph(SImage* image) : Base(image) {}
    // Pixels, window and mode are copied; the copy has neither source maps nor processing LUT.
    CTImgCeph(const CTImgCeph& other) : Base(other) {}
    CTImgCeph& operator=(const CTImgCeph&) = delete;
    ~CTImgCeph() override;

    // Template slot 1: the plain minimum and maximum, then a hundredth of the pixels cut at the
    // low end and a two-thousandth at the high end (through a histogram at the image's depth;
    // depths beyond the deepest histogram keep the plain values).
    void ComputeMinMax() override;
    // Template slot 2: (mode, range ratio, low ratio), the mode chosen once from the window and
    // remembered.
    void GetExposureState(int* mode, float* rangeRatio, float* lowRatio) override;

    // The source-column and source-row maps of the last geometric correction written into this
    // image; null until then.
    const CTMatrix<double>* SourceColumns() const { return m_sourceColumns.get(); }
    const CTMatrix<double>* SourceRows() const { return m_sourceRows.get(); }

  protected:
    std::unique_ptr<CTMatrix<double>> m_sourceColumns;
    std::unique_ptr<CTMatrix<double>> m_sourceRows;
};

extern template class CTImgCeph<unsigned short, unsigned short, unsigned int>;
extern template class CTImgCeph<unsigned int, unsigned int, unsigned int>;

using CusCephBase = CTImgGrey<CTImgCeph<unsigned short, unsigned short, unsigned int>, CImgCeph>;

class CusCeph : public CusCephBase {
  public:
    explicit CusCeph(SImage* image) : CusCephBase(image) {}
    CusCeph(std::uint32_t height, std::uint32_t width) : CusCephBase(height, width) {}
    CusCeph(const CusCeph&) = delete;
    ~CusCeph() override;

    bool AddLogo() override;  // bitmap 8003
    // Template slot 2: mode 0, both ratios 0.
    void GetExposureState(int* mode, float* rangeRatio, float* lowRatio) override;

    // Template slot 5: with `apply`, every pixel through the processing LUT into `destination`
    // (null: the image itself), whose window is then recomputed when `recompute` is 1; without,
    // the pixels are copied into a destination given. False without a processing LUT or for a
    // destination of another size.
    virtual bool ApplyProcessingLut(CusCeph* destination, bool apply, int recompute);
    // Template slot 6: the rim-clipped image, corrected for intensity (k[0..3], the cubic of the
    // distance to (cx, cy)) and geometry (g[0..valid-1] of the scaled distance, only when the two
    // scale values are equal), into `output` (same size). Neutral or all-zero sets skip their
    // step. False when a step fails; the others still run and the output is still written.
    virtual bool Correct(CusCeph* output, const double* intensity, int intensityCount, double cx,
                         double cy, const double* geometric, int geometricValid, double scale1,
                         double scale2, std::uint32_t unused, bool recompute);
    // Template slot 7: mode 0 copies into another destination; any other mode writes the combined
    // background-and-detail enhancement into the destination (null: the image itself).
    virtual bool Enhance(CusCeph* destination, int mode, int option);
    // Template slot 8: the processing LUT builder (table of n entries, window low..high).
    virtual void BuildProcessingLut(std::uint16_t* table, std::int64_t n, std::int64_t low,
                                    std::int64_t high, int curveFlag);

    // The processing LUT from the registry window (QUORIN\QV\Ceph, LowVal and HighVal) over the
    // histogram of the image less 100 pixels a side (whole image unless useInset is 1), black
    // ignored. False when no histogram or table can be had.
    bool AutoWindowFromRegistry(int useInset);
    // referenceLength / the spacing in pixels of the marks of the scale strip, searched on side 0
    // (first two thirds of the columns) or 1 (last two thirds), swapped when mirrored; -1.0 when
    // the strip or its marks are not found.
    double MeasureScale(double referenceLength, int side, bool mirrored) const;

    const CTLut<unsigned short>* ProcessingLut() const { return m_processingLut.get(); }

  protected:
    // Copies the pixels into `other` (same size), which recomputes its window; true for itself.
    bool CopyInto(CusCeph* other) const;
    // The pixels of `image` were written from outside its own operations.
    static void MarkChanged(CusCeph& image) { image.PixelsChanged(); }
    bool SameSize(const CusCeph& other) const {
        return other.Height() == Height() && other.Width() == Width();
    }

    std::unique_ptr<CTLut<unsigned short>> m_processingLut;

  private:
    bool CorrectIntensity(CTMatrix<unsigned short>& image, const CTMatrix<double>& distance,
                          const double* k) const;
    bool CorrectGeometry(const CTMatrix<unsigned short>& source, CusCeph& output,
                         const CTMatrix<double>& distance, double cx, double cy,
                         const double* g) const;
};

class CunCeph : public CTImgGrey<CTImgCeph<unsigned int, unsigned int, unsigned int>, CImgCeph> {
  public:
    using Grey = CTImgGrey<CTImgCeph<unsigned int, unsigned int, unsigned int>, CImgCeph>;
    explicit CunCeph(SImage* image) : Grey(image) {}
    CunCeph(std::uint32_t height, std::uint32_t width) : Grey(height, width) {}
    CunCeph(const CunCeph& other) : Grey(other) {}
    bool AddLogo() override;  // bitmap 8003 (32-bit pixels stamp nothing)
};

// The image of a raw cephalometric record: null for 8 bits; 32 bits a CunCeph; otherwise, by
// hardware id, 3 a CusCephVelmoLens (at most 12 bits when it has pixels, else the notice
// "Hardware ID incorrect"), 4 to 6 a CusCephVelmoLensV3, any other a CusCeph; a record without
// pixels gives an empty image of its size. The image takes over the pixel block (the record's
// pixel address is cleared); on failure (null) the record keeps it.
CImg* CreateCephImage(SImage* image, std::uint32_t hardwareId, std::uint16_t deviceCode);

// Bitmap resource 8009 with no module handle: null.
win::HBITMAP LoadDeviceMaskBitmap();

namespace quorin {

// Cut levels of a histogram of n bins: low = the first level, counting up, at which the running
// count exceeds lowFraction x total; high = the first level, counting down, at which the running
// count exceeds highFraction x total. 0 and n - 1 when the histogram is empty.
template <class B>
void HistogramCutLevels(const B* bins, std::uint64_t n, double lowFraction, double highFraction,
                        std::uint64_t* low, std::uint64_t* high);

// The scale strip of a 16-bit image: its left and right image columns in the band of rows
// 100 .. height/2 - 1 on side 0 (first two thirds of the columns) or 1 (last two thirds).
bool FindScaleStrip(const CTMatrix<unsigned short>& pixels, bool lastTwoThirds, std::uint32_t* left,
                    std::uint32_t* right);
// The spacing in pixels of the scale marks between columns left..right-1; -1.0 when not found.
double ScaleMarkSpacing(const CTMatrix<unsigned short>& pixels, std::uint32_t left,
                        std::uint32_t right);
// The spacing from k mark centres (rows, ascending): windows of four marks, else three; -1.0
// when the marks are too few, too irregular or too far apart or close.
double SpacingFromMarkCentres(const std::uint32_t* centres, int k);

}  // namespace quorin
