// The multi-band Gaussian enhancement against a numpy implementation of its definition (padding,
// block averages, the two smoothings, band statistics in 128ths, the band table and its moving
// average, bilinear expansion, final scaling and histogram); all of its arithmetic is integer
// or fixed double steps, so the comparison is exact.
#include "pixel/filters/multiband.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/pixel/ref_check.h"

namespace {

using pixelfilters::RefCheck;
using Image = std::vector<std::uint16_t>;

// A smooth 12-bit scene with edges and noise, so every band has something in it.
Image Scene(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 40.0);
    Image image(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 1500 + 900 * std::sin(x * 0.21) * std::cos(y * 0.13) +
                       (x > width / 2 ? 700 : 0) + noise(random);
            image[std::size_t(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp(v, 0.0, 4095.0));
        }
    return image;
}

struct Params {
    int levels, frequency, size1, size2, sigma1, sigma2, border;
    std::vector<std::uint16_t> gains, clips;
};

std::string Json(int width, int height, const Params& p) {
    const auto list = [](const std::vector<std::uint16_t>& v) {
        std::string s = "[";
        for (std::size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
        return s + "]";
    };
    return "{\"rows\":" + std::to_string(height) + ",\"cols\":" + std::to_string(width) +
           ",\"levels\":" + std::to_string(p.levels) +
           ",\"frequency\":" + std::to_string(p.frequency) +
           ",\"size1\":" + std::to_string(p.size1) + ",\"size2\":" + std::to_string(p.size2) +
           ",\"sigma1\":" + std::to_string(p.sigma1) + ",\"sigma2\":" + std::to_string(p.sigma2) +
           ",\"border\":" + std::to_string(p.border) + ",\"gains\":" + list(p.gains) +
           ",\"clips\":" + list(p.clips) + "}";
}

bool Enhance(const Image& src, int width, int height, const Params& p, Image& out,
             std::vector<std::uint32_t>& histogram) {
    out.assign(src.size(), 0xBEEF);
    histogram.assign(4096, 0xBEEF);
    return MultiBandEnhance16(src.data(), width, height, out.data(), histogram.data(),
                              std::uint16_t(p.levels), std::uint16_t(p.frequency),
                              std::uint16_t(p.size1), std::uint16_t(p.size2),
                              std::uint16_t(p.sigma1), std::uint16_t(p.sigma2),
                              std::uint16_t(p.border), p.gains.data(), p.clips.data());
}

void CheckAgainstNumpy(const Image& src, int width, int height, const Params& p) {
    Image out;
    std::vector<std::uint32_t> histogram;
    ASSERT_TRUE(Enhance(src, width, height, p, out, histogram));
    RefCheck check;
    check.Write("src", src);
    check.Write("out", out);
    check.Write("hist", histogram);
    check.Run("multiband", Json(width, height, p));
}

void CheckAgainstNumpy(int width, int height, const Params& p, unsigned seed) {
    CheckAgainstNumpy(Scene(width, height, seed), width, height, p);
}

TEST(MultiBand, PaddedImageMatchesNumpy) {
    // 45 x 38 with F^L = 8 is padded to 48 x 40 around the image.
    CheckAgainstNumpy(45, 38, {3, 2, 7, 25, 100, 400, 4, {140, 105, 70}, {300, 200, 128}}, 1);
}

TEST(MultiBand, ExactMultipleWithBlocksOfThreeMatchesNumpy) {
    CheckAgainstNumpy(54, 27, {2, 3, 5, 15, 150, 300, 0, {120, 60}, {256, 64}}, 2);
}

TEST(MultiBand, OneLevelAndNarrowClipMatchNumpy) {
    CheckAgainstNumpy(20, 17, {1, 4, 3, 9, 80, 250, 2, {200}, {10}}, 3);
}

// 16-bit sources: the levels add up beyond 65535 without saturating, and the scaled result
// still spans 0..4095 with the detail in it.
TEST(MultiBand, SixteenBitSourceMatchesNumpyAndSpansTheRange) {
    const int width = 48, height = 40;
    Image src = Scene(width, height, 7);
    for (auto& v : src) v = static_cast<std::uint16_t>(v * 16);
    const Params p{3, 2, 7, 25, 100, 400, 4, {140, 105, 70}, {300, 200, 128}};
    Image out;
    std::vector<std::uint32_t> histogram;
    ASSERT_TRUE(Enhance(src, width, height, p, out, histogram));
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), 0);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 4095);
    EXPECT_GT(std::count_if(histogram.begin(), histogram.end(), [](auto n) { return n != 0; }),
              500);
    RefCheck check;
    check.Write("src", src);
    check.Write("out", out);
    check.Write("hist", histogram);
    check.Run("multiband", Json(width, height, p));
}

