// The element base: status of new elements, measuring elements in a stream, finding them,
// and refusing hostile lengths.
#include <gtest/gtest.h>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/sequence.h"
#include "dicom_bytes.h"

using namespace quorin::test;

namespace {

// Measures the element at offset 0 of `b` as a search would: tag and VR read first.
std::uint64_t Measure(const Bytes& b, const char* vr, CElementDICOM& probe) {
    win::CMemFile f(b.data);
    const bool implicit = IsImplicit(b.syntax());
    f.Seek(implicit ? 4 : 6, win::CFile::begin);
    return probe.ReadLength(vr, &f, implicit, IsBig(b.syntax()) ? 0 : 1);
}

}  // namespace

TEST(ElementBase, StatusOfNewElementsFollowsRequiredness) {
    for (int type = 0; type <= 4; ++type) {
        CElementCSMultiple cs(type, 0x0008, 0x0060, 1u, 0, 1);
        EXPECT_EQ(cs.m_nStatus, type <= 1 ? 9 : 0) << type;
    }
    CElementOB ob;
    EXPECT_EQ(ob.m_nStatus, 9);
    EXPECT_EQ(ob.m_nType, 4);
    EXPECT_EQ(ob.m_nByteOrder, 1);
}

TEST(ElementBase, ReadLengthOfEveryLengthForm) {
    CElementOB probe;
    Bytes ob(Syntax::ExplicitLE);
    ob.header(0x0009, 0x1010, "OB", 10).raw(std::vector<std::uint8_t>(10, 1));
    EXPECT_EQ(Measure(ob, "OB", probe), 22u);
    Bytes obImplicit(Syntax::ImplicitLE);
    obImplicit.header(0x0009, 0x1010, "OB", 10).raw(std::vector<std::uint8_t>(10, 1));
    EXPECT_EQ(Measure(obImplicit, "OB", probe), 18u);

    Bytes sq(Syntax::ExplicitLE);
    sq.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0).sequenceEnd();
    win::CMemFile f(sq.data);
    f.Seek(6, win::CFile::begin);
    EXPECT_EQ(probe.ReadLength("SQ", &f, 0, 1), 20u);
    EXPECT_EQ(f.GetPosition(), 12u);

    // UT and the other 32-bit-length VRs are not taken for 16-bit ones.
    for (const char* vr : {"UT", "UC", "UR", "OD", "OL", "OV", "SV", "UV"}) {
        Bytes b(Syntax::ExplicitBE);
        b.header(0x0040, 0xA160, vr, 0x10000).raw(std::vector<std::uint8_t>(0x10000, 'x'));
        EXPECT_EQ(Measure(b, vr, probe), 0x10000u + 12) << vr;
    }
}

TEST(ElementBase, EncapsulatedPixelDataWithOffsetTableIsMeasured) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(8).u32(0).u32(100);
    b.item(4).u32(7).item(6).text("abcdef").sequenceEnd();
    CElementOB probe;
    EXPECT_EQ(Measure(b, "OB", probe), b.size());
    EXPECT_NE(probe.m_nStatus, 13);
}

TEST(ElementBase, FindInStreamStepsIntoSequences) {
    Bytes b(Syntax::ExplicitLE);
    b.element(0x0008, 0x0020, "DA", "20240131");
    Bytes itemContent(Syntax::ExplicitLE);
    itemContent.element(0x0008, 0x1150, "UI", "1.2.3.4.");
    b.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(std::uint32_t(itemContent.size()));
    const std::size_t nested = b.size();
    b.raw(itemContent.data).sequenceEnd();
    b.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    win::CMemFile f(b.data);
    CElementUIMultiple probe(3, 0x0008, 0x1150, 0u, 0, 1);
    // Offset 0 means "not found": search from 0 but expect the nested position.
    EXPECT_EQ(probe.FindInStream(0, &f), nested);
    CElementPNMultiple pn(3, 0x0010, 0x0010, &f, 0, 1, 0);
    EXPECT_EQ(pn.m_nStatus, 0);
    EXPECT_STREQ(pn.GetItem(0)->m_szFamily.c_str(), "DOE");
}

