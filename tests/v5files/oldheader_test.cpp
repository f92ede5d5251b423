// Header records of every older layout, packed by an independent writer from the layout tables,
// read into the current record; and the bounded readers of the record's fields.
#include "v5files/oldheader.h"

#include <gtest/gtest.h>
#include <quorin/anatomy.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "v5fixtures.h"

namespace {

using quorin::test::MakeV5Fixture;
using quorin::test::ReadBytes;
using quorin::test::TempDir;

// Names of the current record's fields by offset, for readable failures.
const char* FieldAt(std::size_t offset) {
    struct Field {
        std::size_t end;
        const char* name;
    };
    static constexpr Field kFields[] = {
        {2, "layout"},
        {10, "date"},
        {266, "comments"},
        {274, "teeth"},
        {275, "byte 274"},
        {276, "program"},
        {282, "exposure"},
        {288, "exposure gate"},
        {290, "word 288"},
        {330, "points"},
        {331, "brightness"},
        {332, "contrast"},
        {333, "display"},
        {334, "gamma"},
        {338, "modes"},
        {339, "mirror"},
        {340, "filter kind"},
        {348, "pixel size"},
        {350, "filter parameter"},
        {352, "unused"},
        {356, "integrity sum"},
    };
    for (const Field& f : kFields)
        if (offset < f.end) return f.name;
    return "?";
}

TEST(OldHeaderLayouts, EveryLayoutReadsAsTheConversionStepsSay) {
    TempDir dir;
    ASSERT_TRUE(MakeV5Fixture("records", dir.path()));
    std::ifstream cases(dir.file("cases.txt"));
    std::string line;
    int count = 0;
    while (std::getline(cases, line)) {
        std::istringstream in(line);
        std::string name;
        int kind = 0, width = 0, height = 0, rotation = 0, accepted = 0;
        ASSERT_TRUE(in >> name >> kind >> width >> height >> rotation >> accepted) << line;
        const std::vector<std::uint8_t> stored = ReadBytes(dir.file(name + ".stored"));
        const std::vector<std::uint8_t> expected = ReadBytes(dir.file(name + ".expected"));
        ASSERT_EQ(expected.size(), kOldRecordBytes);
        std::uint8_t out[kOldRecordBytes];
        std::memset(out, 0xEE, sizeof out);
        std::int32_t gotRotation = -1;
        const bool ok = ConvertOldHeaderRecord(stored.data(), stored.size(), kind, width, height,
                                               &gotRotation, out);
        EXPECT_EQ(ok, accepted != 0) << name;
        for (std::size_t i = 0; i < kOldRecordBytes; ++i)
            if (out[i] != expected[i]) {
                ADD_FAILURE() << name << ": byte " << i << " (" << FieldAt(i) << ") is "
                              << int(out[i]) << ", expected " << int(expected[i]);
                break;
            }
        if (ok) {
            EXPECT_EQ(gotRotation, rotation) << name;
        }
        ++count;
    }
    EXPECT_GT(count, 100);
}

TEST(OldHeaderLayouts, DocumentedTextualRecord) {
    // 45 bytes: date 05/03/97, comments, tooth 12, brightness 10, contrast 3, display flags 1.
    std::uint8_t text[45] = {};
    std::memcpy(text, "05/03/97", 8);
    std::memcpy(text + 8, "comments", 8);
    std::memcpy(text + 40, "12", 2);
    text[42] = 10, text[43] = 3, text[44] = 1;
    std::uint8_t r[kOldRecordBytes];
    ASSERT_TRUE(ConvertOldHeaderRecord(text, 45, 1, 380, 480, nullptr, r));
    EXPECT_EQ(OldRecordWord(r, 0), 0x5409);
    EXPECT_EQ(OldRecordText(r + old_record::kDate, 8), "19970305");
    EXPECT_EQ(OldRecordText(r + old_record::kComments, 256), "comments");
    EXPECT_EQ(OldRecordText(r + old_record::kTeeth, 2), "12");
    EXPECT_EQ(r[old_record::kDisplay], 1);
    EXPECT_EQ(r[old_record::kBrightness] | r[old_record::kContrast] | r[old_record::kGamma], 0);
    EXPECT_FLOAT_EQ(OldRecordPixelSize(r, old_record::kPixelSizeX), 0.04884f);
    EXPECT_FLOAT_EQ(OldRecordPixelSize(r, old_record::kPixelSizeY), 0.05828f);
    EXPECT_EQ(OldRecordLong(r, old_record::kIntegritySum), 0u);

    // The same with byte 43 = 2 in a panoramic file: byte 42 is the gamma, times 4.
    text[42] = 70, text[43] = 2;
    ASSERT_TRUE(ConvertOldHeaderRecord(text, 45, 4, 380, 480, nullptr, r));
    EXPECT_EQ(r[old_record::kGamma], (70 * 4) & 255);
    EXPECT_EQ(r[old_record::kUnsettled], 'P');
    EXPECT_EQ(r[old_record::kProgram], 1);
    EXPECT_FLOAT_EQ(OldRecordPixelSize(r, old_record::kPixelSizeX), 0.08f);
    EXPECT_FLOAT_EQ(OldRecordPixelSize(r, old_record::kPixelSizeY), 0.08f);
}

TEST(OldHeaderLayouts, RefusedRecordsLeaveTheResultCleared) {
    std::uint8_t r[kOldRecordBytes];
    std::memset(r, 0xAB, sizeof r);
    const std::uint8_t shortRecord[2] = {0x09, 0x54};
    EXPECT_FALSE(ConvertOldHeaderRecord(shortRecord, 2, 1, 1, 1, nullptr, r));
    for (std::uint8_t b : r) ASSERT_EQ(b, 0);
    EXPECT_FALSE(ConvertOldHeaderRecord(nullptr, 356, 1, 1, 1, nullptr, r));
    EXPECT_FALSE(ConvertOldHeaderRecord(shortRecord, 1, 1, 1, 1, nullptr, r));
}

TEST(OldHeaderFields, PixelSizesThatAreNotSizesAreUnset) {
    std::uint8_t r[kOldRecordBytes] = {};
    const float values[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(), -0.05f, 0.0f};
    for (float v : values) {
        std::memcpy(r + old_record::kPixelSizeX, &v, 4);
        EXPECT_EQ(OldRecordPixelSize(r, old_record::kPixelSizeX), 0.0) << v;
    }
    const float good = 0.039f;
    std::memcpy(r + old_record::kPixelSizeX, &good, 4);
    EXPECT_FLOAT_EQ(static_cast<float>(OldRecordPixelSize(r, old_record::kPixelSizeX)), good);
}

TEST(OldHeaderFields, TextsStopAtTheirWidth) {
    const std::uint8_t full[8] = {'2', '0', '0', '3', '1', '2', '2', '5'};
    EXPECT_EQ(OldRecordText(full, 8), "20031225");  // no terminating zero needed
    const std::uint8_t shorter[8] = {'a', 'b', 0, 'c', 'd', 'e', 'f', 'g'};
    EXPECT_EQ(OldRecordText(shorter, 8), "ab");
}

TEST(OldHeaderFields, ToothFields) {
    // "36"; " 7" -> "7" (no FDI number: taken as the Universal 7, FDI 12); "0 " and "00"
    // empty; "48".
    const std::uint8_t fields[] = {'3', '6', ' ', '7', '0', ' ', '4', '8', '0', '0'};
    CAnatTeethList list;
    const int added = ReadOldToothFields(fields, 5, list, false);
    ASSERT_EQ(added, list.GetCount());
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetAt(0)->GetNumber(), "36");
    EXPECT_EQ(list.GetAt(1)->GetNumber(), "12");
    EXPECT_EQ(list.GetAt(2)->GetNumber(), "48");

