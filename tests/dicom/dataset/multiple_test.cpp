// Multiple-valued elements: splitting value fields, joining them back, binary numbers in both
// byte orders, and counts beyond 16 bits.
#include "dicom/dataset/multiple.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dicom/dataset/number.h"
#include "roundtrip.h"

using namespace quorin::test;

namespace {

template <class T>
T Split(const std::string& field, int type = 3) {
    T e(type, 0x0008, 0x0060, 0u, 0, 1);
    e.TakeValueBytes(reinterpret_cast<const std::uint8_t*>(field.data()),
                     std::uint32_t(field.size()));
    return e;
}

std::string WrittenValue(CElementDICOM& e) {
    const auto bytes = Written(e);
    return bytes.size() < 8 ? std::string("<none>") : std::string(bytes.begin() + 8, bytes.end());
}

}  // namespace

TEST(MultipleValues, TextFieldsSplitByTheirRules) {
    auto cs = Split<CElementCSMultiple>("ABC\\DEF ");
    EXPECT_EQ(cs.m_nCount, 2u);
    EXPECT_STREQ(cs.GetValue(1), "DEF");
    EXPECT_EQ(cs.m_nLength, 8u);
    EXPECT_EQ(cs.GetValue(2), nullptr);
    auto longCs = Split<CElementCSMultiple>("ABCDEFGHIJKLMNOPQ\\XY");
    EXPECT_EQ(longCs.m_nCount, 1u);
    EXPECT_STREQ(longCs.GetValue(0), "ABCDEFGHIJKLMNOP");
    // A value exactly at the limit does not end the field.
    auto exact = Split<CElementCSMultiple>("ABCDEFGHIJKLMNOP\\XY");
    EXPECT_EQ(exact.m_nCount, 2u);
    auto ds = Split<CElementDSMultiple>(" 1.5\\ 2.0");
    EXPECT_STREQ(ds.GetValue(0), "1.5");
    EXPECT_DOUBLE_EQ(ds.GetNumber(1), 2.0);
    auto slash = Split<CElementCSMultiple>("\\");
    EXPECT_EQ(slash.m_nCount, 2u);
    EXPECT_STREQ(slash.GetValue(0), "");
    auto ui = Split<CElementUIMultiple>(std::string("1.2.840.10008.1.2\0", 18));
    EXPECT_STREQ(ui.GetValue(0), "1.2.840.10008.1.2");
    auto dt = Split<CElementDTMultiple>("20240131120000-0500\\20240201");
    EXPECT_STREQ(dt.GetValue(0), "20240131120000-0500");  // the sign is kept
    EXPECT_EQ(dt.GetItem(1)->m_szDate, "20240201");
}

// Spaces after a value of full length, up to the backslash that ends it or the end of the
// field, pad it: they begin no value of their own (pydicom reads these fields with the same
// values), so the field is written back as it was. Any other byte after a full value still
// ends it and begins the next.
TEST(MultipleValues, SpacesAfterAFullValueAreItsPadding) {
    const std::string sh16 = "ABCDEFGHIJKLMNOP", lo64(64, 'X');
    auto sh = Split<CElementSHMultiple>("AB\\" + sh16 + " ");
    EXPECT_EQ(sh.m_nCount, 2u);
    EXPECT_EQ(sh.GetValue(1), sh16);
    EXPECT_EQ(WrittenValue(sh), "AB\\" + sh16 + " ");
    auto lo = Split<CElementLOMultiple>("AB\\" + lo64 + " ");
    EXPECT_EQ(lo.m_nCount, 2u);
    EXPECT_EQ(WrittenValue(lo), "AB\\" + lo64 + " ");
    EXPECT_EQ(Split<CElementSHMultiple>(sh16 + "   \\X").m_nCount, 2u);
    // A date-time of full length (29 characters) is held padded to even length.
    const std::string dt29 =
        "20240131"
        "120000.123456789"
        "+0100";
    auto dt = Split<CElementDTMultiple>(dt29 + " \\20240201");
    EXPECT_EQ(dt.m_nCount, 2u);
    EXPECT_EQ(WrittenValue(dt), dt29 + " \\20240201 ");
    EXPECT_EQ(Split<CElementSHMultiple>(sh16 + "Q\\AB").m_nCount, 3u);
    EXPECT_EQ(Split<CElementSHMultiple>(sh16 + "  Q").m_nCount, 2u);
}

