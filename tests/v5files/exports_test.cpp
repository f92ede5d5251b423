// The exports over files written by the fixture scripts: information, header records, pixels
// (against libtiff, tifffile and PIL decodes of the same files) and the preview record.
#include <gtest/gtest.h>
#include <quorin/basicpreview.h>
#include <quorin/v5files.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/leak_guard.h"
#include "platform/core/globalmem.h"
#include "records/headers/headerkinds.h"
#include "v5fixtures.h"

namespace {

using quorin::test::MakeV5Fixture;
using quorin::test::ReadBytes;
using quorin::test::ReadFixtureValue;
using quorin::test::TempDir;

// Information then pixels, as the SDK reads an older file.
struct Read {
    int info = -1;
    int image = -1;
    std::vector<std::uint8_t> pixels;
};

Read ReadFile(const std::string& path, CHeader& header, int page = 0) {
    Read r;
    r.info = V5Files_ReadQVImageInformation(path.c_str(), &header, page);
    if (r.info != 0) return r;
    r.pixels.assign(static_cast<std::size_t>(header.GetWidth()) * header.GetHeight() *
                        std::max(header.GetSamplesPerPixel(), 0),
                    0);
    r.image = V5Files_ReadImage(path.c_str(), &header, page, r.pixels.data());
    return r;
}

class V5Exports : public ::testing::Test {
  protected:
    quorin::test::NoLeaks m_noLeaks;
    TempDir m_dir;
};

TEST_F(V5Exports, IntraoralImagesOfEveryCompression) {
    for (const char* compress : {"none", "lzw", "lzw:2"}) {
        const std::string path = m_dir.file(std::string("R12_") + ".tif");
        const std::string file = m_dir.file("R12.tif");
        ASSERT_TRUE(MakeV5Fixture("grey", file,
                                  std::string("--compress ") + compress + " --rows 7 --width 61"));
        CHeaderZel header;
        const Read r = ReadFile(file, header);
        ASSERT_EQ(r.info, 0) << compress;
        EXPECT_EQ(header.GetImageType(), 1);
        EXPECT_EQ(header.GetSubType(), 1);
        EXPECT_EQ(header.GetWidth(), 61);
        EXPECT_EQ(header.GetHeight(), 40);
        EXPECT_EQ(header.GetBitsPerSample(), 8);
        EXPECT_EQ(header.GetSamplesPerPixel(), 1);
        EXPECT_EQ(header.GetPath(), file);
        ASSERT_EQ(r.image, 0) << compress;
        EXPECT_EQ(r.pixels, ReadBytes(file + ".raw")) << compress;
        EXPECT_EQ(header.GetChecksumMismatch(), 0);
        (void)path;
    }
}

TEST_F(V5Exports, IntraoralRecordFillsTheHeader) {
    const std::string file = m_dir.file("R3.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--compress lzw"));
    CHeaderZel header;
    ASSERT_EQ(ReadFile(file, header).image, 0);

    const CInfosImage& info = header.ImageInfo();
    EXPECT_EQ(info.DateTime1().GetYear(), 1997);
    EXPECT_EQ(info.DateTime1().GetMonth(), 3);
    EXPECT_EQ(info.DateTime1().GetDay(), 5);
    EXPECT_EQ(info.GetImageComments(), "Caries distal 36; control in 6 months");
    EXPECT_EQ(info.GetLossyCompression(nullptr), 3);  // not lossy
    ASSERT_EQ(header.TeethList().GetCount(), 3);
    EXPECT_EQ(header.TeethList().GetAt(0)->GetNumber(), "36");
    EXPECT_EQ(header.TeethList().GetAt(2)->GetNumber(), "48");
    EXPECT_EQ(header.Orient().GetMirror(), 1);
    std::int32_t filter = 0, parameter = 0;
    header.Filter().GetFilter(&filter, &parameter);
    EXPECT_EQ(filter, 2);
    EXPECT_EQ(parameter, 6);