    CAnatTeethList universal;
    const std::uint8_t u[] = {' ', '8', '3', '2', 0, '5'};
    ReadOldToothFields(u, 3, universal, true);
    ASSERT_EQ(universal.GetCount(), 2);
    EXPECT_EQ(universal.GetAt(0)->GetNumber(), "11");  // Universal 8 is FDI 11
    EXPECT_EQ(universal.GetAt(1)->GetNumber(), "48");  // Universal 32 is FDI 48
}

TEST(OldHeaderFields, SensorModelTexts) {
    EXPECT_STREQ(OldSensorModelText(0.05828, 0.04884, 0, 0), "ZEL 3");
    EXPECT_STREQ(OldSensorModelText(0.039, 0.0391, 0, 0), "ZEL 4");
    EXPECT_STREQ(OldSensorModelText(0.039, 0.039, 0, 1), "ZEL 5 HS");
    EXPECT_STREQ(OldSensorModelText(0.039, 0.039, 0, 0), "ZEL 4");
    EXPECT_STREQ(OldSensorModelText(0.0195, 0.0195, 0, 0), "ZEL 5 HR");
    EXPECT_STREQ(OldSensorModelText(0.03, 0.03, 1, 0), "ZEL 5 HR");
    EXPECT_STREQ(OldSensorModelText(0.019, 0.019, 0, 0), "ZEL 4");
}

TEST(OldHeaderFields, IntraoralPixelSizeFromTheImageSize) {
    double x = 1, y = 1;
    OldIntraoralPixelSize(480, 380, &x, &y);
    EXPECT_DOUBLE_EQ(x, 0.05828);
    EXPECT_DOUBLE_EQ(y, 0.04884);
    OldIntraoralPixelSize(1360, 1840, &x, &y);
    EXPECT_DOUBLE_EQ(x, 0.0195);
    OldIntraoralPixelSize(190, 240, &x, &y);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(y, 0.0);
}

TEST(OldHeaderFields, PanoramicPointsStopAtAZeroSecondValueOrAtTen) {
    std::uint8_t r[kOldRecordBytes] = {};
    for (int i = 0; i < 16; ++i) {  // more pairs than the field holds: the next fields follow
        r[old_record::kPoints + 4 * i] = static_cast<std::uint8_t>(i + 1);
        if (old_record::kPoints + 4 * i + 2 < 356) r[old_record::kPoints + 4 * i + 2] = 1;
    }
    std::uint32_t points[10];
    EXPECT_EQ(ReadOldPanoramicPoints(r, points), 10);
    EXPECT_EQ(points[9], 0x0001000Au);
    r[old_record::kPoints + 4 * 3 + 2] = 0;
    EXPECT_EQ(ReadOldPanoramicPoints(r, points), 3);
}

}  // namespace
