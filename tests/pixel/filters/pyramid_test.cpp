// The Laplacian pyramid against an independent numpy implementation of its reduce, expand,
// decomposition, coefficient mappings and noise estimate (float32 arithmetic in the same order,
// so the comparison is exact), plus reconstruction, clipping and the driver's states.
#include "pixel/filters/pyramid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/pixel/ref_check.h"
#include "platform/system/cpu.h"

namespace {

using pixelfilters::RefCheck;

void RandomImage(C2DArr<unsigned short>& image, std::uint32_t width, std::uint32_t height,
                 unsigned seed, unsigned top = 4095) {
    EXPECT_TRUE(image.Create(width, height, 1, nullptr));
    std::mt19937 random(seed);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            image.Row(y)[x] = static_cast<unsigned short>(random() % (top + 1));
}

TEST(PyramidLines, ReduceAndExpandMatchNumpyForEveryLength) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-500.0f, 4000.0f);
    std::vector<float> all;
    std::string cases;
    for (std::uint32_t index = 0; index < 3; ++index) {
        for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 17, 37, 64}) {
            const int m = (n + 1) >> 1;
            std::vector<float> line(n), reduced(m), coarse(m), expanded(n);
            for (float& v : line) v = value(random);
            for (float& v : coarse) v = value(random);
            const quorin::PyramidWeights& w = *quorin::PyramidFilterWeights(index);
            quorin::PyramidReduceLine(line.data(), reduced.data(), n, w);
            quorin::PyramidExpandLine(coarse.data(), expanded.data(), n, w);
            for (auto* part : {&line, &reduced, &coarse, &expanded})
                all.insert(all.end(), part->begin(), part->end());
            cases += (cases.empty() ? "" : ",") + std::string("{\"n\":") + std::to_string(n) +
                     ",\"index\":" + std::to_string(index) + "}";
        }
    }
    EXPECT_EQ(quorin::PyramidFilterWeights(3), nullptr);
    RefCheck check;
    check.Write("lines", all);
    check.Run("pyramid_lines", "{\"cases\":[" + cases + "]}");
}

TEST(PyramidLines, TwoSamplesExpandToTheOneSample) {
    const float coarse[1] = {123.456f};
    float out[2] = {0, 0};
    quorin::PyramidExpandLine(coarse, out, 2, *quorin::PyramidFilterWeights(0));
    EXPECT_EQ(out[0], coarse[0]);
    EXPECT_EQ(out[1], coarse[0]);
}

// The AVX2 and the baseline reduce and expand give the same bytes, for every filter and sizes
// with and without whole vector blocks.
TEST(Pyramid, ReduceAndExpandAreTheSameOnBothPaths) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-500.0f, 4000.0f);
    for (std::uint32_t index = 0; index < 3; ++index) {
        const quorin::PyramidWeights& w = *quorin::PyramidFilterWeights(index);
        for (const auto& [width, height] : {std::pair{77u, 9u}, {64u, 5u}, {35u, 40u}, {5u, 3u}}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << " filter " << index);
            C2DArr<float> level, child[2], merged[2];
            ASSERT_TRUE(level.Create(width, height, 1, nullptr));
            for (std::uint32_t y = 0; y < height; ++y)
                for (std::uint32_t x = 0; x < width; ++x) level.Row(y)[x] = value(random);
            for (int path = 0; path < 2; ++path) {
                std::optional<quorin::cpu::ScopedBaselineOnly> baselineOnly;
                if (path == 1) baselineOnly.emplace();
                ASSERT_TRUE(child[path].Create((width + 1) / 2, (height + 1) / 2, 1, nullptr));
                ASSERT_TRUE(merged[path].Create(width, height, 1, nullptr));
                merged[path].CopyFrom(level);
                ASSERT_TRUE(quorin::PyramidReduce(level, child[path], w));
                ASSERT_TRUE(quorin::PyramidExpand(child[path], merged[path], -1, w));
            }
            for (std::uint32_t y = 0; y < (height + 1) / 2; ++y)
                EXPECT_EQ(std::memcmp(child[0].Row(y), child[1].Row(y), child[0].Width() * 4), 0);
            for (std::uint32_t y = 0; y < height; ++y)
                EXPECT_EQ(std::memcmp(merged[0].Row(y), merged[1].Row(y), width * 4), 0);
        }
    }
}

