// Computed-radiography images: the plate table against numpy, the parameter sets from the
// defaults and from the INI file (empty sections, long and hostile values, read once), the
// pyramid round trip with identity records, the framed percentile window and hostile images.
#include "pixel/cr/crimage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/pixel/pixel_io.h"
#include "common/pixel/sensor_ref.h"

using pixeltest::RandomPixels;
using sensortest::BlocksBalanced;
using sensortest::Make;
using sensortest::RefCheck;

namespace {

// Drive C of this test: C:\Temp\CRFilterParams.ini lives in a folder of its own.
class DriveC {
  public:
    DriveC() {
        if (const char* old = std::getenv("QUORIN_DRIVE_C")) m_old = old;
        setenv("QUORIN_DRIVE_C", m_dir.path().c_str(), 1);
        std::filesystem::create_directories(m_dir.file("Temp"));
    }
    ~DriveC() {
        if (m_old.empty())
            unsetenv("QUORIN_DRIVE_C");
        else
            setenv("QUORIN_DRIVE_C", m_old.c_str(), 1);
    }
    void WriteIni(const std::string& text) {
        quorin::test::WriteText(m_dir.file("Temp/CRFilterParams.ini"), text);
    }

  private:
    quorin::test::TempDir m_dir;
    std::string m_old;
};

void ExpectRecords(const SCRFilterParam* set, const float (&gains)[6], const char* what) {
    SCOPED_TRACE(what);
    ASSERT_NE(set, nullptr);
    const float large[6] = {10, 25, 25, 25, 25, 25};
    for (int d = 0; d < 6; ++d) {
        EXPECT_EQ(set[d].ENHFACTOR, gains[d]);
        EXPECT_EQ(set[d].LARGESCALETHRESHOLD, large[d]);
        EXPECT_EQ(set[d].NOISESUPPRESSFACTOR, 1.0f);
        EXPECT_EQ(set[d].NOISETHRESHOLD, 0.0f);
        EXPECT_EQ(set[d].LARGESCALEBOOSTFACTOR, 1.0f);
    }
}

// Records whose mapping is the identity: every gain 1, every threshold 0.
const char* const kIdentityIni =
    "[CRIOSHARPNESS]\n"
    "ENHFACTOR0=1\nENHFACTOR1=1\nENHFACTOR2=1\nENHFACTOR3=1\nENHFACTOR4=1\nENHFACTOR5=1\n"
    "NOISESUPPRESSFACTOR0=1\nNOISESUPPRESSFACTOR1=1\nNOISESUPPRESSFACTOR2=1\n"
    "LARGESCALEBOOSTFACTOR=1\n"
    "[CRPANOSHARPNESS]\n"
    "ENHFACTOR0=1\nENHFACTOR1=1\nENHFACTOR2=1\nENHFACTOR3=1\nENHFACTOR4=1\nENHFACTOR5=1\n"
    "NOISESUPPRESSFACTOR0=1\nNOISESUPPRESSFACTOR1=1\nNOISESUPPRESSFACTOR2=1\n"
    "LARGESCALEBOOSTFACTOR=1\n";

}  // namespace

TEST(CRPlateImage, TableMatchesNumpy) {
    BlocksBalanced balanced;
    for (std::uint32_t bits : {12u, 16u}) {
        SCOPED_TRACE(bits);
        auto plate = Make<CusUlma>(8, 6, bits, RandomPixels<std::uint16_t>(48, 4095, bits));
        const auto* table = plate->GetPlateTable();
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->Size(), 1u << bits);
        if (bits == 12) {
            for (int i = 0; i <= 75; ++i) EXPECT_EQ(table->Data()[i], 0) << i;
            for (int i = 3805; i < 4096; ++i) EXPECT_EQ(table->Data()[i], 4095) << i;
            EXPECT_LT(table->Data()[3804], 4095);
            EXPECT_GT(table->Data()[76], 0);
        }
        RefCheck check;
        check.Write("plate", table->Data(), table->Size());
        check.Run("plate", "{\"n\":" + std::to_string(table->Size()) + "}");
    }
    // The plate image answers the grey interface's defaults, except through its template.
    const auto px = RandomPixels<std::uint16_t>(48, 4095, 1);
    auto plate = Make<CusUlma>(8, 6, 12, px);
    EXPECT_EQ(plate->GetHeight(), 0u);
    win::HGLOBAL dib = nullptr;
    EXPECT_FALSE(static_cast<CImg&>(*plate).GetDisplayDIB(&dib));  // as the SDK calls it
    CusUlma target(6, 8);
    ASSERT_TRUE(plate->ApplyPlateTable(target));
    for (int k = 0; k < 48; ++k)
        EXPECT_EQ(target.Pixels()->Data()[k], plate->GetPlateTable()->Data()[px[k]]);
    CusUlma other(6, 7);
    EXPECT_FALSE(plate->ApplyPlateTable(other));
}

