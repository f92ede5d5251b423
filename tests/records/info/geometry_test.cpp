// Orientation, corners, filter, pixel size, panoramic and cephalometric records and the colour
// settings: their rules and their exchange with the SDK image record.
#include "records/info/geometry.h"

#include <gtest/gtest.h>
#include <quorin/geometry.h>

#include <memory>
#include <string>

#include "platform/core/globalmem.h"

namespace {

std::vector<std::int32_t> Corners(const CInfosCorners& c) {
    std::int32_t out[8];
    c.ToSOMU(out);
    return std::vector<std::int32_t>(out, out + 8);
}

}  // namespace

TEST(Orientation, RotationAndRoundTrip) {
    CInfosOrient orient;
    EXPECT_TRUE(orient.Rotate(270));
    EXPECT_TRUE(orient.Rotate(180));
    EXPECT_EQ(orient.GetRotation(), 90);
    CInfosOrient other;
    EXPECT_FALSE(other.Rotate(45));
    EXPECT_EQ(other.GetRotation(), 0);

    orient.SetMirror(1);
    orient.SetFlip(1);
    orient.SetValue(-9);
    SOMUOrientation block{};
    orient.ToSOMU(block);
    CInfosOrient back;
    back.FromSOMU(block);
    EXPECT_EQ(back.GetMirror(), 1);
    EXPECT_EQ(back.GetFlip(), 1);
    EXPECT_EQ(back.GetValue(), -9);
    EXPECT_EQ(back.GetRotation(), 90);
    EXPECT_EQ(back.GetSetFlag(2), 1);
}

TEST(Corners, MaskFollowsTheValues) {
    CInfosCorners c;
    const std::int32_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    c.SetCorners(values);
    EXPECT_EQ(c.GetMask(), 15);
    c.SetCorner2(0, 0);
    EXPECT_EQ(c.GetMask(), 8 | 2 | 1);

    std::int32_t record[8] = {};
    c.SetCorners(values);
    c.ToSOMU(record);
    CInfosCorners back;
    back.FromSOMU(record);
    EXPECT_EQ(Corners(back), std::vector<std::int32_t>(values, values + 8));
    EXPECT_EQ(back.GetMask(), 15);
}

TEST(Corners, TurnsMirrorsAndFlips) {
    CInfosCorners c;
    const std::int32_t values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    c.SetCorners(values);
    CInfosCorners r90 = c;
    r90.Rotate(90);
    EXPECT_EQ(Corners(r90), (std::vector<std::int32_t>{6, 5, 2, 1, 8, 7, 4, 3}));
    CInfosCorners r180 = c;
    r180.Rotate(180);
    EXPECT_EQ(Corners(r180), (std::vector<std::int32_t>{7, 8, 5, 6, 3, 4, 1, 2}));
    CInfosCorners r270 = c;
    r270.Rotate(270);
    EXPECT_EQ(Corners(r270), (std::vector<std::int32_t>{4, 3, 8, 7, 2, 1, 6, 5}));
    CInfosCorners same = c;
    same.Rotate(45);
    EXPECT_EQ(Corners(same), Corners(c));
    CInfosCorners mirrored = c;
    mirrored.Mirror();
    EXPECT_EQ(Corners(mirrored), (std::vector<std::int32_t>{3, 4, 1, 2, 7, 8, 5, 6}));
    CInfosCorners flipped = c;
    flipped.Flip();
    EXPECT_EQ(Corners(flipped), (std::vector<std::int32_t>{5, 6, 7, 8, 1, 2, 3, 4}));
    // A zero corner moves its cleared bit with it.
    c.SetCorner1(0, 0);
    c.Mirror();
    EXPECT_EQ(c.GetMask(), 8 | 2 | 1);
}

TEST(Filter, ProcessedCopiesKeepNoFilter) {
    CInfosFilter filter;
    filter.SetFilter(3, 7);
    std::int32_t f = 0, p = 0;
    EXPECT_EQ(filter.GetFilter(&f, &p), 3);
    EXPECT_EQ(p, 7);
    filter.SetProcessed(1);
    filter.SetFilter(3, 7);
    EXPECT_EQ(filter.GetFilter(&f, &p), 0);
    EXPECT_EQ(p, 0);
    CInfosFilter zero;
    zero.SetFilter(0, 9);
    zero.GetFilter(&f, &p);
    EXPECT_EQ(p, 0);  // no parameter without a filter
    CInfosFilter copy(filter);
    EXPECT_EQ(copy.GetProcessed(), 1);
}

TEST(PixelSize, SetOnlyWhenBothAreReal) {
    CPixelSize size;
    EXPECT_FALSE(size.IsSet());
    size.Set(0.0000005, 0.019);
    EXPECT_FALSE(size.IsSet());
    const double values[2] = {0.02, 0.025};
    EXPECT_TRUE(size.SetFromArray(values, 2));
    EXPECT_TRUE(size.IsSet());
    EXPECT_FALSE(size.SetFromArray(values, 1));
    EXPECT_EQ(size.GetY(), 0.025);
    CPixelSizeZel zel;
    EXPECT_FALSE(zel.IsSet());
}

