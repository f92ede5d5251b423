// The twelve header classes against the SDK record: every exchanged field survives header ->
// record -> header; copies and assignments are deep; Reset gives back a new header's state;
// the asymmetric filter exchange and the path rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/records/header_test_util.h"
#include "platform/core/globalmem.h"
#include "records/headers/headerkinds.h"
#include "sdk/somutext.h"

namespace quorin::test {
namespace {

constexpr unsigned kRoundTrip = kExchanged | kPersistent | kNowDates;

class HeaderKindTest : public ::testing::TestWithParam<HeaderKind> {};

// The record with its owned blocks and random masks blanked, for a byte comparison.
std::vector<std::uint8_t> RecordBytes(const SOMUImage& record) {
    auto copy = std::make_unique<SOMUImage>();
    std::memcpy(copy.get(), &record, sizeof(SOMUImage));
    copy->image.pPixels = nullptr;
    copy->drawing.pBlob = nullptr;
    copy->drawing.list.pItems = nullptr;
    copy->display.lut.pTable = nullptr;
    copy->pano.pPoints = nullptr;
    copy->nCheck1 = copy->nCheck2 = copy->nCheck3 = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(copy.get());
    return std::vector<std::uint8_t>(bytes, bytes + sizeof(SOMUImage));
}

TEST_P(HeaderKindTest, NewHeaderHasItsTypeAndDefaults) {
    const HeaderKind& kind = GetParam();
    auto h = kind.make();
    EXPECT_EQ(h->GetImageType(), kind.type);
    EXPECT_EQ(h->GetDrawingFlag(), 1);
    EXPECT_EQ(h->GetWriterVersion(), "");
    EXPECT_EQ(h->Filter().GetProcessed(), 0);
    if (auto* dx = dynamic_cast<CHeaderDX*>(h.get())) {
        EXPECT_EQ(dx->PixelIntensity().strText, "LIN");
        EXPECT_EQ(dx->PixelIntensity().nSign, 65535);
        EXPECT_EQ(dx->PixelIntensity().nValue, -1);
        EXPECT_EQ(dx->LUTGray().GetMask(), 239);
        EXPECT_EQ(dx->Detector().GetManufacturer(), "Quorin Radiologie");
    }
    if (auto* pano = dynamic_cast<CHeaderPano*>(h.get())) {
        EXPECT_EQ(pano->PanoProcess().GetLevel(), 1);
    }
    if (auto* pano = dynamic_cast<CHeaderCRPano*>(h.get())) {
        EXPECT_EQ(pano->PanoProcess().GetLevel(), 1);
    }
}

TEST_P(HeaderKindTest, RoundTripThroughTheRecordKeepsEveryExchangedField) {
    const HeaderKind& kind = GetParam();
    auto source = kind.make();
    FillHeader(*source, 1);
    auto record = NewRecord();
    ASSERT_TRUE(source->ToSOMU(*record));

    auto back = kind.make();
    back->FromSOMU(*record);
    std::string expected = DescribeHeader(*source, kRoundTrip);
    if (kind.type == IMAGE_TYPE_CRIO) {
        // The second CR value and the sensor's filter level share one record field.
        auto* crio = static_cast<CHeaderCRIO*>(source.get());
        crio->SetCRParameters({crio->GetCRParameters().nFirst, crio->InfosZel().GetFilterLevel()});
        expected = DescribeHeader(*source, kRoundTrip);
    }
    EXPECT_EQ(DescribeHeader(*back, kRoundTrip), expected);

    // Written again, the record is the same byte for byte, its owned blocks too.
    auto again = NewRecord();
    ASSERT_TRUE(back->ToSOMU(*again));
    EXPECT_EQ(RecordBytes(*again), RecordBytes(*record));
    ASSERT_EQ(again->drawing.nBlobSize, record->drawing.nBlobSize);
    ASSERT_GT(record->drawing.nBlobSize, 0u);
    EXPECT_EQ(std::memcmp(again->drawing.pBlob, record->drawing.pBlob, record->drawing.nBlobSize),
              0);
    EXPECT_EQ(again->drawing.list.nCount, 2);
    ASSERT_EQ(again->display.lut.nTableCount, record->display.lut.nTableCount);
    if (record->display.lut.nTableCount > 0) {
        EXPECT_EQ(std::memcmp(again->display.lut.pTable, record->display.lut.pTable,
                              record->display.lut.nTableCount * 2),
                  0);
    }
    ASSERT_EQ(again->pano.nPointCount, record->pano.nPointCount);
    if (record->pano.nPointCount > 0) {
        EXPECT_EQ(
            std::memcmp(again->pano.pPoints, record->pano.pPoints, record->pano.nPointCount * 4),
            0);
    }
}

TEST_P(HeaderKindTest, ConvertingIntoAUsedRecordReplacesItsBlocks) {
    const HeaderKind& kind = GetParam();
    const auto liveBefore = win::globalmem_testing::LiveBlocks();
    {
        auto record = NewRecord();
        auto first = kind.make();
        FillHeader(*first, 2);
        ASSERT_TRUE(first->ToSOMU(*record));
        const auto liveOnce = win::globalmem_testing::LiveBlocks();
        auto second = kind.make();
        FillHeader(*second, 3);
        ASSERT_TRUE(second->ToSOMU(*record));
        EXPECT_EQ(win::globalmem_testing::LiveBlocks(), liveOnce);  // the old blocks went
        auto back = kind.make();
        back->FromSOMU(*record);
        EXPECT_EQ(back->DrawingStore().GetDrawingCount(), 2);
        EXPECT_EQ(back->GetWidth(), 40);
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), liveBefore);
}

TEST_P(HeaderKindTest, CopiesAndAssignmentsAreDeep) {
    const HeaderKind& kind = GetParam();
    auto source = kind.make();
    FillHeader(*source, 4);
    const std::string expected = DescribeHeader(*source);

    auto copy = kind.copy(*source);
    auto assigned = kind.make();
    FillHeader(*assigned, 5);
    kind.assign(*assigned, *source);
    EXPECT_EQ(DescribeHeader(*copy), expected);
    EXPECT_EQ(DescribeHeader(*assigned), expected);

    // Changing and then destroying the source leaves the copies whole.
    FillHeader(*source, 6);
    source->DrawingStore().Clear();
    source->Reset();
    source.reset();
    EXPECT_EQ(DescribeHeader(*copy), expected);
    EXPECT_EQ(DescribeHeader(*assigned), expected);
    auto record = NewRecord();
    EXPECT_TRUE(copy->ToSOMU(*record));
    EXPECT_TRUE(assigned->ToSOMU(*record));

    kind.assign(*assigned, *assigned);  // self-assignment keeps everything
    EXPECT_EQ(DescribeHeader(*assigned), expected);
}

TEST_P(HeaderKindTest, ResetGivesBackTheStateOfANewHeader) {
    const HeaderKind& kind = GetParam();
    auto fresh = kind.make();
    auto used = kind.make();
    FillHeader(*used, 7);
    used->Filter().SetFilter(3, 4);
    used->Filter().SetProcessed(1);
    used->SetChecksumMismatch(1);
    const std::string kept = DescribeHeader(*used, kPersistent);
    const std::string text = used->ImageInfo().GetImageText();
    used->Reset();
    constexpr unsigned kResetScope = kExchanged | kMemoryOnly | kFilter;
    EXPECT_EQ(DescribeHeader(*used, kResetScope), DescribeHeader(*fresh, kResetScope));
    // Patient, study, series and the image text are kept, as the records define their reset.
    EXPECT_EQ(DescribeHeader(*used, kPersistent), kept);
    EXPECT_EQ(used->ImageInfo().GetImageText(), text);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, HeaderKindTest, ::testing::ValuesIn(AllHeaderKinds()),
                         [](const ::testing::TestParamInfo<HeaderKind>& info) {
                             return std::string(info.param.name);
                         });

// ---- particular fields

TEST(HeaderExchange, FilterIsReadFromTheProcessingLevelAndWrittenToTheFilterField) {
    CHeaderDX h;
    h.Filter().SetFilter(3, 7);
    auto record = NewRecord();
    record->nProcessingLevel = 99;
    ASSERT_TRUE(h.ToSOMU(*record));
    EXPECT_EQ(record->nFilter, 3);
    EXPECT_EQ(record->nFilterParameter, 7);
    EXPECT_EQ(record->bFilterSet, 1);
    EXPECT_EQ(record->bProcessed, 0);
    EXPECT_EQ(record->nProcessingLevel, 99);  // not written

    CHeaderDX back;
    back.FromSOMU(*record);
    std::int32_t filter = 0, parameter = 0;
    back.Filter().GetFilter(&filter, &parameter);
    EXPECT_EQ(filter, 99);  // what the SDK's processing applied, not nFilter
    EXPECT_EQ(parameter, 7);

    // Without a processing level the filter does not survive the trip.
    record->nProcessingLevel = 0;
    CHeaderDX lost;
    lost.FromSOMU(*record);
    lost.Filter().GetFilter(&filter, &parameter);
    EXPECT_EQ(filter, 0);
    EXPECT_EQ(parameter, 0);
}

TEST(HeaderExchange, ProcessedFlagTravelsAndAProcessedHeaderWritesNoFilter) {
    CHeaderIO h;
    h.Filter().SetProcessed(1);
    h.Filter().SetFilter(3, 7);  // a processed copy keeps no filter
    auto record = NewRecord();
    ASSERT_TRUE(h.ToSOMU(*record));
    EXPECT_EQ(record->bProcessed, 1);
    EXPECT_EQ(record->nFilter, 0);
    EXPECT_EQ(record->bFilterSet, 0);

    // Read into a new header, the processing level is taken before the processed flag.
    record->nProcessingLevel = 5;
    record->nFilterParameter = 6;
    CHeaderIO back;
    back.FromSOMU(*record);
    std::int32_t filter = 0, parameter = 0;
    back.Filter().GetFilter(&filter, &parameter);
    EXPECT_EQ(filter, 5);
    EXPECT_EQ(parameter, 6);
    EXPECT_EQ(back.Filter().GetProcessed(), 1);
}

TEST(HeaderExchange, CRIntraOralFilterLevelTakesTheSecondCRValueField) {
    CHeaderCRIO h;
    h.SetCRParameters({21, 22});
    h.InfosZel().SetFilterLevel(4);
    auto record = NewRecord();
    ASSERT_TRUE(h.ToSOMU(*record));
    EXPECT_EQ(record->cr.nValue1, 21);
    EXPECT_EQ(record->cr.nValue2, 4);
    EXPECT_EQ(record->cr.bFlag, 0);
    EXPECT_EQ(record->sensor.bCRSensor, 1);
    CHeaderCRIO back;
    back.FromSOMU(*record);
    EXPECT_EQ(back.GetCRParameters().nSecond, 4);
    EXPECT_EQ(back.InfosZel().GetFilterLevel(), 4);
}

TEST(HeaderExchange, WlkConvertsAsVL) {
    CHeaderWlk wlk;
    CHeaderVL vl;
    FillHeader(wlk, 1);
    FillHeader(vl, 1);
    wlk.SetImageType(IMAGE_TYPE_VL);
    auto a = NewRecord();
    auto b = NewRecord();
    ASSERT_TRUE(wlk.ToSOMU(*a));
    ASSERT_TRUE(vl.ToSOMU(*b));
    EXPECT_EQ(RecordBytes(*a), RecordBytes(*b));
    EXPECT_EQ(CHeaderWlk().GetImageType(), IMAGE_TYPE_WLK);
}

TEST(HeaderExchange, AssigningAPlainHeaderResetsTheKindsOwnRecords) {
    CHeaderDX dx;
    FillHeader(dx, 1);
    CHeader plain;
    FillHeader(plain, 2);
    plain.SetImageType(IMAGE_TYPE_DX);
    static_cast<CHeader&>(dx) = plain;
    EXPECT_EQ(DescribeHeader(static_cast<const CHeader&>(dx), kPersistent),
              DescribeHeader(plain, kPersistent));
    EXPECT_EQ(dx.PixelIntensity().strText, "LIN");
    EXPECT_TRUE(dx.LUTGray().HasNoTable());
    EXPECT_EQ(dx.GetImageType(), IMAGE_TYPE_DX);
}

// ---- paths

TEST(HeaderPaths, FolderAndNameAreJoinedWithASlash) {
    auto record = NewRecord();
    PutFieldText(record->szDirectory, "C:\\PAT\\P1");
    PutFieldText(record->szFileName, "R1.zel");
    CHeaderZel h;
    h.FromSOMU(*record);
    EXPECT_EQ(h.GetPath(), "C:\\PAT\\P1/R1.zel");

    PutFieldText(record->szDirectory, "/data/p1/");
    h.FromSOMU(*record);
    EXPECT_EQ(h.GetPath(), "/data/p1/R1.zel");
}

TEST(HeaderPaths, AnEmptyFolderGivesTheBareFileName) {
    auto record = NewRecord();
    PutFieldText(record->szFileName, "R1.zel");
    CHeaderZel h;
    h.FromSOMU(*record);
    EXPECT_EQ(h.GetPath(), "R1.zel");

    // ... and the name comes back whole.
    auto out = NewRecord();
    ASSERT_TRUE(h.ToSOMU(*out));
    EXPECT_STREQ(out->szFileName, "R1.zel");
    EXPECT_STREQ(out->szDirectory, "");
}

TEST(HeaderPaths, FileNameIsTheLastComponentWhicheverSeparator) {
    CHeaderDX h;
    auto record = NewRecord();
    for (const char* path : {"C:\\PAT\\T3.dx", "/data/PAT/T3.dx", "C:\\PAT/sub\\T3.dx", "T3.dx"}) {
        h.SetPath(path);
        ASSERT_TRUE(h.ToSOMU(*record)) << path;
        EXPECT_STREQ(record->szFileName, "T3.dx") << path;
    }
    h.SetPath("/data/PAT/");
    ASSERT_TRUE(h.ToSOMU(*record));
    EXPECT_STREQ(record->szFileName, "");
}

TEST(HeaderPaths, ANameTooLongForItsFieldIsRefusedNotCut) {
    CHeaderDX h;
    h.SetPath("/data/" + std::string(kSOMUPathWidth, 'n') + ".dx");
    auto record = NewRecord();
    PutFieldText(record->szFileName, "old.dx");
    EXPECT_FALSE(h.ToSOMU(*record));
    EXPECT_STREQ(record->szFileName, "");
    EXPECT_EQ(record->nImageType, IMAGE_TYPE_DX);  // the other fields are written
}

// ---- drawings

TEST(HeaderDrawings, WriterVersionAndFlagAreKeptInBothPlaces) {
    CHeader h;
    h.SetWriterVersion("1.5.0.0");
    h.SetDrawingFlag(0);
    EXPECT_EQ(h.GetWriterVersion(), "1.5.0.0");
    EXPECT_STREQ(h.DrawingStore().GetWriterVersion(), "1.5.0.0");
    EXPECT_EQ(h.DrawingStore().GetDrawingFlag(), 0);
}

TEST(HeaderDrawings, AnOlderLayoutTravelsThroughTheRecordWhole) {
    // A file of an older writer: its drawings have no text in the blob. Through the record they
    // keep what they have, whatever layout the file used.
    CHeaderZel h;
    FillHeader(h, 1);
    h.SetWriterVersion("1.5.0.0");
    std::uint32_t size = h.GetDrawingDataSize();
    const std::uint8_t* blob = h.GetDrawingData();
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(size, h.DrawingStore().GetBlobSize());
    std::vector<std::uint8_t> old(blob, blob + size);

    CHeaderZel reader;
    reader.SetWriterVersion("1.5.0.0");
    ASSERT_TRUE(reader.SetDrawingData(old.data(), size, 40, 30, 1));
    ASSERT_EQ(reader.DrawingStore().GetDrawingCount(), 2);

    auto record = NewRecord();
    ASSERT_TRUE(reader.ToSOMU(*record));
    // Only the blob: the record's list is dropped, as an SDK that keeps the blob alone would.
    FreeDrawingList(&record->drawing.list);
    CHeaderZel back;
    back.FromSOMU(*record);
    ASSERT_EQ(back.DrawingStore().GetDrawingCount(), 2);
    EXPECT_EQ(back.DrawingStore().GetDrawing(1)->anValues[0], 4);
    EXPECT_EQ(back.GetDrawingFlag(), 1);
}

TEST(HeaderDrawings, TheRecordsListWinsOverAStaleBlob) {
    CHeaderZel h;
    FillHeader(h, 1);
    auto record = NewRecord();
    ASSERT_TRUE(h.ToSOMU(*record));
    // The overlay moved a point in the list.
    record->drawing.list.pItems[0].pPoints[0].x = 123.0;
    CHeaderZel back;
    back.FromSOMU(*record);
    EXPECT_EQ(back.DrawingStore().GetDrawing(0)->pPoints[0].x, 123.0);
}

TEST(HeaderDrawings, ABlobLargerThanItsBlockIsNotRead) {
    CHeaderZel h;
    FillHeader(h, 1);
    auto record = NewRecord();
    ASSERT_TRUE(h.ToSOMU(*record));
    FreeDrawingList(&record->drawing.list);
    record->drawing.nBlobSize += 4096;
    CHeaderZel back;
    back.FromSOMU(*record);
    EXPECT_EQ(back.DrawingStore().GetDrawingCount(), 0);
    record->drawing.nBlobSize -= 4096;
}

}  // namespace
}  // namespace quorin::test
