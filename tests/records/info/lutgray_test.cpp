// The grey look-up table record: its arithmetic against the DICOM linear VOI window (pydicom),
// the record's own examples, the settings exchange with the SDK record, and the listener links
// between the LUT kinds and the records they watch.
#include "records/info/lutgray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/core/globalmem.h"
#include "records/info/sensor.h"

namespace {

std::vector<std::uint16_t> Table(const CInfosLUTGray& lut, std::uint32_t n) {
    std::vector<std::uint16_t> out(n);
    EXPECT_TRUE(lut.GetTable(out.data(), n));
    return out;
}

// pydicom's linear VOI window over the inputs 0 .. n-1, output range 0 .. n-1.
std::vector<std::vector<double>> PydicomWindows(std::uint32_t n, int bits,
                                                const std::vector<std::pair<int, int>>& windows) {
    static const char* kScript = R"(
import sys
import numpy as np
from pydicom.dataset import Dataset
try:
    from pydicom.pixels import apply_windowing
except ImportError:
    from pydicom.pixel_data_handlers.util import apply_windowing
n, bits = int(sys.argv[1]), int(sys.argv[2])
arr = np.arange(n, dtype=np.uint32)
for pair in sys.argv[3:]:
    c, w = (int(v) for v in pair.split(','))
    ds = Dataset()
    ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.BitsStored = bits
    ds.PixelRepresentation = 0
    ds.WindowCenter = c
    ds.WindowWidth = w
    ds.VOILUTFunction = 'LINEAR'
    out = apply_windowing(arr, ds)
    sys.stdout.write(' '.join('%.4f' % v for v in out) + '\n')
)";
    std::vector<std::string> args{std::to_string(n), std::to_string(bits)};
    for (const auto& [c, w] : windows) args.push_back(std::to_string(c) + "," + std::to_string(w));
    const quorin::test::CommandResult result = quorin::test::RunPython(kScript, args);
    EXPECT_EQ(result.status, 0) << "pydicom windowing failed";
    std::vector<std::vector<double>> tables;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream values(line);
        std::vector<double> table;
        double v;
        while (values >> v) table.push_back(v);
        tables.push_back(std::move(table));
    }
    return tables;
}

struct WindowCase {
    std::uint32_t n;
    int bits;
    std::uint16_t maxEntries;
    std::vector<std::pair<int, int>> settings;  // (brightness, contrast)
};

}  // namespace

// The settings' straight line is the linear window of DICOM: for each setting, the window that
// GetWindow reports, windowed by pydicom, gives the same table within one quantisation step
// (the output change of one unit of brightness, s x K levels, and the rounding of the table's
// entries to whole levels).
TEST(LutGrayWindow, AgreesWithPydicomLinearWindow) {
    const std::vector<WindowCase> cases = {
        {256, 8, 256, {{0, 0}, {20, 0}, {-40, 30}, {10, 100}, {-128, 127}, {127, 64}}},
        {4096, 12, 4096, {{0, 0}, {300, 0}, {-900, 1000}, {512, 2000}}},
        {4096, 12, 256, {{0, 0}, {-20, 60}, {33, 120}}},
        {65536, 16, 256, {{0, 0}, {-50, 90}, {70, 20}}},
    };
    for (const WindowCase& wc : cases) {
        std::vector<std::pair<int, int>> windows;
        std::vector<CInfosLUTGray> luts;
        for (const auto& [b, c] : wc.settings) {
            CInfosLUTGray lut(b, c, 0, 0, wc.maxEntries, 239);
            std::int32_t center = 0, width = 0;
            ASSERT_TRUE(lut.GetWindow(&center, &width, nullptr, wc.n));
            windows.emplace_back(center, width);
            luts.push_back(lut);
        }
        const auto reference = PydicomWindows(wc.n, wc.bits, windows);
        ASSERT_EQ(reference.size(), luts.size());
        for (std::size_t k = 0; k < luts.size(); ++k) {
            const std::uint32_t s = wc.n / wc.maxEntries;
            const double half = wc.n / 2.0;
            const double slope = half / (half - s * luts[k].GetContrast());
            const double step = std::max(1.0, s * slope) + 1.0;
            const auto ours = Table(luts[k], wc.n);
            ASSERT_EQ(reference[k].size(), wc.n);
            double worst = 0;
            for (std::uint32_t i = 0; i < wc.n; ++i)
                worst = std::max(worst, std::fabs(ours[i] - reference[k][i]));
            EXPECT_LE(worst, step) << "n " << wc.n << " M " << wc.maxEntries << " b "
                                   << wc.settings[k].first << " c " << wc.settings[k].second
                                   << " window " << windows[k].first << "/" << windows[k].second;
        }
    }
}

