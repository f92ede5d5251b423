// The lens units: cache statistics against numpy, parameters from the registry, the window, and
// whole runs (caches reused and turned with the image, priority restored, blocks balanced).
#include "pixel/ceph/cephlens.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/pixel/ceph_test.h"
#include "common/test_settings.h"
#include "platform/core/globalmem.h"

namespace {

using quorin::CephLensCache;
using quorin::LensParameters;

TEST(LensStatistics, MatchNumpyOnReducedBins) {
    for (std::uint32_t seed : {3u, 17u, 29u}) {
        // Two humps over a flat floor: the splits have something to find.
        std::vector<std::uint32_t> h(4096);
        const auto noise = cephtest::Noise(4096, 40, seed);
        for (int i = 0; i < 4096; ++i) {
            const double a = std::exp(-std::pow((i - 900 - 30 * seed) / 200.0, 2)) * 5000;
            const double b = std::exp(-std::pow((i - 2600) / 350.0, 2)) * 3000;
            h[i] = std::uint32_t(a + b) + noise[i];
        }
        CephLensCache cache;
        quorin::CacheStatistics(h.data(), 4096, 4095, &cache);
        for (std::uint16_t level : {cache.level1, cache.level2, cache.level3})
            EXPECT_EQ(level % 8, 0) << level;  // every level is a multiple of the step
        const double stats[5] = {double(cache.level1), double(cache.level2), double(cache.level3),
                                 cache.first, cache.second};
        cephtest::Reference ref;
        ref.Write("histogram.raw", h);
        ref.Write("stats.raw", stats, 5);
        ref.Run("stats", R"({"n":4096,"top":4095})");
    }
}

TEST(LensStatistics, DegenerateHistograms) {
    const std::vector<std::uint32_t> zeros(4096, 0);
    EXPECT_EQ(quorin::HistogramSplit(zeros.data(), 511), 0);
    EXPECT_EQ(quorin::BinMean(zeros.data(), 0, 10), 0.0);
    EXPECT_EQ(quorin::BinMean(zeros.data(), 5, 4), 0.0);
    CephLensCache cache;
    cache.first = 1.5;
    quorin::CacheStatistics(zeros.data(), 4096, 15, &cache);  // a top below 16: no bins
    EXPECT_EQ(cache.first, 1.5);
    quorin::CacheStatistics(zeros.data(), 4096, 4095, &cache);  // all empty: the fallback
    EXPECT_EQ(cache.first, 0.0);
}

TEST(LensParameters, LevelCount) {
    const struct {
        std::int64_t size;
        std::int32_t unenhanced;
        int levels;
    } cases[] = {{1, 0, 0},  {2048, 7, 4}, {2049, 7, 5},           {1 << 30, 0, 13},
                 {-1, 6, 0}, {300, 6, 3},  {300, -2147483647, 13}, {4096, 20, 0}};
    for (const auto& c : cases) {
        LensParameters p;
        p.unenhancedLevels = c.unenhanced;
        quorin::SetLensLevelCount(&p, c.size, 12);
        EXPECT_EQ(p.levelCount, c.levels) << c.size << " " << c.unenhanced;
        EXPECT_EQ(p.maximumLevel, 4095);
    }
}

TEST(LensParameters, DefaultsByDeviceCode) {
    quorin::test::ScopedSettings settings;
    const struct {
        int mode;
        std::uint16_t code;
        int s100, s200, border, unenhanced;
    } cases[] = {
        {4, 0, 30, -30, 100, 7}, {9, 192, 30, -30, 0, 7}, {8, 192, 70, 20, 0, 6},
        {8, 197, 20, 0, 0, 6},   {8, 0, 20, 20, 100, 6},  {8, 196, 70, 20, 0, 6},
    };
    for (const auto& c : cases) {
        LensParameters p;
        ASSERT_TRUE(quorin::LoadLensParameters(&p, c.mode, 2048, 12, c.code));
        EXPECT_EQ(p.s100, c.s100) << c.mode << " " << c.code;
        EXPECT_EQ(p.s200, c.s200) << c.mode << " " << c.code;
        EXPECT_EQ(p.histogramBorder, c.border);
        EXPECT_EQ(p.unenhancedLevels, c.unenhanced);
        EXPECT_EQ(p.weight[0], 0.16f);
        EXPECT_EQ(p.weight[6], 1.5f);
        EXPECT_EQ(p.clip[7], 2.56f);
        EXPECT_EQ(p.clip[8], 0.0f);
        EXPECT_EQ(p.logFlag, 1);
        EXPECT_EQ(p.e, 1.0);
    }
    LensParameters p;
    EXPECT_FALSE(quorin::LoadLensParameters(&p, 5, 2048, 12, 0));
}

TEST(LensParameters, RegistryValuesAreReadAndBounded) {
    quorin::test::ScopedSettings settings;
    const char* edges = "QUORIN\\CEPH\\Filter_edges";
    cephtest::SetDword(edges, "Weight3", 250);
    cephtest::SetDword(edges, "Clip0", 100);
    cephtest::SetDword(edges, "GaussHalfWidthHF", 100000);  // bounded
    cephtest::SetDword(edges, "GaussSigmaLF", 350);
    cephtest::SetDword(edges, "Log", 7);                    // bounded to 1
    cephtest::SetDword(edges, "HistoBorder", 0xFFFFFFFFu);  // -1: bounded to 0
    cephtest::SetText(edges, "s100", "45");
    cephtest::SetText(edges, "s200", "not a number");
    cephtest::SetText(edges, "e", "-3");
    cephtest::SetText("QUORIN\\CEPH\\Filter_bone", "e", "0.5");
    LensParameters p;
    ASSERT_TRUE(quorin::LoadLensParameters(&p, 4, 2048, 12, 0));
    EXPECT_EQ(p.weight[3], 250.0f * 0.01f);
    EXPECT_EQ(p.clip[0], 1.0f);
    EXPECT_EQ(p.gaussHalfWidthHF, 100);
    EXPECT_EQ(p.gaussSigmaLF, 350.0f * 0.01f);
    EXPECT_EQ(p.logFlag, 1);
    EXPECT_EQ(p.histogramBorder, 0);
    EXPECT_EQ(p.s100, 45);
    EXPECT_EQ(p.s200, -30);
    EXPECT_EQ(p.e, 1.0);
    ASSERT_TRUE(quorin::LoadLensParameters(&p, 8, 2048, 12, 0));
    EXPECT_EQ(p.e, 0.5);
}

TEST(LensWindow, PlacesTheWindowFromTheStatistics) {
    CephLensCache cache;
    cache.level1 = 800;
    cache.level2 = 2400;
    cache.level3 = 1600;
    cache.first = 1000.4;
    const struct {
        std::uint16_t code;
        int s100, s200;
        std::int64_t low, high, start;
    } cases[] = {
        {197, 20, 0, 1600, 2739, 1600},  // s200 0: the low end is the whole base level
        {0, 20, 20, 800, 2739, 1000},    // code 0: the base is the first statistic
        {192, 70, 20, 960, 3586, 1200},  // wide: the mean of the first and third levels
        {5, 20, -300, 0, 4095, 1600},    // low beyond high: the whole range
        {5, 20, 300, 0, 2739, 1600},     // a negative low is limited to 0
    };
    for (const auto& c : cases) {
        const quorin::LensWindow w = quorin::ComputeLensWindow(cache, 4095, c.s100, c.s200, c.code);
        EXPECT_EQ(w.low, c.low) << c.code << " " << c.s200;
        EXPECT_EQ(w.high, c.high) << c.code << " " << c.s200;
        EXPECT_EQ(w.start, c.start);
        EXPECT_EQ(w.end, 2400);
    }
}

// A 12-bit lens image of 300 x 260 with structure at several scales.
template <class Lens>
std::unique_ptr<Lens> MakeLens(std::uint16_t code, std::uint32_t w = 300, std::uint32_t h = 260) {
    auto px = cephtest::Noise(std::size_t(w) * h, 300, 5);
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 0; c < w; ++c)
            px[r * w + c] = std::uint16_t(px[r * w + c] + 800 + 6 * c + ((r / 20) % 2) * 900);
    SImage* record = cephtest::MakeRecord<std::uint16_t>(w, h, 12, px);
    auto lens = std::make_unique<Lens>(record, code);
    FreeSImage(record, true);
    return lens;
}

