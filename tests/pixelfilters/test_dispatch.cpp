// Every kernel with an AVX2 build gives the same bytes on the baseline path: the float
// convolution pass, the 16-bit smoothing (both sum widths, symmetric and lopsided kernels), the
// byte look-up and the 8-bit median, on sizes that leave lines and positions over from the
// vector blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "pixel/filters16.h"
#include "pixel/filters8.h"
#include "pixel/floatmultiscale.h"
#include "pixel/lut.h"
#include "platform/cpu.h"

namespace {

// The bytes `run` writes, on the path the processor picks and on the baseline path.
template <class T>
void ExpectSamePaths(const char* what, std::size_t count,
                     const std::function<void(std::vector<T>&)>& run) {
    std::vector<T> fast(count), baseline(count);
    run(fast);
    {
        quorin::cpu::ScopedBaselineOnly only;
        run(baseline);
    }
    EXPECT_EQ(0, std::memcmp(fast.data(), baseline.data(), count * sizeof(T))) << what;
}

TEST(Dispatch, BaselineAndAvx2PathsGiveTheSameBytes) {
    if (!quorin::cpu::UseAvx2()) GTEST_SKIP() << "the processor has no AVX2 path";
    std::mt19937 random(11);

    // Float pass: 70 lines leave a partial strip and single lines, 37 samples a partial tile;
    // a kernel longer than the line folds its ends more than once.
    const std::int64_t length = 37, lines = 70;
    std::vector<float> plane(std::size_t(length * lines));
    std::uniform_real_distribution<float> level(-500.0f, 4000.0f);
    for (float& v : plane) v = level(random);
    for (const auto& [taps, sigma] : {std::pair{13, 2.0f}, {1, 1.0f}, {81, 9.0f}}) {
        const int n = taps;
        std::vector<float> kernel(static_cast<std::size_t>(n));
        ASSERT_TRUE(quorin::FloatGaussKernel(kernel.data(), sigma, n));
        ExpectSamePaths<float>("float pass", plane.size(), [&](std::vector<float>& out) {
            quorin::FloatConvolvePass(plane.data(), out.data(), kernel.data(), n, length, lines);
        });
    }

    // 16-bit smoothing: values below 2^15 add mirrored taps in 16 bits, full-range ones in 32;
    // a lopsided kernel takes every tap alone, a large sum the 64-bit path.
    const int width = 53, height = 29;
    std::vector<std::uint16_t> small(std::size_t(width) * height), full(small.size());
    for (std::size_t i = 0; i < small.size(); ++i) {
        small[i] = static_cast<std::uint16_t>(random() % 4096);
        full[i] = static_cast<std::uint16_t>(random());
    }
    for (const auto* src : {&small, &full}) {
        ExpectSamePaths<std::uint16_t>("gauss", src->size(), [&](std::vector<std::uint16_t>& o) {
            ASSERT_TRUE(GaussSmooth16(src->data(), o.data(), width, height, 4095, 200));
        });
        for (const std::uint32_t sum : {40u, 70000u}) {
            const std::uint16_t kernel[5] = {1, 7, 20, 9, 3};
            ExpectSamePaths<std::uint16_t>("pass", src->size(), [&](std::vector<std::uint16_t>& o) {
                ASSERT_TRUE(ConvolvePass16(src->data(), o.data(), kernel, 5, sum, width, height));
            });
        }
    }

    // Byte look-up of a full table, and the median.
    std::vector<std::uint8_t> bytes(std::size_t(width) * height);
    for (auto& v : bytes) v = static_cast<std::uint8_t>(random());
    CTLut<unsigned char> lut(256, 256, 20, 230);
    ExpectSamePaths<std::uint8_t>("look-up", bytes.size(), [&](std::vector<std::uint8_t>& out) {
        lut.MapAll(bytes.data(), out.data(), bytes.size());
    });
    ExpectSamePaths<std::uint8_t>("median", bytes.size(), [&](std::vector<std::uint8_t>& out) {
        ASSERT_TRUE(Median3x3(bytes.data(), out.data(), width, height));
    });
}

}  // namespace
