// Histograms against numpy and scipy: counts (bincount), cumulative sums (cumsum), rebinning to
// 8 bits, convolution (correlate) and running medians (median_filter) at 8, 12 and 16 bits.
#include <gtest/gtest.h>
#include <quorin/histogram.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/core/globalmem.h"

using namespace quorin::test;

namespace {

template <class T>
void WriteArray(const std::string& path, const T* data, std::size_t count) {
    std::vector<std::uint8_t> bytes(count * sizeof(T));
    std::memcpy(bytes.data(), data, bytes.size());
    WriteBytes(path, bytes);
}

const char* kNumpyCheck = R"(
import sys
import numpy as np
from scipy.ndimage import median_filter
folder, bits, dtype, rows, cols = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
top, bottom, left, right = map(int, sys.argv[6:10])
load = lambda name, t: np.fromfile(f"{folder}/{name}", dtype=t)
n = 1 << bits
pixels = load("pixels", dtype).reshape(rows, cols).astype(np.int64)
def counts(values):
    values = values.ravel()
    return np.bincount(values[values < n], minlength=n)
whole = counts(pixels)
assert np.array_equal(load("hist", np.uint32), whole), "counts"
assert np.array_equal(load("region", np.uint32), counts(pixels[top:bottom, left:right])), "region"
assert np.array_equal(load("cumulative", np.float64), np.cumsum(whole).astype(np.float64)), "cumsum"
norm = np.cumsum(whole) / whole.sum()
assert np.allclose(load("normalised", np.float64), norm, rtol=0, atol=1e-12), "normalised"
target = np.floor(np.arange(n) * 255.0 / (n - 1) + 0.5).astype(np.int64)
rebinned = np.zeros(256); np.add.at(rebinned, target, whole)
assert np.array_equal(load("rebinned", np.float64), rebinned), "rebin"
kernel = load("kernel", np.float64); k = kernel.size; h = int(np.floor((k - 1) / 2 + 0.5))
conv = np.correlate(np.pad(whole.astype(np.float64), (h, k - 1 - h)), kernel, "valid")
assert np.allclose(load("convolved", np.float64), conv, rtol=1e-12, atol=1e-9), "convolve"
for size in (3, 5, 9):
    want = median_filter(whole, size=size, mode="constant", cval=0)
    assert np.array_equal(load(f"median{size}", np.uint32), want), f"median {size}"
print("ok")
)";

