// Raw pixel buffers: the locked global blocks that hold the pixels of an SImage (rows top-down,
// unpadded), and the size limits every DIB and pixel routine checks before it allocates.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/core/globalmem.h"

namespace quorin {

// Sides of images and DIBs: at least 1, at most what a 16-bit field of the older records holds.
inline constexpr std::int64_t kMaxImageSide = 65535;
// No block made for pixels, DIBs or containers is larger than this (1 GiB).
inline constexpr std::uint64_t kMaxBlockBytes = std::uint64_t{1} << 30;

// Bytes per element of a raw buffer for its bits per sample: 8 -> 1; 10, 12, 14, 16 -> 2;
// 32 -> 4; any other depth 0.
std::uint32_t PixelElementBytes(std::uint32_t bits);

// Bytes of a width x height x samples x elementBytes buffer computed in 64 bits; 0 when a side
// is 0 or above kMaxImageSide, samples is 0 or above 4, or the total exceeds kMaxBlockBytes.
std::uint64_t PixelBufferBytes(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                               std::uint32_t elementBytes);

// A moveable, zero-filled global block of `bytes` bytes, locked once; null when bytes is 0 or
// above kMaxBlockBytes, or the allocation or lock fails (nothing is then kept).
void* AllocLockedBlock(std::uint64_t bytes);
// Unlocks and frees a block given its locked base address; nothing for null or an address that
// is not the base of a global block.
void FreeLockedBlock(void* base);
// Size of the global block whose locked base address this is; 0 for any other address.
std::uint64_t LockedBlockSize(const void* base);
// False when `data` is the base of a global block smaller than `bytes`; memory of another kind
// (records carry global blocks) is the caller's word.
bool BlockHolds(const void* data, std::uint64_t bytes);

}  // namespace quorin

// The locked pointer of a new zero-filled raw buffer of width x height x samples elements, or
// null. Depths other than 8, 10, 12, 14, 16 and 32 bits give null.
void* AllocPixelBuffer(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                       std::uint32_t bits);
// Unlocks and frees the buffer *pixels points at (when not null); always nulls *pixels.
void FreePixelBuffer(void** pixels);
