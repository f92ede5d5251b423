// Histograms at their exact edges: a bin whose count equals the threshold, and regions of no
// width or no height.
#include <gtest/gtest.h>
#include <quorin/histogram.h>

namespace {

using Histogram8 = CTHistogram<unsigned char, unsigned, unsigned>;

TEST(HistogramBoundaries, ABinEqualToTheThresholdIsNotAboveIt) {
    Histogram8 histogram;
    unsigned* bins = histogram.BinData();
    bins[3] = 40, bins[4] = 41, bins[7] = 41, bins[8] = 40;
    unsigned char low = 0, high = 0;
    ASSERT_TRUE(histogram.Bounds(40, 40, &low, &high));
    EXPECT_EQ(low, 4);
    EXPECT_EQ(high, 7);
    ASSERT_TRUE(histogram.Bounds(39, 39, &low, &high));
    EXPECT_EQ(low, 3);
    EXPECT_EQ(high, 8);
}

TEST(HistogramBoundaries, ARegionWithoutWidthOrHeightIsEmptySoTheWholeMatrixCounts) {
    CTMatrix<unsigned char> matrix(3, 4);
    // (left, top, right, bottom)
    for (const win::RECT region : {win::RECT{1, 0, 1, 3}, win::RECT{0, 2, 4, 2}}) {
        Histogram8 histogram(&region);
        ASSERT_TRUE(histogram.Calculate(&matrix));
        EXPECT_EQ(histogram.BinData()[0], 12u);
    }
    const win::RECT oneColumn{1, 0, 2, 3};
    Histogram8 column(&oneColumn);
    ASSERT_TRUE(column.Calculate(&matrix));
    EXPECT_EQ(column.BinData()[0], 3u);
}

}  // namespace
