// Intra-oral sensor images: the processing curves, the corner-free histogram and the
// peak-and-valley search against numpy/scipy; the exposure judgement's documented cases; what
// each sensor class answers; the 8-bit rendering of CusZEL6 against numpy; hostile images.
#include "pixel/intraoral/intraoral.h"

#include <gtest/gtest.h>
#include <quorin/geometry.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "common/pixel/pixel_io.h"
#include "common/pixel/sensor_ref.h"
#include "common/test_settings.h"
#include "pixel/intraoral/intraoralhist.h"
#include "pixel/intraoral/intraorallut.h"
#include "pixel/intraoral/intraoralsensors.h"
#include "platform/files/registry.h"
#include "records/core/rounding.h"

using pixeltest::RandomPixels;
using sensortest::BlocksBalanced;
using sensortest::JsonRows;
using sensortest::Make;
using sensortest::RefCheck;

namespace {

void SetZelSetting(const char* name, win::DWORD value) {
    win::HKEY key = nullptr;
    win::DWORD disposition = 0;
    ASSERT_EQ(win::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QUORIN\\ZEL", 0, nullptr, 0,
                                   win::KEY_ALL_ACCESS, nullptr, &key, &disposition),
              win::ERROR_SUCCESS);
    win::RegSetValueExA(key, name, 0, win::REG_DWORD, reinterpret_cast<win::BYTE*>(&value), 4);
    win::RegCloseKey(key);
}

// A histogram of n bins from humps (centre, width, height) and a floor.
std::vector<unsigned int> Humps(std::size_t n, std::initializer_list<std::array<double, 3>> humps) {
    std::vector<unsigned int> bins(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0;
        for (const auto& [c, w, height] : humps) v += height * std::exp(-std::pow((i - c) / w, 2));
        bins[i] = static_cast<unsigned int>(v + 3.0 * std::sin(double(i) * 0.7) + 3.0);
    }
    return bins;
}

}  // namespace

TEST(IntraoralCurves, MatchNumpy) {
    std::vector<std::uint16_t> tables;
    const auto keep = [&](const std::vector<std::uint16_t>& table) {
        tables.insert(tables.end(), table.begin(), table.end());
    };
    // Knee: n, low, high, a.
    const std::vector<std::vector<double>> knees = {
        {4096, 300, 3000, 2.3}, {4096, 300, 3000, 3.5}, {4096, 0, 4095, 2.3},
        {1024, 100, 1023, 3.5}, {4096, 500, 500, 2.3},  {65536, 1000, 40000, 2.3}};
    for (const auto& c : knees) {
        std::vector<std::uint16_t> table(static_cast<std::size_t>(c[0]));
        quorin::KneeCurve(table.data(), table.size(), std::uint64_t(c[1]), std::uint64_t(c[2]),
                          c[3]);
        keep(table);
    }
    // Power: n, low, MaxHisto, RapportAmalgame, a.
    const std::vector<std::vector<double>> powers = {{4096, 1000, 4095, 50, 2.3},
                                                     {4096, 0, 4095, 100, 3.5},
                                                     {1024, 10, 4095, 100, 2.3},
                                                     {4096, 4000, 4095, 77, 3.5}};
    for (const auto& c : powers) {
        std::vector<std::uint16_t> table(std::size_t(c[0]), 0xEEEE);
        ASSERT_TRUE(quorin::PowerCurve(table.data(), table.size(), std::int64_t(c[1]),
                                       std::int64_t(c[2]), std::int64_t(c[3]), c[4]));
        keep(table);
    }
    // Control points: n, mode, low, high.
    const std::vector<std::vector<double>> controls = {
        {256, 1, 100, 3000}, {256, 2, 100, 3000}, {256, 1, 4000, 4090}, {256, 2, 3000, 3100}};
    for (const auto& c : controls) {
        std::vector<std::uint16_t> table(256);
        ASSERT_TRUE(quorin::ControlPointCurve(table.data(), 256, int(c[1]), std::int64_t(c[2]),
                                              std::int64_t(c[3])));
        keep(table);
    }
    // Sigmoid: n, low, stretch a..b, centre c, power p; the stretch ends early, at the top or
    // beyond it (entry 4095 is then set, not computed).
    const std::vector<std::vector<double>> sigmoids = {
        {4096, 300, 300, 3000, 1500, -5},      {4096, 300, 300, 3000, 1500, -8},
        {4096, 0, 0, 4095, 2047.5, -5},        {4096, 1000, 1000, 1800, 611.25, -8},
        {4096, 1416, 1416, 1440, 2388.75, -5}, {4096, 100, 100, 5000, 2000, -5}};
    for (const auto& c : sigmoids) {
        std::vector<std::uint16_t> table(std::size_t(c[0]), 0xEEEE);
        quorin::SigmoidCurve(table.data(), table.size(), std::uint64_t(c[1]), c[2], c[3], c[4],
                             int(c[5]));
        keep(table);
    }
    RefCheck check;
    check.Write("tables", tables);
    check.Run("curves", "{\"knee\":" + JsonRows(knees) + ",\"power\":" + JsonRows(powers) +
                            ",\"control\":" + JsonRows(controls) +
                            ",\"sigmoid\":" + JsonRows(sigmoids) + "}");
}

