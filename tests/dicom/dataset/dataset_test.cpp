// Data sets: insertion order, lookup and marks, private creators, and streams with sequences
// parsed and written back in the three encodings, hostile ones refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dataset/text.h"
#include "dicom/dictionary/dictionary.h"
#include "roundtrip.h"

using namespace quorin::test;

namespace {

CElementLOMultiple Creator(std::uint16_t group, std::uint16_t element, const char* text) {
    CElementLOMultiple lo(3, group, element, 1u, 0, 1);
    const char* values[] = {text};
    lo.SetValue(values);
    return lo;
}

int Parse(CInfosDicomList& list, const std::vector<std::uint8_t>& bytes, int pixelMode = 0) {
    win::CMemFile f(bytes);
    return list.ReadFromStream(&f, 1, 0, 0, pixelMode, 0);
}

std::vector<std::uint8_t> WriteAll(CInfosDicomList& list) {
    win::CMemFile out;
    EXPECT_EQ(list.Write(&out, 1, nullptr, 0, nullptr), 1);
    return out.Data();
}

// A data set with a sequence of two items (one of defined, one of undefined length), a nested
// sequence, and pixel data.
Bytes Sample(Syntax s, bool undefinedSequence) {
    Bytes first(s);
    first.element(0x0008, 0x1150, "UI", std::string("1.2.840.10008.5.1.4.1.1.7") + '\0');
    first.element(0x0008, 0x1155, "UI", "1.2.3.4.5.67");
    Bytes inner(s);
    inner.element(0x0008, 0x0100, "SH", "T-1234");
    Bytes second(s);
    second.element(0x0008, 0x0104, "LO", "Tooth region");
    second.header(0x0008, 0x2228, "SQ", std::uint32_t(8 + inner.size()))
        .item(std::uint32_t(inner.size()))
        .raw(inner.data);
    Bytes b(s);
    b.element(0x0008, 0x0060, "CS", "IO");
    const std::uint32_t length = std::uint32_t(8 + first.size() + 8 + second.size() + 8);
    b.header(0x0008, 0x1140, "SQ", undefinedSequence ? 0xFFFFFFFF : length);
    b.item(std::uint32_t(first.size())).raw(first.data);
    b.item(0xFFFFFFFF).raw(second.data).itemEnd();
    if (undefinedSequence) b.sequenceEnd();
    b.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    b.header(0x0028, 0x0010, "US", 2).u16(512);
    b.header(0x7FE0, 0x0010, "OW", 8).u16(1).u16(2).u16(3).u16(4);
    return b;
}

}  // namespace

TEST(DataSet, InsertKeepsTagOrderAndReplacesEqualTags) {
    CInfosDicomList list;
    auto name = Creator(0x0010, 0x0010, "FIRST");
    list.Insert(&name);
    auto date = Creator(0x0008, 0x0020, "D");
    list.Insert(&date);
    auto again = Creator(0x0010, 0x0010, "SECOND");
    list.Insert(&again);
    ASSERT_EQ(list.m_nCount, 2);
    EXPECT_EQ(list.m_pFirst->m_pElement->m_nGroup, 0x0008);
    auto* kept = dynamic_cast<CElementLOMultiple*>(list.m_pLast->m_pElement);
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->GetValue(0), "SECOND");
    EXPECT_EQ(list.Find(0x0010, 0x0010, 0), list.m_pLast);
    EXPECT_EQ(list.Find(0x0009, 0x0010, 0), nullptr);
    EXPECT_FALSE(list.Insert(nullptr));
}

TEST(DataSet, InsertSetsTheListByteOrderExceptForTheMetaGroup) {
    CInfosDicomList list;
    list.m_nByteOrder = 0;
    CElementUSMultiple rows(3, 0x0028, 0x0010, 1u, 0, 1);
    CElementUIMultiple syntax(3, 0x0002, 0x0010, 1u, 0, 1);
    list.Insert(&rows);
    list.Insert(&syntax);
    EXPECT_EQ(list.Find(0x0028, 0x0010, 0)->m_pElement->m_nByteOrder, 0);
    EXPECT_EQ(list.Find(0x0002, 0x0010, 0)->m_pElement->m_nByteOrder, 1);
}

