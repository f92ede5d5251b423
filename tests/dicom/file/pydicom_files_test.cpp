// Real files nobody here wrote: every file of pydicom's test-file folder either parses with every
// element agreeing with pydicom's reading, or is refused with the documented result.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/test_util.h"
#include "dicom/file/datasetdump.h"
#include "dicomfile_util.h"

namespace quorin::test {
namespace {

std::vector<std::string> AllFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kPydicomFiles))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(PydicomFiles, EveryFileAgreesWithPydicomOrIsRefusedAsDocumented) {
    const std::vector<std::string> files = AllFiles();
    ASSERT_GT(files.size(), 50u) << "pydicom's test files are missing";
    std::string listing;
    for (const auto& path : files) {
        for (int mode : {2, 4}) ParseFile(path, mode);  // header-only parses must not crash either
        Parsed parsed = ParseFile(path);
        listing += "# " + path + "\n";
        if (parsed.result == 0) DumpCanonical(*parsed.list, listing);
        listing += "result " + std::to_string(parsed.result) + "\n";
    }
    TempDir dir;
    WriteText(dir.file("ours.txt"), listing);
    std::string command =
        FixtureCommand("pydicom_canonical.py") + " --compare " + ShellQuote(dir.file("ours.txt"));
    for (const auto& path : files) command += " " + ShellQuote(path);
    const CommandResult result = RunCommand(command);
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST(PydicomFiles, RefusalsCarryAPlainReason) {
    for (int code : {2, 3, 7, 12, 13}) {
        EXPECT_STRNE(DicomResultText(code), "unknown result");
        EXPECT_STRNE(DicomParseResultText(code), "unknown result");
    }
}

}  // namespace
}  // namespace quorin::test
