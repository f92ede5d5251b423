// The 16-bit filter library against independent references: the Gaussian smoothing against
// scipy.ndimage.correlate1d with mode "reflect" (d c b a | a b c d, OpenCV's BORDER_REFLECT)
// and floor division by the kernel sum after each pass; the block average, bilinear expansion,
// maximum (scipy maximum_filter), spike clipping, offsets, normalising product, logarithm,
// combined enhancement and table builders against numpy versions of their definitions. Every
// comparison is exact.
#include "pixel/filters/filters16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/pixel/ref_check.h"

namespace {

using pixelfilters::RefCheck;
using Image = std::vector<std::uint16_t>;

Image RandomImage(int width, int height, unsigned seed, int top) {
    std::mt19937 random(seed);
    Image image(std::size_t(width) * height);
    for (auto& v : image) v = static_cast<std::uint16_t>(random() % (top + 1));
    return image;
}

TEST(GaussSmooth16, MatchesScipyCorrelateWithReflectedBorders) {
    struct Case {
        int rows, cols;
        double amplitude;
        int sigma, top;
    };
    // Kernels narrower and wider than the image, 12- and 16-bit values (the second needs sums
    // beyond 32 bits), and an amplitude too small to smooth.
    const Case cases[] = {{37, 53, 4095, 200, 4095},   {20, 15, 4095, 700, 4095},
                          {64, 48, 65535, 300, 65535}, {9, 11, 65535, 1500, 65535},
                          {12, 12, 0.4, 300, 4095},    {1, 40, 4095, 250, 4095}};
    std::vector<std::uint16_t> images;
    std::string json = "{\"cases\":[";
    unsigned seed = 1;
    for (const Case& c : cases) {
        const Image src = RandomImage(c.cols, c.rows, seed++, c.top);
        Image out(src.size(), 0);
        ASSERT_TRUE(GaussSmooth16(src.data(), out.data(), c.cols, c.rows, c.amplitude, c.sigma));
        images.insert(images.end(), src.begin(), src.end());
        images.insert(images.end(), out.begin(), out.end());
        json += (seed > 2 ? "," : "") + std::string("{\"rows\":") + std::to_string(c.rows) +
                ",\"cols\":" + std::to_string(c.cols) +
                ",\"amplitude\":" + std::to_string(c.amplitude) +
                ",\"sigma\":" + std::to_string(c.sigma) + "}";
    }
    json += "],\"kernels\":[";
    std::vector<std::uint16_t> kernels;
    const int kernelCases[][2] = {{200, 17}, {100, 7}, {400, 25}, {50, 4}, {1000, 1}, {33, 9}};
    for (const auto& k : kernelCases) {
        std::vector<std::uint16_t> kernel(static_cast<std::size_t>(k[1]));
        std::uint32_t sum = GaussKernel16(kernel.data(), k[0], k[1]);
        std::uint32_t expected = 0;
        for (auto v : kernel) expected += v;
        EXPECT_EQ(sum, expected);
        kernels.insert(kernels.end(), kernel.begin(), kernel.end());
        json += (&k == kernelCases ? "" : ",") + std::string("{\"sigma\":") + std::to_string(k[0]) +
                ",\"n\":" + std::to_string(k[1]) + "}";
    }
    json += "]}";
    RefCheck check;
    check.Write("images", images);
    check.Write("kernels", kernels);
    check.Run("smooth", json);
}

TEST(GaussSmooth16, PassWritesTransposed) {
    const Image src = RandomImage(13, 7, 4, 4095);
    std::uint16_t kernel[9];
    const std::uint32_t sum = GaussKernel16(kernel, 150, 9);
    Image once(src.size()), twice(src.size()), smooth(src.size());
    ASSERT_TRUE(ConvolvePass16(src.data(), once.data(), kernel, 9, sum, 13, 7));
    ASSERT_TRUE(ConvolvePass16(once.data(), twice.data(), kernel, 9, sum, 7, 13));
    // h = trunc(sqrt(-2 ln(0.5 / 4095)) x 1.5) = 6: a different kernel, so only the layout is
    // compared here: one pass over a constant image keeps it constant and transposes the size.
    Image flat(13 * 7, 1000), flatOnce(13 * 7);
    ASSERT_TRUE(ConvolvePass16(flat.data(), flatOnce.data(), kernel, 9, sum, 13, 7));
    for (auto v : flatOnce) EXPECT_EQ(v, 1000);
    EXPECT_FALSE(ConvolvePass16(src.data(), once.data(), kernel, 0, sum, 13, 7));
    EXPECT_FALSE(ConvolvePass16(src.data(), once.data(), kernel, 9, 0, 13, 7));
    (void)smooth;
    // The transposed pair equals a smoothing with the same kernel: row pass then column pass.
    for (int y = 0; y < 7; ++y) {
        std::uint64_t acc = 0;
        for (int t = 0; t < 9; ++t) {
            int x = t - 4;  // x = 0 with mirrored left end
            if (x < 0) x = -x - 1;
            acc += std::uint64_t(kernel[t]) * src[std::size_t(y) * 13 + x];
        }
        EXPECT_EQ(once[std::size_t(0) * 7 + y], acc / sum);
    }
}

TEST(Filters16, BlockBilinearMaximumClipOffsetsAndLogMatchNumpy) {
    constexpr int kRows = 23, kCols = 31, kBlock = 5;
    Image src = RandomImage(kCols, kRows, 21, 4095);
    src[5] = 4095;
    src[6] = 4200;  // above the 12-bit top: no logarithm
    const Image other = RandomImage(kCols, kRows, 22, 65535);
    const int sw = kCols / kBlock, sh = kRows / kBlock;
    Image block(std::size_t(sw) * sh), expanded(src.size(), 0), maximum(src.size());
    ASSERT_TRUE(BlockAverage16(src.data(), block.data(), kCols, kRows, kBlock));
    const Image small = RandomImage(sw, sh, 23, 4095);
    ASSERT_TRUE(BilinearExpand16(small.data(), expanded.data(), src.data(), kCols, kRows, kBlock));
    // The same expansion over 32-bit values beyond 16 bits, without a guide.
    std::vector<std::uint32_t> small32(small.size()), expanded32(src.size(), 0);
    for (std::size_t i = 0; i < small.size(); ++i) small32[i] = small[i] * 1000003u + 7u;
    ASSERT_TRUE(quorin::BilinearExpand<std::uint32_t>(small32.data(), expanded32.data(), nullptr,
                                                      kCols, kRows, kBlock));
    Max3x3_16(src.data(), maximum.data(), kCols, kRows);
    RefCheck check;
    for (int r = 1; r <= 3; ++r) {
        Image clipped(src.size());
        ClipSpikes16(src.data(), clipped.data(), kCols, kRows, r);
        check.Write("clip" + std::to_string(r), clipped);
    }
    Image diff(src.size()), norm(src.size()), detail(src.size()), log(src.size());
    DiffOffset16(src.data(), other.data(), diff.data(), kCols, kRows, 32768);
    NormalisingProduct16(src.data(), other.data(), norm.data(), kCols, kRows, 4, 3);
    AddScaledDetail16(src.data(), other.data(), detail.data(), kCols, kRows, 32768, 15, 4095);
    std::vector<std::uint32_t> histogram(4096, 7);
    ASSERT_TRUE(AttenuationToLog16(src.data(), kCols, kRows, log.data(), histogram.data()));
    check.Write("src", src);
    check.Write("other", other);
    check.Write("block", block);
    check.Write("small", small);
    check.Write("expanded", expanded);
    check.Write("small32", small32);
    check.Write("expanded32", expanded32);
    check.Write("max", maximum);
    check.Write("diff", diff);
    check.Write("norm", norm);
    check.Write("detail", detail);
    check.Write("log", log);
    check.Write("loghist", histogram);
    check.Run("filters", "{\"rows\":23,\"cols\":31,\"f\":5}");
}

TEST(Filters16, CombinedEnhancementMatchesNumpy) {
    constexpr int kRows = 131, kCols = 97;
    const Image src = RandomImage(kCols, kRows, 31, 4095);
    Image out(src.size());
    ASSERT_TRUE(CombinedEnhance16(src.data(), out.data(), kCols, kRows, 4095));
    RefCheck check;
    check.Write("src", src);
    check.Write("out", out);
    check.Run("combined", "{\"rows\":131,\"cols\":97,\"top\":4095}");
}

TEST(Filters16, TablesMatchNumpy) {
    // n, L, H, P, Q, e, split
    const std::vector<std::vector<double>> gamma = {{4096, 200, 3500, 800, 3000, 0.6, 50},
                                                    {4096, 0, 4095, 100, 4000, 1.8, 60},
                                                    {256, 10, 240, 20, 254, 1.0, 50},
                                                    {256, 10, 240, 20, 100, 2.0, 100}};
    std::vector<std::uint32_t> gammaOut;
    std::string json = "{\"gamma\":[";
    for (const auto& g : gamma) {
        std::vector<std::uint32_t> table(std::size_t(g[0]), 0);
        TwoSegmentGammaLut(table.data(), std::int64_t(g[0]), std::int64_t(g[1]), std::int64_t(g[2]),
                           std::int64_t(g[3]), std::int64_t(g[4]), g[5], std::int64_t(g[6]));
        gammaOut.insert(gammaOut.end(), table.begin(), table.end());
        json += std::string(&g == gamma.data() ? "" : ",") + "[" + std::to_string(int(g[0])) + "," +
                std::to_string(int(g[1])) + "," + std::to_string(int(g[2])) + "," +
                std::to_string(int(g[3])) + "," + std::to_string(int(g[4])) + "," +
                std::to_string(g[5]) + "," + std::to_string(int(g[6])) + "]";
    }
    json += "],\"processing\":[";
    const int processing[][5] = {{4096, 1000, 3000, 1, 1}, {4096, 1000, 3000, 0, 1},
                                 {4096, 500, 3500, 1, 0},  {4096, 500, 3500, 0, 0},
                                 {4096, 2000, 2000, 1, 1}, {65536, 100, 60000, 1, 0}};
    std::vector<std::uint16_t> processingOut;
    for (const auto& p : processing) {
        std::vector<std::uint16_t> table(std::size_t(p[0]), 0);
        BuildProcessingLut16(table.data(), p[0], p[1], p[2], p[3], p[4]);
        processingOut.insert(processingOut.end(), table.begin(), table.end());
        json += std::string(&p == processing ? "" : ",") + "[" + std::to_string(p[0]) + "," +
                std::to_string(p[1]) + "," + std::to_string(p[2]) + "," + std::to_string(p[3]) +
                "," + std::to_string(p[4]) + "]";
    }
    json += "],\"averages\":[[500,0],[1,-3],[7,5],[100,-2000]],\"means\":[";
    std::vector<std::uint32_t> values(1500);
    std::mt19937 random(41);
    for (auto& v : values) v = random() % 4000;
    std::vector<std::uint32_t> averages;
    const int averageCases[][2] = {{500, 0}, {1, -3}, {7, 5}, {100, -2000}};
    for (const auto& a : averageCases) {
        std::vector<std::uint32_t> out(values.size());
        const std::int64_t mean =
            CausalMovingAverage(values.data(), out.data(), std::int64_t(values.size()), a[0], a[1]);
        averages.insert(averages.end(), out.begin(), out.end());
        json += std::string(&a == averageCases ? "" : ",") + std::to_string(mean);
    }
    json += "]}";
    RefCheck check;
    check.Write("gamma", gammaOut);
    check.Write("processing", processingOut);
    check.Write("values", values);
    check.Write("averages", averages);
    check.Run("luts", json);
}

TEST(Filters16, ProcessingTableFixedPoints) {
    std::vector<std::uint16_t> table(4096);
    BuildProcessingLut16(table.data(), 4096, 1000, 3000, 1, 1);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1000], 0);
    EXPECT_EQ(table[2000], 1014);
    EXPECT_EQ(table[3000], 4095);
    EXPECT_EQ(table[4095], 4095);
    BuildProcessingLut16(table.data(), 4096, 1500, 1500, 1, 1);
    EXPECT_EQ(table[1500], 0);
    EXPECT_EQ(table[1501], 4095);
    // A window beyond the table writes nothing past its end.
    std::vector<std::uint16_t> shortTable(100, 7);
    BuildProcessingLut16(shortTable.data(), 50, 10, 400, 1, 0);
    EXPECT_EQ(shortTable[50], 7);
}

