// Older files at the edges: undated records of the day-month-year layouts, drawing data that lie
// outside the file, and drawing blobs that travel with the version they were written in
// through the header's blob, the SDK record and an older file.
#include <gtest/gtest.h>
#include <quorin/v5files.h>

#include <cstring>
#include <vector>

#include "common/oldtiff/tiffbuilder.h"
#include "common/records/header_test_util.h"
#include "records/headers/headerkinds.h"
#include "v5fixtures.h"

namespace {

using quorin::test::MakeV5Fixture;
using quorin::test::ReadBytes;
using quorin::test::TempDir;
using Bytes = std::vector<std::uint8_t>;

// Information, then pixels.
int ReadOld(const std::string& path, CHeader& header, Bytes* pixels) {
    if (int r = V5Files_ReadQVImageInformation(path.c_str(), &header, 0); r != 0) return r;
    pixels->assign(std::size_t(header.GetWidth()) * header.GetHeight() *
                       std::max(header.GetSamplesPerPixel(), 0),
                   0);
    return V5Files_ReadImage(path.c_str(), &header, 0, pixels->data());
}

// Layout 0x5405 records, dated and undated, packed from the layout tables: the day-month-year
// step gives every such record a century, so both read as sound (no sum is kept) and unmarked;
// the undated one keeps no date.
TEST(OlderFileEdges, Layout5405DatedOrNotIsSoundAndUnmarked) {
    TempDir dir;
    for (const bool dated : {true, false}) {
        const std::string file = dir.file(dated ? "R40.tif" : "R41.tif");
        ASSERT_TRUE(MakeV5Fixture("grey", file,
                                  std::string("--layout 0x5405 --width 100 --height 90 "
                                              "--compress lzw") +
                                      (dated ? "" : " --empty-date")));
        CHeaderZel header;
        Bytes pixels;
        ASSERT_EQ(ReadOld(file, header, &pixels), 0) << dated;
        EXPECT_EQ(header.GetChecksumMismatch(), 0) << dated;
        EXPECT_EQ(pixels, ReadBytes(file + ".raw")) << dated;
        EXPECT_EQ(header.ImageInfo().DateTime1().IsDateSet(), dated);
        EXPECT_EQ(header.ImageInfo().DateTime1().GetYear(), dated ? 1997 : 0);
    }
}

// A drawing tag whose bytes lie past the end of the file (libtiff ignores it too): the image
// reads with its pixels and without drawings, grey and colour alike.
TEST(OlderFileEdges, DrawingDataPastTheEndLeaveTheImageWithoutDrawings) {
    TempDir dir;
    struct Case {
        const char* kind;
        const char* name;
        const char* options;
    } cases[] = {{"grey", "R42.tif", "--drawing 40 --compress lzw"}, {"colourtif", "C43.tif", ""}};
    for (const Case& c : cases) {
        const std::string file = dir.file(c.name);
        ASSERT_TRUE(MakeV5Fixture(c.kind, file, std::string(c.options) + " --drawing-past-end"));
        CHeaderSC header;
        Bytes pixels;
        ASSERT_EQ(ReadOld(file, header, &pixels), 0) << c.name;
        EXPECT_EQ(pixels, ReadBytes(file + ".raw")) << c.name;
        EXPECT_EQ(header.DrawingStore().GetDrawingCount(), 0) << c.name;
        EXPECT_EQ(header.GetChecksumMismatch(), 0) << c.name;
    }
}

// ---- drawing blobs and their writer version

struct OwnedItem {
    SOMUDrawingItem raw{};
    OwnedItem(std::int32_t type, const char* text) {
        raw.nType = type;
        raw.nDrawingId = type << 16 | 1;
        raw.nPointCount = 2;
        raw.pPoints = new SOMUDrawingPoint[2]{{10, 20}, {30.5, 40.25}};
        std::strncpy(raw.szText, text, sizeof raw.szText);
    }
    ~OwnedItem() { FreeDrawingItem(&raw); }
    OwnedItem(const OwnedItem&) = delete;
    OwnedItem& operator=(const OwnedItem&) = delete;
};

// Drawings whose fields only the newer layouts carry: texts, a second value, point texts.
void AddDrawings(CHeader& h) {
    OwnedItem line(1, "line text"), angle(11, "angle"), profile(14, "profile");
    angle.raw.anValues[0] = 7;
    angle.raw.anValues[1] = -9;
    profile.raw.pPointValues = new std::int32_t[2]{3, 4};
    profile.raw.pPointTexts = new char[2 * kDrawingTextSize]();
    std::strcpy(profile.raw.pPointTexts + kDrawingTextSize, "second point");
    for (OwnedItem* item : {&line, &angle, &profile})
        ASSERT_TRUE(h.DrawingStore().AddDrawing(CDrawingStore::kAppend, &item->raw));
}

// The drawings as the newest layout writes them: equal bytes, equal drawings.
Bytes NewestBlob(const CHeader& h) {
    CDrawingStore copy(h.DrawingStore());
    copy.SetWriterVersion(CDrawingStore::kNewestVersion);
    std::uint32_t size = 0;
    const std::uint8_t* blob = copy.WriteBlob(&size);
    return blob ? Bytes(blob, blob + size) : Bytes{};
}

// An intra-oral older file of 8 x 4 pixels holding `drawing` in its drawing tag.
Bytes OldFileWith(const Bytes& drawing) {
    quorin::test::TiffBuilder b;
    Bytes record(356, 0);
    record[0] = 0x09, record[1] = 0x54;  // layout word 0x5409, little-endian
    std::memcpy(&record[2], "20240102", 8);
    const int pixels = b.Blob(Bytes(32, 100));
    const int description = b.Blob(record);
    const int blob = b.Blob(drawing);
    auto d = quorin::test::TiffBuilder::Grey(8, 4, pixels, 32);
    d.insert(d.begin() + 6, quorin::test::TiffBuilder::At(270, 2, 356, description));
    d.push_back(quorin::test::TiffBuilder::At(32956, 2, std::uint32_t(drawing.size()), blob));
    return b.Build({d});
}

TEST(DrawingVersions, EveryStoredBlobReadsBackAsWritten) {
    CHeaderZel source;  // no writer version: the blob is written in the newest layout
    source.SetWidth(8);
    source.SetHeight(4);
    AddDrawings(source);
    const Bytes expected = NewestBlob(source);
    ASSERT_FALSE(expected.empty());

    // The header's own blob, stored with the header's version.
    const std::uint8_t* data = source.GetDrawingData();
    const Bytes blob(data, data + source.GetDrawingDataSize());
    const std::string version = source.GetWriterVersion();
    CHeaderZel fromBlob;
    fromBlob.SetWriterVersion(version);
    EXPECT_TRUE(fromBlob.SetDrawingData(blob.data(), std::uint32_t(blob.size()), 8, 4, 1));

    // The SDK record, and the blob of a header read from it.
    auto record = quorin::test::NewRecord();
    CHeaderZel fresh;  // no version either
    fresh.SetWidth(8);
    fresh.SetHeight(4);
    AddDrawings(fresh);
    fresh.ToSOMU(*record);
    CHeaderZel fromRecord;
    fromRecord.FromSOMU(*record);
    const std::uint8_t* again = fromRecord.GetDrawingData();
    const Bytes recordBlob(again, again + fromRecord.GetDrawingDataSize());
    CHeaderZel fromRecordBlob;
    fromRecordBlob.SetWriterVersion(fromRecord.GetWriterVersion());
    fromRecordBlob.SetDrawingData(recordBlob.data(), std::uint32_t(recordBlob.size()), 8, 4, 1);

    // An older file carrying the blob, read with the version it was written in.
    TempDir dir;
    const std::string file = dir.file("R44.tif");
    quorin::test::WriteBytes(file, OldFileWith(blob));
    CHeaderZel fromFile;
    fromFile.SetWriterVersion(version);
    Bytes pixels;
    ASSERT_EQ(ReadOld(file, fromFile, &pixels), 0);

    for (const CHeaderZel* read : {&fromBlob, &fromRecord, &fromRecordBlob, &fromFile}) {
        EXPECT_EQ(read->DrawingStore().GetDrawingCount(), 3);
        EXPECT_EQ(NewestBlob(*read), expected);
    }
}

}  // namespace
