// Headers of new files: a processed copy, a duplicate, and a computed-radiography image
// converted into an extra-oral or intra-oral one. New files are numbered in the patient's
// folder and never carry their source's instance UID.
#include <gtest/gtest.h>
#include <quorin/uid.h>

#include <string>

#include "common/records/header_test_util.h"
#include "common/test_util.h"
#include "platform/core/path.h"
#include "records/core/uid.h"

namespace quorin::test {
namespace {

struct Reference {
    std::string uid;
    std::int32_t classCode = 0;
    std::int32_t number = -1;
};

Reference ReferenceOf(const CHeader& h) {
    Reference r;
    h.ImageGroup().GetReferencedImage(&r.uid, &r.classCode, &r.number);
    return r;
}

// The patient folder with a few files of other kinds and of the target kinds.
void Populate(const TempDir& dir) {
    for (const char* name : {"T3.dx", "T7.io", "R2.zel", "CR5.cr", "notes.txt", "D4.vl"})
        WriteText(dir.file(name), "x");
}

TEST(ProcessedCopy, AFirstCopyGetsNewUIDsAndRefersToItsSource) {
    TempDir dir;
    Populate(dir);
    CHeaderZel h;
    FillHeader(h, 1, dir.path());
    const std::string series = h.ImageGroup().SeriesUID().GetText();
    const std::string instance = h.ImageGroup().InstanceUID().GetText();
    ASSERT_TRUE(h.PrepareProcessedCopy());
    EXPECT_EQ(h.GetImageType(), IMAGE_TYPE_IO);
    EXPECT_EQ(h.GetPath(), dir.path() + "/T8.iofp");  // "T" counts T3.dx and T7.io
    EXPECT_NE(h.ImageGroup().SeriesUID().GetText(), series);
    EXPECT_NE(h.ImageGroup().InstanceUID().GetText(), instance);
    EXPECT_TRUE(IsValidUid(h.ImageGroup().SeriesUID().GetText()));
    EXPECT_TRUE(IsValidUid(h.ImageGroup().InstanceUID().GetText()));
    // The derived instance UID keeps its source as prefix.
    EXPECT_EQ(h.ImageGroup().InstanceUID().GetText().rfind(instance + ".", 0), 0u);
    const Reference ref = ReferenceOf(h);
    EXPECT_EQ(ref.uid, instance);
    EXPECT_EQ(ref.classCode, IMAGE_TYPE_ZEL);
    EXPECT_EQ(ref.number, 0);
    EXPECT_EQ(h.Filter().GetProcessed(), 1);
    EXPECT_EQ(h.ImageInfo().GetLossyCompression(nullptr), 0);
    EXPECT_EQ(h.ImageGroup().GetSeriesNumber(), "1");
    EXPECT_EQ(h.ImageGroup().GetInstanceNumber(), "1");
    EXPECT_TRUE(h.ImageInfo().DateTime2().IsDateSet());
    EXPECT_NE(h.ImageGroup().DateTime().GetYear(), 2006);  // now
}

TEST(ProcessedCopy, ACopyOfACopyKeepsTheClassOfItsSourcesReference) {
    TempDir dir;
    CHeaderIO h;
    FillHeader(h, 1, dir.path());  // refers to an image of class 7
    h.Filter().SetProcessed(1);
    const std::string instance = h.ImageGroup().InstanceUID().GetText();
    ASSERT_TRUE(h.PrepareProcessedCopy());
    EXPECT_EQ(h.GetPath(), dir.path() + "/T1.iofp");
    const Reference ref = ReferenceOf(h);
    EXPECT_EQ(ref.uid, instance);
    EXPECT_EQ(ref.classCode, 7);
    EXPECT_EQ(ref.number, 0);
}

TEST(ProcessedCopy, ALongSourceUIDGivesAFreshUIDNeverTheSourcesOwn) {
    TempDir dir;
    CHeaderPano h;
    FillHeader(h, 1, dir.path());
    const std::string longUID = "1.2.840.10008.99999." + std::string(43, '1');
    ASSERT_EQ(longUID.size(), 63u);
    h.ImageGroup().SetInstanceUID(longUID);
    for (bool processed : {false, true}) {
        CHeaderPano copy(h);
        copy.Filter().SetProcessed(processed ? 1 : 0);
        ASSERT_TRUE(copy.PrepareProcessedCopy());
        EXPECT_NE(copy.ImageGroup().InstanceUID().GetText(), longUID);
        EXPECT_TRUE(IsValidUid(copy.ImageGroup().InstanceUID().GetText()));
        EXPECT_EQ(copy.GetImageType(), IMAGE_TYPE_DX);
        EXPECT_EQ(win::PathExtension(copy.GetPath()), ".dxfp");
        EXPECT_EQ(ReferenceOf(copy).uid, longUID);
    }
}

TEST(ProcessedCopy, TypesMapToTheirProcessedKind) {
    TempDir dir;
    struct Case {
        std::int32_t from, to;
        const char* ext;
    };
    for (const Case c : {Case{1, 8, ".iofp"}, Case{8, 8, ".iofp"}, Case{2, 9, ".vl"},
                         Case{9, 9, ".vl"}, Case{3, 7, ".dxfp"}, Case{6, 7, ".dxfp"},
                         Case{7, 7, ".dxfp"}, Case{10, 10, ".sc"}, Case{13, 13, ".crfp"},
                         Case{14, 13, ".crfp"}, Case{15, 13, ".crfp"}, Case{16, 13, ".crfp"}}) {
        CHeader h;
        FillHeader(h, 1, dir.path());
        h.SetImageType(c.from);
        ASSERT_TRUE(h.PrepareProcessedCopy()) << c.from;
        EXPECT_EQ(h.GetImageType(), c.to) << c.from;
        EXPECT_EQ(win::PathExtension(h.GetPath()), c.ext) << c.from;
    }
}

TEST(ProcessedCopy, KindsWithoutAProcessedFormAreLeftAlone) {
    TempDir dir;
    for (std::int32_t type : {0, 4, 5, 11, 12, 17, 18, 19, 42}) {
        CHeader h;
        FillHeader(h, 1, dir.path());
        h.SetImageType(type);
        const std::string before = DescribeHeader(h);
        EXPECT_FALSE(h.PrepareProcessedCopy()) << type;
        EXPECT_EQ(DescribeHeader(h), before) << type;
    }
}

TEST(ProcessedCopy, WithoutAPatientFolderThereIsNoName) {
    CHeaderZel h;
    FillHeader(h, 1, "");
    const std::string instance = h.ImageGroup().InstanceUID().GetText();
    EXPECT_FALSE(h.PrepareProcessedCopy());
    EXPECT_EQ(h.GetPath(), "");  // never a name in the root folder
    EXPECT_NE(h.ImageGroup().InstanceUID().GetText(), instance);
}

TEST(Duplicate, NewNameAndInstanceInTheSameSeries) {
    TempDir dir;
    Populate(dir);
    CHeaderZel h;
    FillHeader(h, 1, dir.path());
    h.SetPath(dir.file("R2.zel"));
    const std::string series = h.ImageGroup().SeriesUID().GetText();
    const std::string instance = h.ImageGroup().InstanceUID().GetText();
    ASSERT_TRUE(h.PrepareDuplicate());
    EXPECT_EQ(h.GetPath(), dir.path() + "/R3.zel");
    EXPECT_EQ(h.GetImageType(), IMAGE_TYPE_ZEL);
    EXPECT_EQ(h.ImageGroup().SeriesUID().GetText(), series);
    EXPECT_NE(h.ImageGroup().InstanceUID().GetText(), instance);
    EXPECT_TRUE(IsValidUid(h.ImageGroup().InstanceUID().GetText()));
    const Reference ref = ReferenceOf(h);
    EXPECT_EQ(ref.uid, instance);
    EXPECT_EQ(ref.classCode, IMAGE_TYPE_ZEL);
    EXPECT_EQ(ref.number, 0);
    EXPECT_EQ(h.ImageGroup().GetInstanceNumber(), "1");
}

TEST(Duplicate, TheExtensionIsTheFileNamesOwn) {
    TempDir dir;
    CHeaderDX h;
    FillHeader(h, 1, dir.path());
    h.SetPath("/data/v1.2/T9");  // a dot in a folder is no extension
    ASSERT_TRUE(h.PrepareDuplicate());
    EXPECT_EQ(h.GetPath(), dir.path() + "/T1");
    h.SetPath("/data/T9.DxFp");
    ASSERT_TRUE(h.PrepareDuplicate());
    EXPECT_EQ(h.GetPath(), dir.path() + "/T1.DxFp");
}

TEST(Duplicate, ALongSourceUIDGivesAFreshUID) {
    TempDir dir;
    CHeaderDX h;
    FillHeader(h, 1, dir.path());
    const std::string longUID = "1.2." + std::string(60, '3');
    h.ImageGroup().SetInstanceUID(longUID);
    ASSERT_TRUE(h.PrepareDuplicate());
    EXPECT_NE(h.ImageGroup().InstanceUID().GetText(), longUID);
    EXPECT_TRUE(IsValidUid(h.ImageGroup().InstanceUID().GetText()));
}

// ---- computed radiography into extra-oral and intra-oral images

TEST(ConvertToDX, PlateScannerKindsBecomeExtraOralOrIntraOral) {
    TempDir dir;
    Populate(dir);
    struct Case {
        HeaderKind kind;
        bool processed;
        std::int32_t type;
        const char* name;
    };
    const Case cases[] = {
        {MakeHeaderKind<CHeaderCRPano>("CRPano", 15), false, 7, "T8.dx"},
        {MakeHeaderKind<CHeaderCRPano>("CRPano", 15), true, 7, "T8.dxfp"},
        {MakeHeaderKind<CHeaderCR>("CR", 13), false, 7, "T8.dx"},
        {MakeHeaderKind<CHeaderCRCeph>("CRCeph", 16), true, 7, "T8.dxfp"},
        {MakeHeaderKind<CHeaderCRIO>("CRIO", 14), true, 8, "T8.iofp"},
        {MakeHeaderKind<CHeaderCRIO>("CRIO", 14), false, 8, "T8.io"},
    };
    for (const Case& c : cases) {
        auto made = c.kind.make();
        auto* h = static_cast<CHeaderCR*>(made.get());
        FillHeader(*h, 1, dir.path());
        const std::string series = h->ImageGroup().SeriesUID().GetText();
        const std::string instance = h->ImageGroup().InstanceUID().GetText();
        ASSERT_TRUE(h->ConvertToDX(c.processed)) << c.kind.name;
        EXPECT_EQ(h->GetImageType(), c.type);
        EXPECT_EQ(h->GetPath(), dir.path() + "/" + c.name);
        EXPECT_NE(h->ImageGroup().SeriesUID().GetText(), series);
        EXPECT_NE(h->ImageGroup().InstanceUID().GetText(), instance);
        EXPECT_TRUE(IsValidUid(h->ImageGroup().SeriesUID().GetText()));
        EXPECT_TRUE(IsValidUid(h->ImageGroup().InstanceUID().GetText()));
        EXPECT_EQ(h->Filter().GetProcessed(), c.processed ? 1 : 0);
        EXPECT_EQ(h->ImageGroup().GetSeriesNumber(), "1");
        EXPECT_EQ(h->ImageGroup().GetInstanceNumber(), "1");
        const Reference ref = ReferenceOf(*h);
        EXPECT_EQ(ref.uid, instance);
        EXPECT_EQ(ref.classCode, c.kind.type);
        EXPECT_EQ(ref.number, 0);
    }
}

TEST(ConvertToDX, OtherTypesAreLeftAlone) {
    TempDir dir;
    CHeaderCR h;
    FillHeader(h, 1, dir.path());
    h.SetImageType(IMAGE_TYPE_DX);
    const std::string before = DescribeHeader(h);
    EXPECT_FALSE(h.ConvertToDX(true));
    EXPECT_EQ(DescribeHeader(h), before);
}

TEST(ConvertToDX, TheConvertedHeaderTravelsAsAnExtraOralImage) {
    TempDir dir;
    CHeaderCRPano cr;
    FillHeader(cr, 1, dir.path());
    ASSERT_TRUE(cr.ConvertToDX(false));
    auto record = NewRecord();
    ASSERT_TRUE(cr.ToSOMU(*record));
    EXPECT_EQ(record->nImageType, IMAGE_TYPE_DX);
    EXPECT_STREQ(record->szFileName, "T1.dx");
    CHeaderDX dx;
    dx.FromSOMU(*record);
    EXPECT_EQ(dx.GetImageType(), IMAGE_TYPE_DX);
    EXPECT_EQ(dx.ImageGroup().InstanceUID().GetText(), cr.ImageGroup().InstanceUID().GetText());
    EXPECT_EQ(ReferenceOf(dx).classCode, IMAGE_TYPE_CRPANO);
}

}  // namespace
}  // namespace quorin::test
