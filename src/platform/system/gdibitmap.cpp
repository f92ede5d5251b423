#include "platform/system/gdibitmap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace win {
namespace {

constexpr std::int64_t kMaxSide = 65535;
constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

bool IsServedDepth(UINT bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::uint64_t DdbStride(std::int64_t width, UINT bits) {
    return (static_cast<std::uint64_t>(width) * bits + 15) / 16 * 2;
}

std::uint64_t DibStride(std::int64_t width, UINT bits) {
    return (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
}

}  // namespace

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    if (planes != 1 || !IsServedDepth(bitsPerPixel)) return nullptr;
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return nullptr;
    const std::uint64_t stride = DdbStride(width, bitsPerPixel);
    const std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
    if (bytes > kMaxBytes) return nullptr;
    std::unique_ptr<GdiBitmap> bitmap(new (std::nothrow) GdiBitmap);
    if (!bitmap) return nullptr;
    try {
        bitmap->bits.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (bits != nullptr) std::memcpy(bitmap->bits.data(), bits, bytes);
    bitmap->description = BITMAP{0,
                                 width,
                                 height,
                                 static_cast<LONG>(stride),
                                 static_cast<WORD>(planes),
                                 static_cast<WORD>(bitsPerPixel),
                                 bitmap->bits.data()};
    return bitmap.release();
}

BOOL DeleteObject(HBITMAP bitmap) {
    if (bitmap == nullptr) return 0;
    delete bitmap;
    return 1;
}

int GetObject(HBITMAP bitmap, int size, void* out) {
    if (bitmap == nullptr || out == nullptr || size < static_cast<int>(sizeof(BITMAP))) return 0;
    std::memcpy(out, &bitmap->description, sizeof(BITMAP));
    return static_cast<int>(sizeof(BITMAP));
}

int GetDIBits(HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage) {
    if (bitmap == nullptr || info == nullptr || usage != DIB_RGB_COLORS) return 0;
    BITMAPINFOHEADER& header = info->bmiHeader;
    const BITMAP& ddb = bitmap->description;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biCompression != BI_RGB) return 0;
    if (header.biBitCount != ddb.bmBitsPixel * ddb.bmPlanes || header.biWidth != ddb.bmWidth ||
        header.biHeight != ddb.bmHeight)
        return 0;
    const std::uint64_t dibStride = DibStride(header.biWidth, header.biBitCount);
    const std::uint64_t imageBytes = dibStride * static_cast<std::uint64_t>(header.biHeight);
    if (imageBytes > kMaxBytes) return 0;
    header.biSizeImage = static_cast<DWORD>(imageBytes);

    // The colour table of a grey device: 2^bits evenly spaced levels.
    if (header.biBitCount <= 8) {
        const UINT colours = 1u << header.biBitCount;
        for (UINT i = 0; i < colours; ++i) {
            const BYTE level = static_cast<BYTE>(i * 255 / (colours - 1));
            info->bmiColors[i] = RGBQUAD{level, level, level, 0};
        }
    }
    if (bits == nullptr) return 1;

    const std::uint64_t ddbStride = static_cast<std::uint64_t>(ddb.bmWidthBytes);
    const std::uint64_t rowBytes =
        (static_cast<std::uint64_t>(ddb.bmWidth) * ddb.bmBitsPixel + 7) / 8;
    const std::int64_t rows = ddb.bmHeight;
    if (start >= rows) return 0;
    const std::int64_t count = std::min<std::int64_t>(lines, rows - start);
    auto* out = static_cast<BYTE*>(bits);
    const auto* in = static_cast<const BYTE*>(ddb.bmBits);
    int copied = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        // DIB row (start + i) counts from the bottom; the bitmap's rows run top-down.
        const std::int64_t fromBottom = start + i;
        const BYTE* source = in + static_cast<std::uint64_t>(rows - 1 - fromBottom) * ddbStride;
        BYTE* target = out + static_cast<std::uint64_t>(i) * dibStride;
        std::memcpy(target, source, rowBytes);
        std::memset(target + rowBytes, 0, dibStride - rowBytes);
        ++copied;
    }
    return copied;
}

}  // namespace win
