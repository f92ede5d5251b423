// The float multi-scale enhancement: its building blocks on the cases that are easy to get wrong
// and the whole run against a numpy evaluation of the same formulas.
#include "pixel/filters/floatmultiscale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/pixel/ceph_test.h"

namespace {

using quorin::LensParameters;

TEST(FloatBlocks, LogTableEnds) {
    // Pixels 100..3000 below M = 4095: 100 maps to 0, 3000 to M, pixels at M are left out.
    const std::vector<std::uint16_t> px = {100, 3000, 4095, 2000};
    std::vector<float> t(4096);
    ASSERT_TRUE(quorin::FloatLogTable(t.data(), t.size(), px.data(), px.size()));
    EXPECT_NEAR(t[100], 0.0f, 1e-3);
    EXPECT_NEAR(t[3000], 4095.0f, 1e-3);
    EXPECT_EQ(t[4095], 4095.0f);
    EXPECT_TRUE(std::is_sorted(t.begin(), t.end() - 1));  // levels above 3000 pass M: no cap
    // A flat image has scale 0: every entry below M is M - 0.
    const std::vector<std::uint16_t> flat(10, 500);
    ASSERT_TRUE(quorin::FloatLogTable(t.data(), t.size(), flat.data(), flat.size()));
    EXPECT_EQ(t[0], 4095.0f);
    EXPECT_EQ(t[4094], 4095.0f);
    EXPECT_FALSE(quorin::FloatLogTable(t.data(), 1, px.data(), px.size()));
}

TEST(FloatBlocks, ExpandRescaleAndMargins) {
    const float one = 3.0f;
    float dst[4] = {1, 1, 1, 1};
    quorin::ExpandAndAdd(dst, &one, 1, 1);
    for (float v : dst) EXPECT_EQ(v, 4.0f);

    float plane[4] = {-5, 0, 5, 10};
    quorin::LinearRescale(plane, 2, 2, 2.0f, 2.0f, 1.0f, 3.0f, 10.0f);
    EXPECT_EQ(std::vector<float>(plane, plane + 4), (std::vector<float>{10, 10, 30, 30}));

    // A 1 x 2 source in a 7 x 3 plane: columns mirror with the edge sample first.
    const std::uint16_t src[2] = {1, 2};
    std::vector<float> out(21, -1.0f);
    quorin::ToFloatWithMargins(7, src, out.data(), 2, 1, 3, nullptr, 0);
    const std::vector<float> row = {2, 1, 1, 2, 2, 1, 1};
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(std::vector<float>(out.begin() + r * 7, out.begin() + r * 7 + 7), row) << r;

    float k[5];
    ASSERT_TRUE(quorin::FloatGaussKernel(k, 0.0f, 5));  // sigma 0: the impulse, no division
    EXPECT_EQ(k[2], 1.0f);
    EXPECT_EQ(k[0] + k[1] + k[3] + k[4], 0.0f);
}

LensParameters Parameters(int levels, bool log) {
    LensParameters p;
    for (int i = 0; i < 14; ++i) {
        p.weight[i] = i == 0 ? 0.16f : i <= 6 ? 1.5f : 0.0f;
        p.clip[i] = i <= 7 ? 2.56f : 0.0f;
    }
    p.gaussHalfWidthHF = 3;
    p.gaussSigmaHF = 1.0f;
    p.gaussHalfWidthLF = 6;
    p.gaussSigmaLF = 2.0f;
    p.logFlag = log ? 1 : 0;
    p.maximumLevel = 4095;
    p.levelCount = levels;
    return p;
}

TEST(FloatMultiScale, MatchesNumpy) {
    const struct {
        int w, h, levels;
        bool log;
    } cases[] = {{37, 23, 3, true}, {40, 16, 1, false}, {9, 30, 4, false}, {5, 3, 4, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        auto src = cephtest::Noise(std::size_t(c.w) * c.h, 4096, 11 + c.w);
        for (int i = 0; i < c.w * c.h; i += 7) src[i] = std::uint16_t(src[i] / 3 + 1500);
        std::vector<std::uint16_t> dst(src.size(), 0);
        const LensParameters p = Parameters(c.levels, c.log);
        ASSERT_TRUE(quorin::FloatMultiScaleEnhance(src.data(), dst.data(), c.w, c.h, p));
        const auto [lo, hi] = std::minmax_element(src.begin(), src.end());
        for (std::uint16_t v : dst) ASSERT_TRUE(v >= *lo && v <= *hi);  // the source's range
        cephtest::Reference ref;
        ref.Write("src.raw", src);
        ref.Write("dst.raw", dst);
        char params[600];
        std::snprintf(params, sizeof params,
                      R"({"width":%d,"height":%d,"levels":%d,"log":%s,"maximum":4095,)"
                      R"("halfHF":3,"sigmaHF":1.0,"halfLF":6,"sigmaLF":2.0,)"
                      R"("weight":[0.16,1.5,1.5,1.5,1.5,1.5,1.5,0,0,0,0,0,0,0],)"
                      R"("clip":[2.56,2.56,2.56,2.56,2.56,2.56,2.56,2.56,0,0,0,0,0,0]})",
                      c.w, c.h, c.levels, c.log ? "true" : "false");
        ref.Run("multiscale", params);
    }
}

TEST(FloatMultiScale, LevelCountLimits) {
    const auto src = cephtest::Noise(64, 4096);
    std::vector<std::uint16_t> dst(64, 9);
    EXPECT_TRUE(quorin::FloatMultiScaleEnhance(src.data(), dst.data(), 8, 8, Parameters(0, true)));
    EXPECT_EQ(dst, src);  // no level: a copy
    std::fill(dst.begin(), dst.end(), 9);
    EXPECT_FALSE(quorin::FloatMultiScaleEnhance(src.data(), dst.data(), 8, 8, Parameters(15, 0)));
    EXPECT_EQ(dst, std::vector<std::uint16_t>(64, 9));  // not written
    EXPECT_FALSE(quorin::FloatMultiScaleEnhance(nullptr, dst.data(), 8, 8, Parameters(2, 0)));
    EXPECT_FALSE(quorin::FloatMultiScaleEnhance(src.data(), dst.data(), 0, 8, Parameters(2, 0)));
    // Ten levels on a tiny image: the working plane is 512 x 512 and the run completes.
    LensParameters deep = Parameters(10, false);
    deep.gaussHalfWidthHF = -4;  // a negative half-width is one tap
    EXPECT_TRUE(quorin::FloatMultiScaleEnhance(src.data(), dst.data(), 8, 8, deep));
}

}  // namespace
