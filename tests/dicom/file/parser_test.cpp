// Parsing hostile and unusual streams: item bounds, nesting, delimiters, measured pixel data,
// VRs without a class of their own, odd lengths, and the refusals of the meta group.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <optional>

#include "common/test_util.h"
#include "dicom/dataset/binary.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dataset/text.h"
#include "dicom/file/datasetdump.h"
#include "dicomfile_util.h"
#include "platform/core/lasterror.h"

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
        for (const char* vr : {"OB", "OW"}) {
            EXPECT_EQ(ParseBytes(TruncatedPixels(vr), mode).result, 13) << vr << " mode " << mode;
            EXPECT_FALSE(OutOfMemoryNoted()) << vr << " mode " << mode;  // damaged, not too large
        }
    }
}

// The exit status of `body` run in a child whose address space may grow by `bytes` at most.
int WithAddressSpaceFor(rlim_t bytes, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::ifstream statm("/proc/self/statm");
        rlim_t pages = 0;
        statm >> pages;
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + bytes;
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(97);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// A sound file, refused for want of memory: status 13, and memory noted as run out, so that it
// is not taken for a damaged one. Each value is 64 MB of a sparse file, read by a child that may
// grow by 32 MB; without the limit the same file reads whole.
TEST(Parser, AValueMemoryCannotHoldIsRefusedForWantOfMemory) {
#ifdef QUORIN_TEST_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#endif
    constexpr std::uint32_t kValue = 64u << 20;
    constexpr rlim_t kRoom = 32u << 20;
    auto header = [](std::uint16_t group, std::uint16_t element, const char* vr,
                     std::uint32_t length) {
        std::vector<std::uint8_t> out;
        PutTag(out, group, element);
        if (vr != nullptr) PutText(out, std::string(vr) + std::string(2, '\0'));
        PutU32(out, length);
        return out;
    };
    std::vector<std::uint8_t> fragments = header(0x7FE0, 0x0010, "OB", kUndefinedLength);
    PutItem(fragments, 0);
    PutItem(fragments, kValue);
    std::vector<std::uint8_t> delimiter;
    PutSequenceEnd(delimiter);
    struct Row {
        const char* name;
        const char* syntax;
        std::vector<std::uint8_t> before;  // the stream up to the value
        std::vector<std::uint8_t> after;   // what follows it
    };
    const Row rows[] = {
        {"OB", kExplicitLE, header(0x7FE0, 0x0010, "OB", kValue), {}},
        {"UN", kExplicitLE, header(0x0011, 0x1001, "UN", kValue), {}},
        {"implicit LT", kImplicitLE, header(0x0020, 0x4000, nullptr, kValue), {}},
        {"fragment", kExplicitLE, fragments, delimiter},
    };
    // A length past the end of a small file: malformed, and refused before any allocation. Read
    // from memory, where no open of a file clears the note before the parse does.
    const auto damaged = Part10(kExplicitLE, header(0x7FE0, 0x0010, "OB", 0xFFFFFFF0u));
    // The status, plus 100 when memory is noted as run out.
    auto noted = [](int result) { return result + (OutOfMemoryNoted() ? 100 : 0); };
    TempDir dir;
    for (const Row& row : rows) {
        const std::string path = dir.file("large.dcm");
        const std::vector<std::uint8_t> head = Part10(row.syntax, row.before);
        WriteBytes(path, head);
        std::filesystem::resize_file(path, head.size() + kValue);
        std::ofstream(path, std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(row.after.data()),
                   static_cast<std::streamsize>(row.after.size()));
        auto read = [&] { return noted(ParseFile(path).result); };
        EXPECT_EQ(read(), 0) << row.name;
        EXPECT_EQ(WithAddressSpaceFor(kRoom, read), 113) << row.name;
        EXPECT_EQ(WithAddressSpaceFor(
                      kRoom, [&] { return read() == 113 ? noted(ParseBytes(damaged).result) : 0; }),
                  13)
            << row.name << ": the stream read after it";
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
    EXPECT_FALSE(OutOfMemoryNoted());
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

namespace quorin::test {
namespace {
// Allocations of operator new left before one fails (-1: none).
thread_local long g_allocationsLeft = -1;
}  // namespace

bool AllocationFails() {
    if (g_allocationsLeft < 0) return false;
    if (g_allocationsLeft > 0) return --g_allocationsLeft, false;
    g_allocationsLeft = -1;
    return true;
}
}  // namespace quorin::test

namespace quorin::test {
namespace {

// Text values of several classes, three of them as UN that the dictionary converts (a CS, a PN,
// an LT); values past sixteen letters, which a string cannot hold without an allocation.
std::vector<std::uint8_t> TextValues() {
    std::vector<std::uint8_t> body;
    PutExplicit(body, 0x0008, 0x0008, "CS", "ORIGINAL\\PRIMARY");
    PutExplicit(body, 0x0008, 0x002A, "DT", "20260102030405.123456+0100");
    PutExplicit(body, 0x0008, 0x0060, "UN", "IO");
    PutExplicit(body, 0x0010, 0x0010, "UN", "LONGFAMILYNAME^GIVENNAME");
    PutExplicit(body, 0x0010, 0x0020, "LO", "ID42");
    PutExplicit(body, 0x0018, 0x0050, "DS", "0.5\\0.25");
    PutExplicit(body, 0x0020, 0x0013, "IS", "7 ");
    PutExplicit(body, 0x0020, 0x4000, "UN", "a comment that runs past sixteen");
    return Part10(kExplicitLE, body);
}

// The steps the table fails an allocation of: the parse (answering what it read, listed), the
// two listings and the writer (answering the bytes written).
enum class Step { Parse, List, Canonical, Write };

// The step's answer over `bytes`, with allocation `failAt` of the step failing (-1: none), and
// whether it met that allocation; nullopt when it refused, told as want of memory.
std::optional<std::string> RunStep(Step step, const std::vector<std::uint8_t>& bytes, long failAt,
                                   bool& failed) {
    Parsed parsed;
    win::CMemFile file(bytes.data(), bytes.size());
    std::string out;
    bool ok = false;
    if (step == Step::Parse) g_allocationsLeft = failAt;
    parsed.result = parsed.list->ReadFromStream(&file, 1, 0, 0, 0, 0);
    failed = g_allocationsLeft < 0;
    g_allocationsLeft = -1;
    if (parsed.result != 0) {
        EXPECT_TRUE(parsed.result == 13 && OutOfMemoryNoted()) << failAt << ": " << parsed.result;
        return std::nullopt;
    }
    win::CMemFile written;
    win::SetLastError(win::ERROR_SUCCESS);
    if (step != Step::Parse) g_allocationsLeft = failAt;
    if (step == Step::List) ok = DumpDataSet(*parsed.list, out);
    if (step == Step::Parse || step == Step::Canonical) ok = DumpCanonical(*parsed.list, out);
    if (step == Step::Write) ok = parsed.list->Write(&written, 1, nullptr, 0, nullptr) == 1;
    if (step != Step::Parse) failed = g_allocationsLeft < 0;
    g_allocationsLeft = -1;
    if (!ok) {
        EXPECT_TRUE(OutOfMemoryNoted()) << failAt << ": refused, memory not noted";
        return std::nullopt;
    }
    if (step == Step::Write) out.assign(written.Data().begin(), written.Data().end());
    return out;
}

// A step in which any one allocation fails answers what it answers without failure, or refuses
// with memory noted as run out: never a value that is not the file's, nor one written short.
TEST(Parser, AnyOneAllocationThatFailsIsToldAsWantOfMemory) {
    const auto sample = ReadBytes(SourcePath("tests/data/dicom/sample.dcm"));
    const struct {
        Step step;
        std::vector<std::uint8_t> bytes;
        const char* shows;  // what the whole answer holds, from the file's own values
    } rows[] = {
        {Step::Parse, sample, "0002,0010 UI 19 "},
        {Step::Parse, TextValues(), "0010,0010 PN 24 "},
        {Step::List, TextValues(), "[LONGFAMILYNAME^GIVENNAME]"},
        {Step::List, sample, "(0002,0010) UI"},
        {Step::Canonical, TextValues(), "0008,0008 CS 16 "},
        {Step::Canonical, sample, "0002,0010 UI 19 "},
        {Step::Write, TextValues(), "ORIGINAL\\PRIMARY"},
        {Step::Write, sample, "DICM"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shows);
        bool failed = false;
        const auto whole = RunStep(row.step, row.bytes, -1, failed);
        ASSERT_TRUE(whole.has_value());
        EXPECT_NE(whole->find(row.shows), std::string::npos) << *whole;
        for (long failAt = 0; !HasFailure(); ++failAt) {
            const auto answer = RunStep(row.step, row.bytes, failAt, failed);
            if (answer) {
                EXPECT_EQ(*answer, *whole) << failAt;
            }
            if (!failed) break;
        }
    }
}

}  // namespace
}  // namespace quorin::test

#include "common/failing_new.h"  // fails as AllocationFails() says
