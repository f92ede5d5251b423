// A packed DIB from a device-dependent bitmap, through GetDIBits.
#include <cstring>

#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

using namespace win;

HGLOBAL DDBToDIB(HBITMAP bitmap, DWORD compression, HPALETTE /*palette*/) {
    // The palette would be selected into the screen's device context; the grey screen of the
    // platform layer has only its own colour table, so there is nothing to select.
    if (compression == BI_BITFIELDS || bitmap == nullptr) return nullptr;
    BITMAP description{};
    if (GetObject(bitmap, sizeof description, &description) == 0) return nullptr;

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = description.bmWidth;
    header.biHeight = description.bmHeight;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(description.bmPlanes * description.bmBitsPixel);
    header.biCompression = compression;
    const std::uint32_t bitCount = header.biBitCount;
    const std::uint64_t colours = bitCount <= 8 ? (std::uint64_t{1} << bitCount) : 0;
    const std::uint64_t headerBytes = sizeof header + 4 * colours;

    HGLOBAL dib = GlobalAlloc(GHND, static_cast<SIZE_T>(headerBytes));
    if (dib == nullptr) return nullptr;
    auto* info = static_cast<BITMAPINFO*>(GlobalLock(dib));
    if (info == nullptr) {
        GlobalFree(dib);
        return nullptr;
    }
    info->bmiHeader = header;
    // Asked without bits, GetDIBits fills in the image size.
    GetDIBits(bitmap, 0, static_cast<UINT>(header.biHeight), nullptr, info, DIB_RGB_COLORS);
    std::uint64_t imageBytes = info->bmiHeader.biSizeImage;
    if (imageBytes == 0) {
        if (header.biWidth < 1 || header.biHeight < 1)
            imageBytes = 0;
        else
            imageBytes = quorin::DIBStride(header.biWidth, bitCount) *
                         static_cast<std::uint64_t>(header.biHeight);
        if (compression != BI_RGB) imageBytes = imageBytes * 3 / 2;
    }
    GlobalUnlock(dib);
    const std::uint64_t total = headerBytes + imageBytes;
    if (imageBytes == 0 || total > quorin::kMaxBlockBytes) {
        GlobalFree(dib);
        return nullptr;
    }
    HGLOBAL grown = GlobalReAlloc(dib, static_cast<SIZE_T>(total), GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (grown == nullptr) {
        GlobalFree(dib);
        return nullptr;
    }
    dib = grown;
    info = static_cast<BITMAPINFO*>(GlobalLock(dib));
    const int rows = info == nullptr ? 0
                                     : GetDIBits(bitmap, 0, static_cast<UINT>(header.biHeight),
                                                 reinterpret_cast<BYTE*>(info) + headerBytes, info,
                                                 DIB_RGB_COLORS);
    if (info != nullptr) GlobalUnlock(dib);
    if (rows == 0) {
        GlobalFree(dib);
        return nullptr;
    }
    return dib;
}