    EXPECT_EQ(header.Equipment().GetModelName(), "ZEL 5 HS");  // 0.039 square, second mode word
    EXPECT_EQ(header.Equipment().GetManufacturer(), "Quorin Radiologie");
    EXPECT_EQ(header.Equipment().GetSoftwareVersions(), "QUORIN WINDOWS 5");
    std::int32_t b = 0, c = 0, g = 0;
    std::uint8_t inversion = 0;
    header.LUTGray().GetSettings(&b, &c, &g, &inversion, nullptr);
    EXPECT_EQ(b, 10);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(g, 7);
    EXPECT_EQ(inversion, 1);                       // display flags 0x1B: bit 1
    EXPECT_EQ(header.Display().GetColorLUT(), 1);  // bit 0, not bit 2
    EXPECT_EQ(header.InfosZel().GetFilterLevel(), 3);
    EXPECT_EQ(header.Exposure().GetVoltage(), 70);
    EXPECT_EQ(header.Exposure().GetCurrent(), 7);
    EXPECT_EQ(header.Exposure().GetTime(), 120);
    EXPECT_NEAR(header.PixelSize(0).GetX(), 0.039, 1e-7);
    EXPECT_NEAR(header.PixelSize(1).GetY(), 0.039, 1e-7);
    EXPECT_EQ(header.Patient().GetFolder(), m_dir.path());
}

TEST_F(V5Exports, OlderLayoutsReachTheHeaderModel) {
    struct Case {
        const char* layout;
        std::size_t comments;  // bytes of the comments the layout keeps
        int teeth;
        int mirror;
        int filter;
        double pixel;  // 480 x 380 intra-oral images without a size of their own: 0.05828
    } cases[] = {
        {"text45", 32, 1, 0, 0, 0.05828}, {"0x5401", 32, 1, 0, 0, 0.05828},
        {"0x5402", 37, 3, 0, 0, 0.05828}, {"0x5404", 37, 3, 0, 0, 0.05828},
        {"0x5406", 37, 3, 1, 0, 0.05828}, {"0x5407", 37, 3, 1, 0, 0.039},
        {"0x5408", 37, 3, 1, 2, 0.039},
    };
    for (const Case& c : cases) {
        const std::string file = m_dir.file("R30.tif");
        ASSERT_TRUE(MakeV5Fixture("grey", file,
                                  std::string("--width 480 --height 380 --layout ") + c.layout));
        CHeaderZel header;
        const Read r = ReadFile(file, header);
        ASSERT_EQ(r.image, 0) << c.layout;
        EXPECT_EQ(header.ImageInfo().DateTime1().GetYear(), 1997) << c.layout;
        EXPECT_EQ(header.ImageInfo().DateTime1().GetDay(), 5) << c.layout;
        EXPECT_EQ(header.ImageInfo().GetImageComments(),
                  std::string("Caries distal 36; control in 6 months").substr(0, c.comments))
            << c.layout;
        EXPECT_EQ(header.TeethList().GetCount(), c.teeth) << c.layout;
        EXPECT_EQ(header.Orient().GetMirror(), c.mirror) << c.layout;
        std::int32_t filter = -1, parameter = -1;
        header.Filter().GetFilter(&filter, &parameter);
        EXPECT_EQ(filter, c.filter) << c.layout;
        EXPECT_EQ(parameter, c.filter ? 8 : 0) << c.layout;
        EXPECT_NEAR(header.PixelSize(0).GetX(), c.pixel, 1e-6) << c.layout;
        EXPECT_EQ(header.GetChecksumMismatch(), 0) << c.layout;  // converted records keep no sum
        EXPECT_EQ(r.pixels, ReadBytes(file + ".raw")) << c.layout;
    }
}

