// Parsing hostile and unusual streams: item bounds, nesting, delimiters, measured pixel data,
// VRs without a class of their own, odd lengths, and the refusals of the meta group.
#include <gtest/gtest.h>

#include "common/test_util.h"
#include "dicom/dataset/binary.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dataset/text.h"
#include "dicom/file/datasetdump.h"
#include "dicomfile_util.h"

namespace quorin::test {
namespace {

constexpr const char* kExplicitLE = "1.2.840.10008.1.2.1";
constexpr const char* kImplicitLE = "1.2.840.10008.1.2";

// A sequence header (explicit VR) of the given length.
void PutSequence(std::vector<std::uint8_t>& out, std::uint16_t group, std::uint16_t element,
                 std::uint32_t length) {
    PutTag(out, group, element);
    PutText(out, std::string("SQ\0\0", 4));
    PutU32(out, length);
}

CElementSQ* SequenceAt(CInfosDicomList& list, std::uint16_t group, std::uint16_t element) {
    CInfosDicomNode* node = list.Find(group, element, 0);
    return node ? dynamic_cast<CElementSQ*>(node->m_pElement) : nullptr;
}

TEST(Parser, AnItemOfLengthZeroIsEmpty) {
    std::vector<std::uint8_t> body;
    PutSequence(body, 0x0008, 0x1140, 8);
    PutItem(body, 0);
    PutExplicit(body, 0x0010, 0x0020, "LO", "ID42");
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    ASSERT_EQ(parsed.result, 0);
    CElementSQ* sequence = SequenceAt(*parsed.list, 0x0008, 0x1140);
    ASSERT_NE(sequence, nullptr);
    ASSERT_EQ(sequence->m_items.size(), 1u);
    EXPECT_EQ(sequence->m_items[0]->m_nCount, 0);
    EXPECT_NE(parsed.list->Find(0x0010, 0x0020, 0), nullptr);  // not swallowed by the item
}

TEST(Parser, AnItemEndsWhereItsParentEnds) {
    std::vector<std::uint8_t> body;
    PutSequence(body, 0x0008, 0x1140, 8 + 14);
    PutItem(body, 200);  // says 200 bytes; the sequence holds 14
    PutExplicit(body, 0x0008, 0x1150, "UI", std::string("1.2.3\0", 6));
    PutExplicit(body, 0x0010, 0x0020, "LO", "ID42");
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    ASSERT_EQ(parsed.result, 0);
    CElementSQ* sequence = SequenceAt(*parsed.list, 0x0008, 0x1140);
    ASSERT_NE(sequence, nullptr);
    ASSERT_EQ(sequence->m_items.size(), 1u);
    EXPECT_EQ(sequence->m_items[0]->m_nCount, 1);
    EXPECT_NE(parsed.list->Find(0x0010, 0x0020, 0), nullptr);
}

TEST(Parser, AnUndefinedItemWithoutItsDelimiterIsMalformed) {
    std::vector<std::uint8_t> body;
    PutSequence(body, 0x0008, 0x1140, kUndefinedLength);
    PutItem(body, kUndefinedLength);
    PutExplicit(body, 0x0008, 0x1150, "UI", std::string("1.2.3\0", 6));
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    EXPECT_EQ(parsed.result, 13);
}

TEST(Parser, NestingIsCapped) {
    std::vector<std::uint8_t> body;
    for (int i = 0; i < 2000; ++i) {
        PutSequence(body, 0x0008, 0x1140, kUndefinedLength);
        PutItem(body, kUndefinedLength);
    }
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    EXPECT_EQ(parsed.result, 13);
}

TEST(Parser, DeepButBoundedNestingParses) {
    std::vector<std::uint8_t> body;
    const int depth = 10;
    for (int i = 0; i < depth; ++i) {
        PutSequence(body, 0x0008, 0x1140, kUndefinedLength);
        PutItem(body, kUndefinedLength);
    }
    PutExplicit(body, 0x0008, 0x0100, "SH", "T-54210 ");
    for (int i = 0; i < depth; ++i) {
        PutItemEnd(body);
        PutSequenceEnd(body);
    }
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    EXPECT_EQ(parsed.result, 0);
}

// Pixel data whose length runs past the end of the file.
std::vector<std::uint8_t> TruncatedPixels(const char* vr) {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0028, 0x0010, "US", std::string("\x10\0", 2));
    PutTag(body, 0x7FE0, 0x0010);
    body.insert(body.end(),
                {static_cast<std::uint8_t>(vr[0]), static_cast<std::uint8_t>(vr[1]), 0, 0});
    PutU32(body, 1000);
    body.insert(body.end(), 100, 0x55);
    return Part10(kExplicitLE, body);
}

TEST(Parser, MeasuringPixelDataPastTheEndOfTheFileIsMalformed) {
    for (int mode : {0, 2, 4}) {
        EXPECT_EQ(ParseBytes(TruncatedPixels("OB"), mode).result, 13) << "OB mode " << mode;
        EXPECT_EQ(ParseBytes(TruncatedPixels("OW"), mode).result, 13) << "OW mode " << mode;
    }
}

TEST(Parser, HeaderOnlyLeavesPixelDataMeasuredAndEmpty) {
    Parsed parsed = ParseFile(SourcePath("tests/data/dicom/sample.dcm"), 2);
    ASSERT_EQ(parsed.result, 0);
    CInfosDicomNode* node = parsed.list->Find(0x7FE0, 0x0010, 0);
    ASSERT_NE(node, nullptr);
    auto* pixels = dynamic_cast<CElementOW*>(node->m_pElement);
    ASSERT_NE(pixels, nullptr);
    EXPECT_FALSE(pixels->HasValue());
    EXPECT_EQ(pixels->m_nLength, 768u);
}

TEST(Parser, VrsWithoutAClassAreKeptAsOpaqueBytes) {
    for (const char* vr : {"OF", "OD", "OL", "OV", "SV", "UV", "UC", "UR", "UT"}) {
        std::vector<std::uint8_t> body;
        PutExplicit(body, 0x0011, 0x0010, "LO", "MAKER ");
        PutExplicit(body, 0x0011, 0x1001, vr, "12345678");
        PutExplicit(body, 0x0028, 0x0010, "US", std::string("\x10\0", 2));
        Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
        ASSERT_EQ(parsed.result, 0) << vr;
        CInfosDicomNode* node = parsed.list->Find(0x0011, 0x1001, 0);
        ASSERT_NE(node, nullptr) << vr;
        EXPECT_EQ(ElementValueBytes(*node->m_pElement).size(), 8u) << vr;
        EXPECT_NE(parsed.list->Find(0x0028, 0x0010, 0), nullptr) << vr;
        // Written back with its own letters and value.
        const auto bytes = WriteToBytes(*parsed.list);
        Parsed again = ParseBytes(bytes);
        ASSERT_EQ(again.result, 0) << vr;
        CInfosDicomNode* copy = again.list->Find(0x0011, 0x1001, 0);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(copy->m_pElement->m_szVR), vr);
    }
}

