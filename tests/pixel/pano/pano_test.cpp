// Panoramic images: percentile window, Gaussian kernel, convolution and two-Gaussian enhancement
// against numpy; the display tables and their rendering; the slots where pixel widths differ.
#include "pixel/pano/pano.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/platform/every_path.h"
#include "pano_check.h"
#include "pixel/filters/filters8.h"
#include "platform/core/globalmem.h"

namespace {

using panotest::Json;
using panotest::MakeImage;
using panotest::PixelsOf;
using panotest::RandomPixels;
using Display = CTImgNB<unsigned char, unsigned char>;
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

template <class P>
std::string Dtype() {
    return std::string("\"dtype\":\"") +
           (sizeof(P) == 1   ? "u8"
            : sizeof(P) == 2 ? "u16"
                             : "u32") +
           "\",";
}

class PanoTest : public ::testing::Test {
  protected:
    quorin::test::NoLeaks m_noLeaks;
};

}  // namespace

// A thousandth of the pixels (MulDiv rounded) is cut at either end; the high search stops above
// level 0 and a side that finds nothing keeps its window.
TEST_F(PanoTest, PercentileWindow) {
    const struct {
        std::uint32_t atZero, atTop, low, high;  // pixels at 0 and 4095, the rest at 500
    } cases[] = {
        {1000, 0, 500, 500}, {1001, 0, 0, 500}, {0, 1001, 500, 4095}, {1000000, 0, 0, 4095}};
    for (const auto& c : cases) {
        std::vector<std::uint16_t> pixels(1000 * 1000, 500);
        std::fill_n(pixels.begin(), c.atZero, 0);
        std::fill_n(pixels.rbegin(), c.atTop, 4095);
        const auto image = MakeImage<CusPano>(1000, 1000, 12, pixels);
        EXPECT_EQ(image->WindowLow(), c.low) << c.atZero << " " << c.atTop;
        EXPECT_EQ(image->WindowHigh(), c.high) << c.atZero << " " << c.atTop;
    }
    const auto pixels = RandomPixels<std::uint16_t>(700 * 300, 4095, 1);
    const auto image = MakeImage<CusPano>(700, 300, 12, pixels);
    const std::uint16_t window[2] = {image->WindowLow(), image->WindowHigh()};
    panotest::RefCheck check;
    check.Write("src", pixels);
    check.Write("window", window, 2);
    check.Run("percentile",
              Json({{"h", 300}, {"w", 700}, {"bits", 12}, {"oldLow", 0}, {"oldHigh", 4095}}));
}

TEST_F(PanoTest, GaussKernel) {
    for (const auto& [n, sigma] : {std::pair{1, 1.0}, {4, 1.0}, {5, 1.0}, {6, 2.5}, {15, 4.0}}) {
        const CTGaussFilter<double> kernel(n, sigma);
        ASSERT_FALSE(kernel.IsEmpty());
        for (int i = 0; i < n; ++i)  // symmetric about (n-1)/2, odd and even sizes alike
            for (int j = 0; j < n; ++j) EXPECT_EQ(*kernel.At(i, j), *kernel.At(n - 1 - j, i));
        panotest::RefCheck check;
        check.Write("kernel", kernel.Data(), std::size_t(n) * n);
        check.Run("kernel", Json({{"n", n}, {"sigma", sigma}}));
    }
    // None for sizes outside 1..kMaxKernelSide, a sigma of 0 or not finite, or weights that all
    // underflow (an even kernel has no tap at distance 0; 2 sigma^2 may underflow itself).
    for (const auto& [n, sigma] :
         std::vector<std::pair<std::int64_t, double>>{{0, 1},
                                                      {-3, 1},
                                                      {quorin::kMaxKernelSide + 1, 1},
                                                      {5, 0},
                                                      {5, kNan},
                                                      {4, 1e-3},
                                                      {5, 1e-200}})
        EXPECT_TRUE(CTGaussFilter<double>(n, sigma).IsEmpty()) << n << " " << sigma;
    EXPECT_FALSE(CTGaussFilter<double>(5, 1e-3).IsEmpty());  // the centre tap alone
}

