// Files our writer produces: clean for dcmdump, dciodvfy and pydicom's strict reading; every
// transfer syntax dcmconv makes round-trips element for element; the written data set is left as
// it was; failures are reported and never cost the file being replaced.
#include "dicom/file/writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "common/platform/as_user.h"
#include "common/platform/file_size_limit.h"
#include "common/test_util.h"
#include "dicom/dataset/binary.h"
#include "dicom/dataset/multiple.h"
#include "dicom/file/datasetdump.h"
#include "dicomfile_util.h"
#include "platform/core/lasterror.h"

namespace quorin::test {
namespace {

// The canonical listing without group lengths (held 0 once parsed, set by each write).
std::string Canonical(CInfosDicomList& list) {
    std::string text, out;
    DumpCanonical(list, text);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        if (line.find(",0000 ") == std::string::npos) out += line + "\n";
        begin = end + 1;
    }
    return out;
}

// Error lines of dciodvfy ("Error - ..."), sorted, without the file name.
std::string DciodvfyErrors(const std::string& path) {
    const auto result = RunCommand("dciodvfy " + ShellQuote(path) + " 2>&1 | grep '^Error' | sort");
    return result.output;
}

TEST(Writer, OutputIsCleanForDcmtkDicom3toolsAndPydicom) {
    const std::string source = SourcePath("tests/data/dicom/sample.dcm");
    Parsed parsed = ParseFile(source);
    ASSERT_EQ(parsed.result, 0);
    TempDir dir;
    const std::string out = dir.file("written.dcm");
    ASSERT_TRUE(WriteDicomFile(*parsed.list, out.c_str()));

    const auto dump = RunCommand("dcmdump -E " + ShellQuote(out) + " 2>&1 >/dev/null");
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.output, "") << "dcmdump -E reported: " << dump.output;
    EXPECT_EQ(DciodvfyErrors(out), DciodvfyErrors(source));
    const auto strict = RunPython(
        "import sys, pydicom\n"
        "from pydicom import config\n"
        "config.settings.reading_validation_mode = config.RAISE\n"
        "ds = pydicom.dcmread(sys.argv[1])\n"
        "print(ds.file_meta.FileMetaInformationGroupLength, len(ds.PixelData))\n",
        {out});
    EXPECT_EQ(strict.status, 0);
    EXPECT_NE(strict.output.find(" 768"), std::string::npos) << strict.output;
}

TEST(Writer, EveryDcmconvEncodingRoundTripsElementForElement) {
    TempDir dir;
    const std::string source = SourcePath("tests/data/dicom/sample.dcm");
    const std::vector<std::pair<std::string, std::string>> encodings = {
        {"+ti", "implicit"},
        {"+te", "explicit"},
        {"+tb", "big"},
        {"+e", "undefined"},
        {"+tb +e", "big-undefined"}};
    for (const auto& [options, name] : encodings) {
        const std::string converted = dir.file(name + ".dcm");
        ASSERT_EQ(RunCommand("dcmconv " + options + " " + ShellQuote(source) + " " +
                             ShellQuote(converted))
                      .status,
                  0);
        Parsed first = ParseFile(converted);
        ASSERT_EQ(first.result, 0) << name;
        const std::string written = dir.file(name + "-written.dcm");
        ASSERT_TRUE(WriteDicomFile(*first.list, written.c_str())) << name;
        Parsed second = ParseFile(written);
        ASSERT_EQ(second.result, 0) << name;
        EXPECT_EQ(Canonical(*first.list), Canonical(*second.list)) << name;
        const auto dump = RunCommand("dcmdump -E " + ShellQuote(written) + " 2>&1 >/dev/null");
        EXPECT_EQ(dump.output, "") << name << ": " << dump.output;
    }
}

TEST(Writer, AValueTooLongForItsOwnVrIsWrittenBackAsUn) {
    // Contour points of 107,074 bytes, written as UN because DS has a 16-bit length field.
    TempDir dir;
    const std::string source = dir.file("rt.dcm");
    const std::string out = dir.file("written.dcm");
    ASSERT_EQ(RunCommand(FixtureCommand("rt_contour_un.py") + " " + ShellQuote(source)).status, 0);
    Parsed parsed = ParseFile(source);
    ASSERT_EQ(parsed.result, 0);
    ASSERT_TRUE(WriteDicomFile(*parsed.list, out.c_str()));
    const auto dump = RunCommand("dcmdump -E " + ShellQuote(out) + " 2>&1 >/dev/null");
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.output, "") << "dcmdump -E reported: " << dump.output;
    const auto same = RunPython(
        "import sys, pydicom\n"
        "a, b = (pydicom.dcmread(p) for p in sys.argv[1:])\n"
        "x, y = (d.ROIContourSequence[0].ContourSequence[0][0x30060050] for d in (a, b))\n"
        "print(y.VR, len(y.value), x.value == y.value, a == b)\n",
        {source, out});
    EXPECT_EQ(same.output, "UN 107074 True True\n");
}