TEST(IntraoralCurves, DocumentedPointsAndRefusals) {
    // Low 100, high 3000: k = 291, so entry 255 is curve[223] and nothing is forced to 255.
    std::vector<std::uint8_t> table(256);
    ASSERT_TRUE(quorin::ControlPointCurve(table.data(), 256, 1, 100, 3000));
    EXPECT_LT(table[255], 255);
    EXPECT_FALSE(quorin::ControlPointCurve(table.data(), 256, 1, 0, 3000));
    EXPECT_FALSE(quorin::ControlPointCurve(table.data(), 256, 1, 3000, 3000));
    EXPECT_FALSE(quorin::ControlPointCurve(table.data(), 256, 3, 100, 3000));
    EXPECT_FALSE(quorin::ControlPointCurve(table.data(), 256, 1, 4000, 4001));  // k = 0
    // The power curve needs low below MaxHisto and a ramp that goes up.
    std::vector<std::uint16_t> wide(4096);
    EXPECT_FALSE(quorin::PowerCurve(wide.data(), 4096, 4095, 4095, 100, 2.3));
    EXPECT_FALSE(quorin::PowerCurve(wide.data(), 4096, 100, 0, 100, 2.3));
    EXPECT_FALSE(quorin::PowerCurve(wide.data(), 4096, 4094, 4095, 50, 2.3));  // top = low
    EXPECT_EQ(quorin::MulDiv(7, 3, 2), 11);  // 10.5 rounds away from zero
    EXPECT_EQ(quorin::MulDiv(-7, 3, 2), -11);
    EXPECT_EQ(quorin::MulDiv(1, 1, 0), -1);
}

TEST(IntraoralHistogram, CornerFreeHistogramMatchesNumpy) {
    const std::uint32_t w = 90, h = 70;
    const auto pixels = RandomPixels<std::uint16_t>(w * h, 4200, 7);  // some beyond 12 bits
    CTMatrix<unsigned short> matrix(h, w);
    std::copy(pixels.begin(), pixels.end(), matrix.Data());
    const quorin::CornerPairs pairs = {10, 12, 0, 5, 7, 5, 20, 3};
    const auto histogram =
        quorin::CornerFreeHistogram(matrix, quorin::InsetRegion(w, h, 6), pairs, 12);
    ASSERT_TRUE(histogram);
    RefCheck check;
    check.Write("image", pixels);
    check.Write("hist", histogram->BinData(), histogram->BinCount());
    check.Run("cornerhist", R"({"w":90,"h":70,"bits":12,"inset":6,"pairs":[10,12,0,5,7,5,20,3]})");
}

