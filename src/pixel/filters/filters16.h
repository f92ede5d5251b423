// The 16-bit filter library: free functions over raw buffers of unsigned 16-bit pixels (width x
// height values, row after row, no padding). Spike clipping, look-up, separable Gaussian
// smoothing with integer kernels, block average and bilinear expansion, 3 x 3 maximum,
// differences around an offset, the contrast-normalising product, the combined background and
// detail enhancement, the logarithmic attenuation step and the look-up-table builders of the
// cephalometric images. Sizes are checked in 64 bits; a width or height below 1 or above the
// image limit does nothing (and answers false where there is an answer). The caller owns every
// buffer it passes; work buffers are made and freed inside.
#pragma once
#include <cstddef>
#include <cstdint>

// Every pixel with a full (2r+1) x (2r+1) window is limited, in `dst`, to the range of the
// window's rim in `src`; `dst` starts as a copy of `src` and accumulates the clipping. True when
// some pixel changed. False with nothing done when r < 1 or 2r >= width; false after the copy
// when 2r >= height.
bool ClipSpikes16(const std::uint16_t* src, std::uint16_t* dst, int width, int height, int r);

// level < 1000: one pass of radius `level`. level >= 1000: radius 1, then radii 2 .. level - 1000
// each from a copy of the previous result (radii that no longer fit the image are not run).
void ClipSpikesIterated16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                          int level);

// dst = table[src] for a table of `entries` values; pixels at or beyond the table take its last
// entry. Nothing for an empty table.
void ApplyLut16(const std::uint16_t* table, std::size_t entries, const std::uint16_t* src,
                std::uint16_t* dst, int width, int height);

// n Gaussian weights k[i] = trunc(exp(-(i - n/2)^2 / (2 s^2)) x 65535 / S + 0.5), s = sigma100 /
// 100 pixels, S = the sum of the unscaled exponentials; answers the sum of the weights, 0 (and
// nothing written) when n < 1 or sigma100 < 1.
std::uint32_t GaussKernel16(std::uint16_t* kernel, int sigma100, int n);

// One separable pass: each of `lines` lines of `length` samples is correlated with the kernel
// (tap i at offset i - n/2, samples beyond an end mirrored back into the line, the first of them
// being the end sample) and divided by `kernelSum` (truncated). The result is written
// transposed: sample x of line y goes to dst[x x lines + y], so two passes make a 2-D filter.
// False for bad sizes, an empty kernel, a zero sum or when a work line cannot be had.
bool ConvolvePass16(const std::uint16_t* src, std::uint16_t* dst, const std::uint16_t* kernel,
                    int n, std::uint32_t kernelSum, int length, int lines);

// Gaussian smoothing with half-width h = trunc(sqrt(-2 ln(0.5 / amplitude)) x sigma100 / 100):
// a plain copy when h is 0 (also for an amplitude of 0.5 or less), else the kernel of 2h + 1
// weights through a horizontal and a vertical pass. False only when a buffer cannot be had.
bool GaussSmooth16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                   double amplitude, int sigma100);

// dst (width/f x height/f) = trunc(block sum / f^2 + 0.5) of each f x f block; the columns and
// rows beyond the last whole block are left out. False, with nothing done, when f < 1,
// f > width or f > height, or the work row cannot be had.
bool BlockAverage16(const std::uint16_t* src, std::uint16_t* dst, int width, int height, int f);

// The small image (width/f x height/f) expanded f times into dst (width x height) with bilinear
// weights; small pixel (r, c) lands at (f/2 + r f, f/2 + c f), the borders repeat or interpolate
// along one side. Rows and columns beyond the last whole block keep the guide's pixels (copied
// first when a guide is given and a side is not a multiple of f) or what dst held. False, with
// nothing done, when f < 1, f > width or f > height, or the weight tables cannot be had.
bool BilinearExpand16(const std::uint16_t* small, std::uint16_t* dst, const std::uint16_t* guide,
                      int width, int height, int f);

namespace quorin {
// The same expansion over 16- or 32-bit values (the multi-band enhancement expands its 32-bit
// level sums with it); each value rounded half up.
template <class T>
bool BilinearExpand(const T* small, T* dst, const T* guide, int width, int height, int f);
}  // namespace quorin

// dst = the largest value of each 3 x 3 neighbourhood; the outer rows and columns are copied.
void Max3x3_16(const std::uint16_t* src, std::uint16_t* dst, int width, int height);

// dst = clamp(a - b + offset, 0, 65535).
void DiffOffset16(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* dst, int width,
                  int height, int offset);

// Contrast-normalising product of a and b over the inner region (margins mx columns and my
// rows; the whole image when the margins leave nothing): v = (a - minA)(b - minB) x scale +
// minA limited to minA..maxA, scale = (maxA - minA) / max((a - minA)(b - minB)). dst may be b.
void NormalisingProduct16(const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* dst,
                          int width, int height, int mx, int my);

// dst = clamp(base + (((detail - offset) x g) >> 4), 0, top) with g = gain x 16 / 10.
void AddScaledDetail16(const std::uint16_t* base, const std::uint16_t* detail, std::uint16_t* dst,
                       int width, int height, int offset, int gain, int top);

// The combined background-and-detail enhancement of the cephalometric images; `top` is the
// Gaussian amplitude and the output clamp. False (dst untouched) when a buffer cannot be had.
bool CombinedEnhance16(const std::uint16_t* src, std::uint16_t* dst, int width, int height,
                       int top);

// 12-bit pixels to stretched, inverted logarithms: v = trunc(ln(4095 - p) x 1024) (0 for p at or
// above 4095), out = trunc(4095 - ((v - vmin) x 4095 / (vmax - vmin) + 0.5)), each out counted
// into histogram[4096] (cleared first; may be null). A flat image gives 4094 everywhere.
bool AttenuationToLog16(const std::uint16_t* src, int width, int height, std::uint16_t* dst,
                        std::uint32_t* histogram);

// Two-segment gamma table of n 32-bit entries: a ramp 0..L over 0..P-1, a curve of exponent e
// from L to about (L + H) / 2 over the first `split` percent of P..Q, from there to H at Q, and a
// ramp from H to n - 1 above Q. Entries are written only below n.
void TwoSegmentGammaLut(std::uint32_t* table, std::int64_t n, std::int64_t low, std::int64_t high,
                        std::int64_t start, std::int64_t end, double exponent, std::int64_t split);

// The processing table of the cephalometric images (n 16-bit entries): below and at `low` the
// lower fill, a ramp (straight, or the curve 0.35 t^0.5 + 0.65 t^12 when curveFlag is 1) up to
// `high`, the upper fill above. fullScale 1: fills 0 and 4095 and the ramp spans 0..4095;
// fullScale 0: fills low and high and the ramp spans low..high. Entries are written only below n.
void BuildProcessingLut16(std::uint16_t* table, std::int64_t n, std::int64_t low, std::int64_t high,
                          int curveFlag, int fullScale);

// out[t] = (sum of max(values[k] + offset, 0) for k = max(t - w, 0) .. t - 1) / w; answers
// (sum of out) x 100 / n, 0 when n < 1 or w < 1 (out then untouched).
std::int64_t CausalMovingAverage(const std::uint32_t* values, std::uint32_t* out, std::int64_t n,
                                 std::int64_t w, std::int64_t offset);