// The other way: a DICOM window turned into settings (SetWindow) draws nearly the same table.
// Besides cutting brightness and contrast to whole numbers, the conversion scales the centre by
// M - 1 and the width by M/2 - 1 where the line uses M and M/2: up to one further unit of each.
TEST(LutGrayWindow, SetWindowFollowsPydicom) {
    struct Case {
        std::uint32_t n;
        int bits;
        std::uint16_t maxEntries;
        std::vector<std::pair<int, int>> windows;  // (center, width)
    };
    const std::vector<Case> cases = {
        {256, 8, 256, {{128, 256}, {100, 200}, {60, 90}, {200, 128}}},
        {4096, 12, 4096, {{2048, 4096}, {1500, 3000}, {3000, 1000}}},
        {65536, 16, 256, {{32768, 65536}, {20000, 30000}}},
    };
    for (const Case& c : cases) {
        const auto reference = PydicomWindows(c.n, c.bits, c.windows);
        ASSERT_EQ(reference.size(), c.windows.size());
        for (std::size_t k = 0; k < c.windows.size(); ++k) {
            CInfosLUTGray lut(static_cast<std::uint32_t>(c.windows[k].first),
                              static_cast<std::uint32_t>(c.windows[k].second), c.n, 0, c.maxEntries,
                              239);
            const std::uint32_t s = c.n / c.maxEntries;
            const double half = c.n / 2.0;
            const double slope = half / (half - s * lut.GetContrast());
            // Two units of brightness, one of contrast, and the rounding of the entries.
            const double step = 3 * std::max(1.0, s * slope) + 1.0;
            const auto ours = Table(lut, c.n);
            double worst = 0;
            for (std::uint32_t i = 0; i < c.n; ++i)
                worst = std::max(worst, std::fabs(ours[i] - reference[k][i]));
            EXPECT_LE(worst, step)
                << "n " << c.n << " window " << c.windows[k].first << "/" << c.windows[k].second;
        }
    }
}

TEST(LutGray, ValuesAreKeptWithinTheRangeOfTheMaximum) {
    CInfosLUTGray lut(239, 256);
    lut.SetBrightness(200);
    EXPECT_EQ(lut.GetBrightness(), 127);
    lut.SetBrightness(-300);
    EXPECT_EQ(lut.GetBrightness(), -128);
    CInfosLUTGray wide(239, 4096);
    wide.SetContrast(5000);
    EXPECT_EQ(wide.GetContrast(), 2047);
    wide.SetContrast(-5000);
    EXPECT_EQ(wide.GetContrast(), -2048);
    CInfosLUTGray zero(239, 0);  // 0 means 256
    zero.SetGamma(1000);
    EXPECT_EQ(zero.GetGamma(), 127);
}

// A maximum of one entry leaves the range [-(M/2), M/2 - 1] empty: every value is neutral, from
// a record, SetSettings or SetWindow alike, and the table is the identity (inverted on demand).
TEST(LutGray, MaximumOfOneEntryIsNeutral) {
    SOMULUTSettings block{};
    block.nBrightness = 5;
    block.nContrast = -7;
    block.nGamma = 9;
    block.nMaxEntries = 1;
    CInfosLUTGray fromRecord(239, 256), fromSettings(239, 256), fromWindow(239, 256);
    fromRecord.FromSettings(block);
    ASSERT_TRUE(fromSettings.SetSettings(100, -100, 3, 1, 1));
    fromWindow.SetWindow(10, 20, 0, 256, 1);
    for (const CInfosLUTGray* lut : {&fromRecord, &fromSettings, &fromWindow}) {
        EXPECT_EQ(lut->GetMaxEntries(), 1);
        EXPECT_EQ(lut->GetBrightness(), 0);
        EXPECT_EQ(lut->GetContrast(), 0);
        EXPECT_EQ(lut->GetGamma(), 0);
        const auto table = Table(*lut, 256);
        const bool inverted = lut == &fromSettings;
        for (std::uint32_t i = 0; i < 256; ++i) ASSERT_EQ(table[i], inverted ? 255 - i : i);
    }
}