TEST(IntraoralHistogram, PeakValleyMatchesScipy) {
    struct Case {
        std::vector<unsigned int> bins;
        unsigned int threshold;
        bool fraction, useLowFound;
    };
    const std::vector<Case> cases = {
        {Humps(4096, {{1500, 300, 4000}, {3800, 60, 900}}), 40, true, false},    // valley
        {Humps(4096, {{1500, 300, 4000}, {3800, 150, 9000}}), 40, true, false},  // share > 0.3
        {Humps(4096, {{1500, 300, 4000}, {3800, 150, 9000}}), 40, false, false},
        {Humps(4096, {{2000, 400, 5000}}), 40, true, false},  // one peak
        {Humps(4096, {{900, 200, 3000}, {3900, 40, 600}}), 20, true, true},
        {Humps(65536, {{20000, 3000, 800}, {62000, 300, 400}}), 40, true, false},
        {std::vector<unsigned int>(4096, 0), 40, true, false},
        {std::vector<unsigned int>(64, 100), 40, true, true},  // fewer levels than the run
    };
    std::vector<unsigned int> bins;
    std::vector<std::vector<double>> rows;  // bins, thresholds, tests, our low and high
    for (const Case& c : cases) {
        quorin::PeakValley found;
        ASSERT_TRUE(quorin::FindPeakValley(c.bins.data(), c.bins.size(), c.threshold, c.threshold,
                                           c.fraction, c.useLowFound, &found));
        bins.insert(bins.end(), c.bins.begin(), c.bins.end());
        rows.push_back({double(c.bins.size()), double(c.threshold), double(c.threshold),
                        double(c.fraction), double(c.useLowFound), double(found.low),
                        double(found.high)});
    }
    RefCheck check;
    check.Write("bins", bins);
    check.Run("peakvalley", "{\"cases\":" + JsonRows(rows) + "}");
    // The valley case really finds the valley between the humps.
    quorin::PeakValley found;
    ASSERT_TRUE(quorin::FindPeakValley(cases[0].bins.data(), 4096, 40, 40, true, false, &found));
    EXPECT_TRUE(found.valley);
    EXPECT_GT(found.high, 1500u);
    EXPECT_LT(found.high, 3800u);
}

TEST(IntraoralHistogram, ManyPeaksStayLinear) {
    // A saw-tooth of 16-bit levels: every third bin a peak, each lower than the last. A walk
    // per peak would take minutes; the stack form takes milliseconds.
    std::vector<unsigned int> bins(65536);
    for (std::size_t i = 0; i < bins.size(); ++i)
        bins[i] = i % 3 == 1 ? unsigned(200000 - i) : unsigned(100000 - i);
    const auto start = std::chrono::steady_clock::now();
    quorin::PeakValley found;
    EXPECT_TRUE(quorin::FindPeakValley(bins.data(), bins.size(), 40, 40, true, true, &found));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(quorin::FindPeakValley(bins.data(), 2, 40, 40, true, true, &found));
}

TEST(IntraoralExposure, DocumentedCases) {
    BlocksBalanced balanced;
    const std::uint32_t w = 64, h = 64;
    std::vector<std::uint16_t> pixels = RandomPixels<std::uint16_t>(w * h, 2500, 3);
    for (auto& p : pixels) p = static_cast<std::uint16_t>(p + 500);  // 500..3000
    pixels[0] = 500;
    pixels[1] = 3000;
    int state = -1;
    float gain = -1, second = -1;
    {
        // The window equals the references: they become 0 and 4095 before the gain.
        auto image = Make<CusZELus>(w, h, 12, pixels, std::uint16_t(500), std::uint16_t(3000));
        image->ComputeMinMax();
        image->GetExposureState(&state, &gain, &second);
        EXPECT_EQ(image->ReferenceLow(), 0);
        EXPECT_EQ(image->ReferenceHigh(), 4095);
        EXPECT_FLOAT_EQ(gain, float(3595.0 / 4095.0));
        EXPECT_EQ(state, 1);  // low >= 256 and range >= 512
        EXPECT_EQ(second, 0.0f);
        // The state is decided once.
        image->SetReferences(600, 700);
        image->GetExposureState(&state, &gain, &second);
        EXPECT_EQ(state, 1);
    }
    {
        // The gain never exceeds 1.0, and a reference at 4095 divides by nothing.
        auto image = Make<CusZELus>(w, h, 12, pixels, std::uint16_t(3000), std::uint16_t(4095));
        image->ComputeMinMax();
        image->GetExposureState(&state, &gain, nullptr);
        EXPECT_EQ(gain, 1.0f);
        EXPECT_EQ(state, 2);  // below reference low + 45
        auto saturated = Make<CusZELus>(w, h, 12, pixels, std::uint16_t(4095), std::uint16_t(4095));
        saturated->GetExposureState(nullptr, &gain, nullptr);
        EXPECT_TRUE(std::isfinite(gain));
        EXPECT_LE(gain, 1.0f);
    }
    {
        // Sensor 14 judges its histogram; its gain is remapped: 1.0 stays 1.0, 0.5 gives 0.25.
        std::vector<std::uint16_t> dark = pixels;
        for (auto& p : dark) p = static_cast<std::uint16_t>(p - 500);  // from 0
        auto full = Make<CusZELus>(w, h, 12, dark, std::uint16_t(0), std::uint16_t(4095));
        full->SetSensorType(14);
        full->GetExposureState(&state, &gain, &second);
        EXPECT_EQ(gain, 1.0f);
        EXPECT_EQ(full->WindowLow(), 0);
        std::vector<std::uint16_t> half = dark;
        for (auto& p : half) p = static_cast<std::uint16_t>(p + 2095);  // 2000/4000 = 0.5
        auto image = Make<CusZELus>(w, h, 12, half, std::uint16_t(95), std::uint16_t(4095));
        image->SetSensorType(14);
        image->GetExposureState(&state, &gain, &second);
        EXPECT_EQ(image->WindowLow(), 2095);
        EXPECT_FLOAT_EQ(gain, 0.25f);
    }
}

