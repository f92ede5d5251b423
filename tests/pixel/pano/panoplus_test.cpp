// Registry-driven panoramic images: settings per variant, the analysed region, the curve
// histogram against numpy, companions built once and rendered by mode, hostile settings.
#include "pixel/pano/panoplus.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "common/test_settings.h"
#include "pano_check.h"
#include "platform/core/globalmem.h"
#include "platform/files/registry.h"

namespace {

using panotest::MakeImage;
using Values = std::vector<std::pair<std::string, std::int32_t>>;
constexpr std::uint32_t kWidth = 256, kHeight = 192;

class PanoPlusTest : public ::testing::Test {
  protected:
    // A section of current-user values under Software\QUORIN\PANO.
    static std::string Section(const std::string& key, const Values& values) {
        std::string text = "[HKEY_CURRENT_USER\\Software\\QUORIN\\PANO\\" + key + "]\n";
        char line[80];
        for (const auto& [name, value] : values) {
            std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\n", name.c_str(), unsigned(value));
            text += line;
        }
        return text + "\n";
    }
    static void Seed(const std::string& sections) {
        win::registry::ClearHives();
        win::registry::LoadHiveText(0, "REGEDIT4\n\n" + sections);
    }
    template <class Image = CusPanoPlus>
    static std::unique_ptr<Image> Make() {
        return MakeImage<Image>(kWidth, kHeight, 12, panotest::Radiograph(kWidth, kHeight, 5));
    }
    // What rendering `image` through `table` must give.
    static std::vector<std::uint8_t> Through(const CTImgPano<unsigned short>& image,
                                             const CTLut<unsigned char>* table) {
        std::vector<std::uint8_t> out;
        for (std::uint16_t p : panotest::PixelsOf(image)) out.push_back(table->Map(p));
        return out;
    }
    static std::vector<std::uint8_t> Render(CusPanoPlus& image, std::int32_t mode) {
        CTImgNB<unsigned char, unsigned char> target(kHeight, kWidth);
        return image.RenderWithLut(target, mode) ? panotest::PixelsOf(target)
                                                 : std::vector<std::uint8_t>{};
    }
    quorin::test::NoLeaks m_noLeaks;
    quorin::test::ScopedSettings m_settings;
    CTVector<double> m_curve{3};
};

std::vector<std::int32_t> Fields(const SPanoGaussBlock& g) {
    std::vector<std::int32_t> v = {g.Enable,     g.Level,      g.Frequency,  g.Gauss1Size,
                                   g.Gauss2Size, g.Sigma1_100, g.Sigma2_100, g.HistoBorder};
    v.insert(v.end(), g.k, g.k + 8);
    v.insert(v.end(), g.Clip, g.Clip + 8);
    return v;
}

}  // namespace

TEST_F(PanoPlusTest, DefaultsOfTheThreeVariants) {
    const std::vector<std::int32_t> clips = {576, 576, 672, 768, 864, 960, 1056, 1152};
    const auto gauss = [&](std::int32_t level, std::int32_t k0, std::int32_t k1) {
        std::vector<std::int32_t> v = {1,  level, 2,  1,  3,  100, 200, 16,
                                       k0, k1,    59, 49, 39, 29,  19,  9};
        v.insert(v.end(), clips.begin(), clips.end());
        return v;
    };
    const std::unique_ptr<CusPanoPlus> images[] = {Make<CusPanoPlus>(), Make<CusPanoZX520E>(),
                                                   Make<CusPanoZX730H>()};
    const struct {
        std::int32_t code, level2, gain1;
    } expected[] = {{19, 3, 80}, {21, 4, 60}, {23, 3, 80}};
    EXPECT_EQ(images[0]->Gauss1().Level, 10);  // until the settings are read
    for (int v = 0; v < 3; ++v) {
        CusPanoPlus& image = *images[v];
        EXPECT_EQ(image.GetDeviceCode(), expected[v].code);
        ASSERT_TRUE(image.ReadParameters());
        EXPECT_EQ(Fields(image.Gauss1()), gauss(5, 10, 50));
        EXPECT_EQ(Fields(image.Gauss2()), gauss(expected[v].level2, 0, expected[v].gain1));
        const SPanoLutBlock& lut = image.LutBlock();
        EXPECT_EQ(
            std::vector<std::int32_t>({lut.BorderLeft, lut.BorderTop, lut.BorderRight,
                                       lut.BorderBottom, lut.GaussLowPercent, lut.GaussHighPercent,
                                       lut.AdjustWithBorder, lut.RemoveBlackZone}),
            std::vector<std::int32_t>({50, 50, 50, 50, 1, 99, 0, 0}));
    }
}

