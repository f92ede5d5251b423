// Image type codes and file names: the type tables, the name classification and the numbering
// of new files in a real folder.
#include "records/core/imagetype.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "common/test_util.h"

namespace {

TEST(ImageTypeTable, ExtensionAndPrefixByType) {
    EXPECT_EQ(GetImageExtension(IMAGE_TYPE_ZEL), ".zel");
    EXPECT_EQ(GetImagePrefix(IMAGE_TYPE_ZEL), "R");
    EXPECT_EQ(GetImageExtension(IMAGE_TYPE_CRCEPH), ".crceph");
    EXPECT_EQ(GetImagePrefix(IMAGE_TYPE_CRCEPH), "CH");
    // Types 7 and 8 share "T"; 4, 5 and 10 share ".sc" and "C".
    EXPECT_EQ(GetImagePrefix(IMAGE_TYPE_DX), GetImagePrefix(IMAGE_TYPE_IO));
    for (std::int32_t t : {4, 5, 10}) {
        EXPECT_EQ(GetImageExtension(t), ".sc");
        EXPECT_EQ(GetImagePrefix(t), "C");
    }
    // Codes without an entry of their own, unknown and hostile codes included.
    for (std::int32_t t : {0, 12, 17, 19, 20, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(GetImageExtension(t), ".qv") << t;
    }
    for (std::int32_t t : {0, 12, 17, 19, 20, -1, INT_MIN}) EXPECT_EQ(GetImagePrefix(t), "") << t;
    std::string text = "old";
    EXPECT_EQ(&GetImageExtension(IMAGE_TYPE_SUP, text), &text);
    EXPECT_EQ(text, ".sup");
}

TEST(ImageTypeTable, TypeFromExtensionIgnoresCase) {
    EXPECT_EQ(GetImageTypeFromExtension("IMG.DX"), 7);
    EXPECT_EQ(GetImageTypeFromExtension("a.DxFp"), 7);
    EXPECT_EQ(GetImageTypeFromExtension("b.dx"), 7);
    EXPECT_EQ(GetImageTypeFromExtension("x.IOFP"), 8);
    EXPECT_EQ(GetImageTypeFromExtension("e.Dcm"), 19);
    EXPECT_EQ(GetImageTypeFromExtension("C:\\p\\ctx.CQV"), 12);
    EXPECT_EQ(GetImageTypeFromExtension("p/x.crpano"), 15);
    // Written but not recognised: ".qv" and the processed CR copy.
    EXPECT_EQ(GetImageTypeFromExtension("c.qv"), 0);
    EXPECT_EQ(GetImageTypeFromExtension("d.crfp"), 0);
    EXPECT_EQ(GetImageTypeFromExtension("noextension"), 0);
    EXPECT_EQ(GetImageTypeFromExtension("archive.dx.bak"), 0);
    EXPECT_EQ(GetImageTypeFromExtension(""), 0);
}

TEST(ImageTypeTable, VolumeFolderIsTheLastComponent) {
    EXPECT_EQ(GetImageTypeFromExtension("C:\\data\\VOL_4\\x.zel"), 1);
    EXPECT_EQ(GetImageTypeFromExtension("C:\\data\\Vol_4"), 17);
    EXPECT_EQ(GetImageTypeFromExtension("/data/vol_4.dx"), 17);
    EXPECT_TRUE(IsVolumeFolder("C:\\PAT\\vol_3"));
    EXPECT_TRUE(IsVolumeFolder("VOL_12"));
    EXPECT_TRUE(IsVolumeFolder("VOL_"));
    EXPECT_FALSE(IsVolumeFolder("C:\\PAT\\XVOL_3"));
    EXPECT_FALSE(IsVolumeFolder("C:\\PAT\\VOL"));
    EXPECT_FALSE(IsVolumeFolder("C:\\VOL_1\\"));
    EXPECT_FALSE(IsVolumeFolder(""));
}

TEST(ImageFileNumber, DigitsAfterThePrefix) {
    EXPECT_EQ(GetImageFileNumber("R0012"), 12);
    EXPECT_EQ(GetImageFileNumber("CR7.cr"), 7);
    EXPECT_EQ(GetImageFileNumber("T12A"), 12);
    EXPECT_EQ(GetImageFileNumber("P12.5.pano"), 12);
    EXPECT_EQ(GetImageFileNumber("noDigits.zel"), 0);
    EXPECT_EQ(GetImageFileNumber(""), 0);
    // The last dot comes before the first digit: nothing is left to convert.
    EXPECT_EQ(GetImageFileNumber("R.5"), 0);
}

TEST(ImageFileNumber, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(GetImageFileNumber("R2147483647"), INT_MAX);
    EXPECT_EQ(GetImageFileNumber("R2147483648.zel"), INT_MAX);
    EXPECT_EQ(GetImageFileNumber("R4294967297"), INT_MAX);  // would wrap to 1 in 32 bits
    EXPECT_EQ(GetImageFileNumber("R99999999999999999999999"), INT_MAX);
    EXPECT_EQ(GetImageFileNumber("R00000000000000000000042"), 42);
}

TEST(ImageNameStatus, Classification) {
    EXPECT_EQ(CheckImageFileName("T.tif"), IMAGE_NAME_OLD_TIFF);
    EXPECT_EQ(CheckImageFileName("t0012.TIF"), IMAGE_NAME_OLD_TIFF);
    EXPECT_EQ(CheckImageFileName("C:\\v5\\y77.tif"), IMAGE_NAME_OLD_TIFF);
    EXPECT_EQ(CheckImageFileName("T0012a.tif"), IMAGE_NAME_OLD_TIFF_DERIVED);
    EXPECT_EQ(CheckImageFileName("TA.tif"), IMAGE_NAME_OLD_TIFF_DERIVED);
    EXPECT_EQ(CheckImageFileName("Q12.tif"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("T12.jpg"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("T1x2.tif"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("T12AA.tif"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName(".tif"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("x.FMS"), IMAGE_NAME_NATIVE);
    EXPECT_EQ(CheckImageFileName("x.qv"), IMAGE_NAME_NATIVE);
    EXPECT_EQ(CheckImageFileName("x.crfp"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("y.dcm"), IMAGE_NAME_DICOM);
    EXPECT_EQ(CheckImageFileName(""), IMAGE_NAME_OTHER);
}

TEST(ImageNameStatus, LongStemIsExaminedWhole) {
    // A cut at the path limit would drop the letters and call this a derived old file.
    const std::string stem = "T" + std::string(259, '1') + "xyzA";
    EXPECT_EQ(CheckImageFileName(stem + ".tif"), IMAGE_NAME_OTHER);
    EXPECT_EQ(CheckImageFileName("T" + std::string(300, '7') + "a.tif"),
              IMAGE_NAME_OLD_TIFF_DERIVED);
}

TEST(ImageNameStatus, DerivedNames) {
    EXPECT_TRUE(IsDerivedImageFileName("T123A.dx"));
    EXPECT_TRUE(IsDerivedImageFileName("C:\\p\\CR12A.cr"));
    EXPECT_TRUE(IsDerivedImageFileName("R5A.zel"));
    EXPECT_TRUE(IsDerivedImageFileName("r5a.ZEL"));
    EXPECT_TRUE(IsDerivedImageFileName("T0012a.tif"));
    EXPECT_FALSE(IsDerivedImageFileName("T123.dx"));
    EXPECT_FALSE(IsDerivedImageFileName("T12x3A.dx"));
    EXPECT_FALSE(IsDerivedImageFileName("T0012.tif"));
    EXPECT_FALSE(IsDerivedImageFileName("T12A.dcm"));
    EXPECT_FALSE(IsDerivedImageFileName("T12A.jpg"));
}

class NextImageFileName : public ::testing::Test {
  protected:
    void Touch(const std::string& name) { quorin::test::WriteText(dir.file(name), ""); }
    void Folder(const std::string& name) { std::filesystem::create_directory(dir.file(name)); }
    std::string Next(std::int32_t type) {
        std::string out = "stale";
        const bool ok = GetNextImageFileName(type, dir.path(), out);
        EXPECT_EQ(ok, !out.empty());
        return out;
    }
    quorin::test::TempDir dir;
};

TEST_F(NextImageFileName, EmptyFolderStartsAtOne) {
    EXPECT_EQ(Next(IMAGE_TYPE_ZEL), "R1");
    EXPECT_EQ(Next(IMAGE_TYPE_CR), "CR1");
    EXPECT_EQ(Next(IMAGE_TYPE_VOLUME), "VOL_1");
    EXPECT_EQ(Next(IMAGE_TYPE_DICOM), "1");
}

TEST_F(NextImageFileName, LargestNumberPlusOneSkippingTextAndXml) {
    Touch("R3.zel");
    Touch("R10.zel");
    Touch("R99.txt");
    Touch("R98.xml");
    EXPECT_EQ(Next(IMAGE_TYPE_ZEL), "R11");
}

TEST_F(NextImageFileName, PrefixMatchesWithoutRegardToCaseSkipOnlyExactCase) {
    Touch("R3.zel");
    Touch("r20.zel");  // the folder search ignores case
    Touch("R30.TXT");  // only ".txt" and ".xml" as written are skipped
    EXPECT_EQ(Next(IMAGE_TYPE_ZEL), "R31");
}

TEST_F(NextImageFileName, SharedFirstLettersCount) {
    Touch("CR5.cr");
    EXPECT_EQ(Next(IMAGE_TYPE_SC), "C6");
    EXPECT_EQ(Next(IMAGE_TYPE_CR), "CR6");
}

TEST_F(NextImageFileName, VolumesCountOnlyFolders) {
    Folder("VOL_2");
    Folder("VOL_7");
    Touch("VOL_9.zel");
    EXPECT_EQ(Next(IMAGE_TYPE_VOLUME), "VOL_8");
}

TEST_F(NextImageFileName, NoWrapAtTheLargestNumber) {
    Touch("R2147483646.zel");
    EXPECT_EQ(Next(IMAGE_TYPE_ZEL), "R2147483647");
    Touch("R2147483647.zel");
    EXPECT_EQ(Next(IMAGE_TYPE_ZEL), "");
    Touch("T99999999999.dx");  // saturates to the largest number: still no name
    EXPECT_EQ(Next(IMAGE_TYPE_DX), "");
}

TEST(NextImageFileNameFolders, EmptyOrMissingFolder) {
    std::string out = "stale";
    EXPECT_FALSE(GetNextImageFileName(IMAGE_TYPE_ZEL, "", out));
    EXPECT_EQ(out, "");
    quorin::test::TempDir dir;
    EXPECT_TRUE(GetNextImageFileName(IMAGE_TYPE_PANO, dir.file("missing"), out));
    EXPECT_EQ(out, "P1");
    EXPECT_TRUE(GetNextImageFileName(IMAGE_TYPE_PANO, dir.path() + "/", out));
    EXPECT_EQ(out, "P1");
}

}  // namespace