// Sums in double tap after tap, outside taps skipped or reading the mean, negative sums clamped
// to 0; kernels wider than the image included. The AVX-512, AVX2 and baseline sums give the
// same bytes. `special` puts a non-finite weight into the kernel.
template <class P>
void CheckConvolution(std::uint32_t h, std::uint32_t w, std::uint32_t kr, std::uint32_t kc,
                      double special = 0.0) {
    const auto pixels = RandomPixels<P>(std::size_t(h) * w, std::numeric_limits<P>::max(), h);
    CTMatrix<P> source(h, w), target(h, w), avx2(h, w), baseline(h, w);
    CTMatrix<P>* const out[] = {&target, &avx2, &baseline};
    std::copy(pixels.begin(), pixels.end(), source.Data());
    CTFilter kernel(kr, kc);
    std::mt19937 random(w);
    std::uniform_real_distribution<double> weight(-0.3, 1.0);
    for (std::size_t k = 0; k < std::size_t(kr) * kc; ++k) kernel.Data()[k] = weight(random) / kr;
    if (special != 0.0) kernel.Data()[kc / 2] = special;
    for (int border : {0, 1}) {
        SCOPED_TRACE(testing::Message() << h << "x" << w << " kernel " << kr << "x" << kc
                                        << " border " << border << " special " << special);
        ASSERT_NO_FATAL_FAILURE(quorin::test::OnEveryPath([&](int path) {
            ASSERT_TRUE(quorin::ConvolvePixels(source, kernel, border, *out[path]));
        }));
        EXPECT_TRUE(std::equal(target.Data(), target.Data() + std::size_t(h) * w, baseline.Data()));
        EXPECT_TRUE(std::equal(avx2.Data(), avx2.Data() + std::size_t(h) * w, baseline.Data()));
        panotest::RefCheck check;
        check.Write("src", pixels);
        check.Write("kernel", kernel.Data(), std::size_t(kr) * kc);
        check.Write("out", target.Data(), std::size_t(h) * w);
        check.Run("convolve", Json({{"h", h}, {"w", w}, {"kr", kr}, {"kc", kc}, {"border", border}},
                                   Dtype<P>()));
    }
}

TEST_F(PanoTest, Convolution) {
    CheckConvolution<unsigned char>(1, 1, 3, 3);
    CheckConvolution<unsigned char>(7, 5, 9, 11);
    CheckConvolution<unsigned short>(33, 40, 5, 4);
    CheckConvolution<unsigned int>(12, 10, 3, 7);
    // Rows of several register blocks and a tail; a kernel taller than the image.
    CheckConvolution<unsigned short>(21, 151, 5, 5);
    CheckConvolution<unsigned short>(9, 77, 31, 31);
    CheckConvolution<unsigned char>(6, 70, 3, 8, std::numeric_limits<double>::infinity());
    CheckConvolution<unsigned short>(6, 70, 4, 3, kNan);
    CTMatrix<unsigned short> source(4, 4), target(4, 4), other(4, 5);
    const CTFilter kernel(3, 3), empty;
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 2, target));  // no such border rule
    EXPECT_FALSE(quorin::ConvolvePixels(source, empty, 0, target));
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 0, other));
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 0, source));
}

template <class Image, class P>
void CheckEnhance(std::uint32_t bits, std::int32_t size1, double sigma1, std::int32_t size2,
                  double sigma2, double scale) {
    const std::uint32_t w = 61, h = 47;
    const auto pixels = RandomPixels<P>(std::size_t(w) * h, (std::uint64_t{1} << bits) - 1, size2);
    const auto image = MakeImage<Image>(w, h, bits, pixels);
    ASSERT_TRUE(image->GaussEnhance(size1, sigma1, size2, sigma2, scale));
    panotest::RefCheck check;
    check.Write("src", pixels);
    check.Write("out", PixelsOf(*image));
    check.Run("enhance", Json({{"h", h},
                               {"w", w},
                               {"bits", bits},
                               {"size1", size1},
                               {"sigma1", sigma1},
                               {"size2", size2},
                               {"sigma2", sigma2},
                               {"scale", scale}},
                              Dtype<P>()));
}

