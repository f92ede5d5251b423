// Tag dictionary: the rules for unregistered tags, repeating tags, the ambiguous VRs, and a
// cross-check of every entry against pydicom's independent copy of the registry.
#include "dicom/dictionary/dictionary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "dicom/dictionary/dictionary_table.inc"

namespace {

std::string Vr(std::uint16_t group, std::uint16_t element) {
    char vr[3] = {'?', '?', '?'};
    DicomDictionaryLookup(group, element, vr);
    return std::string(vr, strnlen(vr, sizeof vr));
}

std::string Keyword(std::uint16_t group, std::uint16_t element) {
    const char* keyword = DicomDictionaryKeyword(group, element);
    return keyword ? keyword : "(null)";
}

TEST(DicomDictionary, UnregisteredTagsFollowTheRules) {
    EXPECT_EQ(Vr(0x0011, 0x0000), "UL");  // private group length
    EXPECT_EQ(Vr(0x0018, 0x0000), "UL");  // standard group length, no longer registered
    EXPECT_EQ(Vr(0x0029, 0x0010), "LO");  // private creators
    EXPECT_EQ(Vr(0x0029, 0x00FF), "LO");
    EXPECT_EQ(Vr(0x0029, 0x0005), "LO");  // below 0010 still counts: "element below 0100"
    EXPECT_EQ(Vr(0x0029, 0x0100), "UN");
    EXPECT_EQ(Vr(0x0029, 0x1010), "UN");
    EXPECT_EQ(Vr(0x0018, 0x0001), "UN");  // even group, unregistered element
    EXPECT_EQ(Vr(0xFFFE, 0xE00D), "DL");
    EXPECT_EQ(Vr(0xFFFE, 0xE0DD), "DL");
    EXPECT_EQ(Vr(0xFFFE, 0xE000), "UN");  // the item has no VR; never a delimiter
    EXPECT_EQ(Keyword(0x0029, 0x0010), "(null)");
    DicomDictionaryLookup(0x0010, 0x0010, nullptr);  // a null output is ignored
}

TEST(DicomDictionary, AmbiguousVrsResolve) {
    EXPECT_EQ(Vr(0x7FE0, 0x0010), "OW");  // OB or OW
    EXPECT_EQ(Vr(0x5400, 0x1010), "OW");  // waveform data, OB or OW
    EXPECT_EQ(Vr(0x0028, 0x0106), "US");  // US or SS
    EXPECT_EQ(Vr(0x0028, 0x1101), "US");  // palette descriptor, US or SS
    EXPECT_EQ(Vr(0x0028, 0x3006), "US");  // LUT data, US or OW
    EXPECT_EQ(Vr(0x0028, 0x1200), "US");  // grey LUT data, US or SS or OW
    EXPECT_EQ(Vr(0x0004, 0x1200), "UL");  // directory offsets
}

TEST(DicomDictionary, RepeatingTagsCoverTheirRanges) {
    for (std::uint32_t group = 0x6000; group <= 0x60FE; group += 2) {
        EXPECT_EQ(Vr(group, 0x3000), "OW");
        EXPECT_EQ(Vr(group, 0x0010), "US");
        EXPECT_EQ(Keyword(group, 0x3000), "OverlayData");
    }
    EXPECT_EQ(Vr(0x6001, 0x3000), "UN");  // odd groups are private, not overlays
    EXPECT_EQ(Vr(0x6001, 0x0010), "LO");
    EXPECT_EQ(Vr(0x501E, 0x3000), "OW");  // curve data
    EXPECT_EQ(Vr(0x7F10, 0x0010), "OW");  // variable pixel data
    EXPECT_EQ(Vr(0x7F10, 0x0011), "US");
    for (std::uint32_t element = 0x3100; element <= 0x31FF; ++element) {
        EXPECT_EQ(Vr(0x0020, element), "CS");
    }
    EXPECT_EQ(Vr(0x0028, 0x0400), "LO");  // Transform Label wins over (0028,04x0)
    EXPECT_EQ(Vr(0x0028, 0x04F0), "US");
    EXPECT_EQ(Vr(0x0028, 0x04F3), "AT");
    EXPECT_EQ(Vr(0x0028, 0x08F8), "AT");
    EXPECT_EQ(Vr(0x1000, 0x1233), "US");
    EXPECT_EQ(Vr(0x1010, 0x4321), "US");
    EXPECT_EQ(Vr(0x1000, 0x0000), "UL");  // group lengths, even inside a range
    EXPECT_EQ(Vr(0x1010, 0x0000), "UL");
}

TEST(DicomDictionary, SystemPrivateElements) {
    for (std::uint32_t slot = 0x11; slot <= 0x7F; ++slot) {
        const std::uint16_t block = static_cast<std::uint16_t>(slot << 8);
        EXPECT_EQ(Vr(0x0009, block | 0x01), "CS");
        EXPECT_EQ(Vr(0x0009, block | 0x43), "SQ");
        EXPECT_EQ(Vr(0x0009, block | 0x45), "US");
        EXPECT_EQ(Vr(0x0009, block | 0x02), "UN");
    }
    EXPECT_EQ(Vr(0x0009, 0x1045), "UN");  // block 10 is not one the system reserves
    EXPECT_EQ(Vr(0x0009, 0x8045), "UN");
}

TEST(DicomDictionary, KeywordsAndTableOrder) {
    EXPECT_EQ(Keyword(0x0010, 0x0010), "PatientName");
    EXPECT_EQ(Keyword(0x0002, 0x0010), "TransferSyntaxUID");
    EXPECT_EQ(Keyword(0x0008, 0x0040), "DataSetType");  // retired: no prefix
    EXPECT_EQ(Keyword(0xFFFE, 0xE0DD), "SequenceDelimitationItem");
    EXPECT_EQ(Keyword(0x0018, 0x0001), "(null)");
    namespace table = quorin::dictionary_table;
    for (std::size_t i = 1; i < table::kCount; ++i) {
        ASSERT_LT(table::kTags[i - 1], table::kTags[i]) << "at " << i;  // bisection needs it
    }
}

// The committed table is what the generator makes of DCMTK's dictionary file.
TEST(DicomDictionary, TableMatchesItsGenerator) {
    using quorin::test::RunCommand;
    using quorin::test::ShellQuote;
    using quorin::test::SourcePath;
    const quorin::test::CommandResult run = RunCommand(
        std::string(QUORIN_PYTHON) + " " + ShellQuote(SourcePath("tools/gen_dictionary.py")));
    ASSERT_EQ(run.status, 0) << "the generator needs DCMTK's dicom.dic (package libdcmtk17)";
    const std::vector<std::uint8_t> committed =
        quorin::test::ReadBytes(SourcePath("src/dicom/dictionary/dictionary_table.inc"));
    EXPECT_TRUE(run.output == std::string(committed.begin(), committed.end()))
        << "regenerate src/dicom/dictionary/dictionary_table.inc with tools/gen_dictionary.py";
}

// pydicom keeps its own copy of the registry (PS3.6 and PS3.7). Every tag both know must agree
// on VR once the ambiguous VRs are resolved as above.
const char* kPydicomDump = R"PY(
from pydicom.datadict import DicomDictionary, RepeatersDictionary
for tag, entry in DicomDictionary.items():
    print("T %08X|%s|%s" % (tag, entry[0], entry[4]))
for mask, entry in RepeatersDictionary.items():
    print("R %s|%s|%s" % (mask, entry[0], entry[4]))
)PY";