TEST_F(V5Exports, IntraoralImageWithoutPixelSizeTakesItFromItsSize) {
    const std::string file = m_dir.file("R4.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--no-pixel-size --width 480 --height 380"));
    CHeaderZel header;
    ASSERT_EQ(ReadFile(file, header).image, 0);
    EXPECT_DOUBLE_EQ(header.PixelSize(0).GetX(), 0.05828);
    EXPECT_DOUBLE_EQ(header.PixelSize(0).GetY(), 0.04884);
    EXPECT_EQ(header.Equipment().GetModelName(), "ZEL 4");
}

TEST_F(V5Exports, IntegritySum) {
    struct Case {
        const char* name;
        const char* options;
        int mismatch;
    } cases[] = {
        {"R5.tif", "--sum good", 0},
        {"R6.tif", "--sum zero", 0},
        {"R7.tif", "--sum bad", 1},
        {"R8a.tif", "--sum bad", 0},  // derived copies keep no sum
        {"R9.tif", "--sum good --empty-date", 1},
    };
    for (const Case& c : cases) {
        const std::string file = m_dir.file(c.name);
        ASSERT_TRUE(MakeV5Fixture(
            "grey", file, std::string(c.options) + " --width 100 --height 90 --compress lzw"));
        CHeaderZel header;
        const Read r = ReadFile(file, header);
        ASSERT_EQ(r.image, 0) << c.name;
        EXPECT_EQ(header.GetChecksumMismatch(), c.mismatch) << c.name;
        const std::vector<std::uint8_t> raw = ReadBytes(file + ".raw");
        std::size_t changed = 0;
        for (std::size_t i = 0; i < raw.size(); ++i) changed += raw[i] != r.pixels[i];
        if (c.mismatch) {
            EXPECT_GT(changed, 100u) << c.name;
            EXPECT_EQ(r.pixels[45 * 100 + 50], raw[45 * 100 + 50]);  // the centre is no corner
        } else {
            EXPECT_EQ(changed, 0u) << c.name;
        }
    }
}

TEST_F(V5Exports, IntegrityMarkIsClippedToSmallImages) {
    const std::string file = m_dir.file("R31.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--sum bad --width 9 --height 5"));
    CHeaderZel header;
    const Read r = ReadFile(file, header);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(header.GetChecksumMismatch(), 1);
    EXPECT_NE(r.pixels, ReadBytes(file + ".raw"));
}

TEST_F(V5Exports, ReducedImageOnRequestAndChecksumForSubType2) {
    const std::string file = m_dir.file("R10.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--reduced --width 64 --height 48 --sum bad"));
    CHeaderZel header;
    header.SetSubType(2);
    const Read r = ReadFile(file, header);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(header.GetSubType(), 2);
    EXPECT_EQ(header.GetWidth(), 32);
    EXPECT_EQ(header.GetHeight(), 24);
    EXPECT_EQ(header.GetChecksumMismatch(), 0);  // cleared once the checksum is stored
    EXPECT_NE(header.GetChecksum(), 0u);

    // A file without a reduced image answers its main image and sub-type 1.
    const std::string plain = m_dir.file("R11.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", plain, ""));
    CHeaderZel other;
    other.SetSubType(2);
    const Read p = ReadFile(plain, other);
    ASSERT_EQ(p.image, 0);
    EXPECT_EQ(other.GetSubType(), 1);
    EXPECT_EQ(p.pixels, ReadBytes(plain + ".raw"));
}