TEST(ClipSpikes16, RadiusOneOnThreeByThreeLimitsTheCentre) {
    const std::uint16_t src[9] = {10, 20, 30, 40, 999, 50, 60, 70, 80};
    std::uint16_t dst[9];
    EXPECT_TRUE(ClipSpikes16(src, dst, 3, 3, 1));
    for (int i = 0; i < 9; ++i) EXPECT_EQ(dst[i], i == 4 ? 80 : src[i]);
    EXPECT_FALSE(ClipSpikes16(src, dst, 3, 3, 0));
    EXPECT_FALSE(ClipSpikes16(src, dst, 3, 3, 2));
}

TEST(ClipSpikes16, IteratedLevels) {
    const Image src = RandomImage(30, 20, 51, 4095);
    Image one(src.size()), iterated(src.size()), two(src.size()), step(src.size());
    ClipSpikes16(src.data(), one.data(), 30, 20, 1);
    ClipSpikesIterated16(src.data(), iterated.data(), 30, 20, 1000);
    EXPECT_EQ(iterated, one);
    ClipSpikesIterated16(src.data(), iterated.data(), 30, 20, 1002);
    ClipSpikes16(one.data(), two.data(), 30, 20, 2);
    EXPECT_EQ(iterated, two);
    // Radii that no longer fit stop the iteration instead of running on.
    ClipSpikesIterated16(src.data(), step.data(), 30, 20, 2000000000);
    ClipSpikesIterated16(src.data(), iterated.data(), 30, 20, 1009);
    EXPECT_EQ(step, iterated);
}

