// Nearest-neighbour resampling of pixel rows through Bresenham index tables, and the fixed-size
// thumbnail of a packed DIB built on it.
#pragma once
#include <cstdint>

#include "platform/core/globalmem.h"

// Flag bits of ResampleNearest.
inline constexpr std::uint32_t kResampleFlipRows = 1;    // destination rows in reverse order
inline constexpr std::uint32_t kResampleMirrorRows = 2;  // each destination row from its right end

// Fills `table` (destination entries) with the source index feeding each destination index of
// an axis enlarged or kept (destination >= source): Bresenham's line driven by the destination.
void BuildStretchIndex(std::int32_t* table, std::int32_t destination, std::int32_t source);
// The same for a shrunk axis (destination < source): the line driven by the source.
void BuildShrinkIndex(std::int32_t* table, std::int32_t destination, std::int32_t source);

// Resamples the source rectangle (x, y, width, height; strides in bytes) into the destination
// rectangle, 8, 16 or 24 bits per pixel. False for other depths, empty or oversized rectangles
// (sides above 65,535) or a failed table allocation; the destination is then untouched.
bool ResampleNearest(std::uint8_t* destination, std::int64_t destinationStride, std::int32_t dx,
                     std::int32_t dy, std::int32_t dw, std::int32_t dh, const std::uint8_t* source,
                     std::int64_t sourceStride, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                     std::int32_t sh, std::int32_t bitsPerPixel, std::uint32_t flags);

// A new DIB of the source's depth, 380 wide and 480 high, resampled from the source rectangle
// of the given size at its first stored row and column (clamped to the source). Null when the
// rectangle is empty, the source cannot be locked or is not 8 or 24 bits, or on failure.
win::HGLOBAL ResizeDIBTo380x480(win::HGLOBAL dib, std::int32_t sourceWidth,
                                std::int32_t sourceHeight);
