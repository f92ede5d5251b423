// The pixel checksum that guards acquired radiographs, and the integrity mark stamped into
// pixels that fail it. The checksum's arithmetic is part of the stored format: records and
// files already hold sums computed this way, 16-bit wraps of the row start and length included.
#pragma once
#include <cstdint>

namespace win {
struct BitmapResource;
}
class CHeaderBase;
class CHeader;

namespace quorin {
// Resources of the integrity mark: the small one, and the one for images 1024 wide or high.
constexpr int kIntegrityMarkResource = 4003;
constexpr int kIntegrityMarkResourceLarge = 4004;
// Mark pixel value that leaves the image as it is.
constexpr std::uint8_t kIntegrityMarkTransparent = 192;
}  // namespace quorin

// Sum of the pixels as the header describes them (size, samples, depth), 32-bit with wrap:
// 0 without pixels or for a depth other than 8, 10, 12 to 16 and 32 bits; 1 for an empty image
// or a zero sum. Each row is n = samples x width elements (16 bits) starting at element
// r x n (16 bits): an image above 65,535 elements sums some regions twice, others never.
// Never reads past a pixel block that is a global block smaller than the size needs (0 then).
std::uint32_t ComputePixelChecksum(const CHeaderBase& header, const void* pixels);

// Compares the pixels' checksum with `expected` (useGiven) or the header's stored checksum. On a
// difference the mismatch flag becomes 1, the mark is stamped (not for sub-type 2) and the sum
// of the marked pixels becomes the header's checksum; otherwise the flag becomes 0. The result
// is the last checksum computed.
std::uint32_t CheckPixelChecksum(CHeader& header, void* pixels, bool useGiven,
                                 std::uint32_t expected);

// Stamps the program's integrity mark into the four corners of the pixels (turned by 0, 90, 180
// and 270 degrees). False, nothing drawn, when there are no pixels, the depth has no element
// width (above 32 bits), the pixel block is smaller than the size needs, or the mark cannot be
// loaded. Every write is clipped to the image.
bool StampIntegrityMark(const CHeaderBase& header, void* pixels);
// The same with a given mark (8 or 24 bits per pixel, rows top-down, 192 transparent).
bool StampIntegrityMark(const CHeaderBase& header, void* pixels, const win::BitmapResource* mark);
