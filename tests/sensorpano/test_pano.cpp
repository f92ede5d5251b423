// Panoramic images: the percentile window, the Gaussian kernel, the convolution and the
// two-Gaussian enhancement against numpy, the three display tables and their rendering, and the
// slots where the pixel widths differ.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pano_check.h"
#include "pixel/filters8.h"
#include "pixel/pano.h"
#include "platform/globalmem.h"

namespace {

using panotest::Json;
using panotest::MakeImage;
using panotest::RandomPixels;
using Display = CTImgNB<unsigned char, unsigned char>;

template <class P>
std::vector<P> PixelsOf(const CTImgNB<P, unsigned char>& image) {
    const P* data = image.Pixels()->Data();
    return std::vector<P>(data, data + std::size_t(image.Width()) * image.Height());
}

template <class P>
const char* DtypeOf() {
    return sizeof(P) == 1 ? "u8" : sizeof(P) == 2 ? "u16" : "u32";
}

class PanoTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(win::globalmem_testing::LiveBlocks(), m_live); }
    std::size_t m_live = win::globalmem_testing::LiveBlocks();
};

}  // namespace

// A thousandth of the pixels (MulDiv rounded) is cut at either end; the high search never
// reaches level 0 and a side that finds nothing keeps its window.
TEST_F(PanoTest, PercentileWindow) {
    struct Case {
        std::uint32_t atZero, atTop;  // pixels at 0 and at 4095, the rest at 500
        std::uint32_t low, high;
    } cases[] = {{1000, 0, 500, 500}, {1001, 0, 0, 500}, {0, 1000, 500, 500}, {0, 1001, 500, 4095}};
    for (const Case& c : cases) {
        std::vector<std::uint16_t> pixels(1000 * 1000, 500);
        std::fill_n(pixels.begin(), c.atZero, 0);
        std::fill_n(pixels.rbegin(), c.atTop, 4095);
        const auto image = MakeImage<CusPano>(1000, 1000, 12, pixels);
        EXPECT_EQ(image->WindowLow(), c.low) << c.atZero << " " << c.atTop;
        EXPECT_EQ(image->WindowHigh(), c.high) << c.atZero << " " << c.atTop;
        EXPECT_EQ(image->Range(), c.high - c.low + 1u);
    }
    // Every pixel at 0: the low side finds level 0, the high side nothing (window 0..4095 kept).
    const auto dark = MakeImage<CusPano>(40, 30, 12, std::vector<std::uint16_t>(1200, 0));
    EXPECT_EQ(dark->WindowLow(), 0);
    EXPECT_EQ(dark->WindowHigh(), 4095);

    for (std::uint32_t seed : {1u, 2u}) {
        const auto pixels = RandomPixels<std::uint16_t>(700 * 300, 4095, seed);
        const auto image = MakeImage<CusPano>(700, 300, 12, pixels);
        const std::uint16_t window[2] = {image->WindowLow(), image->WindowHigh()};
        panotest::RefCheck check;
        check.Write("src", pixels);
        check.Write("window", window, 2);
        check.Run("percentile", R"({"h":300,"w":700,"bits":12,"oldLow":0,"oldHigh":4095})");
    }
}

TEST_F(PanoTest, GaussKernelMatchesTheFormula) {
    const struct {
        int n;
        double sigma;
    } cases[] = {{1, 1.0}, {4, 1.0}, {5, 1.0}, {6, 2.5}, {7, 0.6}, {15, 4.0}};
    for (const auto& c : cases) {
        const CTGaussFilter<double> kernel(c.n, c.sigma);
        ASSERT_FALSE(kernel.IsEmpty());
        double sum = 0;
        for (int i = 0; i < c.n; ++i)
            for (int j = 0; j < c.n; ++j) {
                sum += *kernel.At(i, j);
                // Symmetric about (n-1)/2 for odd and even sizes alike.
                EXPECT_EQ(*kernel.At(i, j), *kernel.At(c.n - 1 - i, j));
                EXPECT_EQ(*kernel.At(i, j), *kernel.At(j, i));
            }
        EXPECT_NEAR(sum, 1.0, 1e-12);
        panotest::RefCheck check;
        check.Write("kernel", kernel.Data(), std::size_t(c.n) * c.n);
        check.Run("kernel", "{\"n\":" + Json(c.n) + ",\"sigma\":" + Json(c.sigma) + "}");
    }
    // No kernel for sizes outside 1..kMaxKernelSide, a sigma of 0 or not finite, or weights that
    // all underflow (an even kernel has no tap at distance 0, and 2 sigma^2 may itself underflow).
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::int64_t tooWide = std::int64_t(quorin::kMaxKernelSide) + 1;
    for (const auto& [n, sigma] : std::vector<std::pair<std::int64_t, double>>{
             {0, 1.0}, {-3, 1.0}, {tooWide, 1.0}, {5, 0.0}, {5, nan}, {4, 1e-3}, {5, 1e-200}})
        EXPECT_TRUE(CTGaussFilter<double>(n, sigma).IsEmpty()) << n << " " << sigma;
    EXPECT_FALSE(CTGaussFilter<double>(5, 1e-3).IsEmpty());  // the centre tap alone
}

