// DIB structures as they are laid out in memory and in BMP files, a minimal device-dependent
// bitmap with GetDIBits, and the bitmap resources the system stamps on images.
#pragma once
#include "platform/core/types.h"

namespace win {

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;

// A device-dependent bitmap: its description and its bits (rows top-down, padded to 2 bytes).
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

// Bitmap resources whose pixels are known are embedded (the integrity marks: 4003
// "IDB_NOCOPYRIGHT", 32 x 32, and 4004 "IDB_NOCOPYRIGHT_HR", 64 x 64, 8 bits, 192 transparent);
// anything else loads as null.
struct BitmapResource {
    int width;
    int height;
    int bitsPerPixel;  // 1, 8 or 24
    const BYTE* bits;  // rows top-down, unpadded
};
const BitmapResource* LoadBitmapResource(int id);
const BitmapResource* LoadBitmapResource(const char* name);

}  // namespace win