TEST(LutGray, MaskDecidesWhatCounts) {
    CInfosLUTGray zel(7, 256), header(239, 256), noGamma(6, 256);
    EXPECT_TRUE(zel.IsValid(1));
    EXPECT_TRUE(header.IsValid(1));
    noGamma.SetGamma(40);
    EXPECT_EQ(noGamma.GetGamma(), 0);
    CInfosLUTGray onlyGamma(50, 60, 70, 0, 256, 1);
    EXPECT_EQ(onlyGamma.GetBrightness(), 0);
    EXPECT_EQ(onlyGamma.GetContrast(), 0);
    EXPECT_EQ(onlyGamma.GetGamma(), 70);
}

TEST(LutGray, NeutralSettingsGiveTheIdentityOfAnySize) {
    CInfosLUTGray lut(239, 256);
    for (std::uint32_t n : {1u, 2u, 255u, 256u, 4096u, 65536u}) {
        const auto table = Table(lut, n);
        for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(table[i], i) << n;
    }
    std::uint8_t bytes[256];
    ASSERT_TRUE(lut.GetTable8(bytes));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(bytes[i], i);
    lut.Invert();
    const auto inverted = Table(lut, 256);
    EXPECT_EQ(inverted[0], 255);
    EXPECT_EQ(inverted[255], 0);
    EXPECT_TRUE(lut.IsInversed());
    EXPECT_FALSE(lut.GetTable(nullptr, 16));
}

TEST(LutGray, GammaBendsTheLineAndKeepsItsEnds) {
    for (int gamma : {-100, -20, 20, 100}) {
        CInfosLUTGray lut(0, 0, gamma, 0, 256, 239);
        const auto table = Table(lut, 256);
        for (int i = 1; i < 256; ++i) ASSERT_GE(table[i], table[i - 1]) << gamma;
        // A positive gamma lowers the middle, a negative one lifts it; the ends stay near 0 and n
        // - 1.
        if (gamma > 0) {
            EXPECT_LT(table[128], 128);
        } else {
            EXPECT_GT(table[128], 128);
        }
        EXPECT_LE(table[0], 5);
        EXPECT_GE(table[255], 250);
    }
    CInfosLUTGray full(0, 0, -128, 0, 256, 239);  // G = -H: every entry at the top
    for (std::uint16_t v : Table(full, 256)) ASSERT_EQ(v, 255);
}

TEST(LutGray, WindowExamples) {
    CInfosLUTGray lut(239, 256);
    lut.SetWindow(128, 256, 0, 256, 256);
    EXPECT_EQ(lut.GetBrightness(), 0);
    EXPECT_EQ(lut.GetContrast(), 0);
    std::int32_t center = 0, width = 0;
    EXPECT_TRUE(lut.GetWindow(&center, &width, nullptr, 4096));
    EXPECT_EQ(center, 2048);
    EXPECT_EQ(width, 4096);
    // Refused windows change nothing.
    lut.SetBrightness(5);
    lut.SetWindow(300, 10, 0, 256, 256);
    lut.SetWindow(10, 300, 0, 256, 256);
    lut.SetWindow(0, 0, 0, 1, 256);
    EXPECT_EQ(lut.GetBrightness(), 5);
    // Negative contrast, gamma or a table: the whole range and false.
    CInfosLUTGray negative(0, -10, 0, 0, 256, 239);
    EXPECT_FALSE(negative.GetWindow(&center, &width, nullptr, 256));
    EXPECT_EQ(center, 127);
    EXPECT_EQ(width, 256);
}

