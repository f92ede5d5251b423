// Generic grey images: the images of no sensor family (computed-radiography and scanned images
// processed by the SDK), one class per pixel width. They are the grey image template joined to
// the grey interface; the 8-bit one has fixed levels 0..255, the generic multi-filter, the
// 8-bit relief and a detail-enhancement filter. The SDK picks CucExtNB for 8 bits per sample,
// CunExtNB for 32 and CusExtNB otherwise.
#pragma once
#include <cstdint>

#include "pixel/image/greyimage.h"
#include "pixel/image/img.h"

namespace quorin {

// The detail filter of the generic 8-bit images, from `source` into `target` (same size, may
// not overlap): the picture reduced by `scale` (block sums divided by the scale twice), spikes
// clipped to the neighbours' range, the Laplacian 8c - (N+S+E+W) - (diagonals + the pixels two
// away) / 2 truncated, a 3 x 3 mean, expanded back, and (3 x 3 sum x gain) / 36 added inside a
// 2-pixel border, clamped to 0..255. A reduced side below 3 copies the source. False, target
// untouched, for bad sizes, a scale below 1 or when a work block cannot be had.
bool GenericDetailFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                         std::uint32_t height, std::int32_t scale, std::int32_t gain);

}  // namespace quorin

// The shared part of the three widths: the template operations, and the relief of the pixel
// width copied back into the image.
template <class P>
class CTImgExtNB : public CTImgGrey<CTImgNB<P, unsigned char, unsigned int>, CImgNB> {
  public:
    using Grey = CTImgGrey<CTImgNB<P, unsigned char, unsigned int>, CImgNB>;
    using Grey::Grey;
    bool Relief() override;
};

extern template class CTImgExtNB<unsigned char>;
extern template class CTImgExtNB<unsigned short>;
extern template class CTImgExtNB<unsigned int>;

class CucExtNB : public CTImgExtNB<unsigned char> {
  public:
    explicit CucExtNB(SImage* image);
    CucExtNB(std::uint32_t height, std::uint32_t width);  // sets the detail flag

    void ComputeMinMax() override;  // fixed 0..255, the pixels are not looked at
    bool MultiFilter(std::int32_t strength) override;
    bool Relief() override;
    // Sets the detail flag and runs the detail filter (scale 3, gain 8) in place.
    bool ApplyDetailFilter();
    bool GetDetailFlag() const { return m_detail != 0; }

  private:
    void SetFixedLevels();
    std::uint8_t m_detail = 0;
};

class CusExtNB : public CTImgExtNB<unsigned short> {
  public:
    explicit CusExtNB(SImage* image) : CTImgExtNB(image) {}
};

class CunExtNB : public CTImgExtNB<unsigned int> {
  public:
    explicit CunExtNB(SImage* image) : CTImgExtNB(image) {}
};