template <class P>
void CheckConvolution(std::uint32_t h, std::uint32_t w, std::uint32_t kr, std::uint32_t kc,
                      std::uint32_t seed) {
    SCOPED_TRACE(testing::Message()
                 << DtypeOf<P>() << " " << h << "x" << w << " kernel " << kr << "x" << kc);
    const auto pixels = RandomPixels<P>(std::size_t(h) * w, std::numeric_limits<P>::max(), seed);
    CTMatrix<P> source(h, w);
    std::copy(pixels.begin(), pixels.end(), source.Data());
    CTFilter kernel(kr, kc);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> weight(-0.3, 1.0);  // some taps negative
    for (std::size_t k = 0; k < std::size_t(kr) * kc; ++k) kernel.Data()[k] = weight(random) / kr;
    for (int border : {0, 1}) {
        CTMatrix<P> target(h, w);
        ASSERT_TRUE(quorin::ConvolvePixels(source, kernel, border, target));
        panotest::RefCheck check;
        check.Write("src", pixels);
        check.Write("kernel", kernel.Data(), std::size_t(kr) * kc);
        check.Write("out", target.Data(), std::size_t(h) * w);
        check.Run("convolve", "{\"dtype\":\"" + std::string(DtypeOf<P>()) + "\",\"h\":" + Json(h) +
                                  ",\"w\":" + Json(w) + ",\"kr\":" + Json(kr) +
                                  ",\"kc\":" + Json(kc) + ",\"border\":" + Json(border) + "}");
    }
}

// Sums in double tap after tap, outside taps skipped or reading the mean, clamped and truncated;
// kernels wider than the image included.
TEST_F(PanoTest, ConvolutionMatchesNumpy) {
    CheckConvolution<unsigned char>(1, 1, 3, 3, 1);
    CheckConvolution<unsigned char>(7, 5, 9, 11, 2);
    CheckConvolution<unsigned short>(33, 40, 5, 4, 3);
    CheckConvolution<unsigned short>(6, 9, 1, 7, 4);
    CheckConvolution<unsigned int>(12, 10, 3, 3, 5);

    CTMatrix<unsigned short> source(4, 4), target(4, 4), other(4, 5);
    const CTFilter kernel(3, 3), empty;
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 2, target));  // no such border rule
    EXPECT_FALSE(quorin::ConvolvePixels(source, empty, 0, target));
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 0, other));
    EXPECT_FALSE(quorin::ConvolvePixels(source, kernel, 0, source));
}

template <class Image, class P>
void CheckEnhance(std::uint32_t bits, std::int32_t size1, double sigma1, std::int32_t size2,
                  double sigma2, double scale, std::uint32_t seed) {
    SCOPED_TRACE(testing::Message() << DtypeOf<P>() << " " << size1 << "/" << sigma1 << " " << size2
                                    << "/" << sigma2 << " x" << scale);
    const std::uint32_t w = 61, h = 47;
    const auto pixels =
        RandomPixels<P>(std::size_t(w) * h, std::uint32_t((std::uint64_t{1} << bits) - 1), seed);
    const auto image = MakeImage<Image>(w, h, bits, pixels);
    ASSERT_TRUE(image->GaussEnhance(size1, sigma1, size2, sigma2, scale));
    panotest::RefCheck check;
    check.Write("src", pixels);
    check.Write("out", PixelsOf(*image));
    check.Run("enhance", "{\"dtype\":\"" + std::string(DtypeOf<P>()) + "\",\"h\":" + Json(h) +
                             ",\"w\":" + Json(w) + ",\"bits\":" + Json(bits) +
                             ",\"size1\":" + Json(size1) + ",\"sigma1\":" + Json(sigma1) +
                             ",\"size2\":" + Json(size2) + ",\"sigma2\":" + Json(sigma2) +
                             ",\"scale\":" + Json(scale) + "}");
}