TEST(CRParameters, DefaultsWithoutTheFile) {
    DriveC drive;
    BlocksBalanced balanced;
    const auto px = RandomPixels<std::uint16_t>(40 * 30, 4095, 2);
    auto pano = Make<CusCRPano>(40, 30, 12, px);
    EXPECT_EQ(pano->GetRecordSet(1), nullptr);
    ASSERT_TRUE(pano->ReadParameters(1));
    ASSERT_TRUE(pano->ReadParameters(2));
    ExpectRecords(pano->GetRecordSet(1), {0, 1.5f, 2.1f, 1.8f, 1.5f, 1.3f}, "contrast");
    ExpectRecords(pano->GetRecordSet(2), {0, 3.3f, 3.3f, 2.8f, 1.85f, 1.5f}, "sharpness");
    EXPECT_EQ(pano->GetRecordSet(0), pano->GetRecordSet(2));  // every mode but 1
    auto io = Make<CusCRIO>(40, 30, 12, px);
    ASSERT_TRUE(io->ReadParameters());
    ExpectRecords(io->GetRecordSet(), {0, 3.6f, 3.0f, 2.75f, 2.5f, 2.0f}, "intra-oral");
}

TEST(CRParameters, IniSections) {
    DriveC drive;
    BlocksBalanced balanced;
    drive.WriteIni(
        "[CRPANOCONTRAST]\n"
        "[CRPANOSHARPNESS]\n"
        "ENHFACTOR1=1.23456789\nLARGESCALETHRESHOLD5=7.5\nNOISESUPPRESSFACTOR2=0.5\n"
        "NOISETHRESHOLD0=3\nLARGESCALEBOOSTFACTOR=2\nENHFACTOR2=nan\nENHFACTOR3=1e39\n"
        "ENHFACTOR4=-inf\nENHFACTOR5=abc\n");
    const auto px = RandomPixels<std::uint16_t>(40 * 30, 4095, 3);
    auto pano = Make<CusCRPano>(40, 30, 12, px);
    ASSERT_TRUE(pano->ReadParameters(1));
    const SCRFilterParam* empty = pano->GetRecordSet(1);
    for (int d = 0; d < 6; ++d) {
        EXPECT_EQ(empty[d].ENHFACTOR, 0.0f);
        EXPECT_EQ(empty[d].LARGESCALETHRESHOLD, 0.0f);
        EXPECT_EQ(empty[d].LARGESCALEBOOSTFACTOR, 0.0f);
        EXPECT_EQ(empty[d].NOISESUPPRESSFACTOR, d < 3 ? 1.0f : 0.0f);
        EXPECT_EQ(empty[d].NOISETHRESHOLD, 0.0f);
    }
    ASSERT_TRUE(pano->ReadParameters(3));
    const SCRFilterParam* set = pano->GetRecordSet(3);
    EXPECT_EQ(set[1].ENHFACTOR, 1.2345678f);  // the first 9 characters
    EXPECT_EQ(set[5].LARGESCALETHRESHOLD, 7.5f);
    EXPECT_EQ(set[5].NOISESUPPRESSFACTOR, 0.5f);  // the noise keys fill records 3..5
    EXPECT_EQ(set[3].NOISETHRESHOLD, 3.0f);
    EXPECT_EQ(set[0].NOISETHRESHOLD, 0.0f);
    for (int d = 0; d < 6; ++d) EXPECT_EQ(set[d].LARGESCALEBOOSTFACTOR, 2.0f);
    for (int d = 2; d < 6; ++d) EXPECT_EQ(set[d].ENHFACTOR, 0.0f) << d;  // not finite numbers

    // Read once per image: a later change of the file is seen by new images only.
    drive.WriteIni("[CRPANOSHARPNESS]\nENHFACTOR1=9\n");
    ASSERT_TRUE(pano->ReadParameters(2));
    EXPECT_EQ(pano->GetRecordSet(2)[1].ENHFACTOR, 1.2345678f);
    CusCRPano copy(*pano);
    EXPECT_EQ(copy.GetRecordSet(2), nullptr);
    ASSERT_TRUE(copy.ReadParameters(2));
    EXPECT_EQ(copy.GetRecordSet(2)[1].ENHFACTOR, 9.0f);
}