std::string Resolve(const std::string& vr) {
    if (vr == "OB or OW") return "OW";
    if (vr == "US or SS" || vr == "US or OW" || vr == "US or SS or OW") return "US";
    return vr;
}

TEST(DicomDictionary, AgreesWithPydicom) {
    const quorin::test::CommandResult run = quorin::test::RunPython(kPydicomDump);
    ASSERT_EQ(run.status, 0) << "pydicom is required";
    // Tags pydicom has that DCMTK's file does not: retired rows of PS3.6 without a name, and
    // the item, which has no VR. They answer by the rules.
    const std::set<std::uint32_t> missingHere = {0x00080202, 0x00180061, 0x00189445, 0x00280020,
                                                 0x04000315, 0x300A0782, 0xFFFEE000};
    std::map<std::uint32_t, std::string> pydicomVr;
    std::istringstream lines(run.output);
    std::string line;
    std::size_t exact = 0;
    std::size_t masks = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line.substr(2));
        std::string key, vr, keyword;
        std::getline(fields, key, '|');
        std::getline(fields, vr, '|');
        std::getline(fields, keyword, '|');
        if (line[0] == 'T') {
            ++exact;
            const std::uint32_t tag = std::stoul(key, nullptr, 16);
            const auto group = static_cast<std::uint16_t>(tag >> 16);
            const auto element = static_cast<std::uint16_t>(tag);
            pydicomVr[tag] = vr;
            if (missingHere.count(tag)) {
                EXPECT_EQ(DicomDictionaryKeyword(group, element), nullptr) << key;
                continue;
            }
            if (vr == "NONE") {  // the two delimiters: the system's own VR "DL"
                EXPECT_EQ(Vr(group, element), "DL") << key;
                continue;
            }
            EXPECT_EQ(Vr(group, element), Resolve(vr)) << key << " " << keyword;
            EXPECT_EQ(Keyword(group, element), keyword) << key;
            continue;
        }
        // A repeating mask such as 60xx3000 or 1000xxx0: try every tag it stands for, with
        // even groups only (odd groups are private) and without element 0000 (group lengths).
        ++masks;
        ASSERT_EQ(key.size(), 8u) << key;
        std::uint32_t fixedMask = 0, fixedValue = 0;
        for (char c : key) {
            fixedMask <<= 4;
            fixedValue <<= 4;
            if (c != 'x') {
                fixedMask |= 0xF;
                fixedValue |= std::stoul(std::string(1, c), nullptr, 16);
            }
        }
        std::size_t tried = 0;
        for (std::uint32_t free = 0; free <= 0xFFFF; ++free) {
            // Spread the free bits over the 'x' positions.
            std::uint32_t tag = fixedValue, bit = 0;
            for (int nibble = 0; nibble < 8; ++nibble) {
                if (((fixedMask >> (4 * nibble)) & 0xF) == 0) {
                    tag |= ((free >> (4 * bit)) & 0xF) << (4 * nibble);
                    ++bit;
                }
            }
            if ((free >> (4 * bit)) != 0) break;  // every combination done
            const auto group = static_cast<std::uint16_t>(tag >> 16);
            const auto element = static_cast<std::uint16_t>(tag);
            if ((group & 1) || element == 0) continue;
            ++tried;
            if (pydicomVr.count(tag)) continue;  // an exact entry takes precedence
            ASSERT_EQ(Vr(group, element), Resolve(vr)) << key << " at " << std::hex << tag;
            ASSERT_EQ(Keyword(group, element), keyword) << key;
        }
        EXPECT_GT(tried, 0u) << key;
    }
    EXPECT_GT(exact, 4000u);
    EXPECT_GT(masks, 80u);

    // Our side: every exact entry pydicom knows agrees (checked above); the others are the
    // system's private elements and tags registered after the pydicom edition was cut.
    const std::set<std::uint32_t> newerThanPydicom = {
        0x00060001, 0x00080017, 0x00080019, 0x00081088, 0x00200027,
        // Single instances of repeating tags that DCMTK's file also lists on their own.
        0x00280410, 0x00280411, 0x00280412, 0x00280413, 0x00280800, 0x00280802, 0x00280803,
        0x00280804, 0x00280808, 0x10000010, 0x10000011, 0x10000012, 0x10000013, 0x10000014,
        0x10000015, 0x10100004};
    namespace table = quorin::dictionary_table;
    for (std::size_t i = 0; i < table::kCount; ++i) {
        const std::uint32_t tag = table::kTags[i];
        if (pydicomVr.count(tag) || (tag >> 16) == 0x0009) continue;
        if (newerThanPydicom.count(tag)) continue;
        ADD_FAILURE() << "tag " << std::hex << tag << " is unknown to pydicom";
    }
}

}  // namespace
