// qvdump over older files: the header model it prints and the BMP it writes, read back by PIL;
// over DICOM files: the quick readers' answers in every byte order and VR encoding.
#include <gtest/gtest.h>

#include "v5fixtures.h"

namespace {

using namespace quorin::test;

std::string Qvdump() {
    return std::string(QUORIN_BINARY_DIR) + "/qvdump";
}

// PIL's pixels of a BMP compared with the reference bytes; prints "same" or the difference.
constexpr const char* kCompare = R"(
import sys
import numpy as np
from PIL import Image
img = np.asarray(Image.open(sys.argv[1]))
ref = np.fromfile(sys.argv[2], dtype=np.uint8)
print("same" if img.tobytes() == ref.tobytes() else "differ %s %d" % (img.shape, ref.size))
)";

TEST(QvdumpOldFiles, PrintsTheHeaderModelAndWritesTheBmp) {
    TempDir dir;
    for (const char* kind : {"grey", "colourtif"}) {
        const std::string file = dir.file(std::string(kind) == "grey" ? "R12.tif" : "C3.tif");
        const std::string bmp = dir.file(std::string(kind) + ".bmp");
        ASSERT_TRUE(MakeV5Fixture(kind, file, "--compress lzw --width 37 --height 21"));
        const auto run =
            RunCommand(Qvdump() + " --bmp " + ShellQuote(bmp) + " " + ShellQuote(file));
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("information: result 0"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("image: result 0"), std::string::npos);
        EXPECT_NE(run.output.find("preview: result 0"), std::string::npos);
        EXPECT_NE(run.output.find("size 37 x 21"), std::string::npos);
        const auto compare = RunPython(kCompare, {bmp, file + ".raw"});
        EXPECT_EQ(compare.output, "same\n") << kind;
    }
    const auto grey = RunCommand(Qvdump() + " " + ShellQuote(dir.file("R12.tif")));
    EXPECT_NE(grey.output.find("model \"ZEL 5 HS\""), std::string::npos) << grey.output;
    EXPECT_NE(grey.output.find("acquired 19970305"), std::string::npos);

    // Refusals go to standard error (kept here), the dump to standard output (dropped).
    const auto missing =
        RunCommand(Qvdump() + " " + ShellQuote(dir.file("R99.tif")) + " 2>&1 >/dev/null");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("R99.tif: No such file or directory\n"), std::string::npos)
        << missing.output;
}

// pydicom writes the samples with 16 rows of 24 columns and the sensor "ZEL 6"; the quick
// readers walk each in its own transfer syntax. The size reads width x height.
TEST(QvdumpDicomFiles, QuickReadersReadInTheFilesTransferSyntax) {
    TempDir dir;
    ASSERT_EQ(RunCommand(FixtureCommand("make_dicom_samples.py") + " " + ShellQuote(dir.path()) +
                         " --all")
                  .status,
              0);
    for (const char* name : {"sample.dcm", "teeth_implicit.dcm", "teeth_big.dcm"}) {
        const auto run = RunCommand(Qvdump() + " " + ShellQuote(dir.file(name)));
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("image size: 24 x 16 (result 0)"), std::string::npos) << name;
        EXPECT_NE(run.output.find("model name: \"ZEL 6\" (result 0)"), std::string::npos) << name;
    }
}

}  // namespace
