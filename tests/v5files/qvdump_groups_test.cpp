// qvdump over group data files written by tools/fixtures/group_files.py (series, template and
// XML context with their items, the older binary context) and over malformed ones. The
// expected values are those the writer puts into the files; the template's coordinates are
// its version-2 values times 0.039 truncated toward zero, worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test_util.h"

namespace {

using namespace quorin::test;

std::string Qvdump() {
    return std::string(QUORIN_BINARY_DIR) + "/qvdump";
}

bool WriteGroupFile(const std::string& how, const std::string& kind, const std::string& out) {
    return RunCommand(FixtureCommand("group_files.py") + " " + how + " " + kind + " " +
                      ShellQuote(out))
               .status == 0;
}

struct GroupCase {
    const char* how;   // group_files.py command
    const char* kind;  // its variant
    const char* name;  // file name (the extension chooses the reader)
    bool forced;       // read through --group
    std::vector<std::string> expected;
};

TEST(QvdumpGroupFiles, PrintsTheGroupAndEveryItem) {
    TempDir dir;
    const GroupCase cases[] = {
        // The comments' line break is a control character: shown as '.'.
        {"write",
         "fms",
         "series.fms",
         false,
         {"class 4 (full-mouth series), identifier \"series.fms\", frame (1, 2, 3, 4)",
          "name \"S\xc3\xa9rie \xe2\x82\xac & <co>\", comments \"two.lines\"", "screen 1280 x 1024",
          "template identifier \"FMS-20\", FMS UID \"1.3.999.4.77.9.1\"",
          "icon 4 x 3, 1 samples x 8 bits", "3 items",
          "item 1:\n  class 6 (series frame), identifier \"R000001.zel\", frame (10, 20, 110, 170)",
          "item 2:\n  class 6 (series frame), identifier \"R000002.zel\"",
          "item 3:\n  class 6 (series frame), identifier \"R000003.zel\"",
          "grey LUT table of 256 entries", "teeth 12 21 0 0 0 48", "teeth 14 21 0 0 0 48",
          "acquired 20210301 101112", "frame type 0, frame image type 2",
          "frame number 30; attachment and frame: top 31 32, bottom 33 34, left 35 36, right 37 "
          "38"}},
        {"write",
         "template-v2",
         "template.xml",
         true,
         {"class 3 (full-mouth-series template)", "centre (3, 65)", "2 items",
          "item 1:\n  class 6 (series frame), identifier \"\", frame (39, 3, 77, -30)",
          "item 2:\n  class 6 (series frame), identifier \"\", frame (78, 3, 116, -30)",
          "teeth 31 0 0 0 0 0", "teeth 32 0 0 0 0 0"}},
        {"write",
         "context",
         "work.cqv",
         false,
         {"class 5 (context), identifier \"work.cqv\"", "arcade (11, 12), panel (-13, 14)",
          "older binary form 0, context UID \"1.3.999.4.77.8.2\"", "2 items",
          "item 1:\n  class 7 (context image), identifier \"I1.dx\", frame (1, 2, 3, 4)",
          "item 2:\n  class 7 (context image), identifier \"I3.dx\", frame (3, 4, 5, 6)",
          "SOP instance UID \"2.25.3\", filter 3 parameter 7", "mirrored 1, turn 0, rotation 270",
          "show state 3"}},
        {"binary",
         "full",
         "old.cqv",
         false,
         {"class 5 (context), identifier \"old.cqv\"", "older binary form 1",
          "comments \"Ancien contexte \xc3\xa9\"", "icon 400 x 300, 1 samples x 8 bits", "3 items",
          "identifier \"IMG1.tif\"", "identifier \"IMG2.tif\"", "identifier \"IMG3.tif\"",
          "turn 90", "turn 180", "show state 3", "show state 1", "show state 2"}},
    };
    for (const GroupCase& c : cases) {
        const std::string file = dir.file(c.name);
        ASSERT_TRUE(WriteGroupFile(c.how, c.kind, file)) << c.kind;
        const auto run = RunCommand(Qvdump() + (c.forced ? " --group " : " ") + ShellQuote(file));
        EXPECT_EQ(run.status, 0) << c.kind << "\n" << run.output;
        for (const std::string& text : c.expected)
            EXPECT_NE(run.output.find(text), std::string::npos)
                << c.kind << ": no \"" << text << "\" in\n"
                << run.output;
    }
}

TEST(QvdumpGroupFiles, SaysWhatIsWrongWithAFileNoReaderTakes) {
    TempDir dir;
    WriteText(dir.file("broken.fms"), "<FMS_DATA><Version>4</Version>");
    WriteText(dir.file("other.fms"), "<!--x--><OTHER_DATA><Version>4</Version></OTHER_DATA>\n");
    WriteText(dir.file("empty.fms"), "");
    ASSERT_TRUE(WriteGroupFile("binary", "no-comm", dir.file("nocomm.cqv")));
    struct {
        const char* name;
        const char* expected;
    } const cases[] = {
        {"broken.fms", "broken.fms: not a group data file: not well-formed XML: "},
        {"other.fms",
         "other.fms: not a group data file: it holds no series, template or context\n"},
        {"empty.fms", "empty.fms: not a group data file: it holds no XML\n"},
        // A binary context without its comment chunk: neither form reads it.
        {"nocomm.cqv",
         "nocomm.cqv: not a context file: neither XML nor a sound context of the "
         "older binary form\n"},
    };
    for (const auto& c : cases) {
        // The refusal is on standard error (kept), the dump on standard output (dropped).
        const auto run =
            RunCommand(Qvdump() + " " + ShellQuote(dir.file(c.name)) + " 2>&1 >/dev/null");
        EXPECT_EQ(run.status, 1) << c.name << "\n" << run.output;
        EXPECT_NE(run.output.find(c.expected), std::string::npos) << c.name << "\n" << run.output;
        // No Windows or parser error numbers.
        EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    }
}

}  // namespace
