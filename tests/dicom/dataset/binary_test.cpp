// OB and OW: plain values, odd lengths, encapsulated fragments, measuring, loading later.
#include "dicom/dataset/binary.h"

#include <gtest/gtest.h>

#include "roundtrip.h"

using namespace quorin::test;

namespace {
constexpr Syntax kAll[] = {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE};
}

TEST(BinaryValues, ObRoundTripsInEverySyntax) {
    for (Syntax s : kAll) {
        Bytes b(s);
        b.header(0x0042, 0x0011, "OB", 6).raw({1, 2, 3, 4, 5, 6});
        auto ob = ReadFirst<CElementOB>(b, 0x0042, 0x0011);
        ASSERT_EQ(ob.m_nStatus, 0);
        EXPECT_EQ(ob.m_nLength, 6u);
        EXPECT_EQ(ob.GetValue()[5], 6);
        EXPECT_EQ(Written(ob), b.data);
    }
}

TEST(BinaryValues, OddObTrustsItsLengthAndWritesAPadByte) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x0042, 0x0011, "OB", 5).raw({1, 2, 3, 4, 5});
    b.element(0x0008, 0x0060, "CS", "CT");  // follows at once: no pad byte in the stream
    auto ob = ReadFirst<CElementOB>(b, 0x0042, 0x0011);
    ASSERT_EQ(ob.m_nStatus, 0);
    EXPECT_EQ(ob.m_nLength, 5u);
    EXPECT_EQ(ob.StreamSize(), 17u);     // the stream walk advances by what was read
    EXPECT_EQ(ob.EncodedLength(), 18u);  // what is written: the pad byte included
    Bytes expected(Syntax::ExplicitLE);
    expected.header(0x0042, 0x0011, "OB", 6).raw({1, 2, 3, 4, 5, 0});
    EXPECT_EQ(Written(ob), expected.data);
}

TEST(BinaryValues, EncapsulatedFragmentsAndOffsetTableAreKept) {
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ExplicitBE}) {
        for (bool offsets : {false, true}) {
            Bytes b(s);
            b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
            if (offsets)
                b.item(12).u32(0).u32(108).u32(316);
            else
                b.item(0);
            b.item(100).raw(std::vector<std::uint8_t>(100, 1));
            b.item(200).raw(std::vector<std::uint8_t>(200, 2));
            b.item(300).raw(std::vector<std::uint8_t>(300, 3));
            b.sequenceEnd();
            auto ob = ReadFirst<CElementOB>(b, 0x7FE0, 0x0010);
            ASSERT_EQ(ob.m_nStatus, 0);
            EXPECT_EQ(ob.m_nLength, 600u);
            EXPECT_EQ(ob.m_nItemHeaderBytes, 40u);
            EXPECT_EQ(ob.m_fragments, (std::vector<std::uint32_t>{100, 200, 300}));
            EXPECT_EQ(ob.m_offsetTable.size(), offsets ? 12u : 0u);
            EXPECT_EQ(ob.StreamSize(), b.size());
            EXPECT_EQ(ob.GetValue()[100], 2);
            EXPECT_EQ(Written(ob), b.data);  // frame boundaries and offsets as read
        }
    }
}

TEST(BinaryValues, MalformedEncapsulationGives13) {
    Bytes bad(Syntax::ExplicitLE);
    bad.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(50).raw({1, 2});
    EXPECT_EQ(ReadFirst<CElementOB>(bad, 0x7FE0, 0x0010).m_nStatus, 13);
    Bytes noDelimiter(Syntax::ExplicitLE);
    noDelimiter.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(2).raw({1, 2});
    EXPECT_EQ(ReadFirst<CElementOB>(noDelimiter, 0x7FE0, 0x0010).m_nStatus, 13);
    Bytes wrongTag(Syntax::ExplicitLE);
    wrongTag.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).tag(0x0008, 0x0008).u32(0);
    EXPECT_EQ(ReadFirst<CElementOB>(wrongTag, 0x7FE0, 0x0010).m_nStatus, 13);
    Bytes owUndefined(Syntax::ExplicitLE);
    owUndefined.header(0x7FE0, 0x0010, "OW", 0xFFFFFFFF).item(0).sequenceEnd();
    EXPECT_EQ(ReadFirst<CElementOW>(owUndefined, 0x7FE0, 0x0010).m_nStatus, 13);
}

