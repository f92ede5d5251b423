// The colour members: 5-6-5 files, ".jpg" members and container ".tif" members into 24-bit
// DIBs, and their colour records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace std::string_literals;

#include "common/oldtiff/fixtures.h"
#include "oldtiff/rgb565.h"
#include "platform/core/globalmem.h"
#include "records/dib/dib.h"
#include "v5files/colourmember.h"
#include "v5files/colourrecord.h"

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

// The DIB's picture top-down as red, green, blue (how the references are written).
Bytes PictureRgb(win::HGLOBAL dib) {
    quorin::LockedDIB locked(dib);
    Bytes out;
    if (!locked.valid() || locked.layout().bitCount != 24) return out;
    const std::int32_t w = locked.layout().width, h = locked.layout().height;
    for (std::int32_t r = 0; r < h; ++r) {
        const std::uint8_t* row = locked.row(h - 1 - r);
        for (std::int32_t x = 0; x < w; ++x)
            out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return out;
}

std::string Text(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(Rgb565, PixelsAndShortRecord) {
    TempDir dir;
    const std::string path = dir.file("S12.tif");
    ASSERT_TRUE(Generate("rgb565", path, "--width 7 --height 5"));
    std::int32_t w = 0, h = 0, depth = 0;
    std::uint8_t description[56];
    ASSERT_EQ(ReadRgb565Header(path.c_str(), &w, &h, &depth, description), 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(depth, 16);

    const std::size_t blocks = win::globalmem_testing::LiveBlocks();
    CColourMember m;
    ASSERT_EQ(ReadColourMember(path.c_str(), &m), 0);
    const Bytes picture = PictureRgb(m.dib);
    EXPECT_EQ(picture, ReadBytes(path + ".raw"));
    // White 0xFFFF is 255, 255, 255; 0x0400 has green 132.
    EXPECT_EQ(Bytes(picture.begin(), picture.begin() + 6), (Bytes{255, 255, 255, 0, 132, 0}));
    EXPECT_FALSE(m.lossy);
    // The short record: date 25/12/03 becomes 20031225, one tooth field, the comments.
    EXPECT_EQ(m.record[0] | (m.record[1] << 8), 0x5403);
    EXPECT_EQ(Text(m.record + 2, 14), "SHORTRECORD...");
    EXPECT_EQ(Text(m.record + 16, 8), "20031225");
    EXPECT_EQ(Text(m.record + 24, 2), "12");
    EXPECT_EQ(Text(m.record + 32, 14), "colour comment");
    FreeDIB(m.dib);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), blocks);
}

TEST(Rgb565, LayoutAndSizeChecks) {
    TempDir dir;
    const std::string path = dir.file("a.tif");
    ASSERT_TRUE(Generate("rgb565", path, "--width 640 --height 480"));
    const Bytes good = ReadBytes(path);
    win::HGLOBAL dib = CreateDIB(640, 481, 24);
    EXPECT_EQ(ReadRgb565Pixels(dib, path.c_str(), 640, 481, 16), -4);
    FreeDIB(dib);
    dib = CreateDIB(640, 480, 24);
    EXPECT_EQ(ReadRgb565Pixels(dib, path.c_str(), 640, 480, 24), -4);
    EXPECT_EQ(ReadRgb565Pixels(dib, path.c_str(), 640, 480, 16), 0);
    FreeDIB(dib);

    Bytes bits = good;
    bits[212] = bits[214] = bits[216] = 8;  // 8, 8, 8
    WriteBytes(path, bits);
    EXPECT_EQ(ReadRgb565Header(path.c_str(), nullptr, nullptr, nullptr, nullptr), -4);
    Bytes huge = good;
    huge[32] = 0x70;
    huge[33] = 0x11;
    huge[34] = 0x01;  // width 70,000
    WriteBytes(path, huge);
    EXPECT_EQ(ReadRgb565Header(path.c_str(), nullptr, nullptr, nullptr, nullptr), -4);
    Bytes zero = good;
    std::memset(&zero[44], 0, 4);
    WriteBytes(path, zero);
    EXPECT_EQ(ReadRgb565Header(path.c_str(), nullptr, nullptr, nullptr, nullptr), -4);
    Bytes cut(good.begin(), good.begin() + 276 + 640 * 2 * 10);
    WriteBytes(path, cut);
    CColourMember m;
    EXPECT_EQ(ReadColourMember(path.c_str(), &m), -112);
    EXPECT_EQ(m.dib, nullptr);
    EXPECT_EQ(ReadRgb565Header(dir.file("none.tif").c_str(), nullptr, nullptr, nullptr, nullptr),
              -1);
}

TEST(JpegMember, DecodesIntoTheDibWithItsRecord) {
    TempDir dir;
    const std::string path = dir.file("C7.jpg");
    const std::string shortRecord = "ABCDEFGHIJKLMN05/03/9712a-jpeg-member-comment";
    ASSERT_TRUE(Generate("jpeg", path, "--width 37 --height 22 --comment " + shortRecord));
    CColourMember m;
    ASSERT_EQ(ReadColourMember(path.c_str(), &m), 0);
    EXPECT_TRUE(m.lossy);
    EXPECT_LE(MaxDifference(PictureRgb(m.dib), ReadBytes(path + ".raw")), 5);
    EXPECT_EQ(Text(m.record + 16, 8), "19970305");
    EXPECT_EQ(Text(m.record + 24, 2), "12");
    EXPECT_EQ(Text(m.record + 32, 22), "a-jpeg-member-comment\0"s.substr(0, 22));
    FreeDIB(m.dib);
}

TEST(JpegMember, RedAndBlueKeepTheirPlaces) {
    TempDir dir;
    for (const char* colour : {"red", "blue"}) {
        for (const char* kind : {"jpeg", "tiff"}) {
            const bool jpeg = kind[0] == 'j';
            const std::string path = dir.file(std::string("C1") + (jpeg ? ".jpg" : ".tif"));
            ASSERT_TRUE(Generate(
                kind, path, std::string("--width 18 --height 9 --bits 24 --pattern ") + colour));
            CColourMember m;
            ASSERT_EQ(ReadColourMember(path.c_str(), &m), 0) << kind;
            const Bytes rgb = PictureRgb(m.dib);
            const bool red = colour[0] == 'r';
            for (std::size_t i = 0; i < rgb.size(); i += 3) {
                EXPECT_GE(rgb[i + (red ? 0 : 2)], 240) << kind << colour;
                EXPECT_LE(rgb[i + (red ? 2 : 0)], 15) << kind << colour;
            }
            FreeDIB(m.dib);
        }
    }
}

// A ".jpg" member whose header cannot be decoded, or that is missing, is a failed read.
TEST(JpegMember, AnUndecodableHeaderIsAReadFailure) {
    TempDir dir;
    const std::string path = dir.file("C5.jpg");
    WriteBytes(path, Bytes(64, 0x20));
    CColourMember m;
    EXPECT_EQ(ReadColourMember(path.c_str(), &m), -112);
    EXPECT_EQ(m.dib, nullptr);
    EXPECT_EQ(ReadColourMember(dir.file("missing.jpg").c_str(), &m), -112);
}

TEST(TiffMember, ContainerRowsWithDrawingData) {
    TempDir dir;
    const std::string path = dir.file("C3.tif");
    ASSERT_TRUE(
        Generate("tiff", path, "--width 40 --height 12 --bits 24 --compress lzw --pattern noise"));
    CColourMember m;
    ASSERT_EQ(ReadColourMember(path.c_str(), &m, true), 0);
    EXPECT_EQ(PictureRgb(m.dib), ReadBytes(path + ".raw"));
    EXPECT_TRUE(m.drawing.empty());
    FreeDIB(m.dib);

    EXPECT_EQ(ReadColourMember(dir.file("C3.bmp").c_str(), &m), -118);
    EXPECT_EQ(ReadColourMember(dir.file("missing.tif").c_str(), &m), -111);
}

TEST(ColourRecord, DatesAndLayouts) {
    std::uint8_t shortRecord[56] = {};
    std::memcpy(shortRecord + 14, "25/12/03", 8);
    std::uint8_t out[290];
    ConvertShortColourRecord(shortRecord, out);
    EXPECT_EQ(Text(out + 16, 8), "20031225");
    std::memcpy(shortRecord + 14, "01/02/89", 8);
    ConvertShortColourRecord(shortRecord, out);
    EXPECT_EQ(Text(out + 16, 8), "19890201");
    std::memset(shortRecord + 14, 0, 8);
    ConvertShortColourRecord(shortRecord, out);
    EXPECT_EQ(out[16], 0);

    std::uint8_t stored[290] = {0x03, 0x54};
    std::memcpy(stored + 16, "20240131", 8);
    stored[288] = 1;
    ConvertStoredColourRecord(stored, 290, out);
    EXPECT_EQ(std::memcmp(out, stored, 290), 0);
    stored[0] = 0x02;
    std::memcpy(stored + 16, "31/01/24", 8);
    ConvertStoredColourRecord(stored, 290, out);
    EXPECT_EQ(out[0], 0x03);
    EXPECT_EQ(Text(out + 16, 8), "20240131");
    EXPECT_EQ(out[288], 0);
}

}  // namespace