TEST(Pyramid, LevelsNoiseAndFixedGainMatchNumpy) {
    constexpr std::uint32_t kWidth = 53, kHeight = 37;
    C2DArr<unsigned short> image;
    RandomImage(image, kWidth, kHeight, 11);
    CPyramid root(0);
    ASSERT_TRUE(root.Init(image));
    std::vector<float> levels;
    std::vector<double> noise;
    CMRANode* node = &root;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(node->Decompose());
        EXPECT_EQ(node->Child()->Level(), i + 1);
        EXPECT_EQ(node->Child()->Parent(), node);
        node = node->Child();
    }
    for (node = &root; node != nullptr; node = node->Child()) {
        const C2DArr<float>& data = *node->Data();
        for (std::uint32_t y = 0; y < data.Height(); ++y)
            levels.insert(levels.end(), data.Row(y), data.Row(y) + data.Width());
        if (node->Child() != nullptr) noise.push_back(quorin::EstimateNoise(data));
    }
    C2DArr<unsigned short> fixed;
    ASSERT_TRUE(fixed.Create(kWidth, kHeight, 1, nullptr));
    ASSERT_TRUE(PyramidFixedGainEnhance(fixed, image));
    RefCheck check;
    check.Write("image", image.Row(0), std::size_t(kWidth) * kHeight);
    check.Write("levels", levels);
    check.Write("noise", noise);
    check.Write("fixed", fixed.Row(0), std::size_t(kWidth) * kHeight);
    check.Run("pyramid_levels", "{\"rows\":37,\"cols\":53}");
}

TEST(Pyramid, MappingMatchesNumpyAndIsContinuous) {
    std::vector<float> values;
    for (int i = -400; i <= 400; ++i) values.push_back(float(i) * 0.37f);
    const float params[][5] = {{5, 30, 0.5f, 2, 1.2f}, {0, 25, 1, 3, 1}, {10, 5, 0.2f, 1.5f, 1.5f}};
    std::vector<float> mapped;
    for (const auto& p : params) {
        C2DArr<float> level;
        ASSERT_TRUE(level.Create(std::uint32_t(values.size()), 1, 1, nullptr));
        std::copy(values.begin(), values.end(), level.Row(0));
        quorin::MapLevel(level, p[0], p[1], p[2], p[3], p[4]);
        mapped.insert(mapped.end(), level.Row(0), level.Row(0) + values.size());
    }
    RefCheck check;
    check.Write("values", values);
    check.Write("mapped", mapped);
    check.Run("pyramid_map", "{\"params\":[[5,30,0.5,2,1.2],[0,25,1,3,1],[10,5,0.2,1.5,1.5]]}");

    // With gn = g = gb the mapping is a plain multiplication.
    C2DArr<float> level;
    ASSERT_TRUE(level.Create(std::uint32_t(values.size()), 1, 1, nullptr));
    std::copy(values.begin(), values.end(), level.Row(0));
    quorin::MapLevel(level, 7, 40, 2.5f, 2.5f, 2.5f);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_FLOAT_EQ(level.Row(0)[i], values[i] * 2.5f);
}

TEST(Pyramid, ThreeThousandByFifteenHundredGivesTheHalvedLevels) {
    C2DArr<unsigned short> image;
    ASSERT_TRUE(image.Create(3000, 1500, 1, nullptr));
    CPyramidFilter filter(12);
    ASSERT_EQ(filter.Decompose(image), 0);
    const std::uint32_t sizes[][2] = {{3000, 1500}, {1500, 750}, {750, 375}, {375, 188},
                                      {188, 94},    {94, 47},    {47, 24}};
    CMRANode* node = filter.Root();
    for (const auto& size : sizes) {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->Data()->Width(), size[0]);
        EXPECT_EQ(node->Data()->Height(), size[1]);
        node = node->Child();
    }
    EXPECT_EQ(node, nullptr);
}

TEST(Pyramid, DecomposeAndReconstructReturnTheInput) {
    for (auto size : {std::pair{1u, 1u}, {2u, 1u}, {3u, 5u}, {4u, 4u}, {61u, 43u}, {128u, 96u}}) {
        C2DArr<unsigned short> image;
        RandomImage(image, size.first, size.second, 3);
        CPyramid root(0);
        ASSERT_TRUE(root.Init(image));
        CMRANode* node = &root;
        for (int i = 0; i < 6; ++i, node = node->Child()) ASSERT_TRUE(node->Decompose());
        CPyramid copy;
        ASSERT_TRUE(copy.CopyFrom(root));
        ASSERT_TRUE(root.Reconstruct());
        EXPECT_EQ(root.Child(), nullptr);
        ASSERT_TRUE(copy.Reconstruct());
        for (std::uint32_t y = 0; y < size.second; ++y) {
            for (std::uint32_t x = 0; x < size.first; ++x) {
                EXPECT_NEAR(root.Data()->Row(y)[x], image.Row(y)[x], 2e-3) << x << "," << y;
                EXPECT_EQ(copy.Data()->Row(y)[x], root.Data()->Row(y)[x]);
            }
        }
    }
}