TEST(IntraoralClasses, SlotAnswersPerSensor) {
    BlocksBalanced balanced;
    const std::uint32_t w = 40, h = 30;
    const auto px8 = RandomPixels<std::uint8_t>(w * h, 255, 1);
    const auto px16 = RandomPixels<std::uint16_t>(w * h, 4095, 1);
    CInfosCorners corners;
    corners.SetCorner1(5, 5);
    struct Row {
        const char* name;
        std::unique_ptr<CImg> image;
        bool fillAnswer, fills, logo;
    };
    std::vector<Row> rows;
    rows.push_back({"CucZEL", Make<CucZEL>(w, h, 8, px8, 0, 0), false, false, false});
    rows.push_back({"CucZEL3", Make<CucZEL3>(w, h, 8, px8, 0, 0), true, false, true});
    rows.push_back({"CucZEL4", Make<CucZEL4>(w, h, 8, px8, 0, 0), true, false, true});
    rows.push_back({"CucZEL5", Make<CucZEL5>(w, h, 8, px8, 100, 3000), false, false, false});
    rows.push_back({"CucZEL5_HS", Make<CucZEL5_HS>(w, h, 8, px8, 100, 3000), true, false, true});
    rows.push_back({"CucZEL5_HR", Make<CucZEL5_HR>(w, h, 8, px8, 100, 3000), true, false, true});
    rows.push_back({"CucZEL6", std::make_unique<CucZEL6>(h, w, 0, 0), true, true, false});
    rows.push_back({"CusZEL", Make<CusZEL>(w, h, 12, px16), true, false, false});
    rows.push_back({"CusZEL6", Make<CusZEL6>(w, h, 12, px16), true, false, false});
    rows.push_back({"CusZELus",
                    Make<CusZELus>(w, h, 12, px16, std::uint16_t(0), std::uint16_t(4095)), true,
                    true, false});
    // Sensor 7 has a logo, but the system's bitmap 8007 is not on this machine.
    rows.push_back(
        {"CusZEL7",
         Make<CusZEL7>(w, h, 12, px16, std::uint16_t(0), std::uint16_t(4095), 7u, std::uint8_t(0)),
         true, true, false});
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(row.image->GetHeight(), h);
        ASSERT_TRUE(row.image->SetCorners(&corners));
        SImage before{};
        ASSERT_TRUE(row.image->CopyToSImage(&before));
        EXPECT_EQ(row.image->FillCorners(1), row.fillAnswer);
        SImage after{};
        ASSERT_TRUE(row.image->CopyToSImage(&after));
        const std::uint64_t bytes = std::uint64_t(w) * h * (before.nBitsPerSample > 8 ? 2 : 1);
        EXPECT_EQ(std::memcmp(before.pPixels, after.pPixels, bytes) != 0, row.fills);
        FreeGlobalPointer(before.pPixels);
        FreeGlobalPointer(after.pPixels);
        EXPECT_EQ(row.image->AddLogo(), row.logo);
        EXPECT_EQ(row.image->GetSamplesPerPixel(), 1u);
    }
}

