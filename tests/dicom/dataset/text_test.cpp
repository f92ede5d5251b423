// Single-valued text elements: cleaning rules of SetValue, the stand-alone classes read from
// streams, UN.
#include "dicom/dataset/text.h"

#include <gtest/gtest.h>

#include "roundtrip.h"

using namespace quorin::test;

TEST(TextValues, SetValueCleansByTheRulesOfTheVr) {
    CElementCS cs(3, 0x0008, 0x0060);
    cs.SetText("abc-1_x");
    EXPECT_EQ(cs.Value(), "ABC 1_X");
    EXPECT_EQ(cs.m_nLength, 7u);
    CElementDS ds(3, 0x0028, 0x0030);
    ds.SetText(" 1,5");
    EXPECT_EQ(ds.Value(), "1.5");  // spaces around a number are not digits
    CElementIS is(3, 0x0020, 0x0013);
    is.SetText(" 12 ");
    EXPECT_EQ(is.Value(), "12");
    is.SetText("1x2");
    EXPECT_EQ(is.Value(), "102");
    CElementDA da(3, 0x0008, 0x0020);
    da.SetText("2024.01.31");
    EXPECT_EQ(da.Value(), "20240131");
    EXPECT_EQ(da.m_nLength, 8u);
    CElementTM tm(3, 0x0008, 0x0030);
    tm.SetText("12:30:45");
    EXPECT_EQ(tm.Value(), "123045");
    tm.SetText("12:30:4");
    EXPECT_EQ(tm.Value(), "12304 ");
    EXPECT_EQ(tm.m_nLength, 6u);
    CElementUI ui(3, 0x0008, 0x0018);
    ui.SetText("1.2,3");
    EXPECT_EQ(ui.Value(), "1.2.3");
    CElementAE ae(3, 0x0008, 0x0054);
    ae.SetText("ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(ae.m_nLength, 16u);
    CElementLO lo(3, 0x0010, 0x0020);
    lo.SetText("a\\b\nc\x1b");
    EXPECT_EQ(lo.Value(), "a b c\x1b");
}

TEST(TextValues, GetTextOfAnEmptyValueIsEmpty) {
    CElementSH sh(3, 0x0008, 0x0050);
    sh.SetText("");
    EXPECT_STREQ(sh.GetText(), "");
    sh.SetText("AB ");
    EXPECT_STREQ(sh.GetText(), "AB");
    EXPECT_EQ(sh.m_nLength, 3u);
}

TEST(TextValues, StandAloneClassesReadTheirValues) {
    Bytes as(Syntax::ExplicitLE);
    as.element(0x0010, 0x1010, "AS", " 12Y");
    auto age = ReadFirst<CElementAS>(as, 0x0010, 0x1010);
    EXPECT_EQ(age.Value(), "12Y");
    Bytes blank(Syntax::ExplicitLE);
    blank.element(0x0010, 0x1010, "AS", "    ");
    auto empty = ReadFirst<CElementAS>(blank, 0x0010, 0x1010);
    EXPECT_EQ(empty.m_nLength, 0u);
    EXPECT_EQ(empty.StreamSize(), 12u);  // the walk still steps over the four spaces

    Bytes none(Syntax::ImplicitLE);
    none.header(0x0010, 0x4000, "LT", 0);
    EXPECT_EQ(ReadFirst<CElementLT>(none, 0x0010, 0x4000, 1).m_nStatus, 5);
    EXPECT_EQ(ReadFirst<CElementLT>(none, 0x0010, 0x4000, 3).m_nStatus, 0);

    // An LT of 12,000 bytes keeps 10,240 and remembers the 12,000 of the stream.
    Bytes big(Syntax::ImplicitLE);
    big.element(0x0010, 0x4000, "LT", std::string(12000, 'x'));
    big.element(0x0010, 0x4000 + 1, "LT", "ab");
    auto lt = ReadFirst<CElementLT>(big, 0x0010, 0x4000);
    EXPECT_EQ(lt.m_nLength, 10240u);
    EXPECT_EQ(lt.StreamSize(), 12008u);
}

TEST(TextValues, StandAloneWritesPadOddValuesAndSkipUnsetOnes) {
    CElementLT lt(3, 0x0010, 0x4000, 0, 1);
    lt.SetText("odd");  // LT pads on set as ST does: never an odd length on file
    Bytes expected(Syntax::ExplicitLE);
    expected.element(0x0010, 0x4000, "LT", "odd ");
    EXPECT_EQ(Written(lt), expected.data);
    CElementAS as(1, 0x0010, 0x1010);
    EXPECT_TRUE(Written(as).empty());  // status 9 writes nothing
}

TEST(TextValues, UnKeepsItsBytesAndSwapsItsLength) {
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ExplicitBE, Syntax::ImplicitLE}) {
        Bytes b(s);
        b.header(0x0009, 0x1010, "UN", 3).raw({1, 2, 3});
        b.element(0x0009, 0x1011, "UN", "zz");
        auto un = ReadFirst<CElementUN>(b, 0x0009, 0x1010);
        ASSERT_EQ(un.m_nStatus, 0);
        EXPECT_EQ(un.m_nLength, 3u);
        EXPECT_EQ(un.StreamSize(), b.size() - (IsImplicit(s) ? 10 : 14));
        Bytes expected(s);
        expected.header(0x0009, 0x1010, "UN", 4).raw({1, 2, 3, 0});
        EXPECT_EQ(Written(un), expected.data);
    }
}
