// The highlight lens of the grey images: a disc around the mouse point whose pixels are shown
// on the display DIB stretched to the full 0..255 range of the levels found inside the disc.
#pragma once
#include <quorin/matrix.h>

#include <cstdint>
#include <vector>

#include "pixel/image/img.h"

namespace quorin {

template <class P>
class HighlightLens {
  public:
    // A disc of radius r (1..65,535) over a histogram of 2^bits levels (bits 1..24); levels
    // above 255 count, and show, as 255. The lens copies the pixels at its next drawing.
    bool Create(std::int32_t radius, std::int32_t bits);
    // The pixels changed: the next drawing takes a new copy.
    void MarkChanged() { m_changed = true; }
    // Draws the lens at `point` (image rows, top-down) into an 8-bit DIB of the image's size;
    // the DIB keeps its other pixels. False for another DIB or when the copy cannot be made.
    bool Draw(const CTMatrix<P>& pixels, ImagePoint point, win::HGLOBAL dib);

  private:
    std::int64_t m_radius = 0;
    std::vector<std::int64_t> m_halfWidths;  // per disc row k = 0..2r-1
    CTMatrix<P> m_copy;
    bool m_changed = true;
};

extern template class HighlightLens<unsigned char>;
extern template class HighlightLens<unsigned short>;
extern template class HighlightLens<unsigned int>;

}  // namespace quorin