TEST(IntraoralSensors, LogoCurveAndExposurePerCode) {
    // The documented logo lists per class (0: no logo) and the curve each class lays: CusZEL7
    // the knee, or the sigmoid for sensor 14 with its flag; CusZEL6 the registry-bounded power
    // curve whatever the code. Only sensor 14 judges its histogram.
    constexpr auto K = quorin::ZelCurve::kKnee, S = quorin::ZelCurve::kSigmoid,
                   P = quorin::ZelCurve::kPower;
    struct Row {
        std::uint32_t code;
        int zel7Logo, zel6Logo;
        quorin::ZelCurve zel7, zel7Flagged, zel6;
    };
    const Row rows[] = {
        {0, 0, 0, K, K, P},        {1, 0, 0, K, K, P},         {2, 0, 0, K, K, P},
        {3, 0, 0, K, K, P},        {4, 0, 0, K, K, P},         {5, 0, 8001, K, K, P},
        {6, 0, 8000, K, K, P},     {7, 8007, 8007, K, K, P},   {8, 8008, 8008, K, K, P},
        {9, 0, 8001, K, K, P},     {10, 0, 8000, K, K, P},     {11, 8007, 8007, K, K, P},
        {12, 8008, 8008, K, K, P}, {13, 0, 0, K, K, P},        {14, 8011, 8011, K, S, P},
        {15, 0, 0, K, K, P},       {0xFFFFFFFF, 0, 0, K, K, P}};
    using quorin::ZelImage;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(quorin::SensorLogoId(row.code, false), row.zel7Logo);
        EXPECT_EQ(quorin::SensorLogoId(row.code, true), row.zel6Logo);
        EXPECT_EQ(quorin::FindZelSensor(row.code).histogramExposure, row.code == 14);
        EXPECT_EQ(quorin::ZelCurveFor(ZelImage::kCusZEL7, row.code, false), row.zel7);
        EXPECT_EQ(quorin::ZelCurveFor(ZelImage::kCusZEL7, row.code, true), row.zel7Flagged);
        EXPECT_EQ(quorin::ZelCurveFor(ZelImage::kCusZEL6, row.code, false), row.zel6);
    }
    // Mode 1: strength 2.3, sigmoid power -5; mode 2: 3.5 and -8.
    EXPECT_EQ(quorin::ZelCurvesOf(1).exponent, 2.3);
    EXPECT_EQ(quorin::ZelCurvesOf(1).sigmoidPower, -5);
    EXPECT_EQ(quorin::ZelCurvesOf(2).exponent, 3.5);
    EXPECT_EQ(quorin::ZelCurvesOf(2).sigmoidPower, -8);
}

TEST(IntraoralClasses, ReliefWindow) {
    // The 16-bit relief leaves the window at 0..top level, or 0..255 for a dark CusZELus.
    BlocksBalanced balanced;
    const auto deep = RandomPixels<std::uint16_t>(37 * 29, 200, 4);
    auto zel = Make<CusZEL>(37, 29, 12, deep);
    zel->ComputeMinMax();
    ASSERT_TRUE(zel->Relief());
    EXPECT_EQ(zel->WindowHigh(), 4095);
    auto us = Make<CusZELus>(37, 29, 12, deep, std::uint16_t(0), std::uint16_t(4095));
    us->ComputeMinMax();
    ASSERT_TRUE(us->Relief());
    EXPECT_EQ(us->WindowLow(), 0);
    EXPECT_EQ(us->WindowHigh(), 255);
}

