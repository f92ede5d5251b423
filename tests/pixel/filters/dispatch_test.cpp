// Every kernel with an AVX2 or AVX-512 build gives the same bytes on each path: the float
// convolution pass, the 16-bit smoothing (both sum widths, symmetric and lopsided kernels), the
// byte look-up, the 8-bit median and the box means, on sizes that leave lines and positions
// over from the vector blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "common/platform/every_path.h"
#include "pixel/core/lut.h"
#include "pixel/filters/filters16.h"
#include "pixel/filters/filters8.h"
#include "pixel/filters/floatmultiscale.h"
#include "platform/system/cpu.h"

namespace {

// The bytes `run` writes on the path the processor picks (AVX-512 where it has it), on the AVX2
// path and on the baseline path.
template <class T>
void ExpectSamePaths(const char* what, std::size_t count,
                     const std::function<void(std::vector<T>&)>& run) {
    std::vector<T> fast(count), avx2(count), baseline(count);
    std::vector<T>* const out[] = {&fast, &avx2, &baseline};
    quorin::test::OnEveryPath([&](int path) { run(*out[path]); });
    EXPECT_EQ(0, std::memcmp(fast.data(), baseline.data(), count * sizeof(T))) << what;
    EXPECT_EQ(0, std::memcmp(avx2.data(), baseline.data(), count * sizeof(T))) << what << " (AVX2)";
}

TEST(Dispatch, EveryPathGivesTheSameBytes) {
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

    // A destination of more than 8 MiB is written past the caches: the bytes stay the same, and
    // sampled outputs are the sums of the definition (taps 0..n-1 in order, mirrored ends).
    {
        const std::int64_t longLength = 2051, manyLines = 1040;
        std::vector<float> big(std::size_t(longLength * manyLines)), kernel(13);
        for (float& v : big) v = level(random);
        ASSERT_TRUE(quorin::FloatGaussKernel(kernel.data(), 2.0f, 13));
        std::vector<float> out(big.size());
        ExpectSamePaths<float>("large float pass", big.size(), [&](std::vector<float>& o) {
            quorin::FloatConvolvePass(big.data(), o.data(), kernel.data(), 13, longLength,
                                      manyLines);
            out = o;
        });
        for (std::int64_t k = 0; k < std::int64_t(out.size()); k += 997) {
            const std::int64_t x = k / manyLines, y = k % manyLines;
            float sum = 0.0f;
            for (std::int64_t i = 0; i < 13; ++i) {
                std::int64_t p = x + i - 6;
                if (p < 0) p = -1 - p;
                if (p >= longLength) p = 2 * longLength - 1 - p;
                sum += kernel[std::size_t(i)] * big[std::size_t(y * longLength + p)];
            }
            ASSERT_EQ(sum, out[std::size_t(k)]) << "line " << y << " sample " << x;
        }
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
    // The median's rows: short ones, one block of 64 at each end, and runs of blocks between.
    for (const std::uint32_t side : {53u, 66u, 131u, 200u, 301u}) {
        std::vector<std::uint8_t> picture(std::size_t(side) * 7);
        for (auto& v : picture) v = static_cast<std::uint8_t>(random());
        ExpectSamePaths<std::uint8_t>(
            "median", picture.size(), [&](std::vector<std::uint8_t>& out) {
                ASSERT_TRUE(Median3x3(picture.data(), out.data(), side, 7));
            });
        // The box means on the same rows: sums of up to 25 bytes, then their quotients.
        for (const auto mean : {Mean3x3, NeighbourMean3x3, Mean5x5})
            ExpectSamePaths<std::uint8_t>(
                "mean", picture.size(), [&](std::vector<std::uint8_t>& out) {
                    ASSERT_TRUE(mean(picture.data(), out.data(), side, 7));
                });
    }
}

}  // namespace
