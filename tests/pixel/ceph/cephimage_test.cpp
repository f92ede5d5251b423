// Cephalometric images: the factory's choice, the trimmed window, the registry window, the
// correction step against numpy and the scale measurement on synthetic strips.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/pixel/ceph_test.h"
#include "common/test_settings.h"
#include "pixel/ceph/ceph.h"
#include "pixel/ceph/cephlens.h"
#include "platform/core/globalmem.h"
#include "platform/core/notify.h"

namespace {

using cephtest::MakeRecord;

enum class Made { kNone, kCeph, kCeph32, kLens, kLensV3 };

struct FactoryCase {
    std::uint32_t bits;
    std::uint32_t hardware;
    bool pixels;
    Made made;
    bool notice;
};

Made KindOf(const CImg* image) {
    if (image == nullptr) return Made::kNone;
    const std::type_info& t = typeid(*image);
    if (t == typeid(CunCeph)) return Made::kCeph32;
    if (t == typeid(CusCephVelmoLensV3)) return Made::kLensV3;
    if (t == typeid(CusCephVelmoLens)) return Made::kLens;
    if (t == typeid(CusCeph)) return Made::kCeph;
    return Made::kNone;
}

TEST(CephFactory, PicksTheClassOfDepthAndHardware) {
    const FactoryCase cases[] = {
        {12, 3, true, Made::kLens, false},   {14, 3, true, Made::kNone, true},
        {14, 3, false, Made::kLens, false},  {16, 7, true, Made::kCeph, false},
        {12, 4, true, Made::kLensV3, false}, {16, 6, false, Made::kLensV3, false},
        {32, 3, true, Made::kCeph32, false}, {32, 0, false, Made::kCeph32, false},
        {8, 1, true, Made::kNone, false},    {24, 1, true, Made::kNone, false},
        {4, 1, true, Made::kNone, false},    {0, 1, true, Made::kNone, false},
    };
    for (const FactoryCase& c : cases) {
        SCOPED_TRACE("bits " + std::to_string(c.bits) + " hardware " + std::to_string(c.hardware));
        const auto before = win::globalmem_testing::LiveBlocks();
        std::vector<std::string> notices;
        const auto previous = win::SetNotifyHandler(
            [&](std::string_view, std::string_view text) { notices.emplace_back(text); });
        SImage* record = AllocSImage(40, 30, 1, c.bits, false, nullptr);
        ASSERT_NE(record, nullptr);
        if (!c.pixels) {
            FreeGlobalPointer(record->pPixels);
            record->pPixels = nullptr;
        }
        void* const block = record->pPixels;
        std::unique_ptr<CImg> image(CreateCephImage(record, c.hardware, 0));
        win::SetNotifyHandler(previous);
        EXPECT_EQ(KindOf(image.get()), c.made);
        EXPECT_EQ(notices.size(), c.notice ? 1u : 0u);
        if (c.notice) {
            EXPECT_EQ(notices[0], "Hardware ID incorrect");
        }
        if (image) {
            EXPECT_EQ(record->pPixels, nullptr);  // the image owns the block now
            EXPECT_EQ(image->GetWidth(), 40u);
            EXPECT_EQ(image->GetHeight(), 30u);
        } else {
            EXPECT_EQ(record->pPixels, block);  // refused: the record keeps its pixels
        }
        image.reset();
        FreeSImage(record, false);
        EXPECT_EQ(win::globalmem_testing::LiveBlocks(), before);
    }
    EXPECT_EQ(CreateCephImage(nullptr, 1, 0), nullptr);
}

TEST(CephWindow, TrimsAHundredthBelowAndATwoThousandthAbove) {
    // 10,000 pixels: the low trim needs 100 counts, the high trim 5.
    std::vector<std::uint16_t> px(10000, 1000);
    for (int i = 0; i < 50; ++i) px[i] = 10;
    for (int i = 50; i < 110; ++i) px[i] = 20;
    for (int i = 200; i < 204; ++i) px[i] = 3000;
    for (int i = 300; i < 302; ++i) px[i] = 3500;
    SImage* record = MakeRecord<std::uint16_t>(100, 100, 12, px);
    CusCeph image(record);
    FreeSImage(record, true);
    image.ComputeMinMax();
    EXPECT_EQ(image.WindowLow(), 21);
    EXPECT_EQ(image.WindowHigh(), 2999);

    // A flat image at the top level keeps a window of one level (no wrap past the top).
    std::vector<std::uint16_t> flat(400, 65535);
    record = MakeRecord<std::uint16_t>(20, 20, 16, flat);
    CusCeph top(record);
    FreeSImage(record, true);
    top.ComputeMinMax();
    EXPECT_EQ(top.WindowLow(), 65535);
    EXPECT_EQ(top.WindowHigh(), 65535);
}

TEST(CephWindow, ProcessingParametersChooseTheModeOnce) {
    const struct {
        unsigned short low, high;
        int mode;
        float lowRatio;
    } cases[] = {
        {100, 2000, 1, 0.0f},                   // wide window from a dark minimum
        {100, 900, 2, 0.0f},                    // narrow window
        {600, 4000, 2, float(600.0 / 4095.0)},  // bright minimum: its share is the low ratio
    };
    for (const auto& c : cases) {
        SImage* record = MakeRecord<std::uint16_t>(8, 8, 12);
        CTImgCeph<unsigned short, unsigned short, unsigned int> image(record);
        FreeSImage(record, true);
        image.SetWindow(c.low, c.high);
        int mode = -1;
        float range = -1, low = -1;
        image.GetExposureState(&mode, &range, &low);
        EXPECT_EQ(mode, c.mode) << c.low << " " << c.high;
        EXPECT_FLOAT_EQ(range, float((c.high - c.low + 1) / 4095.0));
        EXPECT_FLOAT_EQ(low, c.lowRatio);
        image.SetWindow(0, 4095);  // remembered: the window no longer decides
        image.GetExposureState(&mode, nullptr, nullptr);
        EXPECT_EQ(mode, c.mode);
    }
}

struct RegistryWindowCase {
    int lowVal;   // -1: not stored
    int highVal;  // -1: not stored
    unsigned low, high;
};

TEST(CephWindow, ProcessingLutFromTheRegistryWindow) {
    // 90,000 pixels: 1000 black (ignored), 1000 at 100, 5 at 3000, 5 at 4000, the rest 2000.
    std::vector<std::uint16_t> px(300 * 300, 2000);
    for (int i = 0; i < 1000; ++i) px[i] = 0;
    for (int i = 1000; i < 2000; ++i) px[i] = 100;
    for (int i = 2000; i < 2005; ++i) px[i] = 3000;
    for (int i = 2005; i < 2010; ++i) px[i] = 4000;
    const RegistryWindowCase cases[] = {
        {-1, -1, 100, 3000},     // no key: fractions 0.01 and 0.0001
        {2, -1, 2000, 3000},     // 0.02 of the pixels lies beyond level 100
        {1, 6, 100, 2000},       // 0.0006: both top levels are cut
        {500, 999999, 4095, 0},  // bounded to 100 % and 100 %: an empty window, no fault
    };
    for (const RegistryWindowCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.lowVal) + " " + std::to_string(c.highVal));
        quorin::test::ScopedSettings settings;
        if (c.lowVal >= 0) cephtest::SetDword("QUORIN\\QV\\Ceph", "LowVal", c.lowVal);
        if (c.highVal >= 0) cephtest::SetDword("QUORIN\\QV\\Ceph", "HighVal", c.highVal);
        SImage* record = MakeRecord<std::uint16_t>(300, 300, 12, px);
        CusCeph image(record);
        FreeSImage(record, true);
        ASSERT_TRUE(image.AutoWindowFromRegistry(0));
        const CTLut<unsigned short>* lut = image.ProcessingLut();
        ASSERT_NE(lut, nullptr);
        ASSERT_EQ(lut->Size(), 4096u);
        // The table of the plain class holds low below the window and high above it.
        EXPECT_EQ((*lut)[0], c.low);
        if (c.low < c.high) {
            EXPECT_EQ((*lut)[4095], c.high);
        }
        ASSERT_TRUE(image.ApplyProcessingLut(nullptr, true, 1));
        EXPECT_EQ(image.Pixels()->Data()[1500], (*lut)[100]);
    }
}