TEST(CusZEL6Image, RegistryBoundsThePowerCurve) {
    quorin::test::ScopedSettings settings;
    BlocksBalanced balanced;
    const auto px = RandomPixels<std::uint16_t>(64 * 64, 4095, 5);
    SetZelSetting("RapportAmalgame", 50);
    auto image = Make<CusZEL6>(64, 64, 12, px);
    ASSERT_TRUE(image->BuildProcessingLUT(1, 1000, 2000));
    const auto* lut = image->GetProcessingLUT(1);
    ASSERT_NE(lut, nullptr);
    std::vector<std::uint16_t> table(lut->Data(), lut->Data() + lut->Size());
    EXPECT_EQ(table[2547], 255);  // top = 1000 + 3095 x 50 / 100
    EXPECT_EQ(table[999], 0);
    RefCheck check;
    check.Write("tables", table);
    check.Run("curves", "{\"power\":" + JsonRows({{4096, 1000, 4095, 50, 2.3}}) + "}");
    // An empty window (low = high) is refused, and the rebuilt table is left zero.
    EXPECT_FALSE(image->BuildProcessingLUT(1, 1500, 1500));
    const auto* empty = image->GetProcessingLUT(1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(std::count(empty->Data(), empty->Data() + empty->Size(), 0), 4096);

    // Out-of-range settings are bounded; a MaxHisto of 0 leaves no ramp: false, table zeroed.
    SetZelSetting("RapportAmalgame", 5000);
    ASSERT_TRUE(image->BuildProcessingLUT(2, 1000, 2000));
    SetZelSetting("MaxHisto", 0);
    EXPECT_FALSE(image->BuildProcessingLUT(1, 1000, 2000));
    ASSERT_NE(image->GetProcessingLUT(1), nullptr);
    EXPECT_EQ(image->GetProcessingLUT(1)->Data()[4095], 0);
    EXPECT_FALSE(image->BuildProcessingLUT(1, 2000, 1000));
    EXPECT_FALSE(image->BuildProcessingLUT(3, 1000, 2000));
}

TEST(CusZEL6Image, ProcessIntoMatchesNumpy) {
    quorin::test::ScopedSettings settings;
    BlocksBalanced balanced;
    const std::uint32_t w = 200, h = 160;  // the robust window counts the part 30 pixels in
    struct Case {
        std::uint32_t top, offset;
        int mode;
    };
    RefCheck check;
    std::vector<std::vector<double>> rows;  // w, h, smooth, mode, window low and high, levels
    // A wide window is mapped as it is; one narrower than a quarter of the levels is smoothed.
    for (const Case& c : {Case{4095, 0, 1}, Case{4095, 0, 7}, Case{4095, 0, 3}, Case{50, 1000, 2},
                          Case{50, 1000, 5}}) {
        SCOPED_TRACE(c.mode);
        auto px = RandomPixels<std::uint16_t>(w * h, c.top, c.mode);
        for (auto& p : px) p = static_cast<std::uint16_t>(p + c.offset);
        const std::string n = std::to_string(rows.size());
        check.Write("image" + n, px);
        auto image = Make<CusZEL6>(w, h, 12, px);
        CTImgNB<unsigned char, unsigned char, unsigned int> target(h, w);
        ASSERT_TRUE(image->ProcessInto(target, c.mode));
        const bool smooth = image->WindowHigh() - image->WindowLow() < 1024;
        EXPECT_EQ(smooth, c.top < 1024);
        if (c.mode <= 2) {
            const auto* lut = image->GetProcessingLUT(c.mode);
            check.Write("lut" + n, lut->Data(), lut->Size());
        }
        check.Write("out" + n, target.Pixels()->Data(), std::size_t(w) * h);
        rows.push_back({double(w), double(h), double(smooth), double(c.mode),
                        double(image->WindowLow()), double(image->WindowHigh()), 4096});
        CTImgNB<unsigned char, unsigned char, unsigned int> small(h - 1, w);
        EXPECT_FALSE(image->ProcessInto(small, c.mode));
    }
    check.Run("zel6", "{\"cases\":" + JsonRows(rows) + "}");
}

TEST(CusZEL7Image, EnhancementAndTargets) {
    BlocksBalanced balanced;
    const std::uint32_t w = 96, h = 80;
    const auto px = RandomPixels<std::uint16_t>(w * h, 4095, 11);
    auto image =
        Make<CusZEL7>(w, h, 12, px, std::uint16_t(0), std::uint16_t(4095), 7u, std::uint8_t(0));
    ASSERT_NE(image->GetProcessingLUT(1), nullptr);
    EXPECT_GT(image->GetExtraValue(), 0u);  // the high level of the processing window
    auto target = Make<CusZELus>(w, h, 12, std::vector<std::uint16_t>(w * h, 0), std::uint16_t(0),
                                 std::uint16_t(4095));
    EXPECT_TRUE(image->ProcessInto(*target));
    EXPECT_GT(target->WindowHigh(), 0);
    // Modes 1 and 2 map through the processing table (0..255); mode 7 copies the levels.
    EXPECT_TRUE(image->ProcessInto(*target, 1));
    EXPECT_LE(*std::max_element(target->Pixels()->Data(), target->Pixels()->Data() + w * h), 255);
    EXPECT_TRUE(image->ProcessInto(*target, 7));
    EXPECT_TRUE(std::equal(px.begin(), px.end(), target->Pixels()->Data()));
    // Sensor 14 with the flag: the sigmoid, 0 at the bottom, 4095 at the top.
    auto sigmoid =
        Make<CusZEL7>(w, h, 12, px, std::uint16_t(0), std::uint16_t(4095), 14u, std::uint8_t(1));
    const auto* curve = sigmoid->GetProcessingLUT(2);
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->Data()[0], 0);
    EXPECT_EQ(curve->Data()[4095], 4095);
    // Only 12-bit images of the same size are enhanced.
    auto deep =
        Make<CusZEL7>(w, h, 16, px, std::uint16_t(0), std::uint16_t(4095), 7u, std::uint8_t(0));
    EXPECT_FALSE(deep->ProcessInto(*target));
    auto other = Make<CusZELus>(w, h - 2, 12, std::vector<std::uint16_t>(w * (h - 2), 0),
                                std::uint16_t(0), std::uint16_t(4095));
    EXPECT_FALSE(image->ProcessInto(*other));
    EXPECT_FALSE(image->ProcessInto(*other, 1));
}