TEST_F(PanoTest, GaussEnhance) {
    CheckEnhance<CusPano, std::uint16_t>(12, 5, 1.0, 9, 2.0, 1.0);
    CheckEnhance<CusPano, std::uint16_t>(12, 0, 0.0, 7, 1.5, 0.5);  // fine image = the input
    CheckEnhance<CusPano, std::uint16_t>(16, 4, 1.0, 6, 3.0, 0.37);
    CheckEnhance<CusPano, std::uint16_t>(12, 3, 0.8, 5, 2.0, 1.6);
    CheckEnhance<CucPano, std::uint8_t>(8, 3, 1.0, 11, 4.0, 0.25);
    CheckEnhance<CunPano, std::uint32_t>(32, 5, 1.2, 13, 2.5, 0.5);

    // Refused arguments answer false and leave the pixels as they were.
    const auto pixels = RandomPixels<std::uint16_t>(40 * 30, 4095, 7);
    const auto image = MakeImage<CusPano>(40, 30, 12, pixels);
    const struct {
        std::int32_t size1;
        double sigma1;
        std::int32_t size2;
        double sigma2, scale;
    } refused[] = {{5, 1, 9, 2, 0},         {5, 1, 0, 0, 1},   {5, 0, 9, 2, 1},
                   {0, 1, 9, 2, 1},         {5, 1, -9, 2, 1},  {5, 1, 9, kNan, 1},
                   {INT32_MAX, 1, 9, 2, 1}, {5, 1, 9, 2, -.5}, {5, 1, 9, 2, kNan},
                   {5, 1, 9, 2, 1e9}};
    for (const auto& c : refused) {
        CImg* held = image.get();  // through the interface, as the SDK calls it
        EXPECT_FALSE(held->GaussEnhance(c.size1, c.sigma1, c.size2, c.sigma2, c.scale))
            << c.size1 << " " << c.sigma1 << " " << c.size2 << " " << c.sigma2 << " " << c.scale;
        EXPECT_EQ(PixelsOf(*image), pixels);
    }
}

TEST_F(PanoTest, DisplayTables) {
    const std::uint32_t w = 30, h = 20;
    auto pixels = RandomPixels<std::uint16_t>(w * h, 4095, 8);
    pixels[5] = 9000;  // a stray level above the depth renders through the last entry
    const auto image = MakeImage<CusPano>(w, h, 12, pixels);
    CTVector<double> curve(3), gamma(2);
    curve[0] = 2.3, curve[1] = 1.0, curve[2] = 0.4, gamma[1] = 0.8;
    ASSERT_TRUE(image->BuildWindowLut(256));
    ASSERT_TRUE(image->BuildCurveLut(&curve, 256));
    ASSERT_TRUE(image->BuildGammaLut(&gamma, 256, 1.3));
    panotest::RefCheck check;
    check.Write("src", pixels);
    const char* names[] = {"window", "curve", "gamma"};
    const CTLut<unsigned char>* tables[] = {image->WindowLut(), image->CurveLut(),
                                            image->GammaLut()};
    for (int mode = 0; mode < 3; ++mode) {
        Display target(h, w);
        ASSERT_TRUE(image->RenderWithLut(target, mode));
        check.Write(names[mode], tables[mode]->Data(), tables[mode]->Size());
        check.Write(std::string(names[mode]) + "_img", target.Pixels()->Data(), w * h);
    }
    check.Run("tables", Json({{"n", 4096},
                              {"m", 256},
                              {"h", h},
                              {"w", w},
                              {"low", image->WindowLow()},
                              {"high", image->WindowHigh()},
                              {"a", 2.3},
                              {"b", 1.0},
                              {"w8", 0.4},
                              {"g", 0.8},
                              {"factor", 1.3}}));

    Display wrong(h, w + 1), target(h, w);
    EXPECT_FALSE(image->RenderWithLut(wrong, 0));
    EXPECT_FALSE(image->RenderWithLut(target, 3));
    EXPECT_FALSE(image->BuildCurveLut(nullptr, 256));  // and the old table is gone
    EXPECT_FALSE(image->RenderWithLut(target, 1));
    EXPECT_FALSE(image->BuildCurveLut(&gamma, 256));  // two parameters where three are read
    EXPECT_FALSE(image->BuildWindowLut(0));
    EXPECT_FALSE(image->BuildGammaLut(&gamma, 257, 1.0));
    const auto deep = MakeImage<CunPano>(4, 4, 32, std::vector<std::uint32_t>(16, 7));
    EXPECT_FALSE(deep->BuildWindowLut(256));  // 2^32 levels: no table
}