TEST(DataSet, PrivateCreators) {
    CInfosDicomList list;
    auto at10 = Creator(0x0009, 0x0010, "QUORIN");
    list.Insert(&at10);
    EXPECT_EQ(list.FindPrivateCreator(0x0009), 0);  // the walk starts at 0x11
    auto other1 = Creator(0x0009, 0x0011, "OTHER");
    auto other2 = Creator(0x0009, 0x0012, "QUORIN2");
    list.Insert(&other1);
    list.Insert(&other2);
    EXPECT_EQ(list.GetPrivateCreatorSlot(0x0009), 0x13);
    EXPECT_EQ(list.FindPrivateCreator(0x0009), 0);
    auto ours = Creator(0x0009, 0x0013, "QUORIN");
    list.Insert(&ours);
    EXPECT_EQ(list.FindPrivateCreator(0x0009), 0x13);
    EXPECT_EQ(list.GetPrivateCreatorSlot(0x0009), 0x13);
    EXPECT_EQ(list.GetPrivateCreatorSlot(0x0011), 0x11);
}

TEST(DataSet, RemoveFlaggedRemovesExactlyTheMarkedElements) {
    CInfosDicomList list;
    for (std::uint16_t e : {0x10, 0x20, 0x30}) {
        auto lo = Creator(0x0010, e, "X");
        list.Insert(&lo);
    }
    list.Find(0x0010, 0x30, 1);
    list.RemoveFlagged();
    EXPECT_EQ(list.m_nCount, 2);
    EXPECT_EQ(list.m_pLast->m_pElement->m_nElement, 0x20);
    EXPECT_EQ(list.Find(0x0010, 0x30, 0), nullptr);
}

TEST(DataSet, SequencesParseAndWriteBackByteExact) {
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
        for (bool undefined : {false, true}) {
            const auto bytes = Part10(s, Sample(s, undefined));
            CInfosDicomList list;
            ASSERT_EQ(Parse(list, bytes), 0) << int(s);
            auto* sq = dynamic_cast<CElementSQ*>(list.Find(0x0008, 0x1140, 0)->m_pElement);
            ASSERT_NE(sq, nullptr);
            ASSERT_EQ(sq->m_nItemCount, 2u);
            auto* nested =
                dynamic_cast<CElementSQ*>(sq->GetItem(1)->Find(0x0008, 0x2228, 0)->m_pElement);
            ASSERT_NE(nested, nullptr);
            auto* code =
                dynamic_cast<CElementSHMultiple*>(nested->GetItem(0)->m_pFirst->m_pElement);
            ASSERT_NE(code, nullptr);
            EXPECT_STREQ(code->GetValue(0), "T-1234");
            auto* ow = dynamic_cast<CElementOW*>(list.m_pLast->m_pElement);
            ASSERT_NE(ow, nullptr);
            EXPECT_EQ(ow->GetWord(3), 4);
            EXPECT_EQ(FirstDifference(WriteAll(list), bytes), "") << int(s) << undefined;
            // A copy of the data set writes the same; a second write too.
            CInfosDicomList copy(list);
            EXPECT_EQ(FirstDifference(WriteAll(copy), bytes), "");
            EXPECT_EQ(FirstDifference(WriteAll(list), bytes), "");
        }
    }
}

TEST(DataSet, ManyItemsAreAllKept) {
    Bytes b(Syntax::ExplicitLE);
    Bytes item(Syntax::ExplicitLE);
    item.element(0x0008, 0x0100, "SH", "CODE");
    b.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF);
    for (int i = 0; i < 150; ++i) b.item(std::uint32_t(item.size())).raw(item.data);
    b.sequenceEnd();
    const auto bytes = Part10(Syntax::ExplicitLE, b);
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, bytes), 0);
    auto* sq = dynamic_cast<CElementSQ*>(list.m_pLast->m_pElement);
    ASSERT_NE(sq, nullptr);
    EXPECT_EQ(sq->m_nItemCount, 150u);
    EXPECT_EQ(FirstDifference(WriteAll(list), bytes), "");
}