TEST_F(V5Exports, PanoramicAndScannedImages) {
    const std::string pano = m_dir.file("P2.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", pano, "--compress lzw"));
    CHeaderPano header;
    const Read r = ReadFile(pano, header);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(header.GetImageType(), 3);
    EXPECT_EQ(r.pixels, ReadBytes(pano + ".raw"));
    EXPECT_EQ(header.InfosPano().GetProgram(), 2);
    ASSERT_EQ(header.InfosPano().GetPointCount(), 3);
    EXPECT_EQ(header.InfosPano().Points()[1], (400u << 16) | 300u);
    EXPECT_EQ(header.Exposure().GetVoltage(), 70);

    // Both pixel sizes 0: a scanned image, not a panoramic one.
    const std::string flat = m_dir.file("P3.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", flat, "--no-pixel-size"));
    CHeaderSC scanned;
    const Read s = ReadFile(flat, scanned);
    EXPECT_EQ(scanned.GetImageType(), 4);
    ASSERT_EQ(s.image, 0);
    EXPECT_EQ(s.pixels, ReadBytes(flat + ".raw"));
    EXPECT_EQ(scanned.Display().GetColorLUT(), 1);
    EXPECT_EQ(scanned.Equipment().GetModelName(), "");

    const std::string t = m_dir.file("T4.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", t, "--compress lzw:2"));
    CHeaderSC grey;
    const Read g = ReadFile(t, grey);
    EXPECT_EQ(grey.GetImageType(), 4);
    ASSERT_EQ(g.image, 0);
    EXPECT_EQ(g.pixels, ReadBytes(t + ".raw"));
}

TEST_F(V5Exports, ColourImagesThroughThePackedDibRoad) {
    const std::string file = m_dir.file("T22.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--bits 24 --compress lzw:2 --rows 3"));
    CHeaderSC header;
    const Read r = ReadFile(file, header);
    ASSERT_EQ(r.info, 0);
    EXPECT_EQ(header.GetSamplesPerPixel(), 3);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(r.pixels, ReadBytes(file + ".raw"));  // red, green, blue as libtiff decodes them
}

TEST_F(V5Exports, HalfSizeImagesAreReportedAsDelivered) {
    for (const char* header : {"244", "327"}) {
        const std::string file = m_dir.file("R20.tif");
        ASSERT_TRUE(MakeV5Fixture("halfsize", file, std::string("--header ") + header));
        CHeaderZel h;
        const Read r = ReadFile(file, h);
        ASSERT_EQ(r.info, 0);
        EXPECT_EQ(h.GetWidth(), 380);
        EXPECT_EQ(h.GetHeight(), 480);
        ASSERT_EQ(r.image, 0) << header;
        const std::vector<std::uint8_t> raw = ReadBytes(file + ".raw");
        EXPECT_EQ(r.pixels, raw) << header;
        EXPECT_EQ(r.pixels[0], 252);
        EXPECT_EQ(r.pixels[1], 252);
        EXPECT_EQ(r.pixels[380], 252);
        EXPECT_EQ(r.pixels[381], 252);
        EXPECT_EQ(h.ImageInfo().GetLossyCompression(nullptr), 2);
    }
    // 8-bit images of 190 x 240 are delivered at 380 x 480, and reported so.
    const std::string file = m_dir.file("R21.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--width 190 --height 240 --compress lzw"));
    CHeaderZel h;
    const Read r = ReadFile(file, h);
    ASSERT_EQ(r.info, 0);
    EXPECT_EQ(h.GetWidth(), 380);
    EXPECT_EQ(h.GetHeight(), 480);
    ASSERT_EQ(r.image, 0);
    const std::vector<std::uint8_t> raw = ReadBytes(file + ".raw");
    bool same = true;
    for (int y = 0; y < 480 && same; ++y)
        for (int x = 0; x < 380 && same; ++x)
            same = r.pixels[y * 380 + x] == raw[y / 2 * 190 + x / 2];
    EXPECT_TRUE(same);
}

TEST_F(V5Exports, FullMouthSeriesPages) {
    const std::string file = m_dir.file("F3.tif");
    ASSERT_TRUE(MakeV5Fixture("fms", file, "--pages 3 --compress lzw"));
    for (int page = 0; page < 3; ++page) {
        CHeader header;
        const Read r = ReadFile(file, header, page);
        ASSERT_EQ(r.info, 0);
        EXPECT_EQ(header.GetImageType(), 11);
        ASSERT_EQ(r.image, 0) << page;
        EXPECT_EQ(r.pixels, ReadBytes(file + ".page" + std::to_string(page) + ".raw")) << page;
        EXPECT_EQ(header.ImageInfo().GetImageComments(), "page " + std::to_string(page));
    }
    CHeader missing;
    EXPECT_EQ(V5Files_ReadQVImageInformation(file.c_str(), &missing, 7), 5);
    EXPECT_EQ(missing.GetImageType(), 0);

    // Sub-type 2: the reduced image through the packed-DIB road.
    CHeader reduced;
    reduced.SetSubType(2);
    const Read r = ReadFile(file, reduced);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(reduced.GetWidth(), 24);
    EXPECT_EQ(reduced.GetHeight(), 20);
}