TEST(LutGray, ExplicitTables) {
    const std::uint16_t entries[] = {0, 10, 40};
    CInfosLUTGray lut(239, 256);
    lut.SetTable(entries, 3);
    EXPECT_FALSE(lut.HasNoTable());
    EXPECT_FALSE(lut.IsInversed());
    lut.Invert();
    EXPECT_EQ(lut.Table(), (std::vector<std::uint16_t>{40, 30, 0}));
    EXPECT_TRUE(lut.IsInversed());
    EXPECT_FALSE(lut.SetSettings(1, 2, 3, 0, 256));  // not with a table
    std::int32_t b = 9;
    lut.GetSettings(&b, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(b, 0);

    // 512 entries from 256: the values doubled, interpolated between, the last slope continued.
    std::vector<std::uint16_t> ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = static_cast<std::uint16_t>(i);
    lut.SetTable(ramp.data(), 256);
    const auto doubled = Table(lut, 512);
    for (std::uint32_t i = 0; i < 512; ++i) ASSERT_EQ(doubled[i], i);
    // Fewer entries: every k-th entry divided by k.
    const auto halved = Table(lut, 128);
    for (std::uint32_t i = 0; i < 128; ++i) ASSERT_EQ(halved[i], (2 * i) / 2);
    EXPECT_EQ(Table(lut, 256), ramp);

    // A null table or a count of 0 leaves no table.
    lut.SetTable(nullptr, 5);
    EXPECT_TRUE(lut.HasNoTable());
}

TEST(LutGray, SettingsRoundTripThroughTheRecord) {
    const auto liveBefore = win::globalmem_testing::LiveBlocks();
    {
        CInfosLUTGray source(-12, 34, 56, 1, 4096, 239);
        SOMULUTSettings block{};
        ASSERT_TRUE(source.ToSettings(block));
        EXPECT_EQ(block.nBrightness, -12);
        EXPECT_EQ(block.nContrast, 34);
        EXPECT_EQ(block.nGamma, 56);
        EXPECT_EQ(block.bInversion, 1);
        EXPECT_EQ(block.nMaxEntries, 4096);
        EXPECT_EQ(block.bNoTable, 1);
        EXPECT_EQ(block.bNeutral, 0);
        CInfosLUTGray back(239, 256);
        back.FromSettings(block);
        EXPECT_EQ(back.GetBrightness(), -12);
        EXPECT_EQ(back.GetContrast(), 34);
        EXPECT_EQ(back.GetGamma(), 56);
        EXPECT_TRUE(back.IsInversed());
        EXPECT_EQ(back.GetMaxEntries(), 4096);

        const std::uint16_t entries[] = {3, 2, 1, 0};
        source.SetTable(entries, 4);
        ASSERT_TRUE(source.ToSettings(block));
        ASSERT_TRUE(source.ToSettings(block));  // the older copy is freed, not leaked
        EXPECT_EQ(block.nTableCount, 4);
        ASSERT_NE(block.pTable, nullptr);
        EXPECT_EQ(block.bNoTable, 0);
        back.FromSettings(block);
        EXPECT_EQ(back.Table(), (std::vector<std::uint16_t>{3, 2, 1, 0}));

        // A count without a table address is no table.
        SOMULUTSettings broken = block;
        broken.pTable = nullptr;
        back.FromSettings(broken);
        EXPECT_TRUE(back.HasNoTable());
        // A count larger than the block holds is refused rather than read past its end.
        broken = block;
        broken.nTableCount = 1 << 20;
        back.FromSettings(broken);
        EXPECT_TRUE(back.HasNoTable());
        FreeGlobalPointer(block.pTable);
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), liveBefore);
}

// ---- Sensor record

