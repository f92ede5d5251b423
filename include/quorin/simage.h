// The raw pixel record exchanged between the SDK, the readers and the pixel images. The record
// is itself a locked, moveable, zero-filled global block; its pixel block is a raw pixel buffer
// (locked for its whole life, rows top-down and unpadded, colour samples red, green, blue).
#pragma once
#include <quorin/export.h>

#include <cstdint>

struct SImage {
    std::uint32_t nWidth;
    std::uint32_t nHeight;
    std::uint32_t nSamplesPerPixel;
    std::uint32_t nBitsPerSample;
    void* pPixels;  // owned by the record unless adopted by a pixel image
};

// A new record with the four numbers; `adopt`: store `pixels` as the record's block, else a new
// zero-filled block of width x height x samples elements. Null on failure (nothing kept).
QUORIN_EXPORT SImage* AllocSImage(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                                  std::uint32_t bits, bool adopt, void* pixels);
// Frees the pixel block (unless borrowed) and the record; nothing for null.
QUORIN_EXPORT void FreeSImage(SImage* image, bool pixelsBorrowed);
// A copy with its own pixels; null when the source has none or its depth is not copyable.
QUORIN_EXPORT SImage* DuplicateSImage(const SImage* image);
// Frees a locked global block given the address it was locked at; nothing for null.
QUORIN_EXPORT void FreeGlobalPointer(void* data);

namespace quorin {
// Largest pixel block a record may have (AllocSImage and DuplicateSImage refuse more).
constexpr std::uint64_t kMaxSImageBytes = std::uint64_t{1} << 31;
}  // namespace quorin
