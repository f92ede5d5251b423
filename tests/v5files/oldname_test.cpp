// The naming rule of the older files and the probing of files named otherwise.
#include "v5files/oldname.h"

#include <gtest/gtest.h>
#include <quorin/v5files.h>

#include "v5fixtures.h"

namespace {

using quorin::test::MakeV5Fixture;
using quorin::test::RunCommand;
using quorin::test::ShellQuote;
using quorin::test::TempDir;

TEST(OldFileNames, TheRule) {
    EXPECT_EQ(GetOldFileNameKind("C:\\PAT\\R1234.TIF"), OLD_KIND_INTRAORAL);
    EXPECT_EQ(GetOldFileNumber("R1234"), 1234);
    EXPECT_FALSE(IsOldDerivedFile("R1234.TIF"));
    EXPECT_TRUE(IsOldDerivedFile("/pat/R1234a.tif"));
    EXPECT_EQ(GetOldFileNumber("R1234a"), 1234);
    EXPECT_FALSE(IsOldFileName("R12X4.TIF"));
    EXPECT_FALSE(IsOldFileName("R0.TIF"));
    EXPECT_FALSE(IsOldFileName("R000a.TIF"));
    EXPECT_FALSE(IsOldFileName("B.TIF"));
    EXPECT_FALSE(IsOldFileName("Ra.TIF"));
    EXPECT_FALSE(IsOldFileName("Q12.TIF"));
    EXPECT_FALSE(IsOldFileName("R12.TIFF"));
    EXPECT_FALSE(IsOldFileName("R12.png"));
    EXPECT_TRUE(IsOldFileName("s7.jpg"));
    EXPECT_TRUE(IsOldFileName("R12.5.tif"));  // the stem is cut at its first dot
    EXPECT_EQ(GetOldFileNumber("R99999999999999"), INT32_MAX);
    EXPECT_EQ(GetOldFileLetter("dir/x12.tif"), 'X');

    const struct {
        const char* name;
        std::int32_t kind;
    } kinds[] = {{"R1.tif", 1}, {"b2.tif", 2},  {"F3.tif", 2},  {"H4.tif", 2},
                 {"N5.tif", 2}, {"X6.tif", 2},  {"Y7.tif", 2},  {"S8.jpg", 3},
                 {"P9.tif", 4}, {"T10.tif", 5}, {"C11.jpg", 6}, {"D12.tif", 0}};
    for (const auto& k : kinds) EXPECT_EQ(GetOldFileNameKind(k.name), k.kind) << k.name;
}

TEST(OldFileNames, FullMouthSeriesLayouts) {
    EXPECT_EQ(V5Files_IsFMSFile("N12.TIF"), 6);
    EXPECT_EQ(V5Files_IsFMSFile("R12.TIF"), 0);
    EXPECT_EQ(V5Files_IsFMSFile("B.TIF"), 0);
    EXPECT_EQ(V5Files_IsFMSFile("b1.tif"), 1);
    EXPECT_EQ(V5Files_IsFMSFile("F1a.tif"), 2);
    EXPECT_EQ(V5Files_IsFMSFile("X1.jpg"), 3);
    EXPECT_EQ(V5Files_IsFMSFile("y1.TIF"), 4);
    EXPECT_EQ(V5Files_IsFMSFile("H1.TIF"), 5);
    EXPECT_EQ(V5Files_IsFMSFile(nullptr), 0);
}

TEST(OldFileNames, ProbingFilesNamedOtherwise) {
    TempDir dir;
    const std::string grey = dir.file("scan.tif"), colour = dir.file("photo.tif");
    ASSERT_TRUE(MakeV5Fixture("grey", grey, "--compress lzw"));
    ASSERT_TRUE(MakeV5Fixture("colourtif", colour, "--bits 24"));
    EXPECT_EQ(GetOldFileKind(grey.c_str(), true), OLD_KIND_GREY_TIFF);
    EXPECT_EQ(GetOldFileKind(grey.c_str(), false), OLD_KIND_NONE);
    EXPECT_EQ(GetOldFileKind(colour.c_str(), true), OLD_KIND_COLOUR);
    EXPECT_NE(V5Files_IsOldQuorinFile(grey.c_str()), 0);

    // A JPEG, a DICOM file and a big-endian TIFF must not pass as older files.
    const std::string jpeg = dir.file("photo.jpg.tif"), dicom = dir.file("ct.tif"),
                      big = dir.file("big.tif");
    ASSERT_TRUE(MakeV5Fixture("colourjpg", jpeg));
    ASSERT_EQ(
        RunCommand("cp " + ShellQuote(std::string(quorin::test::kPydicomFiles) + "/CT_small.dcm") +
                   " " + ShellQuote(dicom))
            .status,
        0);
    ASSERT_EQ(
        RunCommand("tiffcp -B " + ShellQuote(grey) + " " + ShellQuote(big) + " 2>/dev/null").status,
        0);
    EXPECT_EQ(V5Files_IsOldQuorinFile(jpeg.c_str()), 0);
    EXPECT_EQ(V5Files_IsOldQuorinFile(dicom.c_str()), 0);
    EXPECT_EQ(V5Files_IsOldQuorinFile(big.c_str()), 0);
    EXPECT_EQ(V5Files_IsOldQuorinFile(dir.file("missing.tif").c_str()), 0);
    // A name that follows the rule is enough, whatever the file holds.
    EXPECT_NE(V5Files_IsOldQuorinFile(dir.file("R12.tif").c_str()), 0);
}

}  // namespace