TEST(ElementBase, MetaGroupIsNeverSwappedAndEndsTheMetaSearch) {
    const auto bytes = Part10(Syntax::ExplicitBE, Bytes(Syntax::ExplicitBE)
                                                      .element(0x0008, 0x0060, "CS", "CR")
                                                      .element(0x0010, 0x0020, "LO", "ID"));
    win::CMemFile f(bytes);
    CElementUIMultiple syntax(0, 0x0002, 0x0010, &f, 0, 0, 132);
    EXPECT_EQ(syntax.m_nStatus, 0);
    EXPECT_STREQ(syntax.GetValue(0), "1.2.840.10008.1.2.2");
    CElementUIMultiple absent(0, 0x0002, 0x0013, &f, 0, 0, 132);
    EXPECT_EQ(absent.m_nStatus, 3);  // the search stopped at (0008,0060)
    CElementLOMultiple id(3, 0x0010, 0x0020, &f, 0, 0, 132);
    EXPECT_EQ(id.m_nStatus, 0);
    EXPECT_STREQ(id.GetValue(0), "ID");
}

TEST(ElementBase, ElementInTheLastSixBytesIsNotFound) {
    Bytes b(Syntax::ImplicitLE);
    b.element(0x0008, 0x0020, "DA", "20240131").header(0x0028, 0x0010, "US", 0);
    b.data.resize(b.size() - 2);  // six bytes of the last header remain
    win::CMemFile f(b.data);
    CElementUSMultiple rows(3, 0x0028, 0x0010, 0u, 1, 1);
    EXPECT_EQ(rows.FindInStream(0, &f), 0u);
}

TEST(ElementBase, HostileLengthsGiveStatus13) {
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
        // A value that ends past the end of the file.
        Bytes b(s);
        b.header(0x0010, 0x0010, "PN", 200).text("DOE");
        win::CMemFile f(b.data);
        CElementPNMultiple pn(3, 0x0010, 0x0010, 0u, IsImplicit(s), IsBig(s) ? 0 : 1);
        pn.ReadAt(&f, 0);
        EXPECT_EQ(pn.m_nStatus, 13);
        // A 0xFFFFFFFF length on a text VR: neither a 4 GiB read nor a wrap.
        Bytes u(s);
        u.header(0x0009, 0x1010, "OB", 0xFFFFFFFE).text("xy");
        win::CMemFile g(u.data);
        CElementOB ob(3, 0x0009, 0x1010, 0u, IsImplicit(s), IsBig(s) ? 0 : 1);
        ob.ReadAt(&g, 0);
        EXPECT_EQ(ob.m_nStatus, 13);
        EXPECT_FALSE(ob.HasValue());
        // A value that fits the file but not its enclosing item.
        Bytes c(s);
        c.element(0x0008, 0x0060, "CS", "ABCDEF");
        win::CMemFile h(c.data);
        CElementCSMultiple cs(3, 0x0008, 0x0060, 0u, IsImplicit(s), IsBig(s) ? 0 : 1);
        cs.ReadAt(&h, 0, c.size() - 1);
        EXPECT_EQ(cs.m_nStatus, 13);
        cs.ReadAt(&h, 0, c.size());
        EXPECT_EQ(cs.m_nStatus, 0);
    }
}

TEST(ElementBase, WriteFailureGivesStatus14AndTheElementStaysUsable) {
    CElementLOMultiple lo(3, 0x0010, 0x0020, 1u, 0, 1);
    const char* values[] = {"PATIENT-ID"};
    lo.SetValue(values);
    win::CMemFile f;
    f.SetWriteLimit(5);
    lo.Write(&f);
    EXPECT_EQ(lo.m_nStatus, 14);
    EXPECT_STREQ(lo.GetValue(0), "PATIENT-ID");
}
