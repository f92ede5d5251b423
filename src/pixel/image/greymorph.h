// Grey-scale morphology of the grey images over a structuring element B (rows x columns values):
// erosion takes the minimum of (pixel - B) (negative differences count as 0), dilation the
// maximum of (pixel + B) saturating at the top level. Pixels whose window would leave the image
// keep their values. Written once over the pixel type; instantiated for 8, 16 and 32 bits.
#pragma once
#include <quorin/matrix.h>

#include <cstdint>

#include "pixel/image/img.h"

namespace quorin {

// `target` must have the source's size; false otherwise or for an empty element. The window of
// pixel (r, c) covers rows r-hr .. r-hr+rows-1 and columns c-hc .. c-hc+columns-1 with
// hr = (rows-1)/2 and hc = (columns-1)/2.
template <class P>
bool ErodePixels(const CTMatrix<P>& source, const CStructElement& element, P top,
                 CTMatrix<P>& target);
template <class P>
bool DilatePixels(const CTMatrix<P>& source, const CStructElement& element, P top,
                  CTMatrix<P>& target);

// target = max(0, a - b), or min(top, a + b), pixel by pixel (all of one size).
template <class P>
bool SubtractPixels(const CTMatrix<P>& a, const CTMatrix<P>& b, CTMatrix<P>& target);
template <class P>
bool AddPixels(const CTMatrix<P>& a, const CTMatrix<P>& b, P top, CTMatrix<P>& target);

}  // namespace quorin