TEST(Writer, BigEndianWriteLeavesTheDataSetAsItWas) {
    TempDir dir;
    const std::string big = dir.file("big.dcm");
    ASSERT_EQ(RunCommand("dcmconv +tb " + ShellQuote(SourcePath("tests/data/dicom/sample.dcm")) +
                         " " + ShellQuote(big))
                  .status,
              0);
    Parsed parsed = ParseFile(big);
    ASSERT_EQ(parsed.result, 0);
    const std::string before = Canonical(*parsed.list);
    const auto first = WriteToBytes(*parsed.list);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Canonical(*parsed.list), before);
    EXPECT_NE(parsed.list->Find(0x0028, 0x0010, 0), nullptr);
    EXPECT_EQ(WriteToBytes(*parsed.list), first);
}

TEST(Writer, MetaGroupLengthCountsTheBytesWrittenAndMarksStay) {
    Parsed parsed = ParseFile(SourcePath("tests/data/dicom/sample.dcm"));
    ASSERT_EQ(parsed.result, 0);
    // Exclude an element of the meta group: the length must shrink with it. The mask
    // excludes the private elements (0009,1xxx), not their creator.
    const TagValue excluded{0x0002, 0x0013};
    const TagValue* list[] = {&excluded};
    const TagValue mask{0x0009, 0x1000};
    win::CMemFile file;
    ASSERT_EQ(parsed.list->Write(&file, 1, list, 1, &mask), 1);
    const auto& bytes = file.Data();
    std::uint32_t length = 0;
    std::memcpy(&length, bytes.data() + 132 + 8, 4);
    std::size_t position = 132 + 12;
    std::size_t end = position;
    while (end + 8 <= bytes.size() && bytes[end] == 2 && bytes[end + 1] == 0) {
        const bool longVr = bytes[end + 4] == 'O';
        std::uint32_t n = 0;
        if (longVr)
            std::memcpy(&n, bytes.data() + end + 8, 4);
        else
            n = static_cast<std::uint32_t>(bytes[end + 6] | (bytes[end + 7] << 8));
        end += (longVr ? 12 : 8) + n;
    }
    EXPECT_EQ(length, end - position);
    // The marks stay in the nodes: the caller removes what it excluded.
    parsed.list->RemoveFlagged();
    EXPECT_EQ(parsed.list->Find(0x0002, 0x0013, 0), nullptr);
    EXPECT_EQ(parsed.list->Find(0x0009, 0x1101, 0), nullptr);
    EXPECT_EQ(parsed.list->Find(0x0009, 0x1145, 0), nullptr);
    EXPECT_NE(parsed.list->Find(0x0009, 0x0011, 0), nullptr);
    EXPECT_NE(parsed.list->Find(0x0002, 0x0012, 0), nullptr);
}

TEST(Writer, GroupLengthsOutsideTheMetaGroupAreNotWritten) {
    const std::string file = std::string(kPydicomFiles) + "/693_J2KI.dcm";
    Parsed parsed = ParseFile(file);
    ASSERT_EQ(parsed.result, 0);
    ASSERT_NE(parsed.list->Find(0x0008, 0x0000, 0), nullptr);
    const auto bytes = WriteToBytes(*parsed.list);
    Parsed again = ParseBytes(bytes);
    ASSERT_EQ(again.result, 0);
    for (CInfosDicomNode* node = again.list->m_pFirst; node; node = node->m_pNext)
        EXPECT_FALSE(node->m_pElement->m_nElement == 0 && node->m_pElement->m_nGroup != 2)
            << std::hex << node->m_pElement->m_nGroup;
}

TEST(Writer, AFailedReloadFailsTheWriteAndKeepsTheOldFile) {
    TempDir dir;
    const std::string source = dir.file("source.dcm");
    WriteBytes(source, ReadBytes(SourcePath("tests/data/dicom/sample.dcm")));
    Parsed parsed = ParseFile(source, 2);  // pixel data measured, left in the source
    ASSERT_EQ(parsed.result, 0);
    // The source shrinks under the data set: its pixel data cannot be reloaded.
    auto bytes = ReadBytes(source);
    bytes.resize(bytes.size() - 100);
    WriteBytes(source, bytes);
    const std::string target = dir.file("target.dcm");
    WriteText(target, "old contents");
    EXPECT_FALSE(WriteDicomFile(*parsed.list, target.c_str()));
    EXPECT_EQ(ReadBytes(target).size(), 12u);
    const auto leftovers = RunCommand("ls " + ShellQuote(dir.path()) + " | wc -l");
    EXPECT_EQ(leftovers.output, "2\n");  // source and target only: no temporary file left
}

TEST(Writer, AReplacedFileKeepsItsPermissions) {
    TempDir dir;
    const std::string target = dir.file("target.dcm");
    WriteText(target, "old contents");
    RunCommand("chmod 640 " + ShellQuote(target));
    Parsed parsed = ParseFile(SourcePath("tests/data/dicom/sample.dcm"));
    ASSERT_EQ(parsed.result, 0);
    ASSERT_TRUE(WriteDicomFile(*parsed.list, target.c_str()));
    EXPECT_EQ(RunCommand("stat -c %a " + ShellQuote(target)).output, "640\n");
    EXPECT_EQ(ParseFile(target).result, 0);
}

