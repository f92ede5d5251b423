// The pixel image interface. The SDK holds every pixel image as a CImg* and drives it through one
// table of 31 virtual operations (slot order below is the table order; slot 0 is the destructor).
// CImg answers "not done" for every operation; CImgNB is the grey layer that owns the image's LUT
// information and writes the display DIB's colour table; CImgZEL and CImgPano add the intra-oral
// and panoramic records. A concrete image joins a typed part (greyimage.h) with one of these.
#pragma once
#include <quorin/geometry.h>
#include <quorin/matrix.h>
#include <quorin/simage.h>
#include <quorin/vector.h>

#include <cstdint>
#include <memory>

#include "platform/core/globalmem.h"
#include "records/info/geometry.h"
#include "records/info/lutgray.h"
#include "records/info/sensor.h"

// A structuring element of the grey-scale morphology: rows x columns values added to (dilation)
// or subtracted from (erosion) the pixels under it.
using CStructElement = CTMatrix<unsigned int>;

namespace quorin {
// A point of an image, in image rows (top-down) and columns.
struct ImagePoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
}  // namespace quorin

class CImg {
  public:
    CImg() = default;
    CImg(const CImg& other);
    CImg& operator=(const CImg& other);

    virtual ~CImg();  // slot 0
    // Slot 1: writes the image into an 8-bit packed DIB (reused when it has the image's size,
    // replaced otherwise); `histogram` (256 counts) receives the counts of the written values.
    virtual bool GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>* histogram = nullptr);
    virtual bool AddLogo();                                                      // slot 2
    virtual bool FillCorners(std::uint32_t value);                               // slot 3
    virtual void GetExposureState(int* state, float* gain, float* second);       // slot 4
    virtual bool CopyToSImage(SImage* image);                                    // slot 5
    virtual bool Zoom(SImage* out, double factor);                               // slot 6
    virtual bool CreateHighlightLens(std::int32_t radius, std::int32_t bits);    // slot 7
    virtual bool DrawHighlightLens(quorin::ImagePoint point, win::HGLOBAL dib);  // slot 8
    virtual bool MirrorHorizontal();                                             // slot 9
    virtual bool MirrorVertical();                                               // slot 10
    virtual bool Rotate(std::int32_t angle, bool clockwise);                     // slot 11
    virtual bool Erode(const CStructElement* element);                           // slot 12
    virtual bool Dilate(const CStructElement* element);                          // slot 13
    virtual bool Close(const CStructElement* element);                           // slot 14
    virtual bool Open(const CStructElement* element);                            // slot 15
    virtual bool WhiteTopHat(const CStructElement* element);                     // slot 16
    virtual bool BlackTopHat(const CStructElement* element);                     // slot 17
    virtual bool Reserved18(void* argument);                                     // slot 18
    virtual bool MorphologicalContrast(const CStructElement* element);           // slot 19
    virtual bool GaussEnhance(std::int32_t size1, double sigma1, std::int32_t size2, double sigma2,
                              double scale);                // slot 20
    virtual bool MultiFilter(std::int32_t strength);        // slot 21
    virtual bool Convolve(const CTMatrix<double>* kernel);  // slot 22
    virtual bool Relief();                                  // slot 23
    virtual std::uint32_t GetHeight() const;                // slot 24
    virtual std::uint32_t GetWidth() const;                 // slot 25
    virtual std::uint32_t GetBits() const;                  // slot 26
    virtual std::uint32_t GetSamplesPerPixel() const;       // slot 27
    // Slot 28: the image's corners information becomes a copy of `corners` (false for null or
    // when the copy cannot be made).
    virtual bool SetCorners(const CInfosCorners* corners);

    CInfosCorners* GetCornersInfo() const { return m_corners.get(); }
    CInfosLUTGray* GetLUTInfo() const { return m_lutInfo.get(); }
    CInfosDisplay& GetDisplayInfo() { return m_display; }
    const CInfosDisplay& GetDisplayInfo() const { return m_display; }
    std::uint32_t GetExtraValue() const { return m_extra; }
    void SetExtraValue(std::uint32_t value) { m_extra = value; }

  protected:
    // The corners follow the pixels: called before a rotation or a mirror of the pixels.
    void RotateCornersInfo(std::int32_t angle, bool clockwise);
    void MirrorCornersInfo(bool leftRight);

    std::unique_ptr<CInfosCorners> m_corners;  // null when the image has none
    std::unique_ptr<CInfosLUTGray> m_lutInfo;  // set by the grey layers only
    CInfosDisplay m_display;                   // its colour LUT is the palette mode
    std::uint32_t m_extra = 0;                 // stored for the SDK, not read here
};

class CImgNB : public CImg {
  public:
    CImgNB() = default;
    // The LUT information is not copied here: the copy makes its own (slot 30) and then takes
    // the other's values with CopyLUTInfoFrom, so that it stays attached to its own records.
    CImgNB(const CImgNB& other) : CImg(other) {}
    CImgNB& operator=(const CImgNB& other);
    ~CImgNB() override;

    std::uint32_t GetSamplesPerPixel() const override { return 1; }
    // Slot 29: a new LUT information object for this kind of image; null when it cannot be made.
    virtual CInfosLUTGray* CreateLUTInfo();
    // Slot 30: makes the LUT information when there is none; false when it cannot be made.
    virtual bool EnsureLUTInfo();

    // Writes the colour table of an 8-bit packed DIB: the LUT information's 256 levels through
    // the current pseudo-colour palette in the display's palette mode. False for anything else.
    bool UpdateDIBPalette(win::HGLOBAL dib) const;

  protected:
    // Takes the values (not the attachment) of another image's LUT information.
    void CopyLUTInfoFrom(const CImgNB& other);
};

class CImgZEL : public CImgNB {
  public:
    CImgZEL() = default;
    CImgZEL(const CImgZEL& other) : CImgNB(other), m_zel(other.m_zel) {}
    CImgZEL& operator=(const CImgZEL& other);
    CInfosLUTGray* CreateLUTInfo() override;  // attached to the sensor record below
    CInfosZel& GetZelInfo() { return m_zel; }

  protected:
    CInfosZel m_zel;
};

class CImgPano : public CImgNB {
  public:
    CImgPano() = default;
    CImgPano(const CImgPano& other)
        : CImgNB(other), m_pano(other.m_pano), m_deviceCode(other.m_deviceCode) {}
    CImgPano& operator=(const CImgPano& other);
    CInfosLUTGray* CreateLUTInfo() override;  // attached to the processing record below
    CInfosPanoProcess& GetPanoProcess() { return m_pano; }
    std::int32_t GetDeviceCode() const { return m_deviceCode; }
    void SetDeviceCode(std::int32_t code) { m_deviceCode = code; }

  protected:
    CInfosPanoProcess m_pano;
    std::int32_t m_deviceCode = 17;
};
