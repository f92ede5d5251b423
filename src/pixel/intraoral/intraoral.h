// Images of the ZEL intra-oral sensors. CTImgZEL refines the grey image template with two
// processing look-up tables (mode 1 and mode 2) and the sensor's two reference levels; the
// concrete classes, one per pixel width and sensor family, choose how the display window is
// found (robust bounds without the cut corners, plain minimum and maximum, or fixed 0..255),
// how the exposure is judged, which processing curve fills the tables, and which filter and
// logo belong to the sensor. The SDK picks the class from the sensor code (1 CucZEL3, 2 CucZEL4,
// 3 CucZEL5_HS, 4 CucZEL5_HR, the 16-bit ones as kZelSensors says), with CucZEL6 as the 8-bit
// display image of the 16-bit ones. What differs between sensor models is data in
// intraoralsensors.h.
#pragma once
#include <cstdint>
#include <memory>

#include "pixel/core/lut.h"
#include "pixel/image/greyimage.h"
#include "pixel/image/img.h"
#include "pixel/intraoral/intraoralhist.h"
#include "pixel/intraoral/intraoralsensors.h"

template <class P, class L, class C = unsigned int>
class CTImgZEL : public CTImgNB<P, L, C> {
  public:
    using Base = CTImgNB<P, L, C>;
    using Lut = CTLut<L>;

    // Reference levels 0 and the top level.
    CTImgZEL(std::uint32_t height, std::uint32_t width);
    explicit CTImgZEL(SImage* image);
    CTImgZEL(const CTImgZEL& other);  // pixels, window, tables and references
    CTImgZEL& operator=(const CTImgZEL&) = delete;
    ~CTImgZEL() override;

    // Template slot 4: the exposure judged from the histogram of all columns and rows
    // 3..height-4 without the corner triangles; sets the window to the histogram's extent.
    virtual void HistogramExposureState(int* state, float* gain, float* second,
                                        const quorin::CornerPairs& pairs);
    // Template slot 5: window = the first and last levels holding more than `threshold` pixels
    // of the region without the corner triangles; low = top level, high = 0 (and false) when no
    // histogram can be made.
    virtual bool RobustWindow(const win::RECT& region, const quorin::CornerPairs& pairs,
                              unsigned int threshold);
    // Template slot 6: the table of mode 1 or 2 replaced by a zeroed one of level-count entries
    // (which the sensor classes then fill); false for another mode or when it cannot be made.
    virtual bool BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high);
    // Both tables built (slot 6) from the same levels.
    void BuildProcessingLUTs(std::int64_t low, std::int64_t high);

    // The table of mode 1 or 2; null before it is built or for another mode.
    Lut* GetProcessingLUT(int mode) const;
    P ReferenceLow() const { return m_refLow; }
    P ReferenceHigh() const { return m_refHigh; }
    void SetReferences(P low, P high) {
        m_refLow = low;
        m_refHigh = high;
    }

  protected:
    // The exposure judged from the window against the references (reset to 0 and 4095, or 0
    // and 255 for 8-bit pixels, when they equal the window).
    void SimpleExposureState(int* state, float* gain, float* second);
    // References 0 and 4095 (0 and 255 for 8-bit pixels) when they equal low and high.
    void ResetReferencesAt(std::uint64_t low, std::uint64_t high);
    // The robust window of the 16-bit sensors: region inset by 30 pixels, threshold 40.
    bool SensorRobustWindow(const quorin::CornerPairs& pairs);
    // The knee curve into the table of `mode` from the peak-and-valley search on the region
    // inset by `inset`; the high level found goes to *found. False when no histogram can be made.
    bool FillKneeLUT(int mode, double exponent, std::int32_t inset, unsigned int threshold,
                     bool useLowFound, const quorin::CornerPairs& pairs, std::uint64_t* found);
    // target = table of `mode` [pixel] (modes 1 and 2, after BuildProcessingLUT from the
    // target's window), or the window ramp over the target's levels (mode 7: identity ramp).
    bool MapInto(CTImgZEL& target, int mode);
    // The fixed-gain pyramid enhancement of a 12-bit image into a target of the same size.
    bool PyramidInto(CTImgZEL& target);
    // Relief of the grey template copied back; the window becomes 0..top level (0..255 when
    // `capAt255` and the window ended at or below 255).
    bool ReliefInPlace(bool capAt255);
    // Pixel copy through an 8-bit filter (source, target, width, height), 8-bit pixels only.
    template <class Filter>
    bool Filter8(Filter filter);

    std::unique_ptr<Lut> m_luts[2];
    P m_refLow = 0;
    P m_refHigh = 0;
};

