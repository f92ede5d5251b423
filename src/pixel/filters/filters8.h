// The 8-bit filter library: stateless neighbourhood filters over 8-bit grey pictures held as one
// block of rows (row stride = width, row 0 first). Each works from a source block into a target
// block of the same size (or in place where the name says so); pixels outside a filter's interior
// are copied from the source unchanged, and a picture too small to have an interior is copied
// whole. Scratch blocks come from the global heap and are freed before returning. Every function
// answers false, with the target unfinished, for null blocks, a side of 0 or above 65,535, or a
// scratch block that cannot be had.
#pragma once
#include <cstdint>

// Median of the 3 x 3 neighbourhood (1-pixel border copied).
bool Median3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
               std::uint32_t height);
// Sum of the 3 x 3 neighbourhood / 9, integer division.
bool Mean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height);
// Sum of the 8 neighbours shifted right by 3 (the centre not used).
bool NeighbourMean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                      std::uint32_t height);
// Sum of the 5 x 5 neighbourhood / 25 (2-pixel border copied).
bool Mean5x5(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height);
// Mean of the 9 values without the two largest and the two smallest, integer division by 5.
bool TrimmedMean3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                    std::uint32_t height);
// Mean of the 25 values without the two largest and the two smallest, integer division by 21.
bool TrimmedMean5x5(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                    std::uint32_t height);
// Maximum and minimum of the 3 x 3 neighbourhood; the in-place forms keep two row buffers.
bool Max3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
            std::uint32_t height);
bool Max3x3InPlace(std::uint8_t* image, std::uint32_t width, std::uint32_t height);
bool Min3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
            std::uint32_t height);
bool Min3x3InPlace(std::uint8_t* image, std::uint32_t width, std::uint32_t height);
// Min3x3 followed by a Max3x3 pass in place.
bool Open3x3(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height);
// The centre clamped into the range of its 8 neighbours (a lone spike is cut down).
bool ClipToNeighbourRange(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                          std::uint32_t height);
// s = I(r-1,c) + I(r-1,c+1) + I(r,c+1) - I(r,c-1) - I(r+1,c-1) - I(r+1,c);
// value = s x 3 / 2 (toward zero) + 150, clamped to 0..255.
bool Relief8(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
             std::uint32_t height);
// Pixels more than 5 away from their 11 x 11 mean pushed further from their neighbours
// (5-pixel border copied).
bool NeighbourhoodSharpen(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                          std::uint32_t height);
// The intra-oral multi-filter: the source plus weighted differences of its smoothed picture
// against that picture dilated three times and eroded twice.
bool MultiFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height);
// The generic multi-filter of strength s: source + W(opened trimmed mean) - W(coarse detail),
// W(i) = (i x s) >> 2 (1-pixel border copied).
bool MultiFilter(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                 std::uint32_t height, std::int32_t strength);
// Adds the gain-weighted Laplacian detail of the picture reduced by 3 to `detail` (width x height
// 16-bit values); does nothing to a picture whose reduced size is below 3 x 3.
bool DetailEnhance8(std::uint32_t width, std::uint32_t height, const std::uint8_t* source,
                    std::int16_t* detail, std::int32_t gain);
// target = source + the level-1 detail (block 3, dead zone 8, gain 8), clamped to 0..255.
bool MultiLevelDetail(const std::uint8_t* source, std::uint8_t* target, std::uint32_t width,
                      std::uint32_t height);