TEST_F(PanoTest, GaussEnhanceMatchesNumpy) {
    CheckEnhance<CusPano, std::uint16_t>(12, 5, 1.0, 9, 2.0, 1.0, 1);
    CheckEnhance<CusPano, std::uint16_t>(12, 0, 0.0, 7, 1.5, 0.5, 2);  // fine = the input
    CheckEnhance<CusPano, std::uint16_t>(16, 4, 1.0, 6, 3.0, 0.37, 3);
    CheckEnhance<CusPano, std::uint16_t>(12, 3, 0.8, 5, 2.0, 1.6, 4);
    CheckEnhance<CucPano, std::uint8_t>(8, 3, 1.0, 11, 4.0, 0.25, 5);
    CheckEnhance<CunPano, std::uint32_t>(32, 5, 1.2, 9, 2.5, 0.5, 6);
}

// Refused arguments answer false and leave the pixels as they were.
TEST_F(PanoTest, GaussEnhanceRefusals) {
    const auto pixels = RandomPixels<std::uint16_t>(40 * 30, 4095, 7);
    const auto image = MakeImage<CusPano>(40, 30, 12, pixels);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::int32_t size1;
        double sigma1;
        std::int32_t size2;
        double sigma2;
        double scale;
    } cases[] = {
        {5, 1.0, 9, 2.0, 0.0},                                         // no scale
        {5, 1.0, 0, 0.0, 1.0},                                         // no coarse kernel
        {5, 0.0, 9, 2.0, 1.0},                                         // a sigma of 0
        {0, 1.0, 9, 2.0, 1.0},                                         // a size of 0
        {5, 1.0, -9, 2.0, 1.0},                                        // a negative size
        {5, 1.0, 9, nan, 1.0},                                         // sigma not a number
        {std::numeric_limits<std::int32_t>::max(), 1.0, 9, 2.0, 1.0},  // a kernel too wide
        {5, 1.0, 9, 2.0, -0.5},                                        // a negative zoom
        {5, 1.0, 9, 2.0, nan},                                         // zoom not a number
        {5, 1.0, 9, 2.0, 1e9},                                         // zoom beyond the sides
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(image->GaussEnhance(c.size1, c.sigma1, c.size2, c.sigma2, c.scale))
            << c.size1 << " " << c.sigma1 << " " << c.size2 << " " << c.sigma2 << " " << c.scale;
        EXPECT_EQ(PixelsOf(*image), pixels);
    }
    // Through the interface, as the SDK calls it.
    CImg* held = image.get();
    EXPECT_FALSE(held->GaussEnhance(5, 1.0, 9, 2.0, 0.0));
    EXPECT_TRUE(held->GaussEnhance(3, 1.0, 5, 2.0, 1.0));
}

TEST_F(PanoTest, TablesAndRenderingMatchNumpy) {
    const std::uint32_t w = 30, h = 20;
    auto pixels = RandomPixels<std::uint16_t>(w * h, 4095, 8);
    pixels[5] = 9000;  // a stray level above the depth renders through the last entry
    const auto image = MakeImage<CusPano>(w, h, 12, pixels);
    CTVector<double> curve(3), gamma(2);
    curve[0] = 2.3, curve[1] = 1.0, curve[2] = 0.4;
    gamma[0] = 0.0, gamma[1] = 0.8;
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
    check.Run("tables", "{\"n\":4096,\"m\":256,\"h\":20,\"w\":30,\"low\":" +
                            Json(image->WindowLow()) + ",\"high\":" + Json(image->WindowHigh()) +
                            ",\"a\":2.3,\"b\":1.0,\"w8\":0.4,\"g\":0.8,\"factor\":1.3}");

    Display wrong(h, w + 1), target(h, w);
    EXPECT_FALSE(image->RenderWithLut(wrong, 0));
    EXPECT_FALSE(image->RenderWithLut(target, 3));
    // A refused build leaves no table behind, and rendering through it answers false.
    EXPECT_FALSE(image->BuildCurveLut(nullptr, 256));
    EXPECT_EQ(image->CurveLut(), nullptr);
    EXPECT_FALSE(image->RenderWithLut(target, 1));
    EXPECT_FALSE(image->BuildCurveLut(&gamma, 256));  // two parameters where three are read
    EXPECT_FALSE(image->BuildWindowLut(0));
    EXPECT_FALSE(image->BuildGammaLut(&gamma, 257, 1.0));
    // A 32-bit image has too many levels for a table.
    const auto deep = MakeImage<CunPano>(4, 4, 32, std::vector<std::uint32_t>(16, 7));
    EXPECT_FALSE(deep->BuildWindowLut(256));
}

