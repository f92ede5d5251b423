// Reader of the 5-6-5 colour members: ".tif" files in one fixed little-endian layout (a
// 276-byte header with a 56-byte short header record, then rows of 16-bit pixels, red in the
// top five bits, blue in the bottom five), delivered into 24-bit DIB rows (blue, green, red).
#pragma once
#include <cstdint>

#include "platform/core/globalmem.h"
#include "platform/files/rawfile.h"

constexpr int kRgb565HeaderBytes = 276;
constexpr int kRgb565DescriptionBytes = 56;

// Reads and checks the header. Each out may be null; the depth is always 16. Returns 0 or a
// container code (oldtiff.h): kOldTiffCannotOpen, kOldTiffReadFailed (a read failed, or the file
// is too short for its pixel rows) or kOldTiffUnsupported (not the layout, or a side outside
// 1..65,535).
int ReadRgb565Header(const char* path, std::int32_t* width, std::int32_t* height,
                     std::int32_t* depth, std::uint8_t* description);
int ReadRgb565Header(win::HANDLE file, std::int32_t* width, std::int32_t* height,
                     std::int32_t* depth, std::uint8_t* description);

// Fills a 24-bit packed DIB of `width` x `height` (the first file row becomes the top of the
// picture, the DIB's last stored row). The depth must be 16 and the header's size must equal
// the one asked for and the DIB's. Returns 0 or a container code as above.
int ReadRgb565Pixels(win::HGLOBAL dib, const char* path, std::int32_t width, std::int32_t height,
                     std::int32_t depth);

// One pixel as blue, green, red.
inline void Rgb565ToBgr(std::uint16_t p, std::uint8_t* out) {
    const unsigned blue = p & 31u, green = (p >> 5) & 63u, red = p >> 11;
    out[0] = static_cast<std::uint8_t>(blue * 8 + blue / 4);
    out[1] = static_cast<std::uint8_t>((green * 4) | (green / 8));
    out[2] = static_cast<std::uint8_t>(red * 8 + red / 4);
}