TEST_F(PanoTest, SlotsOfThePixelWidths) {
    const auto flat16 = std::vector<std::uint16_t>(12 * 10, 700);
    const auto pixels8 = RandomPixels<std::uint8_t>(12 * 10, 255, 9);
    const auto pixels32 = RandomPixels<std::uint32_t>(12 * 10, 100000, 9);
    auto us = MakeImage<CusPano>(12, 10, 12, flat16);
    auto uc = MakeImage<CucPano>(12, 10, 8, pixels8);
    auto un = MakeImage<CunPano>(12, 10, 32, pixels32);

    EXPECT_EQ(us->GetDeviceCode(), 17);
    EXPECT_EQ(CusPano(*MakeImage<CusPano>(12, 10, 12, flat16, 14)).GetDeviceCode(), 14);
    EXPECT_EQ(quorin::PanoDeviceLogo(14) * 10 + quorin::PanoDeviceLogo(21), 80020);
    EXPECT_EQ(quorin::PanoDeviceLogo(17), 8004);
    // Corners: nothing to fill for 8 and 16 bits, not done for 32; the logos are system bitmaps
    // this platform lacks: nothing stamped.
    EXPECT_TRUE(us->FillCorners(0) && uc->FillCorners(0));
    EXPECT_FALSE(un->FillCorners(0) || us->AddLogo() || un->AddLogo());
    EXPECT_EQ(PixelsOf(*us), flat16);

    uc->ComputeMinMax();  // the 8-bit window is 0..255 whatever the pixels
    EXPECT_EQ(uc->WindowLow() + uc->WindowHigh(), 255);
    std::vector<std::uint8_t> expected(pixels8.size());
    ASSERT_TRUE(MultiFilter(pixels8.data(), expected.data(), 12, 10, 3));
    EXPECT_TRUE(uc->MultiFilter(3));
    EXPECT_EQ(PixelsOf(*uc), expected);
    ASSERT_TRUE(Relief8(PixelsOf(*uc).data(), expected.data(), 12, 10));
    EXPECT_TRUE(uc->Relief());
    EXPECT_EQ(PixelsOf(*uc), expected);
    EXPECT_FALSE(us->MultiFilter(3) || un->MultiFilter(3));

    us->SetWindow(600, 800);  // relief of a flat image: window 0..top level
    EXPECT_TRUE(us->Relief());
    EXPECT_EQ(us->WindowLow(), 0);
    EXPECT_EQ(us->WindowHigh(), 4095);

    EXPECT_FALSE(us->Convolve(nullptr));  // slot 22: sums below 0 become 0
    CTFilter negative(1, 1);
    negative.Data()[0] = -1.0;
    EXPECT_TRUE(un->Convolve(&negative));
    EXPECT_EQ(PixelsOf(*un), std::vector<std::uint32_t>(pixels32.size(), 0));
}
