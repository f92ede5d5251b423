// The registry-driven panoramic images: their settings per variant, the analysed region, the
// curve histogram against numpy, the companions built once and rendered by mode, and hostile
// settings that must fail cleanly.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "common/test_settings.h"
#include "pano_check.h"
#include "pixel/panoplus.h"
#include "platform/globalmem.h"
#include "platform/registry.h"

namespace {

using panotest::MakeImage;
using Display = CTImgNB<unsigned char, unsigned char>;

constexpr std::uint32_t kWidth = 256, kHeight = 192;

class PanoPlusTest : public ::testing::Test {
  protected:
    // Values for the current user: "key" below Software\QUORIN\PANO, then name=value lines.
    static void Seed(const std::string& sections) {
        win::registry::LoadHiveText(0, "REGEDIT4\n\n" + sections);
    }
    static std::string Section(const std::string& key,
                               const std::vector<std::pair<std::string, std::int32_t>>& values) {
        std::string text = "[HKEY_CURRENT_USER\\Software\\QUORIN\\PANO\\" + key + "]\n";
        char line[80];
        for (const auto& [name, value] : values) {
            std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\n", name.c_str(),
                          static_cast<unsigned>(value));
            text += line;
        }
        return text + "\n";
    }
    template <class Image = CusPanoPlus>
    static std::unique_ptr<Image> Make() {
        return MakeImage<Image>(kWidth, kHeight, 12, panotest::Radiograph(kWidth, kHeight, 5));
    }
    // target = the image's pixels through a table, as a rendering through it must give.
    static std::vector<std::uint8_t> Through(const CTImgPano<unsigned short>& image,
                                             const CTLut<unsigned char>& table) {
        std::vector<std::uint8_t> out;
        const std::uint16_t* p = image.Pixels()->Data();
        for (std::size_t k = 0; k < std::size_t(kWidth) * kHeight; ++k)
            out.push_back(table.Map(p[k]));
        return out;
    }
    static std::vector<std::uint8_t> Render(CusPanoPlus& image, std::int32_t mode) {
        Display target(kHeight, kWidth);
        if (!image.RenderWithLut(target, mode)) return {};
        const std::uint8_t* p = target.Pixels()->Data();
        return std::vector<std::uint8_t>(p, p + std::size_t(kWidth) * kHeight);
    }
    void TearDown() override { EXPECT_EQ(win::globalmem_testing::LiveBlocks(), m_live); }

    quorin::test::ScopedSettings m_settings;
    CTVector<double> m_curve{3};
    std::size_t m_live = win::globalmem_testing::LiveBlocks();
};

}  // namespace

TEST_F(PanoPlusTest, DefaultsOfTheThreeVariants) {
    const auto plus = Make<CusPanoPlus>();
    const auto tarnbox = Make<CusPanoZX520E>();
    const auto h = Make<CusPanoZX730H>();
    EXPECT_EQ(plus->GetDeviceCode(), 19);
    EXPECT_EQ(tarnbox->GetDeviceCode(), 21);
    EXPECT_EQ(h->GetDeviceCode(), 23);
    EXPECT_EQ(plus->Gauss1().Level, 10);  // until the settings are read
    const struct {
        CusPanoPlus* image;
        std::int32_t level2, gain1;
    } cases[] = {{plus.get(), 3, 80}, {tarnbox.get(), 4, 60}, {h.get(), 3, 80}};
    const std::int32_t gains[8] = {10, 50, 59, 49, 39, 29, 19, 9};
    const std::int32_t clips[8] = {576, 576, 672, 768, 864, 960, 1056, 1152};
    for (const auto& c : cases) {
        ASSERT_TRUE(c.image->ReadParameters());
        const SPanoGaussBlock& g1 = c.image->Gauss1();
        const SPanoGaussBlock& g2 = c.image->Gauss2();
        EXPECT_TRUE(g1.Enable && g2.Enable);
        EXPECT_EQ(g1.Level, 5);
        EXPECT_EQ(g2.Level, c.level2);
        for (const SPanoGaussBlock* g : {&g1, &g2}) {
            EXPECT_EQ(g->Frequency, 2);
            EXPECT_EQ(g->Gauss1Size, 1);
            EXPECT_EQ(g->Gauss2Size, 3);
            EXPECT_EQ(g->Sigma1_100, 100);
            EXPECT_EQ(g->Sigma2_100, 200);
            EXPECT_EQ(g->HistoBorder, 16);
            for (int d = 0; d < 8; ++d) EXPECT_EQ(g->Clip[d], clips[d]);
            for (int d = 2; d < 8; ++d) EXPECT_EQ(g->k[d], gains[d]);
        }
        EXPECT_EQ(g1.k[0], 10);
        EXPECT_EQ(g1.k[1], 50);
        EXPECT_EQ(g2.k[0], 0);
        EXPECT_EQ(g2.k[1], c.gain1);
        const SPanoLutBlock& lut = c.image->LutBlock();
        EXPECT_EQ(lut.BorderLeft + lut.BorderTop + lut.BorderRight + lut.BorderBottom, 200);
        EXPECT_EQ(lut.GaussLowPercent, 1);
        EXPECT_EQ(lut.GaussHighPercent, 99);
        EXPECT_FALSE(lut.AdjustWithBorder || lut.RemoveBlackZone);
    }
}