// Each variant reads its own keys; the Gauss2 sizes under their own spelling; "Enable" is bounded
// to 0..1 for Gauss1 only, so 5 enables Gauss1 and disables Gauss2.
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
    EXPECT_TRUE(image->LutBlock().AdjustWithBorder && image->LutBlock().RemoveBlackZone);
    EXPECT_TRUE(image->BuildGammaLut(nullptr, 0, 0.0));  // Gauss2 disabled: nothing to build
    EXPECT_EQ(image->Companion2(), nullptr);
}

TEST_F(PanoPlusTest, AnalysedRegion) {
    const struct {
        std::uint32_t width, height;
        std::int32_t left, top, right, bottom;
        std::vector<std::int32_t> expected;
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
        EXPECT_EQ(std::vector<std::int32_t>({r.left, r.top, r.right, r.bottom}), c.expected);
    }
}

TEST_F(PanoPlusTest, CurveHistogram) {
    auto pixels = panotest::Radiograph(300, 200, 1);
    for (auto& p : pixels) p = std::uint16_t(p / 48 * 48);  // rebinning leaves bins to fill
    CTMatrix<unsigned short> matrix(200, 300);
    std::copy(pixels.begin(), pixels.end(), matrix.Data());
    CTHistogram<unsigned short, unsigned int, double> histogram(nullptr, 12);
    ASSERT_TRUE(histogram.Calculate(&matrix));
    const std::unique_ptr<CImgStatistic::Histogram> curve(quorin::PanoCurveHistogram(histogram));
    ASSERT_TRUE(curve);
    ASSERT_EQ(curve->BinCount(), 256u);
    panotest::RefCheck check;
    check.Write("hist", histogram.BinData(), 4096);
    check.Write("out", curve->BinData(), 256);
    check.Run("curvehist", "{}");
}

// Slot 5 builds companion 1 once and this image's own curve, slot 6 companion 2; rendering takes
// the companion of the mode, else this image through its curve or window table.
TEST_F(PanoPlusTest, CompanionsBuiltOnceAndRenderedByMode) {
    const auto image = Make();
    m_curve[0] = 2.3, m_curve[1] = 1.0, m_curve[2] = 0.5;
    EXPECT_TRUE(Render(*image, 2).empty());  // no table yet
    ASSERT_TRUE(image->BuildWindowLut(256));
    EXPECT_EQ(Render(*image, 2), Through(*image, image->WindowLut()));

    ASSERT_TRUE(image->BuildCurveLut(&m_curve, 256));
    const auto* first = image->Companion1();
    ASSERT_TRUE(first && first->CurveLut());
    EXPECT_EQ(first->LevelCount(), 4096u);
    EXPECT_LT(first->WindowLow(), first->WindowHigh());
    EXPECT_LE(first->WindowHigh(), 4095);
    const auto built = panotest::PixelsOf(*first);
    EXPECT_EQ(Render(*image, 1), Through(*first, first->CurveLut()));
    EXPECT_EQ(Render(*image, 2), Through(*image, image->CurveLut()));  // before Gauss2: itself

    ASSERT_TRUE(image->BuildCurveLut(&m_curve, 256));  // not recomputed
    EXPECT_EQ(image->Companion1(), first);
    EXPECT_EQ(panotest::PixelsOf(*first), built);

    ASSERT_TRUE(image->BuildGammaLut(nullptr, 0, 0.0));
    const auto* second = image->Companion2();
    ASSERT_TRUE(second && second->CurveLut());
    EXPECT_EQ(Render(*image, 2), Through(*second, second->CurveLut()));
    EXPECT_EQ(Render(*image, 0), Through(*image, image->CurveLut()));
    EXPECT_EQ(image->GammaLut(), nullptr);  // slot 6 builds no gamma table

    const CusPanoZX730H copy(*Make<CusPanoZX730H>());  // starts over, same device code
    EXPECT_EQ(copy.GetDeviceCode(), 23);
    EXPECT_EQ(copy.Companion1(), nullptr);
    EXPECT_EQ(copy.Gauss1().Level, 10);
}

