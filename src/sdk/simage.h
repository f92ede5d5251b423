// The size rule behind the SImage helpers (<quorin/simage.h>), shared with the readers that
// size pixel blocks the same way.
#pragma once
#include <quorin/simage.h>

#include <cstdint>

namespace quorin {
// Bytes of a block of width x height x samples elements of `elementBytes`, in 64 bits; false
// when the product exceeds kMaxSImageBytes.
bool PixelBlockBytes(std::uint32_t width, std::uint32_t height, std::uint32_t samples,
                     std::uint64_t elementBytes, std::uint64_t* bytes);
}  // namespace quorin
