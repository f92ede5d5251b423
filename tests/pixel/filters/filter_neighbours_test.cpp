// The 3 x 3 median at widths one past a multiple of the vector width, on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/platform/every_path.h"
#include "pixel/filters/filters8.h"
#include "platform/system/cpu.h"

namespace {

// Widths of 32k + 1: the vector blocks end one column before the border column, which stays
// the source's; every other pixel is the median of its nine neighbours, on every path.
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