TEST(PyramidFilter, RoundTripWithoutMappingKeepsThePixels) {
    C2DArr<unsigned short> image, target;
    RandomImage(image, 97, 65, 5);
    ASSERT_TRUE(target.Create(97, 65, 1, nullptr));
    CPyramidFilter filter(12);
    ASSERT_EQ(filter.Decompose(image), 0);
    EXPECT_EQ(filter.State(), 1);
    EXPECT_GE(filter.NoiseEstimate(0), 1.0);
    EXPECT_EQ(filter.NoiseEstimate(6), -1.0);
    ASSERT_EQ(filter.Reconstruct(target), 0);
    EXPECT_EQ(filter.State(), 0);
    EXPECT_EQ(filter.Root(), nullptr);
    for (std::uint32_t y = 0; y < 65; ++y)
        for (std::uint32_t x = 0; x < 97; ++x)
            EXPECT_LE(std::abs(int(target.Row(y)[x]) - int(image.Row(y)[x])), 1);
}

TEST(PyramidFilter, StatesAndFailures) {
    C2DArr<unsigned short> image, invalid, small;
    RandomImage(image, 40, 30, 9);
    CPyramidFilter filter(12);
    EXPECT_EQ(filter.NoiseEstimate(0), -1.0);
    SCRFilterParam records[6] = {};
    EXPECT_EQ(filter.Enhance(records), -1);  // not decomposed
    EXPECT_EQ(filter.State(), -1);
    filter.Release();
    EXPECT_EQ(filter.Decompose(invalid), -1);
    filter.Release();
    ASSERT_EQ(filter.Decompose(image), 0);
    EXPECT_EQ(filter.Decompose(image), -1);  // only from idle
    filter.Release();
    ASSERT_EQ(filter.Decompose(image), 0);
    EXPECT_EQ(filter.Enhance(nullptr), -1);
    filter.Release();
    // A target smaller than the image: nothing written, the driver fails.
    ASSERT_TRUE(small.Create(10, 10, 1, nullptr));
    ASSERT_EQ(filter.Decompose(image), 0);
    EXPECT_EQ(filter.Reconstruct(small), -1);
    EXPECT_EQ(small.Row(0)[0], 0);
}

TEST(PyramidFilter, ZeroGainClearsTheFinestLevel) {
    C2DArr<unsigned short> image;
    RandomImage(image, 64, 48, 13);
    CPyramidFilter filter(12);
    ASSERT_EQ(filter.Decompose(image), 0);
    SCRFilterParam records[6];
    for (auto& r : records) r = SCRFilterParam{1.0f, 25.0f, 1.0f, 0.0f, 1.0f};
    records[0].ENHFACTOR = 0.0f;
    records[0].LARGESCALETHRESHOLD = 10.0f;
    ASSERT_EQ(filter.Enhance(records), 0);
    const C2DArr<float>& level0 = *filter.Root()->Data();
    for (std::uint32_t y = 0; y < level0.Height(); ++y)
        for (std::uint32_t x = 0; x < level0.Width(); ++x) EXPECT_EQ(level0.Row(y)[x], 0.0f);
}

TEST(Pyramid, WritingClipsToTheDepth) {
    C2DArr<float> level;
    ASSERT_TRUE(level.Create(6, 1, 1, nullptr));
    const float values[6] = {-3.0f,   0.0f, 17.9f,
                             4095.5f, 1e9f, std::numeric_limits<float>::quiet_NaN()};
    std::copy(values, values + 6, level.Row(0));
    C2DArr<unsigned short> target;
    ASSERT_TRUE(target.Create(6, 1, 1, nullptr));
    ASSERT_TRUE(quorin::WriteLevel(level, target, 4095));
    const unsigned short expected[6] = {0, 0, 17, 4095, 4095, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(target.Row(0)[i], expected[i]) << i;
}

TEST(Pyramid, FlatLevelEstimatesOne) {
    C2DArr<float> level;
    ASSERT_TRUE(level.Create(50, 50, 1, nullptr));
    for (std::uint32_t y = 0; y < 50; ++y)
        for (std::uint32_t x = 0; x < 50; ++x) level.Row(y)[x] = (x + y) % 2 ? 0.5f : -0.5f;
    EXPECT_EQ(quorin::EstimateNoise(level), 1.0);
}

}  // namespace