TEST(MultipleValues, EmptyFieldsFollowRequiredness) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x0008, 0x0060, "CS", 0);
    EXPECT_EQ(ReadFirst<CElementCSMultiple>(b, 0x0008, 0x0060, 1).m_nStatus, 5);
    auto optional = ReadFirst<CElementCSMultiple>(b, 0x0008, 0x0060, 3);
    EXPECT_EQ(optional.m_nStatus, 0);
    EXPECT_EQ(optional.m_nCount, 0u);
    CElementCSMultiple unset(1, 0x0008, 0x0060, 1u, 0, 1);
    EXPECT_TRUE(Written(unset).empty());
}

TEST(MultipleValues, JoinedValuesArePaddedToEvenLength) {
    CElementCSMultiple cs(3, 0x0008, 0x0008, 2u, 0, 1);
    const char* ab[] = {"A", "BC"};
    cs.SetValue(ab);
    EXPECT_EQ(WrittenValue(cs), "A\\BC");
    const char* a_b[] = {"A", "B"};
    cs.SetValue(a_b);
    EXPECT_EQ(WrittenValue(cs), "A\\B ");
    CElementUIMultiple ui(3, 0x0008, 0x0018, 1u, 0, 1);
    const char* uid[] = {"1.2"};
    ui.SetValue(uid);
    EXPECT_EQ(WrittenValue(ui), std::string("1.2\0", 4));
    CElementUIMultiple two(3, 0x0008, 0x0018, 2u, 0, 1);
    const char* uids[] = {"1.2", "1.23"};
    two.SetValue(uids);
    EXPECT_EQ(WrittenValue(two), "1.2\\1.23");
}

TEST(MultipleValues, LongFieldsAreJoinedWhole) {
    std::string field;
    for (int i = 0; i < 200; ++i) field += std::to_string(100000 + i) + "\\";
    field.pop_back();  // 1,399 bytes: far beyond the old fixed buffers
    field.push_back(' ');
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE}) {
        Bytes b(s);
        b.element(0x0020, 0x0013, "IS", field);
        auto is = ReadFirst<CElementISMultiple>(b, 0x0020, 0x0013);
        EXPECT_EQ(is.m_nCount, 200u);
        EXPECT_EQ(Written(is), b.data);
    }
}

TEST(MultipleValues, CountsAboveSixteenBits) {
    std::vector<std::uint16_t> values(70000);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = std::uint16_t(i * 7);
    Bytes b(Syntax::ImplicitLE);
    b.header(0x0028, 0x3006, "US", std::uint32_t(values.size() * 2));
    for (auto v : values) b.u16(v);
    auto lut = ReadFirst<CElementUSMultiple>(b, 0x0028, 0x3006);
    EXPECT_EQ(lut.m_nCount, 70000u);
    EXPECT_EQ(lut.GetValue(69999), std::uint16_t(69999 * 7));
    EXPECT_EQ(Written(lut), b.data);

    std::string codes;
    for (int i = 0; i < 70000; ++i) codes += "A\\";
    codes += "B ";
    auto cs = Split<CElementCSMultiple>(codes);
    EXPECT_EQ(cs.m_nCount, 70001u);
    EXPECT_STREQ(cs.GetValue(70000), "B");
}