TEST(Filters16, SmallAmplitudeCopiesAndBlockEdges) {
    const Image src = RandomImage(17, 9, 61, 4095);
    Image out(src.size(), 0);
    ASSERT_TRUE(GaussSmooth16(src.data(), out.data(), 17, 9, 0.5, 300));
    EXPECT_EQ(out, src);
    ASSERT_TRUE(GaussSmooth16(src.data(), out.data(), 17, 9, 0.0, 300));
    EXPECT_EQ(out, src);
    // Width 17 by 5: three columns of blocks, columns 15 and 16 are left out.
    Image small(3, 0xFFFF);
    Image one(17 * 5, 0);
    for (int y = 0; y < 5; ++y) one[std::size_t(y) * 17 + 16] = 60000;
    BlockAverage16(one.data(), small.data(), 17, 5, 5);
    EXPECT_EQ(small, Image(3, 0));
}

TEST(BilinearExpand16, KeepsTheGuideBeyondTheLastBlockAndRepeatsTheCorner) {
    constexpr int kWidth = 1003, kHeight = 10;
    const Image small = RandomImage(200, 2, 71, 4095);
    const Image guide = RandomImage(kWidth, kHeight, 72, 4095);
    Image out(std::size_t(kWidth) * kHeight, 0);
    BilinearExpand16(small.data(), out.data(), guide.data(), kWidth, kHeight, 5);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 1000; x < kWidth; ++x)
            EXPECT_EQ(out[std::size_t(y) * kWidth + x], guide[std::size_t(y) * kWidth + x]);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(out[std::size_t(y) * kWidth + x], small[0]);
    EXPECT_NE(out[std::size_t(2) * kWidth + 2], 0);
}