// Each variant reads its own keys; the Gauss2 sizes are read under their own spelling; "Enable"
// is bounded to 0..1 for Gauss1 only, so 5 enables Gauss1 and disables Gauss2.
TEST_F(PanoPlusTest, SettingsOfTheVariantsKeys) {
    Seed(Section("GaussTarnbox1", {{"Enable", 5}, {"Level", 4}, {"k3_100", 77}}) +
         Section("GaussTarnbox2", {{"Enable", 5}, {"Gauss1Size", 9}, {"Gans2Size", 7}}) +
         Section("LUTTarnbox",
                 {{"BorderTop", 12}, {"AdjustWithBorder", 7}, {"RemoveBlackZone", 1}}) +
         Section("Gauss1", {{"Level", 2}}));
    const auto image = Make<CusPanoZX520E>();
    ASSERT_TRUE(image->ReadParameters());
    EXPECT_TRUE(image->Gauss1().Enable);
    EXPECT_EQ(image->Gauss1().Level, 4);
    EXPECT_EQ(image->Gauss1().k[3], 77);
    EXPECT_FALSE(image->Gauss2().Enable);
    EXPECT_EQ(image->Gauss2().Gauss1Size, 1);
    EXPECT_EQ(image->Gauss2().Gauss2Size, 7);
    EXPECT_EQ(image->LutBlock().BorderTop, 12);
    EXPECT_TRUE(image->LutBlock().AdjustWithBorder);
    EXPECT_TRUE(image->LutBlock().RemoveBlackZone);
    // Gauss2 disabled: slot 6 answers true and builds nothing.
    EXPECT_TRUE(image->BuildGammaLut(nullptr, 0, 0.0));
    EXPECT_EQ(image->Companion2(), nullptr);
}

TEST_F(PanoPlusTest, AnalysedRegion) {
    const struct {
        std::uint32_t width, height;
        std::int32_t left, top, right, bottom;
        win::RECT expected;
    } cases[] = {
        {100, 80, 50, 50, 50, 50, {0, 0, 100, 80}},  // up to 100 wide: the whole image
        {101, 300, 50, 50, 50, 50, {50, 50, 51, 250}},
        {400, 300, -20, 10, -30, 500, {0, 10, 400, 0}},  // edges kept inside the image
        {400, 300, INT_MAX, INT_MIN, INT_MIN, INT_MAX, {400, 0, 400, 0}},
    };
    for (const auto& c : cases) {
        SPanoLutBlock lut;
        lut.BorderLeft = c.left, lut.BorderTop = c.top;
        lut.BorderRight = c.right, lut.BorderBottom = c.bottom;
        const win::RECT r = quorin::PanoAnalysedRegion(c.width, c.height, lut);
        EXPECT_EQ(r.left, c.expected.left) << c.width;
        EXPECT_EQ(r.top, c.expected.top) << c.width;
        EXPECT_EQ(r.right, c.expected.right) << c.width;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.width;
    }
}

TEST_F(PanoPlusTest, CurveHistogramMatchesNumpy) {
    for (std::uint32_t seed : {1u, 2u}) {
        // Sparse levels, so that rebinning leaves empty bins to fill.
        auto pixels = panotest::Radiograph(300, 200, seed);
        for (auto& p : pixels) p = std::uint16_t(p / 48 * 48);
        CTMatrix<unsigned short> matrix(200, 300);
        std::copy(pixels.begin(), pixels.end(), matrix.Data());
        CTHistogram<unsigned short, unsigned int, double> histogram(nullptr, 12);
        ASSERT_TRUE(histogram.Calculate(&matrix));
        const std::unique_ptr<CImgStatistic::Histogram> curve(
            quorin::PanoCurveHistogram(histogram));
        ASSERT_TRUE(curve);
        ASSERT_EQ(curve->BinCount(), 256u);
        panotest::RefCheck check;
        check.Write("hist", histogram.BinData(), 4096);
        check.Write("out", curve->BinData(), 256);
        check.Run("curvehist", "{}");
    }
}

