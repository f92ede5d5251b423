// The cases beside the typical ones: multi-band enhancement of 16-bit data reaching full scale,
// and the 3 x 3 median at widths one past a multiple of the vector width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/pixel/ref_check.h"
#include "common/platform/every_path.h"
#include "pixel/filters/filters8.h"
#include "pixel/filters/multiband.h"
#include "platform/system/cpu.h"

namespace {

// Bright 16-bit data whose right half saturates in patches at 65535: there the low-pass alone
// is near the top and a level's result passes 16 bits. numpy's reference keeps every sum wide.
TEST(FilterNeighbours, MultiBandNearFullScaleMatchesNumpy) {
    const int width = 64, height = 48;
    std::mt19937 random(17);
    std::normal_distribution<double> noise(0.0, 600.0);
    std::vector<std::uint16_t> src(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double v = 52000 + 14000 * std::sin(x * 0.21) * std::cos(y * 0.13) +
                             (x >= width / 2 ? 9000 : 0) + noise(random);
            src[std::size_t(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
        }
    ASSERT_GT(std::count(src.begin(), src.end(), 65535), 300);
    const std::vector<std::uint16_t> gains = {140, 105, 70}, clips = {300, 200, 128};
    std::vector<std::uint16_t> out(src.size());
    std::vector<std::uint32_t> histogram(4096);
    ASSERT_TRUE(MultiBandEnhance16(src.data(), width, height, out.data(), histogram.data(), 3, 2, 7,
                                   25, 100, 400, 4, gains.data(), clips.data()));
    pixelfilters::RefCheck check;
    check.Write("src", src);
    check.Write("out", out);
    check.Write("hist", histogram);
    check.Run("multiband",
              "{\"rows\":48,\"cols\":64,\"levels\":3,\"frequency\":2,\"size1\":7,\"size2\":25,"
              "\"sigma1\":100,\"sigma2\":400,\"border\":4,\"gains\":[140,105,70],"
              "\"clips\":[300,200,128]}");
}

// Widths of 32k + 1: the vector blocks end one column before the border column, which stays
// the source's; every other pixel is the median of its nine neighbours, on both paths.
TEST(FilterNeighbours, MedianAtWidthsOnePastTheVectorBlocks) {
    std::mt19937 random(5);
    for (const std::uint32_t width : {33u, 65u, 97u}) {
        SCOPED_TRACE(width);
        const std::uint32_t height = 4;
        std::vector<std::uint8_t> src(std::size_t(width) * height);
        for (auto& v : src) v = static_cast<std::uint8_t>(random());
        std::vector<std::uint8_t> expected = src;
        for (std::uint32_t y = 1; y + 1 < height; ++y)
            for (std::uint32_t x = 1; x + 1 < width; ++x) {
                std::vector<std::uint8_t> nine;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        nine.push_back(src[std::size_t(y + dy) * width + (x + dx)]);
                std::nth_element(nine.begin(), nine.begin() + 4, nine.end());
                expected[std::size_t(y) * width + x] = nine[4];
            }
        std::vector<std::uint8_t> fast(src.size()), avx2(src.size()), baseline(src.size());
        std::vector<std::uint8_t>* const out[] = {&fast, &avx2, &baseline};
        ASSERT_NO_FATAL_FAILURE(quorin::test::OnEveryPath([&](int path) {
            ASSERT_TRUE(Median3x3(src.data(), out[path]->data(), width, height));
        }));
        EXPECT_EQ(fast, expected) << (quorin::cpu::UseAvx2() ? "AVX2 path" : "baseline path");
        EXPECT_EQ(avx2, expected) << "AVX2-only path";
        EXPECT_EQ(baseline, expected) << "baseline path";
    }
}

}  // namespace