extern template class CTImgZEL<unsigned char, unsigned char, unsigned int>;
extern template class CTImgZEL<unsigned short, unsigned char, unsigned int>;
extern template class CTImgZEL<unsigned short, unsigned short, unsigned int>;

using CTImgZELuc = CTImgZEL<unsigned char, unsigned char, unsigned int>;
using CTImgZELusc = CTImgZEL<unsigned short, unsigned char, unsigned int>;
using CTImgZELus = CTImgZEL<unsigned short, unsigned short, unsigned int>;

namespace quorin {
// The logo bitmap of a sensor code stamped at its default place; false when the code has none
// or the bitmap does not load.
template <class Image>
bool StampSensorLogo(Image& image, int bitmapId);
}  // namespace quorin

// 16-bit pixels with 16-bit processing tables: the base of the newer sensors and the CR
// intra-oral images. Window = minimum..maximum; tables allocated empty.
class CusZELus : public CTImgGrey<CTImgZELus, CImgZEL> {
  public:
    CusZELus(SImage* image, unsigned short refLow, unsigned short refHigh);
    CusZELus(const CusZELus& other, unsigned short refLow, unsigned short refHigh);

    // Judged from the histogram for a model whose row says so (kZelSensors), from the window for
    // every other code.
    void GetExposureState(int* state, float* gain, float* second) override;
    bool Relief() override;
    // Template slot 7: nothing to enhance here.
    virtual bool ProcessInto(CTImgZELus& target);
    // The target (same size) recomputes its window; then mode 1 or 2: every target pixel
    // becomes the table of that mode (built from the target's window) at the source pixel;
    // another mode: the window ramp of this image (mode 7: the identity ramp) over the target's
    // levels. False for another size or a table that cannot be built.
    bool ProcessInto(CTImgZELus& target, int mode);

    std::uint32_t GetSensorType() const { return m_sensorType; }
    void SetSensorType(std::uint32_t type) { m_sensorType = type; }

  protected:
    std::uint32_t m_sensorType = 0;
};

// The 16-bit images whose window is the robust one and whose processing tables follow it
// (CusZEL7, CusZEL6 and the CR intra-oral image): window and tables are made at construction,
// once the concrete constructor has set its fields, and again whenever the corners change.
template <class Image>
class CTImgZELRobust : public Image {
  public:
    using Image::Image;

    // Template slot 1: rows and columns 30 in, threshold 40, without the cut corners.
    void ComputeMinMax() override;
    // Slot 28: the corners copied, then window and tables made again.
    bool SetCorners(const CInfosCorners* corners) override;

  protected:
    // The window recomputed, both processing tables built from it.
    void Initialise();
    // `curve` (as ZelCurveFor names it) into the table of `mode`, which BuildProcessingLUT has
    // just made afresh. The knee and the sigmoid require low <= high <= top level, the power
    // curve low < high, both at most the level count. False when the levels do not fit or the
    // curve cannot be made; the table then stays zeroed.
    bool LayCurve(quorin::ZelCurve curve, int mode, std::int64_t low, std::int64_t high);
    // The knee curve of the mode's exponent into its table, from the peak-and-valley search on
    // the image `inset` pixels in without the cut corners; the high level found becomes the
    // interface's extra value. False when no histogram can be made.
    bool BuildKneeLUT(int mode, std::int32_t inset, unsigned int threshold, bool useLowFound);

  private:
    // The sigmoid of the mode's power, stretched from the bounds' low level to the valley below
    // the top peak and centred on the most prominent peak of that stretch.
    bool BuildSigmoidLUT(int mode);
    // The power curve x^a of the mode's exponent laid from low towards the registry's MaxHisto
    // by its RapportAmalgame ("QUORIN\ZEL").
    bool BuildPowerLUT(int mode, std::int64_t low);
};

extern template class CTImgZELRobust<CusZELus>;

class CusZEL7 : public CTImgZELRobust<CusZELus> {
  public:
    CusZEL7(SImage* image, unsigned short refLow, unsigned short refHigh, std::uint32_t sensorType,
            std::uint8_t flag);
    CusZEL7(const CusZELus& other, unsigned short refLow, unsigned short refHigh,
            std::uint32_t sensorType, std::uint8_t flag);