TEST_F(V5Exports, ColourContainers) {
    for (const char* record : {"5403", "5402", "short"}) {
        const std::string file = m_dir.file("C5.tif");
        ASSERT_TRUE(
            MakeV5Fixture("colourtif", file, std::string("--compress lzw --record ") + record));
        CHeaderSC header;
        const Read r = ReadFile(file, header);
        ASSERT_EQ(r.info, 0);
        EXPECT_EQ(header.GetImageType(), 5);
        EXPECT_EQ(header.GetSamplesPerPixel(), 3);
        ASSERT_EQ(r.image, 0) << record;
        EXPECT_EQ(r.pixels, ReadBytes(file + ".raw")) << record;
        EXPECT_EQ(header.Equipment().GetModelName(), "Frame Grabber");
        EXPECT_EQ(header.ImageInfo().DateTime1().GetYear(), 2003) << record;
        EXPECT_EQ(header.ImageInfo().DateTime1().GetMonth(), 12);
        EXPECT_EQ(header.ImageInfo().DateTime1().GetDay(), 25);
    }
    const std::string file = m_dir.file("S6.tif");
    ASSERT_TRUE(MakeV5Fixture("colourtif", file, "--record 5403"));
    CHeaderWlk video;
    const Read r = ReadFile(file, video);
    EXPECT_EQ(video.GetImageType(), 2);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(r.pixels, ReadBytes(file + ".raw"));
    EXPECT_EQ(video.ImageInfo().GetImageComments(), "colour comments");
    ASSERT_EQ(video.TeethList().GetCount(), 2);  // "11", "21", " 0", "  "
    EXPECT_EQ(video.TeethList().GetAt(1)->GetNumber(), "21");
    EXPECT_EQ(video.Orient().GetMirror(), 1);
}

TEST_F(V5Exports, EightBitFileNamedLikeAColourImageIsRefused) {
    const std::string file = m_dir.file("C7.tif");
    ASSERT_TRUE(MakeV5Fixture("colourtif", file, "--bits 8 --record 5403"));
    CHeaderSC header;
    // The information road reads 8-bit descriptions as grey records: a colour record is none.
    EXPECT_EQ(V5Files_ReadQVImageInformation(file.c_str(), &header, 0), 7);
    // A caller that sizes the buffer for one sample anyway gets no colour delivery into it.
    header.SetImageType(5);
    header.SetWidth(48);
    header.SetHeight(40);
    header.SetBitsPerSample(8);
    header.SetSamplesPerPixel(1);
    std::vector<std::uint8_t> one(48 * 40);
    EXPECT_EQ(V5Files_ReadImage(file.c_str(), &header, 0, one.data()), 7);
    header.SetSamplesPerPixel(3);
    header.SetBitsPerSample(24);
    EXPECT_EQ(V5Files_ReadImage(file.c_str(), &header, 0, one.data()), 7);

    // A header whose depth disagrees with the image is refused too.
    const std::string grey = m_dir.file("R8.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", grey, ""));
    CHeaderZel h;
    ASSERT_EQ(V5Files_ReadQVImageInformation(grey.c_str(), &h, 0), 0);
    h.SetSamplesPerPixel(3);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(h.GetWidth()) * h.GetHeight() * 3);
    EXPECT_EQ(V5Files_ReadImage(grey.c_str(), &h, 0, pixels.data()), 7);
    h.SetSamplesPerPixel(1);
    h.SetWidth(static_cast<std::uint16_t>(h.GetWidth() - 1));
    EXPECT_EQ(V5Files_ReadImage(grey.c_str(), &h, 0, pixels.data()), 7);
}

