// Geometry and painting kernels of the grey images, written once over the pixel type and
// instantiated for 8-, 16- and 32-bit pixels: mirror, quarter turns, bilinear zoom, relief,
// corner triangles and logo stamping. They work on a pixel matrix; the grey image template
// (greyimage.h) adds the image's window and bit depth around them.
#pragma once
#include <quorin/matrix.h>

#include <cstdint>
#include <optional>

#include "platform/system/gdibitmap.h"

namespace quorin {

// Pixel (r, c) to (r, width-1-c), in place.
template <class P>
bool MirrorPixelsHorizontal(CTMatrix<P>& pixels);
// Pixel (r, c) to (height-1-r, c), in place.
template <class P>
bool MirrorPixelsVertical(CTMatrix<P>& pixels);

// A new matrix turned by 180 degrees, or by a quarter turn: clockwise as displayed for 90 with
// `clockwise` and for 270 without it, counter-clockwise otherwise. Null for any other angle or
// when the matrix cannot be made.
template <class P>
CTMatrix<P>* RotatedPixels(const CTMatrix<P>& pixels, std::int32_t angle, bool clockwise);

// Sides of an image zoomed by `factor`: max(1, floor(side x factor)); false for a factor that is
// not a positive finite number or a side beyond the largest image side.
bool ZoomedSize(std::uint32_t height, std::uint32_t width, double factor, std::uint32_t* newHeight,
                std::uint32_t* newWidth);
// A new matrix of the zoomed size, bilinear, sampled at pixel centres and truncated; null on
// failure.
template <class P>
CTMatrix<P>* ZoomedPixels(const CTMatrix<P>& pixels, double factor);
// The same sampling to exactly newHeight x newWidth (scale per axis = old side / new side); null
// for a side of 0 or beyond the largest image side, or on failure.
template <class P>
CTMatrix<P>* ResizedPixels(const CTMatrix<P>& pixels, std::uint32_t newHeight,
                           std::uint32_t newWidth);

// The relief of `source` into `target` (same size): the first and last rows and columns copied,
// every other pixel (s x 3 / 2 + offset) in floating point clamped to 0..ceiling and truncated,
// with s = the differences of the pixels above and right against those below and left.
template <class P>
bool ReliefPixels(const CTMatrix<P>& source, CTMatrix<P>& target, std::uint64_t offset,
                  std::uint64_t ceiling);

// Right triangles of `value` in the corners, from (width, height) pairs for top-left, top-right,
// bottom-left and bottom-right; a pair with a member not above 0 paints nothing. False when no
// pair paints.
template <class P>
bool FillCornerPixels(CTMatrix<P>& pixels, P value, const std::int32_t (&pairs)[8]);

// Lays a bitmap on the pixels: every bitmap pixel whose first byte is non-zero (for 1-bit
// bitmaps: whose bit is set) sets the image pixel to `value`. x defaults to -(w+1), y to h+1;
// negative x and y count from the right and bottom edges; bitmap row k lands on image row
// height - y + k - 1. False when the bitmap is null or does not fit; the bitmap is always
// deleted.
template <class P>
bool StampBitmapPixels(CTMatrix<P>& pixels, P value, win::HBITMAP bitmap,
                       std::optional<std::int32_t> x, std::optional<std::int32_t> y);

// The bitmap resource `id` as a bitmap for StampBitmapPixels (LoadBitmapA with no module
// handle): null for a resource that is not embedded.
win::HBITMAP LoadLogoBitmap(int id);

}  // namespace quorin