TEST(DataSet, UndefinedLengthUnknownElementsAreSequences) {
    // Explicit file: a private UN of undefined length, its items implicit VR little endian.
    Bytes items(Syntax::ImplicitLE);
    items.item(0xFFFFFFFF).element(0x0009, 0x1001, "LO", "PRIVATE ").itemEnd().sequenceEnd();
    Bytes b(Syntax::ExplicitBE);
    b.element(0x0009, 0x0010, "LO", "VENDOR");
    b.header(0x0009, 0x1020, "UN", 0xFFFFFFFF).raw(items.data);
    b.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    const auto bytes = Part10(Syntax::ExplicitBE, b);
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, bytes), 0);
    auto* sq = dynamic_cast<CElementSQ*>(list.Find(0x0009, 0x1020, 0)->m_pElement);
    ASSERT_NE(sq, nullptr);
    EXPECT_EQ(sq->m_nItemCount, 1u);
    EXPECT_EQ(FirstDifference(WriteAll(list), bytes), "");

    // Implicit file: an element the dictionary does not know, of undefined length.
    Bytes i(Syntax::ImplicitLE);
    i.header(0x0011, 0x1010, "UN", 0xFFFFFFFF).item(8).header(0x0011, 0x1011, "UN", 0);
    i.sequenceEnd().element(0x0020, 0x0013, "IS", "7 ");
    const auto implicitBytes = Part10(Syntax::ImplicitLE, i);
    CInfosDicomList implicitList;
    ASSERT_EQ(Parse(implicitList, implicitBytes), 0);
    EXPECT_EQ(FirstDifference(WriteAll(implicitList), implicitBytes), "");
}

TEST(DataSet, HostileStreamsGive13) {
    auto expect13 = [](const Bytes& b, const char* what) {
        CInfosDicomList list;
        EXPECT_EQ(Parse(list, Part10(b.syntax(), b)), 13) << what;
    };
    for (Syntax s : {Syntax::ExplicitLE, Syntax::ImplicitLE, Syntax::ExplicitBE}) {
        Bytes pastFile(s);
        pastFile.header(0x0010, 0x0010, "PN", 0x7FFFFFF0).text("DOE^");
        expect13(pastFile, "value past the end of the file");

        Bytes pastItem(s);
        pastItem.header(0x0008, 0x1140, "SQ", 24).item(16);
        pastItem.element(0x0008, 0x1150, "UI", "1.2.3.4.5.6.7.8.");  // 24 bytes in a 16-byte item
        pastItem.element(0x0010, 0x0010, "PN", "DOE^JOHN");
        expect13(pastItem, "element past its item");

        // An item said to run past its sequence ends with it (tests/dicom/file/parser_test.cpp).

        Bytes unclosed(s);
        unclosed.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
        unclosed.element(0x0008, 0x0100, "SH", "CODE");
        expect13(unclosed, "undefined item never closed");

        Bytes deep(s);
        for (int i = 0; i < 100; ++i)
            deep.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
        for (int i = 0; i < 100; ++i) deep.itemEnd().sequenceEnd();
        expect13(deep, "deep nesting");

        Bytes strayItem(s);
        strayItem.item(4).raw({1, 2, 3, 4});
        expect13(strayItem, "item outside a sequence");
    }
}

TEST(DataSet, DeepButReasonableNestingIsRead) {
    Bytes deep(Syntax::ExplicitLE);
    for (int i = 0; i < 20; ++i) deep.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
    for (int i = 0; i < 20; ++i) deep.itemEnd().sequenceEnd();
    const auto bytes = Part10(Syntax::ExplicitLE, deep);
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, bytes), 0);
    EXPECT_EQ(FirstDifference(WriteAll(list), bytes), "");
}

TEST(DataSet, PixelDataIsMeasuredWhenAsked) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(4).u32(0).item(4).raw({1, 2, 3, 4});
    b.sequenceEnd();
    b.element(0xFFFC, 0xFFFC, "OB", "pd");
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, Part10(Syntax::ExplicitLE, b), 2), 0);
    auto* ob = dynamic_cast<CElementOB*>(list.Find(0x7FE0, 0x0010, 0)->m_pElement);
    ASSERT_NE(ob, nullptr);
    EXPECT_FALSE(ob->HasValue());
    EXPECT_EQ(list.m_pLast->m_pElement->m_nGroup, 0xFFFC);
}