TEST(BinaryValues, EmptyRequiredValueGives5) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OW", 0);
    EXPECT_EQ(ReadFirst<CElementOW>(b, 0x7FE0, 0x0010, 1).m_nStatus, 5);
    EXPECT_EQ(ReadFirst<CElementOW>(b, 0x7FE0, 0x0010, 3).m_nStatus, 0);
    Bytes o(Syntax::ImplicitLE);
    o.header(0x0042, 0x0011, "OB", 0);
    EXPECT_EQ(ReadFirst<CElementOB>(o, 0x0042, 0x0011, 0).m_nStatus, 5);
}

TEST(BinaryValues, OwWordsAreInMachineOrderAndSwapBackOnWrite) {
    for (Syntax s : kAll) {
        Bytes b(s);
        b.header(0x0028, 0x1201, "OW", 4).u16(0x1234).u16(0xABCD);
        auto ow = ReadFirst<CElementOW>(b, 0x0028, 0x1201);
        ASSERT_EQ(ow.m_nStatus, 0);
        EXPECT_EQ(ow.GetWord(0), 0x1234);
        EXPECT_EQ(ow.GetWord(1), 0xABCD);
        EXPECT_EQ(Written(ow), b.data);
        EXPECT_EQ(Written(ow), b.data);  // a write leaves the element as it was
        EXPECT_EQ(ow.GetWord(1), 0xABCD);
    }
}

// An odd OW read from a big-endian stream (its last byte has no partner) is written padded to
// whole words, the last word big endian too, and reads back as it was held.
TEST(BinaryValues, OddOwWrittenBigEndianReadsBackTheSame) {
    Bytes b(Syntax::ExplicitBE);
    b.header(0x0028, 0x1201, "OW", 3).raw({0x12, 0x34, 0x56});
    auto ow = ReadFirst<CElementOW>(b, 0x0028, 0x1201);
    ASSERT_EQ(ow.m_nStatus, 0);
    EXPECT_EQ(ow.GetWord(0), 0x1234);
    Bytes expected(Syntax::ExplicitBE);
    expected.header(0x0028, 0x1201, "OW", 4).u16(0x1234).u16(0x0056);
    EXPECT_EQ(Written(ow), expected.data);
    auto back = ReadFirst<CElementOW>(expected, 0x0028, 0x1201);
    ASSERT_EQ(back.m_nStatus, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(back.GetValue(), back.GetValue() + 4),
              std::vector<std::uint8_t>(ow.GetValue(), ow.GetValue() + 4));
    EXPECT_EQ(Written(ow), expected.data);  // a write leaves the element as it was
}

TEST(BinaryValues, ImplicitObHasNoReservedBytes) {
    const std::uint8_t bytes[] = {9, 8, 7, 6};
    CElementOB ob(3, 0x0009, 0x1002, 4u, 1, 1);
    const std::uint8_t* p = bytes;
    ob.SetValue(&p);
    Bytes expected(Syntax::ImplicitLE);
    expected.header(0x0009, 0x1002, "OB", 4).raw({9, 8, 7, 6});
    EXPECT_EQ(Written(ob), expected.data);
}