TEST(InfosZel, SensorValuesTravelPackedAndChecked) {
    auto record = std::make_unique<SOMUImage>();
    record->nImageType = 1;
    CInfosZel zel;
    zel.SetSensorValues(0x1234, 0xABCD);
    zel.SetParameters(1, -2, 3, -4, 5, -6);
    zel.SetFilterLevel(7);
    zel.ToSOMU(*record);
    EXPECT_EQ(record->sensor.nPacked, 0xCD12AB34u);
    EXPECT_EQ(record->sensor.nSum, 0x1234 + 0xABCD);
    EXPECT_EQ(record->sensor.nDifference, 0xABCD - 0x1234);
    EXPECT_EQ(record->sensor.nFilterLevel, 7);
    EXPECT_EQ(record->sensor.bSensorPresent, 1);

    CInfosZel back;
    back.FromSOMU(*record);
    std::uint16_t a = 0, b = 0;
    EXPECT_TRUE(back.GetSensorValues(&a, &b));
    EXPECT_EQ(a, 0x1234);
    EXPECT_EQ(b, 0xABCD);
    EXPECT_EQ(back.AreSensorValuesValid(), 1);
    EXPECT_EQ(back.GetFilterLevel(), 7);
    std::int32_t p[6];
    back.GetParameters(&p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
    EXPECT_EQ(p[5], -6);

    // A word that does not match its sum and difference gives nothing.
    record->sensor.nSum += 1;
    back.FromSOMU(*record);
    EXPECT_FALSE(back.GetSensorValues(&a, &b));
    EXPECT_EQ(back.AreSensorValuesValid(), 0);
    EXPECT_EQ(back.GetParameters(&p[0], nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(p[0], 1);  // the parameters are taken either way
}

TEST(InfosZel, CRIntraOralKeepsItsLevelInTheCRField) {
    auto record = std::make_unique<SOMUImage>();
    record->nImageType = 14;
    CInfosZel zel;
    zel.SetFilterLevel(3);
    zel.SetParameters(9, 8, 7, 6, 5, 4);
    zel.ToSOMU(*record);
    EXPECT_EQ(record->cr.nValue2, 3);
    EXPECT_EQ(record->sensor.bCRSensor, 1);
    EXPECT_EQ(record->sensor.nFilterLevel, 0);
    CInfosZel back;
    back.FromSOMU(*record);
    EXPECT_EQ(back.GetFilterLevel(), 3);
    std::int32_t first = 0;
    back.GetParameters(&first, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(first, 9);  // kept through the round trip
}

// ---- Listeners

TEST(LutListeners, ANewLevelResetsTheLutButKeepsItsInversion) {
    CInfosPanoProcess pano;
    CInfosLUTGrayPano lut(&pano);
    EXPECT_EQ(pano.ListenerCount(), 1u);
    lut.SetBrightness(30);
    lut.Invert();
    // While the processing runs the default gamma does not count.
    EXPECT_FALSE(lut.IsValid(1));
    EXPECT_EQ(lut.GetGamma(), 0);
    EXPECT_EQ(pano.SetLevel(1), 1);  // the same level: no notice
    EXPECT_EQ(lut.GetBrightness(), 30);
    pano.SetLevel(0);
    EXPECT_EQ(lut.GetBrightness(), 0);
    EXPECT_TRUE(lut.IsInversed());
    EXPECT_TRUE(lut.IsValid(1));
    EXPECT_EQ(lut.GetGamma(), CInfosLUTGrayPano::kDefaultGamma);

    CInfosZel zel;
    CInfosLUTGrayZel zelLut(&zel);
    zelLut.SetContrast(12);
    zel.SetFilterLevel(0);  // unchanged
    EXPECT_EQ(zelLut.GetContrast(), 12);
    zel.SetFilterLevel(2);
    EXPECT_EQ(zelLut.GetContrast(), 0);
}

TEST(LutListeners, EitherSideMayGoFirst) {
    // The record goes first: the LUT is told and forgets it.
    auto zel = std::make_unique<CInfosZel>();
    auto zelLut = std::make_unique<CInfosLUTGrayZel>(zel.get());
    auto copy = std::make_unique<CInfosLUTGrayZel>(*zelLut);
    EXPECT_EQ(zel->ListenerCount(), 2u);
    zel.reset();
    EXPECT_EQ(zelLut->Source(), nullptr);
    zelLut.reset();
    copy.reset();

    // The LUT goes first: the record no longer calls it.
    zel = std::make_unique<CInfosZel>();
    zelLut = std::make_unique<CInfosLUTGrayZel>(zel.get());
    zelLut.reset();
    EXPECT_EQ(zel->ListenerCount(), 0u);
    zel->SetFilterLevel(5);

    auto pano = std::make_unique<CInfosPanoProcess>();
    auto panoLut = std::make_unique<CInfosLUTGrayPano>(pano.get());
    pano.reset();
    EXPECT_EQ(panoLut->Source(), nullptr);
    EXPECT_TRUE(panoLut->IsValid(1));  // no processing record: the mask answers
    panoLut->Reset();
    panoLut.reset();

    pano = std::make_unique<CInfosPanoProcess>();
    panoLut = std::make_unique<CInfosLUTGrayPano>(pano.get());
    panoLut.reset();
    pano->SetLevel(4);
    EXPECT_EQ(pano->ListenerCount(), 0u);
}

TEST(LutListeners, CopiesOfRecordsDoNotTakeTheListeners) {
    CInfosPanoProcess pano;
    pano.SetEnabled(false);
    CInfosLUTGrayPano lut(&pano);
    CInfosPanoProcess copy(pano);
    EXPECT_EQ(copy.ListenerCount(), 0u);
    EXPECT_EQ(copy.IsEnabled(), 0);
    // Disabled: a new level is stored as 0.
    pano.SetLevel(3);
    EXPECT_EQ(pano.GetLevel(), 0);
}
