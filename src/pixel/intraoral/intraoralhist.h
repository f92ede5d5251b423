// Histogram analysis of the intra-oral sensor images: histograms of a region that leave out the
// sensor's cut corners, the peak-and-valley search for the top of the useful range (with the
// stretch range and centre of the sigmoid curve), and the histogram form of the exposure
// judgement. Written once over the pixel type; histograms are as deep as the image.
#pragma once
#include <quorin/histogram.h>
#include <quorin/matrix.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/system/gdibitmap.h"

class CInfosCorners;

namespace quorin {

// (width, height) of the top-left, top-right, bottom-left and bottom-right cut corners.
using CornerPairs = std::int32_t[8];

// The pairs of a corners record; all 0 for none.
void GetCornerPairs(const CInfosCorners* corners, CornerPairs& pairs);

// The rectangle of columns left..width-1-inset and rows top..height-1-inset as a half-open RECT.
win::RECT InsetRegion(std::uint32_t width, std::uint32_t height, std::int32_t inset);

// Counts of the pixels of `region` (an empty or inverted rectangle: the whole image) without the
// four corner triangles that FillCorners paints (pairs with a member not above 0 take nothing
// out); `bits` deep (1..24). Null when no histogram can be made.
template <class P>
std::unique_ptr<CTHistogram<P>> CornerFreeHistogram(const CTMatrix<P>& pixels,
                                                    const win::RECT& region,
                                                    const CornerPairs& pairs, int bits);

// What the peak-and-valley search finds in a histogram of n bins.
struct PeakValley {
    std::uint64_t low = 0;       // first bin above the low threshold
    std::uint64_t high = 0;      // the valley below the top peak, or the last bin above the
                                 // high threshold when there is none
    std::uint64_t lowFound = 0;  // first level of a 51-level run of at least 50 pixels, + 25
    std::uint64_t peak = 0;      // the most prominent peak (0 when none)
    bool valley = false;         // high is a valley
};

// The peak-and-valley search on the bins of a histogram (bins 0 and n-1 are left out):
// thresholds of the bounds, the 0.3 share test on the part above the valley, and lowFound
// taken as the low result when asked. False for fewer than 3 bins or a failed allocation.
bool FindPeakValley(const unsigned int* bins, std::uint64_t n, unsigned int lowThreshold,
                    unsigned int highThreshold, bool fractionTest, bool useLowFound,
                    PeakValley* result);

// The histogram exposure judgement of the intra-oral images.
struct HistogramExposure {
    std::uint64_t low = 0;       // first level with a pixel
    std::uint64_t high = 0;      // highest level below the top bin with a pixel
    std::uint64_t lowCount = 0;  // pixels at `low`
    bool acceptableShape = false;
    bool saturated = false;  // only meaningful with a reference low above 0
};
// refLow and refHigh are the sensor's reference levels; `pixels` the image's pixel count.
bool JudgeHistogram(const unsigned int* bins, std::uint64_t n, std::uint64_t refLow,
                    std::uint64_t refHigh, std::uint64_t pixels, HistogramExposure* result);

}  // namespace quorin