// Settings that cannot work answer false without a crash. The pipeline runs once: the failed
// companion is kept without a curve table, so rendering its mode answers false and a later call
// only refreshes its window.
TEST_F(PanoPlusTest, HostileSettingsFailCleanly) {
    m_curve[0] = m_curve[1] = m_curve[2] = 1.0;
    const Values gauss[] = {{{"Level", 0}},     {{"Level", 70000}},  {{"Level", -1}},
                            {{"Frequency", 0}}, {{"Sigma1_100", 0}}, {{"Gauss2Size", 0}},
                            {{"Level", 8}}};  // 2^8 exceeds the image's height
    const Values lut[] = {{{"GaussLowPercent", -5}},
                          {{"GaussHighPercent", 150}},
                          {{"GaussLowPercent", 60}, {"GaussHighPercent", 40}}};
    std::vector<std::string> seeds;
    for (const auto& values : gauss) seeds.push_back(Section("Gauss1", values));
    for (const auto& values : lut) seeds.push_back(Section("LUT", values));
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed);
        Seed(seed);
        const auto image = Make();
        EXPECT_FALSE(image->BuildCurveLut(&m_curve, 256));
        const auto* companion = image->Companion1();
        ASSERT_NE(companion, nullptr);
        EXPECT_EQ(companion->CurveLut(), nullptr);
        ASSERT_NE(image->CurveLut(), nullptr);  // the image's own curve is built all the same
        EXPECT_TRUE(Render(*image, 1).empty());
        EXPECT_EQ(Render(*image, 2), Through(*image, image->CurveLut()));  // no companion 2
        EXPECT_TRUE(image->BuildCurveLut(&m_curve, 256));
        EXPECT_EQ(image->Companion1(), companion);
        EXPECT_EQ(companion->CurveLut(), nullptr);
    }
    // Both blocks deeper than the image allows: modes 1 and 2 both answer false.
    Seed(Section("Gauss1", {{"Level", 8}}) + Section("Gauss2", {{"Level", 8}}));
    const auto image = Make();
    EXPECT_FALSE(image->BuildCurveLut(&m_curve, 256));
    EXPECT_FALSE(image->BuildGammaLut(nullptr, 0, 0.0));
    ASSERT_TRUE(image->Companion2());
    EXPECT_TRUE(Render(*image, 1).empty());
    EXPECT_TRUE(Render(*image, 2).empty());
    EXPECT_EQ(Render(*image, 0), Through(*image, image->CurveLut()));
    // Borders beyond the image with the stretch over the region: the region stays inside.
    for (std::int32_t border : {INT_MIN, -5, 5000, INT_MAX}) {
        Seed(Section("LUT", {{"BorderLeft", border},
                             {"BorderTop", border},
                             {"BorderRight", border},
                             {"BorderBottom", border},
                             {"AdjustWithBorder", 1}}) +
             Section("Gauss1", {{"HistoBorder", border}}));
        const auto image = Make();
        const bool built = image->BuildCurveLut(&m_curve, 256);
        ASSERT_TRUE(image->Companion1());
        EXPECT_EQ(built, image->Companion1()->CurveLut() != nullptr) << border;
    }
}

// 16-bit sources give a companion that spans 0..4095 with a histogram that has shape.
TEST_F(PanoPlusTest, SixteenBitSourceGivesAFullCompanion) {
    auto pixels = panotest::Radiograph(kWidth, kHeight, 9);
    for (auto& p : pixels) p = static_cast<std::uint16_t>(p * 16);
    const auto image = MakeImage<CusPanoPlus>(kWidth, kHeight, 16, pixels);
    m_curve[0] = 2.3, m_curve[1] = 1.0, m_curve[2] = 0.5;
    ASSERT_TRUE(image->BuildCurveLut(&m_curve, 256));
    const auto* companion = image->Companion1();
    ASSERT_TRUE(companion && companion->CurveLut());
    const auto values = panotest::PixelsOf(*companion);
    EXPECT_EQ(*std::min_element(values.begin(), values.end()), 0);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 4095);
    std::vector<std::size_t> counts(4096);
    for (auto v : values) ++counts[v];
    EXPECT_GT(std::count_if(counts.begin(), counts.end(), [](auto n) { return n != 0; }), 1000);
    EXPECT_LT(*std::max_element(counts.begin(), counts.end()), values.size() / 20);
}