TEST_F(PanoTest, SlotsOfThePixelWidths) {
    const auto flat16 = std::vector<std::uint16_t>(12 * 10, 700);
    const auto pixels8 = RandomPixels<std::uint8_t>(12 * 10, 255, 9);
    const auto pixels32 = RandomPixels<std::uint32_t>(12 * 10, 100000, 9);
    auto us = MakeImage<CusPano>(12, 10, 12, flat16);
    auto uc = MakeImage<CucPano>(12, 10, 8, pixels8);
    auto un = MakeImage<CunPano>(12, 10, 32, pixels32);

    EXPECT_EQ(us->GetDeviceCode(), 17);
    EXPECT_EQ(uc->GetDeviceCode(), 17);
    const auto coded = MakeImage<CusPano>(12, 10, 12, flat16, 14);
    EXPECT_EQ(coded->GetDeviceCode(), 14);
    EXPECT_EQ(CusPano(*coded).GetDeviceCode(), 14);
    EXPECT_EQ(quorin::PanoDeviceLogo(14), 8002);
    EXPECT_EQ(quorin::PanoDeviceLogo(17), 8004);
    for (int code : {19, 21, 23}) EXPECT_EQ(quorin::PanoDeviceLogo(code), 0);

    // Corners: nothing to fill for 8 and 16 bits, not done for 32.
    EXPECT_TRUE(us->FillCorners(0));
    EXPECT_TRUE(uc->FillCorners(0));
    EXPECT_FALSE(un->FillCorners(0));
    EXPECT_EQ(PixelsOf(*us), flat16);
    // The logos are system bitmaps that this platform does not have: not stamped, nothing drawn.
    EXPECT_FALSE(us->AddLogo());
    EXPECT_FALSE(un->AddLogo());
    EXPECT_EQ(PixelsOf(*us), flat16);

    // The 8-bit window is 0..255 whatever the pixels hold.
    uc->ComputeMinMax();
    EXPECT_EQ(uc->WindowLow(), 0);
    EXPECT_EQ(uc->WindowHigh(), 255);
    // Multi-filter and 8-bit relief: the 8-bit library's, from a copy into the image.
    std::vector<std::uint8_t> expected(pixels8.size());
    ASSERT_TRUE(MultiFilter(pixels8.data(), expected.data(), 12, 10, 3));
    EXPECT_TRUE(uc->MultiFilter(3));
    EXPECT_EQ(PixelsOf(*uc), expected);
    const auto before = PixelsOf(*uc);
    ASSERT_TRUE(Relief8(before.data(), expected.data(), 12, 10));
    EXPECT_TRUE(uc->Relief());
    EXPECT_EQ(PixelsOf(*uc), expected);
    EXPECT_FALSE(us->MultiFilter(3));
    EXPECT_FALSE(un->MultiFilter(3));

    // Relief of a flat 16-bit image: window 0..top level afterwards.
    us->SetWindow(600, 800);
    EXPECT_TRUE(us->Relief());
    EXPECT_EQ(us->WindowLow(), 0);
    EXPECT_EQ(us->WindowHigh(), 4095);

    // Slot 22: border rule 0 into the pixels; sums below 0 become 0.
    EXPECT_FALSE(us->Convolve(nullptr));
    CTFilter negative(1, 1);
    negative.Data()[0] = -1.0;
    EXPECT_TRUE(un->Convolve(&negative));
    EXPECT_EQ(PixelsOf(*un), std::vector<std::uint32_t>(pixels32.size(), 0));
}