TEST_F(V5Exports, Rgb565AndJpegMembers) {
    const std::string rgb = m_dir.file("C9.tif");
    ASSERT_TRUE(MakeV5Fixture("rgb565", rgb, "--width 40 --height 30"));
    CHeaderSC header;
    const Read r = ReadFile(rgb, header);
    ASSERT_EQ(r.info, 0);
    EXPECT_EQ(header.GetSamplesPerPixel(), 3);
    ASSERT_EQ(r.image, 0);
    EXPECT_EQ(r.pixels, ReadBytes(rgb + ".raw"));
    EXPECT_EQ(header.ImageInfo().DateTime1().GetYear(), 2003);

    // ".jpg" members have no information road: the caller knows their size.
    const std::string jpg = m_dir.file("S10.jpg");
    ASSERT_TRUE(MakeV5Fixture("colourjpg", jpg, "--width 48 --height 40"));
    CHeaderWlk video;
    EXPECT_EQ(V5Files_ReadQVImageInformation(jpg.c_str(), &video, 0), 7);
    video.SetImageType(2);
    video.SetWidth(48);
    video.SetHeight(40);
    video.SetBitsPerSample(8);
    video.SetSamplesPerPixel(3);
    std::vector<std::uint8_t> pixels(48 * 40 * 3);
    ASSERT_EQ(V5Files_ReadImage(jpg.c_str(), &video, 0, pixels.data()), 0);
    const std::vector<std::uint8_t> ref = ReadBytes(jpg + ".raw");
    ASSERT_EQ(ref.size(), pixels.size());
    double total = 0;
    int worst = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const int d = std::abs(int(ref[i]) - int(pixels[i]));
        total += d;
        worst = std::max(worst, d);
    }
    // The member decoder's own colour factors and upsampling differ slightly from libjpeg's.
    EXPECT_LT(total / ref.size(), 3.0);
    EXPECT_LE(worst, 40);
}