TEST(Parser, LettersThatAreNoVrAreMalformed) {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0060, "ZZ", "IO");
    EXPECT_EQ(ParseBytes(Part10(kExplicitLE, body)).result, 13);
}

TEST(Parser, AnOddLengthIsNotFollowedByAPadByte) {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0060, "CS", "IO ");
    PutExplicit(body, 0x0008, 0x0070, "LO", "Quorin");
    Parsed parsed = ParseBytes(Part10(kExplicitLE, body));
    ASSERT_EQ(parsed.result, 0);
    EXPECT_NE(parsed.list->Find(0x0008, 0x0070, 0), nullptr);
}

TEST(Parser, AnItemOutsideASequenceIsMalformed) {
    std::vector<std::uint8_t> body;
    PutItem(body, 0);
    EXPECT_EQ(ParseBytes(Part10(kExplicitLE, body)).result, 13);
}

TEST(Parser, TheMetaGroupDecidesWhatIsRead) {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0060, "CS", "IO");
    auto bytes = Part10(kExplicitLE, body);
    bytes[129] = 'X';
    EXPECT_EQ(ParseBytes(bytes).result, 2);
    EXPECT_EQ(ParseBytes(Part10("1.2.840.10008.1.2.5", body)).result, 7);  // RLE: not accepted
    std::vector<std::uint8_t> noSyntax(128, 0);
    PutText(noSyntax, "DICM");
    PutExplicit(noSyntax, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    noSyntax.insert(noSyntax.end(), body.begin(), body.end());
    EXPECT_EQ(ParseBytes(noSyntax).result, 12);
    EXPECT_EQ(ParseBytes(std::vector<std::uint8_t>(100, 0)).result, 13);  // shorter than a preamble
}

TEST(Parser, ImplicitVrTakesTheDictionarysVrsAndKeepsOtherMakersPrivateBytes) {
    std::vector<std::uint8_t> body;
    auto implicit = [&](std::uint16_t g, std::uint16_t e, const std::string& v) {
        PutTag(body, g, e);
        PutU32(body, static_cast<std::uint32_t>(v.size()));
        body.insert(body.end(), v.begin(), v.end());
    };
    implicit(0x0009, 0x0011, "OTHERMAKER  ");
    implicit(0x0009, 0x1101, "not a flag, bytes");  // (0009,cc01) is a CS in the maker's block
    implicit(0x0009, 0x1145, "ab");
    implicit(0x0028, 0x0010, std::string("\x10\0", 2));
    Parsed parsed = ParseBytes(Part10(kImplicitLE, body));
    ASSERT_EQ(parsed.result, 0);
    CInfosDicomNode* node = parsed.list->Find(0x0009, 0x1101, 0);
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->m_pElement->m_szVR, "UN");
    const auto value = ElementValueBytes(*node->m_pElement);
    EXPECT_EQ(std::string(value.begin(), value.begin() + 17), "not a flag, bytes");
    CInfosDicomNode* rows = parsed.list->Find(0x0028, 0x0010, 0);
    ASSERT_NE(rows, nullptr);
    EXPECT_STREQ(rows->m_pElement->m_szVR, "US");
}

TEST(Parser, GroupLengthsReadAsZero) {
    Parsed parsed = ParseFile(SourcePath("tests/data/dicom/sample.dcm"));
    ASSERT_EQ(parsed.result, 0);
    CInfosDicomNode* node = parsed.list->Find(0x0002, 0x0000, 0);
    ASSERT_NE(node, nullptr);
    const auto value = ElementValueBytes(*node->m_pElement);
    EXPECT_EQ(value, std::vector<std::uint8_t>(4, 0));
}

}  // namespace
}  // namespace quorin::test