// Bright 16-bit data whose right half saturates in patches at 65535: there the low-pass alone
// is near the top and a level's result passes 16 bits. numpy's reference keeps every sum wide.
TEST(MultiBand, NearFullScaleMatchesNumpy) {
    const int width = 64, height = 48;
    std::mt19937 random(17);
    std::normal_distribution<double> noise(0.0, 600.0);
    Image src(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double v = 52000 + 14000 * std::sin(x * 0.21) * std::cos(y * 0.13) +
                             (x >= width / 2 ? 9000 : 0) + noise(random);
            src[std::size_t(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
        }
    ASSERT_GT(std::count(src.begin(), src.end(), 65535), 300);
    CheckAgainstNumpy(src, width, height,
                      {3, 2, 7, 25, 100, 400, 4, {140, 105, 70}, {300, 200, 128}});
}

TEST(MultiBand, ImagesSmallerThanTheBlockPowerAreRefused) {
    const Params p{5, 2, 7, 25, 100, 400, 0, {140, 112, 84, 56, 28}, {128, 128, 128, 128, 128}};
    Image out;
    std::vector<std::uint32_t> histogram;
    EXPECT_FALSE(Enhance(Scene(31, 40, 4), 31, 40, p, out, histogram));
    EXPECT_EQ(out[0], 0xBEEF);
    EXPECT_EQ(histogram[0], 0xBEEFu);
    EXPECT_TRUE(Enhance(Scene(32, 32, 4), 32, 32, p, out, histogram));
}

TEST(MultiBand, BorderPixelsAreScaledButNotCounted) {
    const Params p{2, 2, 7, 25, 100, 400, 16, {140, 70}, {128, 128}};
    Image out;
    std::vector<std::uint32_t> histogram;
    ASSERT_TRUE(Enhance(Scene(60, 50, 5), 60, 50, p, out, histogram));
    EXPECT_EQ(std::accumulate(histogram.begin(), histogram.end(), std::uint64_t{0}),
              std::uint64_t(60 - 32) * (50 - 32));
    for (auto v : out) EXPECT_LE(v, 4095);
}

TEST(MultiBand, FlatImageScalesToZero) {
    const Params p{2, 2, 7, 25, 100, 400, 0, {140, 70}, {128, 128}};
    Image out;
    std::vector<std::uint32_t> histogram;
    ASSERT_TRUE(Enhance(Image(40 * 24, 1234), 40, 24, p, out, histogram));
    for (auto v : out) EXPECT_EQ(v, 0);
    EXPECT_EQ(histogram[0], 40u * 24u);
}

TEST(MultiBand, BadArgumentsAreRefused) {
    const Image src = Scene(64, 64, 6);
    Image out;
    std::vector<std::uint32_t> histogram;
    const std::vector<std::uint16_t> nine(9, 100);
    EXPECT_FALSE(Enhance(src, 64, 64, {0, 2, 7, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 64, 64, {9, 1, 7, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 64, 64, {2, 0, 7, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 64, 64, {2, 2, 0, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 64, 64, {2, 2, 7, 25, 0, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 64, 64, {8, 65535, 7, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_FALSE(Enhance(src, 0, 64, {2, 2, 7, 25, 100, 400, 0, nine, nine}, out, histogram));
    EXPECT_EQ(out[0], 0xBEEF);
    // A border wider than the image counts nothing; kernels far wider than the image fold.
    EXPECT_TRUE(
        Enhance(src, 64, 64, {1, 1, 301, 999, 3000, 9000, 40000, nine, nine}, out, histogram));
    EXPECT_EQ(std::accumulate(histogram.begin(), histogram.end(), std::uint64_t{0}), 0u);
}

TEST(MultiBand, TableWithExponentOneIsARamp) {
    std::vector<std::uint32_t> table(4096);
    quorin::MultiBandTable(table.data(), 1000, 2000, 1.0, 50);
    EXPECT_EQ(table[999], 0u);
    EXPECT_EQ(table[1000], 0u);
    EXPECT_EQ(table[2000], 4095u);
    EXPECT_EQ(table[2001], 4095u);
    for (int i = 1000; i < 2000; ++i) {
        EXPECT_LE(table[i], table[i + 1]);
        EXPECT_NEAR(double(table[i]), (i - 1000) * 4095.0 / 1000.0, 6.0) << i;
    }
}

}  // namespace