    // The curve ZelCurveFor names for a CusZEL7 of this sensor code and flag: the knee from the
    // peak-and-valley search, or the sigmoid. Requires low <= high <= top level.
    bool BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) override;
    using CusZELus::ProcessInto;
    // The fixed-gain pyramid enhancement into a target of the same size; 12-bit images only.
    bool ProcessInto(CTImgZELus& target) override;
    bool AddLogo() override;

    std::uint8_t GetFlag() const { return m_flag; }

  private:
    std::uint8_t m_flag = 0;
};

// 16-bit pixels with 8-bit processing tables.
class CusZEL : public CTImgGrey<CTImgZELusc, CImgZEL> {
  public:
    explicit CusZEL(SImage* image);
    CusZEL(const CusZEL& other);

    void GetExposureState(int* state, float* gain, float* second) override;
    bool FillCorners(std::uint32_t value) override;  // true, nothing filled
    bool Relief() override;

    std::uint32_t GetSensorType() const { return m_sensorType; }
    void SetSensorType(std::uint32_t type) { m_sensorType = type; }

  protected:
    std::uint32_t m_sensorType = 0;
};

extern template class CTImgZELRobust<CusZEL>;

class CusZEL6 : public CTImgZELRobust<CusZEL> {
  public:
    explicit CusZEL6(SImage* image);
    CusZEL6(const CusZEL6& other);

    // The curve ZelCurveFor names for a CusZEL6, whatever its code: the power curve x^a of the
    // mode's exponent laid from low towards the registry's MaxHisto by its RapportAmalgame
    // ("QUORIN\ZEL"). Requires low < high, both at most the level count.
    bool BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) override;
    bool AddLogo() override;
    // Into a same-sized 8-bit image: the pixels (box-smoothed with radius 2 when the window is
    // narrower than a quarter of the levels) through the table of mode 1 or 2, the identity ramp
    // (mode 7) or the window ramp (any other mode). False for a missing table or another size.
    bool ProcessInto(CTImgNB<unsigned char, unsigned char, unsigned int>& target, int mode);
};

// 8-bit pixels: window fixed at 0..255; `low` and `high` (12-bit scale) feed only the tables of
// the CucZEL5 family.
class CucZEL : public CTImgGrey<CTImgZELuc, CImgZEL> {
  public:
    CucZEL(SImage* image, std::int32_t low, std::int32_t high);
    CucZEL(std::uint32_t height, std::uint32_t width, std::int32_t low, std::int32_t high);

    void ComputeMinMax() override;
    bool FillCorners(std::uint32_t value) override;  // false
    bool Relief() override;                          // the 8-bit relief
    // The sensor's filter in place: here the intra-oral multi-filter.
    virtual bool ApplySensorFilter();
};

class CucZEL3 : public CucZEL {
  public:
    using CucZEL::CucZEL;
    bool AddLogo() override { return true; }
    bool FillCorners(std::uint32_t) override { return true; }
    bool ApplySensorFilter() override;  // neighbourhood sharpening
};

class CucZEL4 : public CucZEL {
  public:
    using CucZEL::CucZEL;
    bool AddLogo() override { return true; }
    bool FillCorners(std::uint32_t) override { return true; }
};

class CucZEL5 : public CucZEL {
  public:
    // Both tables built from the two levels.
    CucZEL5(SImage* image, std::int32_t low, std::int32_t high);
    CucZEL5(std::uint32_t height, std::uint32_t width, std::int32_t low, std::int32_t high);
    // The control-point curve of the mode over low..high (12-bit scale).
    bool BuildProcessingLUT(int mode, std::int64_t low, std::int64_t high) override;
};

class CucZEL5_HS : public CucZEL5 {
  public:
    using CucZEL5::CucZEL5;
    bool AddLogo() override { return true; }
    bool FillCorners(std::uint32_t) override { return true; }
};

class CucZEL5_HR : public CucZEL5 {
  public:
    using CucZEL5::CucZEL5;
    bool AddLogo() override { return true; }
    bool FillCorners(std::uint32_t) override { return true; }
    bool ApplySensorFilter() override;  // one level of detail enhancement
};

// The 8-bit display image of the 16-bit sensors.
class CucZEL6 : public CucZEL {
  public:
    CucZEL6(std::uint32_t height, std::uint32_t width, std::int32_t low, std::int32_t high);
    void GetExposureState(int* state, float* gain, float* second) override;
    bool FillCorners(std::uint32_t value) override;  // fills the corner triangles
    bool ApplySensorFilter() override;               // 8-bit detail enhancement, gain 8
};