TEST(IntraoralClasses, HostileImagesGiveFalseNotCrashes) {
    BlocksBalanced balanced;
    CInfosCorners huge;
    huge.SetCorner1(2147483647, 2147483647);
    huge.SetCorner4(-5, 100000);
    for (const auto& [w, h] : {std::array<std::uint32_t, 2>{1, 1}, {2, 300}, {61, 61}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto px16 = RandomPixels<std::uint16_t>(w * h, 65535, w);
        const auto px8 = RandomPixels<std::uint8_t>(w * h, 255, h);
        std::vector<std::unique_ptr<CImg>> images;
        images.push_back(Make<CusZEL7>(w, h, 12, px16, std::uint16_t(4095), std::uint16_t(0), 14u,
                                       std::uint8_t(1)));
        images.push_back(Make<CusZEL7>(w, h, 16, px16, std::uint16_t(0), std::uint16_t(65535), 7u,
                                       std::uint8_t(0)));
        images.push_back(Make<CusZEL6>(w, h, 12, px16));
        images.push_back(Make<CusZELus>(w, h, 10, px16, std::uint16_t(9), std::uint16_t(9)));
        images.push_back(Make<CucZEL5_HR>(w, h, 8, px8, 4095, 1));
        images.push_back(Make<CucZEL3>(w, h, 8, px8, -1, -1));
        images.push_back(std::make_unique<CucZEL6>(h, w, 0, 0));
        for (auto& image : images) {
            image->SetCorners(&huge);
            image->FillCorners(0);
            int state = 0;
            float gain = 0, second = 0;
            image->GetExposureState(&state, &gain, &second);
            EXPECT_FALSE(std::isnan(gain));
            image->Relief();
            image->AddLogo();
            if (auto* zel8 = dynamic_cast<CucZEL*>(image.get())) zel8->ApplySensorFilter();
            if (auto* zel6 = dynamic_cast<CusZEL6*>(image.get())) {
                CTImgNB<unsigned char, unsigned char, unsigned int> target(h, w);
                zel6->ProcessInto(target, 1);
                zel6->ProcessInto(target, 0);
            }
            if (auto* zel7 = dynamic_cast<CusZEL7*>(image.get())) {
                zel7->BuildProcessingLUT(1, 0, 65535);
                zel7->BuildProcessingLUT(2, -5, 3);
            }
        }
    }
    // An 8-bit record given to a 16-bit class is refused; the image stays empty.
    const auto px8 = RandomPixels<std::uint8_t>(16, 255, 1);
    auto refused = Make<CusZEL6>(4, 4, 8, px8);
    EXPECT_EQ(refused->GetHeight(), 0u);
    EXPECT_FALSE(refused->Relief());
    CTImgNB<unsigned char, unsigned char, unsigned int> target(4, 4);
    EXPECT_FALSE(refused->ProcessInto(target, 1));
}