template <class P>
void CheckAgainstNumpy(int bits, const char* dtype, std::uint32_t seed) {
    const std::uint64_t live = win::globalmem_testing::LiveBlocks();
    constexpr unsigned kRows = 97, kCols = 131;
    TempDir dir;
    {
        CTMatrix<P> matrix(kRows, kCols);
        ASSERT_FALSE(matrix.IsEmpty());
        std::mt19937 random(seed);
        // Mostly a skewed distribution inside the depth, a few values with stray high bits.
        std::uniform_int_distribution<std::uint32_t> level(0, (1u << bits) - 1);
        for (unsigned i = 0; i < kRows * kCols; ++i) {
            std::uint32_t v = std::min(level(random), level(random));
            if (sizeof(P) > 1 && random() % 50 == 0) v |= 1u << bits;
            matrix.Data()[i] = static_cast<P>(v);
        }
        WriteArray(dir.file("pixels"), matrix.Data(), kRows * kCols);

        CTHistogram<P, unsigned, unsigned> histogram(nullptr, bits == 8 ? 0 : bits);
        ASSERT_EQ(histogram.BinCount(), 1u << bits);
        ASSERT_TRUE(histogram.Calculate(&matrix));
        ASSERT_TRUE(histogram.Calculate(&matrix));  // a recount starts from cleared bins
        WriteArray(dir.file("hist"), histogram.BinData(), histogram.BinCount());

        // A region reaching past the matrix is clipped to it.
        const win::RECT region{-5, 10, 500, 50};
        CTHistogram<P, unsigned, unsigned> part(&region, bits);
        ASSERT_TRUE(part.Calculate(&matrix));
        WriteArray(dir.file("region"), part.BinData(), part.BinCount());

        std::unique_ptr<CTHistogram<P, unsigned, double>> cumulative(histogram.Cumulative());
        ASSERT_TRUE(cumulative);
        WriteArray(dir.file("cumulative"), cumulative->BinData(), cumulative->BinCount());
        std::unique_ptr<CTVector<double>> normalised(histogram.CumulativeNormalised());
        ASSERT_TRUE(normalised);
        WriteArray(dir.file("normalised"), normalised->Data(), normalised->Size());
        std::unique_ptr<CTHistogram<P, unsigned, double>> rebinned(histogram.RebinTo8Bits());
        ASSERT_TRUE(rebinned);
        ASSERT_EQ(rebinned->BinCount(), 256u);
        WriteArray(dir.file("rebinned"), rebinned->BinData(), 256);

        double weights[] = {0.05, 0.2, 0.5, 0.2, 0.05, 0.125, 0.25};
        CTVector<double> kernel(7, weights, false);
        WriteArray(dir.file("kernel"), kernel.Data(), kernel.Size());
        std::unique_ptr<CTHistogram<P, unsigned, double>> convolved(histogram.Convolve(&kernel));
        ASSERT_TRUE(convolved);
        WriteArray(dir.file("convolved"), convolved->BinData(), convolved->BinCount());

        for (unsigned size : {3u, 5u, 9u}) {
            std::unique_ptr<CTHistogram<P, unsigned, unsigned>> smoothed(histogram.Smooth(size));
            ASSERT_TRUE(smoothed);
            WriteArray(dir.file("median" + std::to_string(size)), smoothed->BinData(),
                       smoothed->BinCount());
        }
        const CommandResult result =
            RunPython(kNumpyCheck, {dir.path(), std::to_string(bits), dtype, std::to_string(kRows),
                                    std::to_string(kCols), "10", "50", "0", std::to_string(kCols)});
        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(result.output, "ok\n");
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(HistogramNumpy, EightBits) {
    CheckAgainstNumpy<unsigned char>(8, "uint8", 1);
}
TEST(HistogramNumpy, TwelveBits) {
    CheckAgainstNumpy<unsigned short>(12, "uint16", 2);
}
TEST(HistogramNumpy, SixteenBits) {
    CheckAgainstNumpy<unsigned short>(16, "uint16", 3);
}

TEST(Histogram, DepthFromThePixelType) {
    EXPECT_EQ((CTHistogram<unsigned char, unsigned, double>().BinCount()), 256u);
    EXPECT_EQ((CTHistogram<unsigned short, unsigned, unsigned>().BinCount()), 65536u);
    // 32-bit pixels need an explicit depth; 2^32 bins cannot be counted.
    CTHistogram<unsigned int, unsigned, unsigned> wide;
    EXPECT_EQ(wide.BinCount(), 0u);
    CTMatrix<unsigned int> matrix(2, 2);
    EXPECT_FALSE(wide.Calculate(&matrix));
    EXPECT_EQ(wide.Cumulative(), nullptr);
    CTHistogram<unsigned int, unsigned, unsigned> twelve(nullptr, 12);
    EXPECT_EQ(twelve.BinCount(), 4096u);
    EXPECT_EQ((CTHistogram<unsigned short, unsigned, unsigned>(nullptr, 40).BinCount()), 0u);
}

TEST(Histogram, EmptyAndMissingInputs) {
    CTHistogram<unsigned char, unsigned, unsigned> histogram;
    EXPECT_FALSE(histogram.Calculate(nullptr));
    CTMatrix<unsigned char> none(0, 5);
    EXPECT_TRUE(histogram.Calculate(&none));
    EXPECT_EQ(histogram.Total(), 0u);
    EXPECT_EQ(histogram.CumulativeNormalised(), nullptr);  // total 0: no division by zero
    EXPECT_EQ(histogram.Smooth(4), nullptr);
    EXPECT_EQ(histogram.Smooth(1), nullptr);
    EXPECT_EQ(histogram.Convolve(nullptr), nullptr);
    // An inverted region means the whole matrix.
    CTMatrix<unsigned char> matrix(3, 3);
    const win::RECT inverted{3, 3, 1, 1};
    CTHistogram<unsigned char, unsigned, unsigned> all(&inverted);
    ASSERT_TRUE(all.Calculate(&matrix));
    EXPECT_EQ(all.BinData()[0], 9u);
    // A region wholly outside the matrix counts nothing.
    const win::RECT outside{5, 0, 9, 3};
    CTHistogram<unsigned char, unsigned, unsigned> outsideHistogram(&outside);
    ASSERT_TRUE(outsideHistogram.Calculate(&matrix));
    EXPECT_EQ(outsideHistogram.Total(), 0u);
}

TEST(Histogram, BoundsAndFilling) {
    CTHistogram<unsigned char, unsigned, unsigned> histogram;
    unsigned* bins = histogram.BinData();
    bins[3] = 50, bins[7] = 41, bins[9] = 10;
    unsigned char low = 0, high = 0;
    ASSERT_TRUE(histogram.Bounds(40, 40, &low, &high));
    EXPECT_EQ(low, 3);
    EXPECT_EQ(high, 7);
    ASSERT_TRUE(histogram.Bounds(100, 100, &low, &high));  // nothing above: the whole range
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);

    CTHistogram<unsigned short, unsigned, double> filled(nullptr, 3);
    double* f = filled.BinData();
    const double before[8] = {0, 4, 0, 0, 8, 0, 2, 0};
    std::copy(before, before + 8, f);
    filled.FillEmptyBins();
    const double after[8] = {0, 4, 2, 5, 8, 5, 2, 0};  // a filled bin feeds the next
    EXPECT_EQ(std::vector<double>(f, f + 8), std::vector<double>(after, after + 8));
}

}  // namespace
