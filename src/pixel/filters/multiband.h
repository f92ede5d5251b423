// The multi-band Gaussian enhancement of 16-bit images: the image is split recursively into
// block-averaged coarser copies; on each level the band between two Gaussian smoothings is
// stretched around its mean within a number of standard deviations through a curved table,
// weighted, added back to the level's low-pass and to the enhanced coarser levels, and the
// result is scaled to 0..4095 with a histogram of its inner part. The levels are summed in 32
// bits, so sources of any depth up to 16 bits are enhanced without saturating.
#pragma once
#include <cstdint>

// Enhances src (width x height) into dst (same size, values 0..4095) and fills histogram[4096]
// with the counts of the pixels at least `border` away from every edge. levels L (1..8, each
// level l using gains[l-1] in hundredths and clips[l-1] in 128ths), frequency F (>= 1): the block
// size between levels; size1/size2 and sigma1/sigma2 (hundredths): the two Gaussian kernels
// whose difference is the band. Every level's weight is 1.0. False, with dst and histogram
// untouched, when an argument is out of range, the image is smaller than F^L in either
// direction or a buffer cannot be had.
bool MultiBandEnhance16(const std::uint16_t* src, int width, int height, std::uint16_t* dst,
                        std::uint32_t* histogram, std::uint16_t levels, std::uint16_t frequency,
                        std::uint16_t size1, std::uint16_t size2, std::uint16_t sigma1,
                        std::uint16_t sigma2, std::uint16_t border, const std::uint16_t* gains,
                        const std::uint16_t* clips);

namespace quorin {

// The band table of 4096 entries over the window low..high with exponent e and the split in
// percent: 0 below low, a curve from 0 to about 2047 over the first split percent of the window,
// a curve from there to 4095 at high, 4095 above.
void MultiBandTable(std::uint32_t* table, std::int64_t low, std::int64_t high, double exponent,
                    std::int64_t split);

}  // namespace quorin