TEST(Writer, AFullDiskFailsTheWrite) {
    Parsed parsed = ParseFile(SourcePath("tests/data/dicom/sample.dcm"));
    ASSERT_EQ(parsed.result, 0);
    win::CMemFile file;
    file.SetWriteLimit(1000);
    EXPECT_EQ(parsed.list->Write(&file, 1, nullptr, 0, nullptr), 0);
    EXPECT_FALSE(WriteDicomFile(*parsed.list, "/proc/version"));  // cannot replace
    EXPECT_FALSE(WriteDicomFile(*parsed.list, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

// In a folder the user may not write the file is overwritten where it is: a data set the writer
// refuses part-way and a disk that fills both leave the old file byte for byte.
TEST(Writer, InAFolderTheUserMayNotWriteAFailedWriteLeavesTheOldFile) {
    TempDir dir;
    ClosedFolder closed(dir.path(), "old.dcm");
    const auto oldBytes = ReadBytes(std::string(kPydicomFiles) + "/MR_small.dcm");  // 9,830
    const std::string source = SourcePath("tests/data/dicom/sample.dcm");
    Parsed parsed = ParseFile(source), refused = ParseFile(source);
    ASSERT_EQ(parsed.result, 0);
    ASSERT_EQ(refused.result, 0);
    // 1,200 values of 60 characters: 73,199 bytes, beyond an explicit LO's 16-bit length field.
    CElementLOMultiple ids(3, 0x0010, 0x1000, 0, 0, kLittleEndian);
    std::string field = std::string(60, '7');
    for (int i = 1; i < 1200; ++i) field += "\\" + std::string(60, '7');
    ids.SplitValues(field.data(), static_cast<std::uint32_t>(field.size()));
    ASSERT_TRUE(refused.list->Insert(&ids));
    struct Case {
        const char* name;
        CInfosDicomList* list;
        rlim_t limit;
        bool written;
    } cases[] = {{"value too long for its length field", refused.list.get(), RLIM_INFINITY, false},
                 {"file-size limit", parsed.list.get(), 1000, false},
                 {"written", parsed.list.get(), RLIM_INFINITY, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closed.Fill(std::string(oldBytes.begin(), oldBytes.end()));
        struct stat before {};
        ASSERT_EQ(::stat(closed.file().c_str(), &before), 0);
        EXPECT_EQ(UnderSizeLimit(c.limit,
                                 [&] {
                                     return WriteDicomFile(*c.list, closed.file().c_str()) ==
                                                    c.written
                                                ? 0
                                                : 1;
                                 }),
                  0);
        if (c.written) {
            Parsed again = ParseFile(closed.file());
            ASSERT_EQ(again.result, 0);
            EXPECT_EQ(Canonical(*again.list), Canonical(*parsed.list));
        } else {
            EXPECT_EQ(ReadBytes(closed.file()), oldBytes);
        }
        struct stat after {};
        ASSERT_EQ(::stat(closed.file().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "written where it is";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(closed.folder()),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

}  // namespace
}  // namespace quorin::test

namespace quorin::test {
namespace {

// Real files rewritten by us: dcmdump finds nothing wrong, dciodvfy nothing new, pydicom reads
// them strictly, and the elements are those we read.
TEST(Writer, RealFilesRewrittenStayValid) {
    const std::string folder = std::string(kPydicomFiles) + "/";
    TempDir dir;
    for (const char* name : {"CT_small.dcm", "MR_small.dcm", "MR_small_bigendian.dcm",
                             "MR_small_implicit.dcm", "rtplan.dcm", "JPEG2000.dcm", "priv_SQ.dcm",
                             "SC_rgb_small_odd.dcm", "waveform_ecg.dcm"}) {
        const std::string source = folder + name;
        Parsed parsed = ParseFile(source);
        ASSERT_EQ(parsed.result, 0) << name;
        const std::string out = dir.file(name);
        ASSERT_TRUE(WriteDicomFile(*parsed.list, out.c_str())) << name;
        const auto dump = RunCommand("dcmdump -E " + ShellQuote(out) + " 2>&1 >/dev/null");
        EXPECT_EQ(dump.output, "") << name << ": " << dump.output;
        EXPECT_EQ(DciodvfyErrors(out), DciodvfyErrors(source)) << name;
        const auto strict = RunPython(
            "import sys, pydicom\n"
            "from pydicom import config\n"
            "config.settings.reading_validation_mode = config.RAISE\n"
            "ds = pydicom.dcmread(sys.argv[1])\n"
            "ds.walk(lambda d, e: e.value)\n",
            {out});
        EXPECT_EQ(strict.status, 0) << name;
        Parsed again = ParseFile(out);
        ASSERT_EQ(again.result, 0) << name;
        EXPECT_EQ(Canonical(*parsed.list), Canonical(*again.list)) << name;
    }
}

}  // namespace
}  // namespace quorin::test