TEST(CRPyramid, IdentityRecordsGiveTheSourceBack) {
    DriveC drive;
    drive.WriteIni(kIdentityIni);
    BlocksBalanced balanced;
    const std::uint32_t w = 150, h = 97;
    const auto px = RandomPixels<std::uint16_t>(w * h, 4095, 6);
    const auto close = [&](const unsigned short* out) {
        for (std::size_t k = 0; k < px.size(); ++k)
            if (std::abs(int(out[k]) - int(px[k])) > 1) return false;
        return true;
    };
    auto io = Make<CusCRIO>(w, h, 12, px);
    auto ioTarget = Make<CusZELus>(w, h, 12, std::vector<std::uint16_t>(w * h, 0), std::uint16_t(0),
                                   std::uint16_t(4095));
    ASSERT_TRUE(io->ProcessInto(*ioTarget));
    EXPECT_TRUE(close(ioTarget->Pixels()->Data()));
    EXPECT_GT(ioTarget->WindowHigh(), 4000);  // recomputed

    auto pano = Make<CusCRPano>(w, h, 12, px);
    auto panoTarget = Make<CusPano>(w, h, 12, std::vector<std::uint16_t>(w * h, 0));
    ASSERT_TRUE(pano->ApplyPyramid(*panoTarget, 2));
    EXPECT_TRUE(close(panoTarget->Pixels()->Data()));
    // The contrast set is not in the file: an empty section of zeros zeroes every detail level,
    // leaving only the low-pass image.
    ASSERT_TRUE(pano->ApplyPyramid(*panoTarget, 1));
    EXPECT_FALSE(close(panoTarget->Pixels()->Data()));

    // Only 12-bit images of the target's size.
    auto deep = Make<CusCRIO>(w, h, 16, px);
    EXPECT_FALSE(deep->ApplyPyramid(*ioTarget));
    auto small = Make<CusZELus>(w - 1, h, 12, std::vector<std::uint16_t>((w - 1) * h, 0),
                                std::uint16_t(0), std::uint16_t(4095));
    EXPECT_FALSE(io->ApplyPyramid(*small));
    auto smallPano = Make<CusPano>(w, h - 1, 12, std::vector<std::uint16_t>(w * (h - 1), 0));
    EXPECT_FALSE(pano->ApplyPyramid(*smallPano, 2));
}

TEST(CRPanoramic, PercentileWindowIgnoresTheFrame) {
    BlocksBalanced balanced;
    const std::uint32_t w = 200, h = 160;
    auto px = RandomPixels<std::uint16_t>(w * h, 1000, 8);
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 0; c < w; ++c) {
            auto& p = px[r * w + c];
            const bool frame = r < 50 || c < 50 || r >= h - 50 || c >= w - 50;
            p = frame ? ((r + c) % 2 ? 4095 : 0) : static_cast<std::uint16_t>(p + 1000);
        }
    auto cr = Make<CusCRPano>(w, h, 12, px);
    EXPECT_GE(cr->WindowLow(), 1000);
    EXPECT_LE(cr->WindowHigh(), 2000);
    auto plain = Make<CusPano>(w, h, 12, px);
    EXPECT_EQ(plain->WindowLow(), 0);
    EXPECT_EQ(plain->WindowHigh(), 4095);
}

TEST(CRIntraOral, TablesStateAndHostileImages) {
    BlocksBalanced balanced;
    const auto px = RandomPixels<std::uint16_t>(64 * 48, 4095, 9);
    auto io = Make<CusCRIO>(64, 48, 12, px);
    EXPECT_EQ(io->ReferenceLow(), 0);
    EXPECT_EQ(io->ReferenceHigh(), 4095);
    ASSERT_NE(io->GetProcessingLUT(1), nullptr);
    int state = 7;
    float gain = 7, second = 7;
    io->GetExposureState(&state, &gain, &second);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(gain, 0.0f);
    EXPECT_TRUE(io->BuildProcessingLUT(1, 100, 3000));
    EXPECT_FALSE(io->BuildProcessingLUT(1, 3000, 3000));
    EXPECT_FALSE(io->BuildProcessingLUT(2, 100, 5000));
    EXPECT_FALSE(io->BuildProcessingLUT(0, 100, 3000));
    CInfosCorners corners;
    corners.SetCorner2(-3, 1 << 30);
    EXPECT_TRUE(io->SetCorners(&corners));

    DriveC drive;
    for (const auto& [w, h] : {std::array<std::uint32_t, 2>{1, 1}, {2, 9}, {5, 700}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto tiny = RandomPixels<std::uint16_t>(w * h, 4095, w + h);
        auto image = Make<CusCRIO>(w, h, 12, tiny);
        auto target = Make<CusZELus>(w, h, 12, tiny, std::uint16_t(0), std::uint16_t(4095));
        image->ApplyPyramid(*target);
        image->ProcessInto(*target, 1);
        auto pano = Make<CusCRPano>(w, h, 12, tiny);
        auto panoTarget = Make<CusPano>(w, h, 12, tiny);
        pano->ApplyPyramid(*panoTarget, 1);
        auto plate = Make<CusUlma>(w, h, 12, tiny);
        CusUlma plateTarget(h, w);
        EXPECT_TRUE(plate->ApplyPlateTable(plateTarget));
    }
}