// Slot 5 builds companion 1 once and this image's own curve; slot 6 companion 2; rendering picks
// the companion of the mode, else this image through its curve or window table.
TEST_F(PanoPlusTest, CompanionsBuiltOnceAndRenderedByMode) {
    const auto image = Make();
    m_curve[0] = 2.3, m_curve[1] = 1.0, m_curve[2] = 0.5;
    EXPECT_TRUE(Render(*image, 2).empty());  // no table at all yet
    ASSERT_TRUE(image->BuildWindowLut(256));
    EXPECT_EQ(Render(*image, 2), Through(*image, *image->WindowLut()));

    ASSERT_TRUE(image->BuildCurveLut(&m_curve, 256));
    const auto* first = image->Companion1();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->CurveLut(), nullptr);
    EXPECT_EQ(first->Bits(), 12u);
    EXPECT_EQ(first->LevelCount(), 4096u);
    EXPECT_LE(first->WindowHigh(), 4095);
    EXPECT_LT(first->WindowLow(), first->WindowHigh());
    const auto companionPixels = std::vector<std::uint16_t>(
        first->Pixels()->Data(), first->Pixels()->Data() + std::size_t(kWidth) * kHeight);
    EXPECT_EQ(Render(*image, 1), Through(*first, *first->CurveLut()));
    // Mode 2 before Gauss2 has run: this image, through its own curve now that it has one.
    EXPECT_EQ(Render(*image, 2), Through(*image, *image->CurveLut()));

    ASSERT_TRUE(image->BuildCurveLut(&m_curve, 256));  // not recomputed
    EXPECT_EQ(image->Companion1(), first);
    EXPECT_TRUE(
        std::equal(companionPixels.begin(), companionPixels.end(), first->Pixels()->Data()));

    ASSERT_TRUE(image->BuildGammaLut(nullptr, 0, 0.0));
    const auto* second = image->Companion2();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second->CurveLut(), nullptr);
    EXPECT_EQ(Render(*image, 2), Through(*second, *second->CurveLut()));
    EXPECT_EQ(Render(*image, 0), Through(*image, *image->CurveLut()));
    EXPECT_EQ(image->GammaLut(), nullptr);  // slot 6 builds no gamma table

    // A copy starts over: initial blocks, no companions, the same device code.
    const CusPanoZX730H copy(*Make<CusPanoZX730H>());
    EXPECT_EQ(copy.GetDeviceCode(), 23);
    EXPECT_EQ(copy.Companion1(), nullptr);
    EXPECT_EQ(copy.Gauss1().Level, 10);
}

// Settings that cannot work answer false without a crash; the failed companion is not kept, so
// a later call does not report success and rendering falls back on the image itself.
TEST_F(PanoPlusTest, HostileSettingsFailCleanly) {
    m_curve[0] = 1.0, m_curve[1] = 1.0, m_curve[2] = 1.0;
    const std::vector<std::vector<std::pair<std::string, std::int32_t>>> gauss = {
        {{"Level", 0}},      {{"Level", 70000}},  {{"Level", -1}}, {{"Frequency", 0}},
        {{"Sigma1_100", 0}}, {{"Gauss2Size", 0}}, {{"Level", 8}},  // 2^8 pixels exceed the image's
                                                                   // height
    };
    const std::vector<std::vector<std::pair<std::string, std::int32_t>>> lut = {
        {{"GaussLowPercent", -5}},
        {{"GaussHighPercent", 150}},
        {{"GaussLowPercent", 60}, {"GaussHighPercent", 40}}};
    std::vector<std::string> seeds;
    for (const auto& values : gauss) seeds.push_back(Section("Gauss1", values));
    for (const auto& values : lut) seeds.push_back(Section("LUT", values));
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed);
        win::registry::ClearHives();
        Seed(seed);
        const auto image = Make();
        for (int call = 0; call < 2; ++call) {
            EXPECT_FALSE(image->BuildCurveLut(&m_curve, 256));
            EXPECT_EQ(image->Companion1(), nullptr);
        }
        EXPECT_NE(image->CurveLut(), nullptr);  // the image's own curve is still built
        EXPECT_EQ(Render(*image, 1), Through(*image, *image->CurveLut()));
    }
    // Borders beyond the image, with the stretch over the region: the region stays inside.
    for (std::int32_t border : {INT_MIN, -5, 5000, INT_MAX}) {
        win::registry::ClearHives();
        Seed(Section("LUT", {{"BorderLeft", border},
                             {"BorderTop", border},
                             {"BorderRight", border},
                             {"BorderBottom", border},
                             {"AdjustWithBorder", 1}}) +
             Section("Gauss1", {{"HistoBorder", border}}));
        const auto image = Make();
        const bool built = image->BuildCurveLut(&m_curve, 256);
        EXPECT_EQ(built, image->Companion1() != nullptr) << border;
    }
}