TEST(DataSet, PreambleSyntaxAndGroupLengths) {
    auto bytes = Part10(Syntax::ExplicitLE, Bytes().element(0x0008, 0x0060, "CS", "IO"));
    bytes[128] = 'X';
    CInfosDicomList noPrefix;
    EXPECT_EQ(Parse(noPrefix, bytes), 2);

    Bytes meta(Syntax::ExplicitLE);
    meta.data.assign(128, 0);
    meta.text("DICM").element(0x0002, 0x0002, "UI", "1.2.3.4.");
    meta.element(0x0008, 0x0060, "CS", "IO");
    CInfosDicomList noSyntax;
    EXPECT_EQ(Parse(noSyntax, meta.data), 12);

    Bytes g(Syntax::ExplicitLE);
    g.header(0x0008, 0x0000, "UL", 4).u32(1234).element(0x0008, 0x0060, "CS", "IO");
    CInfosDicomList lengths;
    ASSERT_EQ(Parse(lengths, Part10(Syntax::ExplicitLE, g)), 0);
    auto* ul = dynamic_cast<CElementULMultiple*>(lengths.Find(0x0008, 0x0000, 0)->m_pElement);
    ASSERT_NE(ul, nullptr);
    EXPECT_EQ(ul->GetValue(0), 0u);
}

TEST(DataSet, WriteLeavesOutExcludedTagsGroupsAndThePrivateMask) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x0009, 0x0000, "UL", 4).u32(30);
    b.element(0x0009, 0x0010, "LO", "QUORIN");
    b.element(0x0009, 0x1010, "LO", "PRIVATE ");
    b.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    b.header(0x7FE0, 0x0010, "OW", 2).u16(7);
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, Part10(Syntax::ExplicitLE, b)), 0);
    const quorin::TagValue pixels{0x7FE0, 0x0000}, absent{0x0018, 0x0015};
    const quorin::TagValue* exclusions[] = {&pixels, &absent};
    const quorin::TagValue mask{0x0009, 0x1000};
    win::CMemFile out;
    ASSERT_EQ(list.Write(&out, 0, exclusions, 2, &mask), 1);
    Bytes expected(Syntax::ExplicitLE);
    const auto full = Part10(Syntax::ExplicitLE, expected);
    const std::vector<std::uint8_t> meta(full.begin() + 132, full.end());
    expected.raw(meta).element(0x0009, 0x0010, "LO", "QUORIN");
    expected.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    EXPECT_EQ(FirstDifference(out.Data(), expected.data), "");
}

// The marks of a write outlive it; a lookup with flag 0 clears one, and the creator lookups
// are such lookups; nothing reaches into a sequence item.
TEST(DataSet, WriteMarksOutliveTheWriteAndOnlyLookupsClearThem) {
    Bytes item(Syntax::ExplicitLE);
    item.element(0x0009, 0x0011, "LO", "QUORIN").element(0x0009, 0x1101, "LO", "IN ITEM ");
    Bytes b(Syntax::ExplicitLE);
    b.element(0x0008, 0x0060, "CS", "IO");
    b.header(0x0008, 0x1140, "SQ", std::uint32_t(8 + item.size()));
    b.item(std::uint32_t(item.size())).raw(item.data);
    b.element(0x0009, 0x0011, "LO", "QUORIN");
    b.element(0x0009, 0x1101, "LO", "TOP ");
    b.element(0x0010, 0x0010, "PN", "DOE^JOHN");
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, Part10(Syntax::ExplicitLE, b)), 0);
    // The tags written outside the meta group, and how many elements the item kept.
    auto written = [&list](const quorin::TagValue* const* exclusions, int count,
                           const quorin::TagValue* mask) {
        win::CMemFile out;
        EXPECT_EQ(list.Write(&out, 1, exclusions, count, mask), 1);
        CInfosDicomList back;
        EXPECT_EQ(Parse(back, out.Data()), 0);
        std::string tags;
        for (const CInfosDicomNode* node = back.m_pFirst; node; node = node->m_pNext) {
            const CElementDICOM* e = node->m_pElement;
            if (e->m_nGroup == 0x0002) continue;
            char tag[16];
            std::snprintf(tag, sizeof tag, "%04X,%04X ", e->m_nGroup, e->m_nElement);
            tags += tag;
            if (auto* sq = dynamic_cast<const CElementSQ*>(e))
                tags += std::to_string(sq->m_items[0]->m_nCount) + " ";
        }
        return tags;
    };
    const quorin::TagValue creator{0x0009, 0x0011}, name{0x0010, 0x0010}, mask{0x0009, 0x1000};
    const quorin::TagValue* exclusions[] = {&creator, &name};
    EXPECT_EQ(written(exclusions, 2, &mask), "0008,0060 0008,1140 2 ");
    EXPECT_EQ(written(nullptr, 0, nullptr), "0008,0060 0008,1140 2 ");
    EXPECT_EQ(list.FindPrivateCreator(0x0009), 0x11);
    EXPECT_EQ(written(nullptr, 0, nullptr), "0008,0060 0008,1140 2 0009,0011 ");
    list.Find(0x0010, 0x0010, 0);
    EXPECT_EQ(written(nullptr, 0, nullptr), "0008,0060 0008,1140 2 0009,0011 0010,0010 ");
}