// A 12-bit image with a smooth radial attenuation and a few spikes that the rim clipping removes.
std::vector<std::uint16_t> Radiograph(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint16_t> px(std::size_t(w) * h);
    for (std::uint32_t i = 0; i < h; ++i)
        for (std::uint32_t j = 0; j < w; ++j)
            px[i * w + j] = static_cast<std::uint16_t>(400 + 7 * j + 11 * i + (i * j) % 5);
    px[5 * w + 9] = 4000;
    px[20 * w + 30] = 0;
    return px;
}

TEST(CephCorrection, NeutralSetsLeaveTheRimClippedImage) {
    const std::uint32_t w = 48, h = 40;
    const auto px = Radiograph(w, h);
    SImage* record = MakeRecord<std::uint16_t>(w, h, 12, px);
    CusCeph image(record);
    FreeSImage(record, true);
    CusCeph out(h, w);
    const double k[8] = {1, 0, 0, 0, 0, 0, 0, 0}, g[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(image.Correct(&out, k, 8, 20, 18, g, 8, 0.1, 0.1, 0, true));
    const std::uint16_t* o = out.Pixels()->Data();
    EXPECT_LT(o[5 * w + 9], 1000);  // the spike is clipped to its rim
    EXPECT_GT(o[20 * w + 30], 0);
    EXPECT_EQ(o[30 * w + 10], px[30 * w + 10]);  // smooth parts stay
    const double zeros[8] = {};
    CusCeph same(h, w);
    ASSERT_TRUE(image.Correct(&same, zeros, 8, 20, 18, zeros, 8, 0.1, 0.1, 0, false));
    EXPECT_EQ(std::memcmp(same.Pixels()->Data(), o, w * h * 2), 0);
}

struct CorrectionCase {
    bool intensity;
    double cx, cy;
    double g1, g2, g3;
};

TEST(CephCorrection, MatchesTheFormulasInNumpy) {
    const std::uint32_t w = 48, h = 40;
    const auto px = Radiograph(w, h);
    const CorrectionCase cases[] = {
        {false, 20.5, 18.0, 1.02, 0.05, -0.01},
        {true, 24.0, 20.0, 0.97, 0.0, 0.02},
        {true, 3.0, 35.0, 1.3, -0.2, 0.0},  // sources far outside: base-pixel copies
    };
    for (const CorrectionCase& c : cases) {
        SImage* record = MakeRecord<std::uint16_t>(w, h, 12, px);
        CusCeph image(record);
        FreeSImage(record, true);
        const double neutralK[8] = {1, 0, 0, 0, 0, 0, 0, 0};
        const double neutralG[8] = {0, 1, 0, 0, 0, 0, 0, 0};
        const double k[8] = {1.0, 0.002, 1e-5, 1e-8, 0, 0, 0, 0};
        const double g[8] = {0.0, c.g1, c.g2, c.g3, 0, 0, 0, 0};
        CusCeph clipped(h, w), out(h, w);
        ASSERT_TRUE(image.Correct(&clipped, neutralK, 8, c.cx, c.cy, neutralG, 8, 1, 1, 0, 0));
        ASSERT_TRUE(
            image.Correct(&out, c.intensity ? k : neutralK, 8, c.cx, c.cy, g, 4, 1, 1, 0, true));
        ASSERT_NE(out.SourceRows(), nullptr);
        cephtest::Reference ref;
        ref.Write("clipped.raw", clipped.Pixels()->Data(), w * h);
        ref.Write("dst.raw", out.Pixels()->Data(), w * h);
        char params[512];
        std::snprintf(params, sizeof params,
                      R"({"height":%u,"width":%u,"cx":%.17g,"cy":%.17g,"bits":12,)"
                      R"("intensity":%s,"k":[1.0,0.002,1e-5,1e-8],)"
                      R"("g":[0.0,%.17g,%.17g,%.17g,0,0,0,0]})",
                      h, w, c.cx, c.cy, c.intensity ? "true" : "false", c.g1, c.g2, c.g3);
        ref.Run("correct", params);
    }
}

TEST(CephCorrection, HostileCoefficientsFailWithoutFault) {
    const std::uint32_t w = 32, h = 24;
    const auto px = Radiograph(w, h);
    SImage* record = MakeRecord<std::uint16_t>(w, h, 12, px);
    CusCeph image(record);
    FreeSImage(record, true);
    CusCeph out(h, w), small(h - 1, w);
    const double zeroPoly[8] = {0, 0, 0, 0, 1, 0, 0, 0};  // p(r) = 0: no attenuation
    const double neutralG[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(image.Correct(&out, zeroPoly, 8, 10, 10, neutralG, 8, 1, 1, 0, true));
    const double huge[8] = {0, 1e300, 1e300, 0, 0, 0, 0, 0};
    image.Correct(&out, neutralG, 8, 10, 10, huge, 99, 1, 1, 0, true);  // no fault
    const double nan = std::numeric_limits<double>::quiet_NaN();
    image.Correct(&out, neutralG, 8, nan, nan, huge, -5, 1, 1, 0, true);
    // Different scale values: no geometric step and nothing written.
    const double g[8] = {0, 1.01, 0, 0, 0, 0, 0, 0};
    std::fill(out.Pixels()->Data(), out.Pixels()->Data() + w * h, 7);
    const double neutralK[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(image.Correct(&out, neutralK, 8, 10, 10, g, 8, 1.0, 2.0, 0, false));
    EXPECT_EQ(out.Pixels()->Data()[100], 7);
    EXPECT_FALSE(image.Correct(&small, neutralK, 8, 10, 10, g, 8, 1, 1, 0, false));
    EXPECT_FALSE(image.Correct(nullptr, neutralK, 8, 10, 10, g, 8, 1, 1, 0, false));
}

// A 1000 x 600 image whose band (rows 100..499) holds a bright strip of `stripWidth` columns
// from column `at`, with marks of ten rows starting every `gap` rows from band row 95.
std::unique_ptr<CusCeph> ScaleImage(int stripWidth, int gap, int marks, int at = 200) {
    const std::uint32_t w = 600;
    const std::uint32_t h = 1000;
    auto image = std::make_unique<CusCeph>(h, w);
    std::uint16_t* px = image->Pixels()->Data();
    std::fill(px, px + std::size_t(w) * h, 1000);
    for (std::uint32_t r = 0; r < h; ++r)
        for (int c = at; c < at + stripWidth; ++c) px[r * w + c] = 2000;
    for (int m = 0; m < marks; ++m)
        for (int r = 0; r < 10; ++r)
            for (int c = at; c < at + stripWidth; ++c)
                px[std::size_t(100 + 95 + m * gap + r) * w + c] = 3000;
    return image;
}

TEST(CephScale, StripAndMarksGiveTheScale) {
    auto image = ScaleImage(30, 80, 4);
    std::uint32_t left = 0, right = 0;
    ASSERT_TRUE(quorin::FindScaleStrip(*image->Pixels(), false, &left, &right));
    EXPECT_NEAR(double(left), 199.5, 2.0);
    EXPECT_NEAR(double(right), 229.5, 2.0);
    EXPECT_DOUBLE_EQ(image->MeasureScale(10.0, 0, false), 0.125);
    EXPECT_DOUBLE_EQ(image->MeasureScale(10.0, 1, true), 0.125);  // mirrored: first two thirds
    // A strip beyond the first two thirds is found on side 1 only.
    auto beyond = ScaleImage(30, 80, 4, 450);
    EXPECT_DOUBLE_EQ(beyond->MeasureScale(10.0, 1, false), 0.125);
    EXPECT_EQ(beyond->MeasureScale(10.0, 0, false), -1.0);
}

TEST(CephScale, StripWidthLimits) {
    const struct {
        int width;
        bool found;
    } cases[] = {{8, false}, {10, true}, {100, true}, {104, false}};
    for (const auto& c : cases) {
        auto image = ScaleImage(c.width, 80, 4);
        EXPECT_EQ(quorin::FindScaleStrip(*image->Pixels(), false, nullptr, nullptr), c.found)
            << c.width;
    }
}

TEST(CephScale, MarkSpacingRules) {
    const struct {
        std::vector<std::uint32_t> centres;
        double spacing;
    } cases[] = {
        {{100, 180, 260, 340}, 80.0},   {{0, 50, 100, 150}, -1.0},  // below 700/13
        {{0, 120, 240, 360}, -1.0},                                 // above 1500/13
        {{0, 80, 160, 260}, 80.0},       // four irregular: the first three measured alone
        {{0, 70, 160, 230}, -1.0},       // ... and too irregular themselves
        {{0, 70, 160, 230, 330}, -1.0},  // five irregular fail
        {{0, 60, 120}, 60.0},           {{0, 60}, -1.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(quorin::SpacingFromMarkCentres(c.centres.data(), int(c.centres.size())),
                         c.spacing);
}

TEST(CephScale, HostileSizesFail) {
    const struct {
        std::uint32_t w, h;
    } sizes[] = {{10, 10}, {600, 200}, {7000, 230}, {3, 8394}, {1, 1000}};
    for (const auto& s : sizes) {
        CusCeph image(s.h, s.w);
        ASSERT_TRUE(image.HasPixels());
        EXPECT_EQ(image.MeasureScale(10.0, 0, false), -1.0) << s.w << " x " << s.h;
    }
    auto image = ScaleImage(30, 80, 4);
    EXPECT_EQ(quorin::ScaleMarkSpacing(*image->Pixels(), 230, 200), -1.0);
    EXPECT_EQ(quorin::ScaleMarkSpacing(*image->Pixels(), 590, 700), -1.0);
    // Marks 50 pixels apart are too close.
    auto close = ScaleImage(30, 50, 6);
    EXPECT_EQ(close->MeasureScale(10.0, 0, false), -1.0);
}

}  // namespace
