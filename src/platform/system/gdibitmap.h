// A minimal device-dependent bitmap: its BITMAP description and bits, and GetDIBits, which fills
// a DIB from it the way the screen's device context does. The screen stands for a grey device:
// colour tables of bitmaps of 8 bits or fewer are grey ramps; the palette handle is opaque.
#pragma once
#include <quorin/rect.h>

#include <memory>
#include <vector>

#include "platform/system/bitmap.h"

namespace win {

constexpr DWORD BI_BITFIELDS = 3;

struct GdiBitmap {
    BITMAP description{};    // bmBits points into `bits`
    std::vector<BYTE> bits;  // rows top-down, each bmWidthBytes (padded to 2 bytes)
};
using HBITMAP = GdiBitmap*;

struct GdiPalette;  // opaque: nothing is drawn through it here
using HPALETTE = GdiPalette*;

// A bitmap of 1, 4, 8, 16, 24 or 32 bits per pixel (one plane); `bits` (may be null: zero
// pixels) holds rows top-down padded to 2 bytes. Null for other depths, sides below 1 or above
// 65,535, or a failed allocation.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
BOOL DeleteObject(HBITMAP bitmap);
// Copies the bitmap's description; the size of BITMAP on success, 0 otherwise.
int GetObject(HBITMAP bitmap, int size, void* out);

// Copies up to `lines` rows from `start` (counted from the bottom) into `bits` as a bottom-up
// DIB of the header's width and bit count, rows padded to 4 bytes, and writes the colour table
// behind the header for 8 bits or fewer. With null bits only biSizeImage (and the colour table)
// is filled. Only BI_RGB, the bitmap's own bit count, positive heights and DIB_RGB_COLORS are
// served; the number of rows copied (or 1 for a size query), 0 otherwise.
int GetDIBits(HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage);

}  // namespace win