TEST(DataSet, PrivateUnElementsAreConvertedOnlyInTheMakersBlock) {
    for (const char* creator : {"QUORIN", "OTHER "}) {
        Bytes b(Syntax::ExplicitLE);
        b.element(0x0009, 0x0011, "LO", creator);
        b.element(0x0009, 0x1101, "UN", "ABCD");
        b.element(0x0009, 0x1145, "UN", "ABCD");
        CInfosDicomList list;
        ASSERT_EQ(Parse(list, Part10(Syntax::ExplicitLE, b)), 0);
        const bool ours = creator[0] == 'Q';
        char vr[3];
        DicomDictionaryLookup(0x0009, 0x1101, vr);
        ASSERT_FALSE(quorin::SameVr(vr, "UN"));
        for (std::uint16_t element : {0x1101, 0x1145}) {
            const CElementDICOM* e = list.Find(0x0009, element, 0)->m_pElement;
            EXPECT_EQ(dynamic_cast<const CElementUN*>(e) != nullptr, !ours) << creator;
        }
    }
}

TEST(DataSet, EncapsulatedPixelDataLabelledOwIsReadAsOb) {
    Bytes b(Syntax::ExplicitLE);
    b.header(0x7FE0, 0x0010, "OW", 0xFFFFFFFF).item(0).item(4).raw({1, 2, 3, 4}).sequenceEnd();
    CInfosDicomList list;
    ASSERT_EQ(Parse(list, Part10(Syntax::ExplicitLE, b)), 0);
    auto* ob = dynamic_cast<CElementOB*>(list.Find(0x7FE0, 0x0010, 0)->m_pElement);
    ASSERT_NE(ob, nullptr);
    EXPECT_EQ(ob->m_fragments, std::vector<std::uint32_t>{4});
}

TEST(DataSet, MetaGroupLengthCountsPadBytes) {
    CInfosDicomList list;
    CElementULMultiple length(3, 0x0002, 0x0000, 1u, 0, 1);
    list.Insert(&length);
    const std::uint8_t version[1] = {1};  // odd on purpose
    CElementOB ob(3, 0x0002, 0x0001, 1u, 0, 1);
    ob.SetBytes(version, 1);
    list.Insert(&ob);
    CElementAEMultiple title(3, 0x0002, 0x0016, 1u, 0, 1);
    const char* name[] = {"STATION"};
    title.SetValue(name);
    list.Insert(&title);
    CElementCSMultiple modality(3, 0x0008, 0x0060, 1u, 0, 1);
    const char* io[] = {"IO"};
    modality.SetValue(io);
    list.Insert(&modality);
    const auto bytes = WriteAll(list);
    std::uint32_t groupLength;
    std::memcpy(&groupLength, bytes.data() + 140, 4);
    const std::size_t metaEnd = bytes.size() - 10;  // (0008,0060) CS "IO" closes the stream
    EXPECT_EQ(groupLength, metaEnd - 144);
}