std::vector<std::uint16_t> PixelsOf(const CusCeph& image) {
    const std::uint16_t* p = image.Pixels()->Data();
    return std::vector<std::uint16_t>(p, p + std::size_t(image.Width()) * image.Height());
}

int Nice() {
    return getpriority(PRIO_PROCESS, 0);
}

template <class Lens>
void CheckRuns(std::uint16_t code) {
    const auto blocks = win::globalmem_testing::LiveBlocks();
    const int nice = Nice();
    {
        auto lens = MakeLens<Lens>(code);
        const auto original = PixelsOf(*lens);
        CusCeph out(lens->Height(), lens->Width());
        EXPECT_FALSE(lens->Enhance(&out, 5, 0));  // not a mode: nothing done
        EXPECT_EQ(PixelsOf(*lens), original);
        for (int mode : {4, 8, 9}) {
            SCOPED_TRACE(mode);
            ASSERT_TRUE(lens->Enhance(&out, mode, 3));
            EXPECT_EQ(Nice(), nice);
            EXPECT_EQ(PixelsOf(*lens), original);
            const auto first = PixelsOf(out);
            EXPECT_NE(first, original);
            // A second run reads the cache: new pixels of the image change nothing.
            lens->Pixels()->Data()[1000] = 17;
            ASSERT_TRUE(lens->Enhance(&out, mode, 3));
            EXPECT_EQ(PixelsOf(out), first);
            lens->Pixels()->Data()[1000] = original[1000];
        }
        EXPECT_FALSE(lens->BoneCache().Empty());
        EXPECT_FALSE(lens->EdgesCache().Empty());

        // Turned caches follow the image: the run after a turn is the turn of the run before.
        ASSERT_TRUE(lens->Enhance(nullptr, 8, 3));
        CusCeph before(lens->Height(), lens->Width());
        ASSERT_TRUE(lens->Enhance(&before, 8, 3));
        ASSERT_TRUE(before.MirrorHorizontal());
        ASSERT_TRUE(before.Rotate(90, true));
        ASSERT_TRUE(lens->MirrorHorizontal());
        ASSERT_TRUE(lens->Rotate(90, true));
        CusCeph after(lens->Height(), lens->Width());
        ASSERT_TRUE(lens->Enhance(&after, 8, 3));
        EXPECT_EQ(PixelsOf(after), PixelsOf(before));
        ASSERT_TRUE(before.Rotate(270, true));
        ASSERT_TRUE(lens->Rotate(270, true));
        ASSERT_TRUE(before.MirrorVertical());
        ASSERT_TRUE(lens->MirrorVertical());
        ASSERT_TRUE(before.Rotate(180, false));
        ASSERT_TRUE(lens->Rotate(180, false));
        CusCeph back(lens->Height(), lens->Width());
        ASSERT_TRUE(lens->Enhance(&back, 8, 3));
        EXPECT_EQ(PixelsOf(back), PixelsOf(before));

        // A destination of another size is refused.
        CusCeph wrong(10, 10);
        EXPECT_FALSE(lens->Enhance(&wrong, 4, 3));
        // Mode 0: the registry window when the upper share holds, else the image unchanged.
        ASSERT_TRUE(lens->AutoWindowFromRegistry(0));
        auto expected = PixelsOf(*lens);
        if (lens->TestUpperQuarterShare())
            for (auto& v : expected) v = lens->ProcessingLut()->Map(v);
        CusCeph copy(lens->Height(), lens->Width());
        EXPECT_TRUE(lens->Enhance(&copy, 0, 0));
        EXPECT_EQ(PixelsOf(copy), expected);
    }
    EXPECT_EQ(Nice(), nice);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), blocks);
}