TEST(Panoramic, PointsAndRoundTrip) {
    const auto live = win::globalmem_testing::LiveBlocks();
    {
        CInfosPano pano;
        const std::uint32_t points[3] = {0x00010002, 0xFFFF0000, 42};
        EXPECT_TRUE(pano.SetPoints(3, points));
        EXPECT_FALSE(pano.SetPoints(0, points));
        EXPECT_FALSE(pano.SetPoints(2, nullptr));
        EXPECT_EQ(pano.GetPointCount(), 3);
        pano.SetProgram(17);
        std::string text;
        pano.GetProgramText(text);
        EXPECT_EQ(text, "P17");
        char buffer[3];
        pano.GetProgramText(buffer, sizeof buffer);
        EXPECT_STREQ(buffer, "P1");

        std::uint32_t* copy = nullptr;
        EXPECT_EQ(pano.GetPoints(&copy), 3);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy[1], 0xFFFF0000u);
        FreeGlobalPointer(copy);

        SOMUPano block{};
        ASSERT_TRUE(pano.ToSOMU(block));
        ASSERT_TRUE(pano.ToSOMU(block));  // the record's older table is freed
        CInfosPano back;
        back.FromSOMU(block);
        EXPECT_EQ(back.GetProgram(), 17);
        EXPECT_EQ(back.Points(), pano.Points());

        // A count without a table, or above what the table holds, is no table.
        SOMUPano broken = block;
        broken.pPoints = nullptr;
        back.FromSOMU(broken);
        EXPECT_EQ(back.GetPointCount(), 0);
        broken = block;
        broken.nPointCount = 60000;
        back.FromSOMU(broken);
        EXPECT_EQ(back.GetPointCount(), 0);
        FreeGlobalPointer(block.pPoints);
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(Cephalometric, ValuesTextsAndRoundTrip) {
    CInfosCeph ceph;
    EXPECT_EQ(ceph.GetByte2(), 1);
    double values[12];
    for (int i = 0; i < 12; ++i) values[i] = i + 0.5;
    ceph.SetValues1(values, 12);
    EXPECT_EQ(ceph.GetValues1()[7], 7.5);
    ceph.SetValues2(values, 3);
    EXPECT_EQ(ceph.GetValues2()[2], 2.5);
    EXPECT_EQ(ceph.GetValues2()[3], 0.0);
    ceph.SetProgram(4);
    ceph.SetAngle(35);
    std::string text;
    ceph.GetProgramText(text);
    EXPECT_EQ(text, "P4");
    ceph.GetAngleText(text);
    EXPECT_EQ(text, "35\xB0");

    for (int mode : {0, 1, 2}) {
        CInfosCeph source = ceph;
        source.SetFlag(0, mode == 1);
        source.SetFlag(1, mode == 2);
        source.SetFlag(2, 1);
        source.SetValue1(11);
        source.SetValue2(22);
        source.SetValue3(33);
        source.SetByte(5);
        source.SetByte2(0);
        SOMUCeph block{};
        source.ToSOMU(block);
        EXPECT_EQ(block.nMode, mode);
        CInfosCeph back;
        back.FromSOMU(block);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(back.GetValues1()[i], source.GetValues1()[i]);
            EXPECT_EQ(back.GetValues2()[i], source.GetValues2()[i]);
        }
        for (int i = 0; i < 3; ++i) EXPECT_EQ(back.GetFlag(i), source.GetFlag(i)) << mode;
        EXPECT_EQ(back.GetProgram(), 4);
        EXPECT_EQ(back.GetAngle(), 35);
        EXPECT_EQ(back.GetValue1(), 11);
        EXPECT_EQ(back.GetValue2(), 22);
        EXPECT_EQ(back.GetValue3(), 33);
        EXPECT_EQ(back.GetByte(), 5);
        EXPECT_EQ(back.GetByte2(), 0);
    }
}

TEST(ColorSettings, CompareAndRoundTrip) {
    SImageSettingsSC settings(1, -2, 3, -4, 5, 1, 0);
    EXPECT_EQ(settings.bSet, 1);
    SImageSettingsSC copy(settings);
    EXPECT_EQ(copy.bSet, 1);
    EXPECT_TRUE(copy == settings);
    copy.bSet = 0;
    EXPECT_TRUE(copy == settings);  // the set-mark does not count
    copy.bFlag2 = 1;
    EXPECT_FALSE(copy == settings);
    SOMUColorSettings block{};
    settings.ToSOMU(block);
    SImageSettingsSC back;
    back.FromSOMU(block);
    EXPECT_TRUE(back == settings);

    CInfosDisplay display;
    display.SetColorLUT(3);
    CInfosDisplay other(display);
    EXPECT_EQ(other.GetColorLUT(), 3);
    CValuePair pair{4, 5};
    pair.Clear();
    EXPECT_EQ(pair.nFirst + pair.nSecond, 0);
}