TEST(BinaryValues, MeasureAtLeavesTheElementEmptyAndTheFileAfterIt) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(4).u32(0).item(3).raw({1, 2, 3});
    b.sequenceEnd();
    const std::size_t pixelEnd = b.size();
    b.element(0xFFFC, 0xFFFC, "OB", "pad!");
    win::CMemFile f(b.data);
    CElementOB ob(4, 0x7FE0, 0x0010, 0u, 0, 1);
    EXPECT_EQ(ob.MeasureAt(&f, 0), pixelEnd);
    EXPECT_EQ(f.GetPosition(), pixelEnd);
    EXPECT_FALSE(ob.HasValue());
    EXPECT_EQ(ob.m_nStatus, 0);

    Bytes w(Syntax::ImplicitLE);
    w.header(0x7FE0, 0x0010, "OW", 8).raw(std::vector<std::uint8_t>(8, 1));
    win::CMemFile g(w.data);
    CElementOW ow(4, 0x7FE0, 0x0010, 0u, 1, 1);
    EXPECT_EQ(ow.MeasureAt(&g, 0), 16u);
    EXPECT_EQ(g.GetPosition(), 16u);
    Bytes cut(Syntax::ImplicitLE);
    cut.header(0x7FE0, 0x0010, "OW", 800).raw(std::vector<std::uint8_t>(8, 1));
    win::CMemFile h(cut.data);
    EXPECT_EQ(ow.MeasureAt(&h, 0), 0u);
    EXPECT_EQ(ow.m_nStatus, 13);
}

namespace {
// A memory file whose seeks to `failFrom` or beyond fail, as on a device error.
class SeekFailsFrom : public win::CMemFile {
  public:
    SeekFailsFrom(const std::vector<std::uint8_t>& bytes, std::uint64_t failFrom)
        : win::CMemFile(bytes), m_failFrom(failFrom) {}
    std::int64_t Seek(std::int64_t offset, SeekPosition from) override {
        if (from == begin && static_cast<std::uint64_t>(offset) >= m_failFrom) return -1;
        return win::CMemFile::Seek(offset, from);
    }

  private:
    std::uint64_t m_failFrom;
};
}  // namespace

TEST(BinaryValues, FragmentWalksRefuseAFailedSkip) {
    // The one fragment holds the bytes of a delimiter: a walk that went on after a failed skip
    // would read them as the end of the value.
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(8).sequenceEnd().sequenceEnd();
    const std::uint64_t afterFragment = 12 + 8 + 8 + 8;
    for (const std::uint64_t failFrom : {std::uint64_t{b.size()} + 1, afterFragment}) {
        const std::uint64_t expected = failFrom == afterFragment ? 0 : b.size();
        SeekFailsFrom f(b.data, failFrom);
        CElementOB ob(4, 0x7FE0, 0x0010, 0u, 0, 1);
        EXPECT_EQ(ob.MeasureAt(&f, 0), expected);
        SeekFailsFrom g(b.data, failFrom);
        g.Seek(6, win::CFile::begin);
        CElementOB probe;
        EXPECT_EQ(probe.ReadLength("OB", &g, 0, 1), expected);
    }
}

TEST(BinaryValues, LoadFromFileChecksTheBytesAreThere) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x0042, 0x0011, "OB", 4).raw({1, 2, 3, 4});
    win::CMemFile f(b.data);
    CElementOB later(3, 0x0042, 0x0011, 0u, 0, 1);
    later.m_nLength = 4;
    later.m_nValuePosition = 12;
    later.m_nStatus = 0;
    later.LoadFromFile(&f);
    ASSERT_TRUE(later.HasValue());
    EXPECT_EQ(later.m_nValuePosition, 0u);
    EXPECT_EQ(later.GetValue()[3], 4);
    CElementOB beyond(3, 0x0042, 0x0011, 0u, 0, 1);
    beyond.m_nLength = 0xFFFFFFF0u;
    beyond.m_nValuePosition = 12;
    beyond.LoadFromFile(&f);
    EXPECT_EQ(beyond.m_nStatus, 13);
    EXPECT_FALSE(beyond.HasValue());
}