TEST_F(V5Exports, PreviewRecords) {
    const std::string r12 = m_dir.file("R12.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", r12, "--compress lzw --width 50 --height 30"));
    SBasicPreviewInfo info;
    info.nReserved = 77;
    ASSERT_EQ(V5Files_ReadBasicPreviewInformation(r12, info), 0);
    EXPECT_EQ(info.nReserved, 77);
    EXPECT_EQ(info.nImageType, 1);
    EXPECT_EQ(info.nCategory, 1);
    EXPECT_EQ(info.bRadiograph, 1);
    EXPECT_EQ(info.nSamplesPerPixel, 1);
    EXPECT_EQ(info.nBitsPerSample, 8);
    EXPECT_EQ(info.nWidth, 50);
    EXPECT_EQ(info.nHeight, 30);
    EXPECT_EQ(info.bDerived, 0);
    EXPECT_EQ(info.infosImage.DateTime1().GetYear(), 1997);
    EXPECT_EQ(info.infosImage.GetImageComments(), "Caries distal 36; control in 6 months");
    EXPECT_EQ(info.teeth.GetCount(), 3);

    const std::string derived = m_dir.file("T13a.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", derived, ""));
    SBasicPreviewInfo t;
    ASSERT_EQ(V5Files_ReadBasicPreviewInformation(derived, t), 0);
    EXPECT_EQ(t.nImageType, 10);
    EXPECT_EQ(t.nCategory, 1);  // teeth were found
    EXPECT_EQ(t.bRadiograph, 0);
    EXPECT_EQ(t.bDerived, 1);

    const std::string colour = m_dir.file("C14.tif");
    ASSERT_TRUE(MakeV5Fixture("colourtif", colour, "--record 5403"));
    SBasicPreviewInfo c;
    ASSERT_EQ(V5Files_ReadBasicPreviewInformation(colour, c), 0);
    EXPECT_EQ(c.nImageType, 10);
    EXPECT_EQ(c.nSamplesPerPixel, 3);
    EXPECT_EQ(c.bMirrored, 1);
    EXPECT_EQ(c.nCategory, 1);
    EXPECT_EQ(c.infosImage.GetImageComments(), "colour comments");

    const std::string video = m_dir.file("S15.jpg");
    ASSERT_TRUE(MakeV5Fixture("colourjpg", video, ""));
    SBasicPreviewInfo v;
    ASSERT_EQ(V5Files_ReadBasicPreviewInformation(video, v), 0);
    EXPECT_EQ(v.nImageType, 2);
    EXPECT_EQ(v.infosImage.DateTime1().GetYear(), 2003);

    const std::string greyJpeg = m_dir.file("R16.jpg");
    ASSERT_TRUE(MakeV5Fixture("greyjpg", greyJpeg, "--comment textual"));
    SBasicPreviewInfo g;
    ASSERT_EQ(V5Files_ReadBasicPreviewInformation(greyJpeg, g), 0);
    EXPECT_EQ(g.infosImage.DateTime1().GetYear(), 1997);
    ASSERT_EQ(g.teeth.GetCount(), 1);
    EXPECT_EQ(g.teeth.GetAt(0)->GetNumber(), "12");

    SBasicPreviewInfo none;
    EXPECT_EQ(V5Files_ReadBasicPreviewInformation(m_dir.file("scan.tif"), none), 7);
    EXPECT_EQ(V5Files_ReadBasicPreviewInformation(m_dir.file("R99.tif"), none), 7);
}

TEST_F(V5Exports, GreyJpegThroughThePixelRoad) {
    const std::string file = m_dir.file("R17.jpg");
    ASSERT_TRUE(MakeV5Fixture("greyjpg", file, "--comment textual --width 48 --height 40"));
    CHeaderZel header;
    header.SetImageType(1);
    header.SetWidth(48);
    header.SetHeight(40);
    header.SetBitsPerSample(8);
    header.SetSamplesPerPixel(1);
    header.SetSubType(1);
    std::vector<std::uint8_t> pixels(48 * 40);
    ASSERT_EQ(V5Files_ReadImage(file.c_str(), &header, 0, pixels.data()), 0);
    const std::vector<std::uint8_t> ref = ReadBytes(file + ".raw");
    int worst = 0;
    for (std::size_t i = 0; i < ref.size(); ++i)
        worst = std::max(worst, std::abs(int(ref[i]) - int(pixels[i])));
    EXPECT_LE(worst, 4);
    EXPECT_EQ(header.ImageInfo().GetLossyCompression(nullptr), 2);
    EXPECT_EQ(header.ImageInfo().DateTime1().GetYear(), 1997);
}

TEST_F(V5Exports, UnknownLayoutAndWrongExtension) {
    const std::string file = m_dir.file("R18.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", file, "--layout text47"));  // not a layout at all
    CHeaderZel header;
    EXPECT_EQ(V5Files_ReadQVImageInformation(file.c_str(), &header, 0), 7);
    EXPECT_EQ(header.GetImageType(), 0);
    EXPECT_EQ(V5Files_ReadQVImageInformation(m_dir.file("R19.png").c_str(), &header, 0), 7);
    EXPECT_EQ(V5Files_ReadQVImageInformation(m_dir.file("R19.tif").c_str(), &header, 0), 1);
    EXPECT_EQ(V5Files_ReadQVImageInformation(nullptr, &header, 0), 7);
    EXPECT_EQ(V5Files_ReadImage(file.c_str(), nullptr, 0, nullptr), 7);
    header.SetImageType(9);
    EXPECT_EQ(V5Files_ReadImage(file.c_str(), &header, 0, nullptr), 7);
}

}  // namespace
