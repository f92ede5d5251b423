// The colour image: a 24-bit RGB picture (intra-oral camera and scanned colour images) behind the
// same CImg interface as the grey images. It keeps its pixels as a packed DIB in display form
// (rows bottom-up, bytes blue-green-red), so that display is a plain copy; copy-out and zoom
// give raw records (rows top-down, red-green-blue). Operations that replace the picture keep the
// old one when the new one cannot be made.
#pragma once
#include <quorin/geometry.h>

#include <cstdint>

#include "pixel/image/img.h"
#include "records/info/geometry.h"

class CImgLEADColor : public CImg {
  public:
    CImgLEADColor() = default;
    CImgLEADColor(const CImgLEADColor&) = delete;
    CImgLEADColor& operator=(const CImgLEADColor&) = delete;
    ~CImgLEADColor() override;

    // The picture becomes a 24-bit DIB of the record's pixels (3 samples of 8 bits, a block of
    // at least width x height x 3 bytes). False, the old picture kept, for any other record or
    // when the DIB cannot be made.
    bool SetFromSImage(const SImage* image);

    // A byte copy of the picture replaces *dib (the histogram is not filled).
    bool GetDisplayDIB(win::HGLOBAL* dib, CTVector<unsigned int>* histogram = nullptr) override;
    bool CopyToSImage(SImage* image) override;  // 3 samples of 8 bits, rows top-down, RGB
    // Each colour plane zoomed bilinearly by the factor (sides max(1, floor(side x factor))).
    bool Zoom(SImage* out, double factor) override;
    bool MirrorHorizontal() override;
    // 90, 180 or 270 degrees clockwise as displayed; the direction flag is not used.
    bool Rotate(std::int32_t angle, bool clockwise) override;
    std::uint32_t GetHeight() const override;
    std::uint32_t GetWidth() const override;
    std::uint32_t GetBits() const override;
    std::uint32_t GetSamplesPerPixel() const override;

    win::HGLOBAL GetPicture() const { return m_picture; }
    SImageSettingsSC& GetSettings() { return m_settings; }

  private:
    void Replace(win::HGLOBAL picture);

    SImageSettingsSC m_settings;
    win::HGLOBAL m_picture = nullptr;  // owned 24-bit packed DIB
};