TEST(MultipleValues, BinaryNumbersInBothByteOrders) {
    Bytes le(Syntax::ExplicitLE), be(Syntax::ExplicitBE);
    le.header(0x0028, 0x0010, "US", 4).raw({1, 2, 3, 4});
    be.header(0x0028, 0x0010, "US", 4).raw({1, 2, 3, 4});
    auto l = ReadFirst<CElementUSMultiple>(le, 0x0028, 0x0010);
    auto b = ReadFirst<CElementUSMultiple>(be, 0x0028, 0x0010);
    EXPECT_EQ(l.GetValue(0), 0x0201);
    EXPECT_EQ(l.GetValue(1), 0x0403);
    EXPECT_EQ(b.GetValue(0), 0x0102);
    EXPECT_EQ(b.GetValue(1), 0x0304);
    EXPECT_EQ(Written(b), be.data);
    EXPECT_EQ(l.GetValue(2), 0);

    Bytes ss(Syntax::ExplicitBE);
    ss.header(0x0018, 0x9219, "SS", 2).raw({0xFF, 0xFE});
    EXPECT_EQ(std::int16_t(ReadFirst<CElementSSMultiple>(ss, 0x0018, 0x9219).GetValue(0)), -2);

    CElementFDMultiple fd(3, 0x0018, 0x9328, 0u, 0, 0);
    const double one = 1.0;
    fd.SetNumbers(&one, 1);
    const auto bytes = Written(fd);
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 8, bytes.end()),
              (std::vector<std::uint8_t>{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fd.GetValue(0), 1.0);  // unchanged after the big-endian write

    CElementSL sl(3, 0x0018, 0x6020);
    sl.SetNumber(-1);
    sl.SwapValue();
    sl.SwapValue();
    EXPECT_EQ(sl.GetNumber(), -1);

    Bytes fl(Syntax::ImplicitLE);
    fl.header(0x0072, 0x0076, "FL", 8).raw({0, 0, 0x80, 0x3F, 0, 0, 0, 0x40});
    auto floats = ReadFirst<CElementFLMultiple>(fl, 0x0072, 0x0076);
    EXPECT_EQ(floats.m_nCount, 2u);
    EXPECT_EQ(floats.GetValue(1), 2.0f);
}

TEST(MultipleValues, IncompleteChunksAreDroppedAndNotWritten) {
    Bytes b(Syntax::ExplicitBE);
    b.header(0x0028, 0x0010, "US", 5).raw({0, 1, 0, 2, 9});
    auto us = ReadFirst<CElementUSMultiple>(b, 0x0028, 0x0010);
    EXPECT_EQ(us.m_nCount, 2u);
    EXPECT_EQ(us.StreamSize(), 13u);
    Bytes expected(Syntax::ExplicitBE);
    expected.header(0x0028, 0x0010, "US", 4).raw({0, 1, 0, 2});
    EXPECT_EQ(Written(us), expected.data);
}

TEST(MultipleValues, TagValuesSwapForBigEndianOutput) {
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ExplicitBE, Syntax::ImplicitLE}) {
        Bytes b(s);
        b.header(0x0020, 0x9165, "AT", 8).u16(0x0028).u16(0x0009).u16(0x0018).u16(0x1063);
        auto at = ReadFirst<CElementATMultiple>(b, 0x0020, 0x9165);
        ASSERT_EQ(at.m_nCount, 2u);
        EXPECT_EQ(at.GetValue(0), (quorin::TagValue{0x0028, 0x0009}));
        EXPECT_EQ(at.GetValue(1), (quorin::TagValue{0x0018, 0x1063}));
        EXPECT_EQ(Written(at), b.data);
    }
}

TEST(MultipleValues, FieldsWithTooManyValuesAreRefusedBeforeAllocation) {
    const std::uint32_t bytes = (quorin::kMaxValues + 1) * 2;
    Bytes b(Syntax::ImplicitLE);
    b.header(0x0028, 0x3006, "US", bytes);
    b.data.resize(b.size() + bytes, 0);
    EXPECT_EQ(ReadFirst<CElementUSMultiple>(b, 0x0028, 0x3006).m_nStatus, 13);
    Bytes t(Syntax::ImplicitLE);
    t.element(0x0008, 0x0008, "CS", std::string(quorin::kMaxValues + 1, '\\'));
    auto cs = ReadFirst<CElementCSMultiple>(t, 0x0008, 0x0008);
    EXPECT_EQ(cs.m_nStatus, 13);
    EXPECT_EQ(cs.m_nCount, 0u);
}

TEST(MultipleValues, OldStyleDatesKeepAllTheirDigits) {
    auto da = Split<CElementDAMultiple>("1997.04.24\\2001.12.31");
    ASSERT_EQ(da.m_nCount, 2u);
    EXPECT_STREQ(da.GetValue(0), "19970424");
    EXPECT_STREQ(da.GetValue(1), "20011231");
    auto tm = Split<CElementTMMultiple>("14:04:38 ");
    EXPECT_STREQ(tm.GetValue(0), "140438");
}
