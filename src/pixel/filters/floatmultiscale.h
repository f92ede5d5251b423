// The float multi-scale enhancement of the cephalometric lens units: a 16-bit image becomes a
// float plane (optionally through a logarithmic table) centred in a working plane whose sides are
// multiples of 2^(levels-1), is reduced into a stack of 2 x 2 block means, and is rebuilt from
// the coarsest level down: on each level the band between two Gaussians is limited to a number
// of standard deviations around its mean, stretched and weighted, the low-pass is added back and
// the rebuilt coarser level is expanded into it. The result is stretched onto the grey range of
// the source and written back as 16 bits. Everything is single precision, as the units expect.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quorin {

// The parameters of one enhancement run of the lens units (one record per run).
struct LensParameters {
    float weight[14] = {};              // gain of each detail level (level 0 the finest)
    float clip[14] = {};                // limits of each band, in standard deviations
    std::int32_t unenhancedLevels = 0;  // finest levels left out of the level count
    std::int32_t gaussHalfWidthHF = 0;
    float gaussSigmaHF = 0.0f;
    std::int32_t gaussHalfWidthLF = 0;
    float gaussSigmaLF = 0.0f;
    std::uint8_t logFlag = 0;        // work through the logarithmic table
    std::uint8_t secondFlag = 0;     // always 0
    std::uint16_t maximumLevel = 0;  // 2^bits - 1
    std::int32_t levelCount = 0;
    std::int16_t s100 = 0;  // percentages that place the display window
    std::int16_t s200 = 0;
    std::int16_t histogramBorder = 0;  // pixels left out at each edge when the window is measured
    double e = 1.0;                    // exponent of the window's gamma table
};

// The deepest stack the enhancement runs (levels 0..13).
inline constexpr int kMaxFloatLevels = 14;

// Logarithmic table of n floats (M = n - 1) from the pixels below M: the smallest maps to 0, the
// largest to M, with ln(M + 200 - value) between; table[M] = M. A flat image (or none below M)
// gives scale 0. False for a null table, n < 2 or pixels missing while count > 0.
bool FloatLogTable(float* table, std::size_t n, const std::uint16_t* pixels, std::uint64_t count);

// The w x h source centred in the W x H plane at ((W-w)/2, (H-h)/2), each value through the table
// when one is given (pixels beyond the table take its last entry); the margins mirror the copied
// columns, then the copied rows, outward (the edge sample repeats first).
void ToFloatWithMargins(std::int64_t W, const std::uint16_t* src, float* dst, std::int64_t w,
                        std::int64_t h, std::int64_t H, const float* table, std::size_t entries);

// The w x h part at ((W-w)/2, (H-h)/2) written as trunc(v + 0.5), limited to 0..65535.
void FromFloat(const float* plane, std::uint16_t* dst, std::int64_t W, std::int64_t H,
               std::int64_t w, std::int64_t h);

// k[i] = exp(-(i - n/2)^2 / (2 sigma^2)) normalised to sum 1. A sigma that is not positive
// gives the unit impulse at n/2. False for n < 1.
bool FloatGaussKernel(float* kernel, float sigma, int n);

// Each of `lines` lines of `length` samples correlated with the kernel (tap i at offset i - n/2,
// samples beyond an end mirrored back, the end sample first) and written transposed: sample x of
// line y goes to dst[x x lines + y]. src and dst must differ.
void FloatConvolvePass(const float* src, float* dst, const float* kernel, int n,
                       std::int64_t length, std::int64_t lines);

// plane = G1(plane) - G2(plane), each a horizontal and a vertical pass; work2 keeps G2(plane),
// work1 is scratch. Each work plane holds width x height floats.
void DifferenceOfGaussians(std::int64_t width, float* plane, std::int64_t height, const float* k1,
                           int n1, float* work1, const float* k2, int n2, float* work2);

// Mean m and standard deviation s of the plane: low = m - k s, high = m + k s (null outputs are
// skipped).
void MeanAndSpread(std::int64_t width, const float* plane, std::int64_t height, float k, float* low,
                   float* high);

void FloatMinMax(std::int64_t width, std::int64_t height, const float* plane, float* min,
                 float* max);
void MinMax16(const std::uint16_t* pixels, std::int64_t width, std::int64_t height, float* min,
              float* max);

// v < lo -> a s; v > hi -> b s; otherwise (v - lo) x (b - a) s / (hi - lo) + a s (slope 0 when
// hi equals lo).
void LinearRescale(float* plane, std::int64_t width, std::int64_t height, float lo, float hi,
                   float a, float b, float s);

// The source (width x height) expanded two-fold with the bilinear weights 0.75 / 0.25 (each
// value and its right or lower neighbour, the last row and column repeating the edge) and added
// to the destination (2 width x 2 height).
void ExpandAndAdd(float* dst, const float* src, std::int64_t width, std::int64_t height);

// Enhances src into dst (both w x h). Level count below 1: dst becomes a copy of src; above 14,
// a null buffer, a side below 1 or a buffer that cannot be had: dst is not written. Answers
// whether dst was written.
bool FloatMultiScaleEnhance(const std::uint16_t* src, std::uint16_t* dst, std::int64_t w,
                            std::int64_t h, const LensParameters& parameters);

}  // namespace quorin