TEST(LensRun, RegistryUnitsFilterOnceAndFollowTurns) {
    quorin::test::ScopedSettings settings;
    CheckRuns<CusCephVelmoLensV3>(0);
    CheckRuns<CusCephVelmoLensV3>(196);
}

TEST(LensRun, BuiltInUnitsFilterOnceAndFollowTurns) {
    quorin::test::ScopedSettings settings;
    CheckRuns<CusCephVelmoLens>(0);
    CheckRuns<CusCephVelmoLens>(197);
}

TEST(LensRun, HostileOptionsAndSmallImages) {
    quorin::test::ScopedSettings settings;
    const int nice = Nice();
    auto small = MakeLens<CusCephVelmoLens>(0, 100, 100);  // below 2^8 for eight bands
    EXPECT_FALSE(small->Enhance(nullptr, 8, 0));
    EXPECT_TRUE(small->BoneCache().Empty());
    EXPECT_EQ(Nice(), nice);
    auto lens = MakeLens<CusCephVelmoLens>(193);
    EXPECT_TRUE(lens->Enhance(nullptr, 4, 1000000));  // a clip below 0 is held at 0
    EXPECT_TRUE(lens->Enhance(nullptr, 8, -1000000));
    auto tiny = MakeLens<CusCephVelmoLensV3>(0, 3, 2);
    EXPECT_TRUE(tiny->Enhance(nullptr, 9, 0));
}

TEST(LensRun, ExposureState) {
    const struct {
        std::uint16_t low, high;
        int mode;
        float ratio;
    } cases[] = {
        {1000, 1000, 2, float((4095.0 - 1000) / 4095.0)},  // top below 3800
        {4000, 4000, 2, 0.0f},                             // bright top, little contrast
        {1000, 4000, 1, 0.0f},                             // bright top, dark mean
    };
    for (const auto& c : cases) {
        std::vector<std::uint16_t> px(200 * 200, c.low);
        for (std::size_t i = 0; i < px.size(); i += 2) px[i] = c.high;
        SImage* record = cephtest::MakeRecord<std::uint16_t>(200, 200, 12, px);
        CusCephVelmoLens lens(record, 0);
        FreeSImage(record, true);
        int mode = -1;
        float brightness = -1, ratio = -1;
        lens.GetExposureState(&mode, &brightness, &ratio);
        EXPECT_EQ(mode, c.mode) << c.low << " " << c.high;
        EXPECT_FLOAT_EQ(ratio, c.ratio);
        // The mode is remembered and the level ratio no longer written.
        ratio = -7;
        static_cast<CImg&>(lens).GetExposureState(&mode, &brightness, &ratio);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(ratio, -7.0f);
    }
}

}  // namespace