TEST(Filters16, HostileSizesDoNothing) {
    Image buffer(16, 5);
    std::uint16_t kernel[3] = {1, 2, 1};
    EXPECT_FALSE(ClipSpikes16(buffer.data(), buffer.data(), 0, 4, 1));
    EXPECT_FALSE(ClipSpikes16(buffer.data(), buffer.data(), -4, 4, 1));
    EXPECT_FALSE(GaussSmooth16(buffer.data(), buffer.data(), 4, -4, 4095, 200));
    EXPECT_FALSE(GaussSmooth16(buffer.data(), buffer.data(), 70000, 70000, 4095, 200));
    EXPECT_FALSE(ConvolvePass16(buffer.data(), buffer.data(), kernel, 3, 4, -1, 4));
    EXPECT_EQ(GaussKernel16(kernel, 0, 3), 0u);
    EXPECT_EQ(GaussKernel16(kernel, 100, 0), 0u);
    EXPECT_FALSE(BlockAverage16(buffer.data(), buffer.data(), 4, 4, 0));
    EXPECT_FALSE(BlockAverage16(buffer.data(), buffer.data(), 4, 4, 5));
    EXPECT_FALSE(BilinearExpand16(buffer.data(), buffer.data(), nullptr, 4, 4, 9));
    // No whole row of blocks.
    EXPECT_FALSE(BilinearExpand16(buffer.data(), buffer.data(), nullptr, 8, 2, 4));
    ApplyLut16(nullptr, 0, buffer.data(), buffer.data(), 4, 4);
    Max3x3_16(buffer.data(), buffer.data(), 1, 1);
    EXPECT_FALSE(CombinedEnhance16(buffer.data(), buffer.data(), 0, 0, 4095));
    EXPECT_EQ(CausalMovingAverage(nullptr, nullptr, 10, 1, 0), 0);
    std::uint32_t values[4] = {1, 2, 3, 4}, out[4] = {};
    EXPECT_EQ(CausalMovingAverage(values, out, 4, 0, 0), 0);
    for (auto v : buffer) EXPECT_EQ(v, 5);
    // Tiny images through the combined enhancement: no whole block, no inner region.
    Image tiny = RandomImage(4, 3, 81, 4095), tinyOut(12);
    EXPECT_TRUE(CombinedEnhance16(tiny.data(), tinyOut.data(), 4, 3, 4095));
}

TEST(Filters16, LookUpClampsToTheTable) {
    const std::uint16_t table[4] = {100, 200, 300, 400};
    const std::uint16_t src[5] = {0, 1, 3, 4, 65535};
    std::uint16_t dst[5];
    ApplyLut16(table, 4, src, dst, 5, 1);
    const std::uint16_t expected[5] = {100, 200, 400, 400, 400};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(dst[i], expected[i]);
}

}  // namespace
