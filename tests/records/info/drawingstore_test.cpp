// The drawing store: version rules, blob parsing and writing, bounds on hostile blobs, the list
// exchange with the SDK record, mirroring and rotating.
#include "records/info/drawingstore.h"

#include <gtest/gtest.h>
#include <quorin/drawingstore.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An item owning its points (and the type-specific blocks the tests give it).
struct Item {
    SOMUDrawingItem raw{};
    Item(std::int32_t type, std::int32_t id, std::vector<SOMUDrawingPoint> points) {
        raw.nType = type;
        raw.nDrawingId = id;
        raw.nPointCount = static_cast<std::int32_t>(points.size());
        raw.pPoints = new SOMUDrawingPoint[points.size()];
        std::copy(points.begin(), points.end(), raw.pPoints);
    }
    ~Item() { FreeDrawingItem(&raw); }
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;
    void SetText(const char* text) {
        std::memset(raw.szText, 0, sizeof raw.szText);
        std::memcpy(raw.szText, text, std::min(std::strlen(text), sizeof raw.szText));
    }
};

// One drawing of every type the blob treats apart, with values in every field.
void AddSampleDrawings(CDrawingStore* store) {
    const int types[] = {1, 5, 6, 9, 11, 14, 20, 13};
    int seq = 0;
    for (int type : types) {
        ++seq;
        Item item(type, type << 16 | seq, {{10.5 * seq, 20.25}, {30, 40.75 + seq}, {-2.5, 1e6}});
        item.raw.nAttribute2 = static_cast<std::int16_t>(-seq);
        item.raw.nAttribute3 = 0x123456 * seq;
        item.raw.nAttribute4 = seq;
        item.SetText(("label " + std::to_string(type)).c_str());
        item.raw.abyTextAttributes[0] = 3;
        item.raw.abyTextAttributes[1] = 200;
        if (type == 5) {
            item.raw.adShape[0] = 4.5;
            item.raw.adShape[1] = -8;
            item.raw.adShape[2] = 2.0;
        } else if (type == 6) {
            item.raw.byDataLead = 9;
            item.raw.nDataLength = 5;
            item.raw.pData = new std::uint8_t[5]{1, 2, 3, 4, 5};
            item.raw.bMirrored = 1;
        } else if (type == 9) {
            item.raw.dValue = 12.5;
            item.raw.bHasValue = 1;
        } else if (type == 11 || type == 20) {
            item.raw.anValues[0] = 77;
            item.raw.anValues[1] = -88;
        } else if (type == 14) {
            item.raw.pPointValues = new std::int32_t[3]{5, 6, 7};
            item.raw.pPointTexts = new char[3 * kDrawingTextSize]();
            std::strcpy(item.raw.pPointTexts + kDrawingTextSize, "middle");
        }
        ASSERT_TRUE(store->AddDrawing(CDrawingStore::kAppend, &item.raw));
    }
}

Bytes Written(CDrawingStore* store) {
    std::uint32_t size = 0;
    const std::uint8_t* blob = store->WriteBlob(&size);
    return blob ? Bytes(blob, blob + size) : Bytes{};
}

Bytes SampleBlob(const char* version) {
    CDrawingStore store;
    store.SetWriterVersion(version);
    store.SetSize(640, 480);
    AddSampleDrawings(&store);
    return Written(&store);
}

bool Load(CDrawingStore* store, const Bytes& blob, const char* version, int width = 640,
          int height = 480) {
    store->SetWriterVersion(version);
    return store->SetDrawingData(blob.data(), blob.size(), width, height, 1);
}

const SOMUDrawingItem* FindType(const CDrawingStore& store, int type) {
    for (int i = 0; i < store.GetDrawingCount(); ++i)
        if (store.GetDrawing(i)->nType == type) return store.GetDrawing(i);
    return nullptr;
}

void PutBE16(Bytes* b, std::uint16_t v) {
    b->push_back(std::uint8_t(v >> 8));
    b->push_back(std::uint8_t(v));
}

// One old-form drawing: head, control byte, body and the 4-byte tail.
void OldDrawing(Bytes* b, std::uint8_t type, std::uint16_t refW, std::uint16_t refH,
                std::uint16_t entries, std::uint8_t control, std::vector<std::uint16_t> body) {
    b->push_back(type);
    PutBE16(b, refW);
    PutBE16(b, refH);
    PutBE16(b, std::uint16_t(entries << 2));
    b->push_back(control);
    for (std::uint16_t v : body) PutBE16(b, v);
    b->insert(b->end(), {4, 0x11, 0x22, 0x33});
}

Bytes OldBlob(std::uint16_t count) {
    return {0xDC, 0xBA, std::uint8_t(count >> 8), std::uint8_t(count)};
}

TEST(DrawingVersion, ComparesAsTextWithoutCase) {
    EXPECT_LT(quorin::CompareVersionText("1.10", "1.8"), 0);  // as texts, not numbers
    EXPECT_GT(quorin::CompareVersionText("1.8.0.0", "1.599990"), 0);
    EXPECT_LT(quorin::CompareVersionText("1.5.0.0", "1.599990"), 0);
    EXPECT_EQ(quorin::CompareVersionText("1.8.1.0A", "1.8.1.0a"), 0);
    EXPECT_LT(quorin::CompareVersionText("", "1.8.0.0"), 0);
}

TEST(DrawingVersion, TextualComparisonDecidesTheLayout) {
    // "1.10.0.0" reads as older than "1.599990": no text, and one value for type 11.
    CDrawingStore store;
    store.SetWriterVersion("1.10.0.0");
    AddSampleDrawings(&store);
    Bytes blob = Written(&store);
    CDrawingStore same;
    ASSERT_TRUE(Load(&same, blob, "1.10.0.0"));
    EXPECT_EQ(FindType(same, 1)->szText[0], 0);
    EXPECT_EQ(FindType(same, 11)->anValues[1], 0);
    EXPECT_EQ(blob.size(), SampleBlob("1.5.0.0").size());
}

TEST(DrawingIds, CountersAreSharedAndWrap) {
    CDrawingStore store;
    EXPECT_EQ(store.NextDrawingId(1), 1 << 16 | 1);
    EXPECT_EQ(store.NextDrawingId(4), 4 << 16 | 2);  // 1 and 4 share a counter
    EXPECT_EQ(store.NextDrawingId(11), 11 << 16 | 1);
    EXPECT_EQ(store.NextDrawingId(20), 20 << 16 | 2);
    EXPECT_EQ(store.NextDrawingId(2), 2 << 16 | 1);
    EXPECT_EQ(store.NextDrawingId(15), 15 << 16);  // no counter
    EXPECT_EQ(store.NextDrawingId(22), 22 << 16);
    EXPECT_EQ(store.NextDrawingId(15), 15 << 16);
    store.Reset();
    EXPECT_EQ(store.NextDrawingId(4), 4 << 16 | 1);
}

TEST(DrawingIds, NewDrawingsNeverTakeAnIdReadFromABlob) {
    CDrawingStore store;
    Item item(3, 3 << 16 | 40, {{1, 2}});
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &item.raw));
    EXPECT_EQ(store.NextDrawingId(3), 3 << 16 | 41);
}

TEST(DrawingBlob, Version180CarriesTextsButNoPointTexts) {
    CDrawingStore store;
    ASSERT_TRUE(Load(&store, SampleBlob("1.8.0.0"), "1.8.0.0"));
    ASSERT_EQ(store.GetDrawingCount(), 8);
    EXPECT_STREQ(FindType(store, 5)->szText, "label 5");
    EXPECT_EQ(FindType(store, 5)->abyTextAttributes[1], 200);
    const SOMUDrawingItem* t14 = FindType(store, 14);
    EXPECT_EQ(t14->pPointValues[2], 7);
    EXPECT_EQ(t14->pPointTexts[kDrawingTextSize], 0);  // left out by this version
    EXPECT_EQ(FindType(store, 11)->anValues[1], -88);
    EXPECT_EQ(FindType(store, 20)->anValues[0], 77);
}

TEST(DrawingBlob, Version150CarriesNoTextAndOneValue) {
    CDrawingStore store;
    const Bytes blob = SampleBlob("1.5.0.0");
    ASSERT_TRUE(Load(&store, blob, "1.5.0.0"));
    EXPECT_EQ(FindType(store, 1)->szText[0], 0);
    EXPECT_EQ(FindType(store, 11)->anValues[0], 77);
    EXPECT_EQ(FindType(store, 11)->anValues[1], 0);
    EXPECT_EQ(FindType(store, 6)->pData[4], 5);
    // 12 + 8 x (22 + 48) + 24 + 12 + 9 + 4 + 4 + 204: the type-14 texts are counted anyway.
    EXPECT_EQ(blob.size(), 12u + 8 * 70 + 24 + 12 + 9 + 4 + 4 + 68 * 3);
}

TEST(DrawingBlob, Version181CarriesEverything) {
    CDrawingStore store;
    ASSERT_TRUE(Load(&store, SampleBlob("1.8.1.0"), "1.8.1.0"));
    EXPECT_STREQ(FindType(store, 14)->pPointTexts + kDrawingTextSize, "middle");
    EXPECT_EQ(FindType(store, 5)->adShape[2], 2.0);
    EXPECT_EQ(FindType(store, 9)->dValue, 12.5);
}

TEST(DrawingBlob, ParseThenWriteIsByteExactForEveryVersion) {
    for (const char* version : {"1.8.0.0", "1.8.1.0", "1.5.0.0", "1.7", "1.10"}) {
        SCOPED_TRACE(version);
        const Bytes blob = SampleBlob(version);
        CDrawingStore store;
        ASSERT_TRUE(Load(&store, blob, version));
        EXPECT_EQ(Written(&store), blob);
    }
}

TEST(DrawingBlob, NewBlobWithoutVersionKeepsTheTexts) {
    // A fresh header has no writer version: the newest layout is written and recorded.
    CDrawingStore store;
    AddSampleDrawings(&store);
    const Bytes blob = Written(&store);
    EXPECT_STREQ(store.GetWriterVersion(), "1.8.1.0");
    CDrawingStore back;
    ASSERT_TRUE(Load(&back, blob, store.GetWriterVersion()));
    EXPECT_STREQ(FindType(back, 13)->szText, "label 13");
    EXPECT_STREQ(FindType(back, 14)->pPointTexts + kDrawingTextSize, "middle");
}

TEST(DrawingBlob, ListFromTheRecordWithoutVersionKeepsTheTexts) {
    CDrawingStore source;
    AddSampleDrawings(&source);
    SOMUDrawingList list{};
    ASSERT_TRUE(source.GetDrawingList(&list));
    CDrawingStore header;  // as a header built from an SDK record: no version, no blob
    ASSERT_TRUE(header.SetDrawingList(list));
    FreeDrawingList(&list);
    CDrawingStore back;
    const Bytes blob = Written(&header);
    ASSERT_TRUE(Load(&back, blob, header.GetWriterVersion()));
    EXPECT_STREQ(FindType(back, 9)->szText, "label 9");
}

TEST(DrawingBlob, DataLengthOutsideItsRangeIsRefused) {
    for (std::int32_t length : {0, 9999, -1}) {
        Bytes blob = SampleBlob("1.8.1.0");
        CDrawingStore store;
        ASSERT_TRUE(Load(&store, blob, "1.8.1.0"));
        // Find the type-6 length field: it follows the lead byte after the text.
        const SOMUDrawingItem* t6 = FindType(store, 6);
        ASSERT_NE(t6, nullptr);
        std::size_t at = 0;
        for (std::size_t i = 12; i + 4 < blob.size(); ++i) {
            std::int32_t v;
            std::memcpy(&v, &blob[i], 4);
            if (v == 5 && blob[i - 1] == 9 && blob[i + 4] == 1) at = i;
        }
        ASSERT_NE(at, 0u);
        std::memcpy(&blob[at], &length, 4);
        EXPECT_FALSE(Load(&store, blob, "1.8.1.0"));
        EXPECT_EQ(store.GetDrawingCount(), 0);
        EXPECT_FALSE(store.HasDrawingList());
    }
}

TEST(DrawingBlob, EveryTruncationIsRefusedWithNothingKept) {
    const Bytes blob = SampleBlob("1.8.1.0");
    // The blob ends with a type-13 drawing, so every shorter prefix cuts a field.
    for (std::size_t size = 0; size < blob.size(); ++size) {
        CDrawingStore store;
        store.SetWriterVersion("1.8.1.0");
        EXPECT_FALSE(store.SetDrawingData(blob.data(), size, 640, 480, 1)) << size;
        EXPECT_EQ(store.GetDrawingCount(), 0);
    }
}

TEST(DrawingBlob, HugeCountsAreRefusedBeforeAllocating) {
    Bytes blob = SampleBlob("1.8.1.0");
    const std::int32_t hugeCount = 0x7FFFFFFF;
    std::memcpy(&blob[8], &hugeCount, 4);
    CDrawingStore store;
    EXPECT_FALSE(Load(&store, blob, "1.8.1.0"));
    blob = SampleBlob("1.8.1.0");
    const std::int32_t hugePoints = 0x7FFFFFFF;  // 16 n overflows 32 bits
    std::memcpy(&blob[12 + 18], &hugePoints, 4);
    EXPECT_FALSE(Load(&store, blob, "1.8.1.0"));
    const std::int32_t noPoints = 0;
    std::memcpy(&blob[12 + 18], &noPoints, 4);
    EXPECT_FALSE(Load(&store, blob, "1.8.1.0"));
}

TEST(DrawingBlob, UnknownFormsAreRefusedButKept) {
    const Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    CDrawingStore store;
    EXPECT_FALSE(store.SetDrawingData(junk.data(), junk.size(), 10, 10, 1));
    EXPECT_FALSE(store.HasDrawingList());
    std::uint32_t size = 0;
    const std::uint8_t* out = store.WriteBlob(&size);
    ASSERT_EQ(size, junk.size());  // nothing is lost on the way back to the file
    EXPECT_EQ(Bytes(out, out + size), junk);
}

TEST(DrawingStyle, ColoursFontsAndItemsAreRead) {
    Bytes blob = {0, 0, 0, 0, 0x4A, 0x44, 2, 0, 1, 2, 3, 4, 5, 6, 1, 0};
    blob.insert(blob.end(), {0x10, 0x00, 0x20, 0x00, 5, 'T', 'i', 'm', 'e', 's'});
    blob.insert(blob.end(), {2, 0, 3, 0xAA, 1, 0xBB});
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 1, 1, 1));
    EXPECT_EQ(store.GetColorCount(), 2);
    EXPECT_EQ(store.GetColor(1)[2], 6);
    EXPECT_EQ(store.GetFont(0)->faceName, "Times");
    EXPECT_EQ(store.GetFont(0)->nValue2, 0x20);
    EXPECT_EQ(store.GetFont(1), nullptr);
    EXPECT_EQ(store.GetStyleItemCount(), 2);
    for (std::size_t size = 6; size < 29; ++size)
        EXPECT_FALSE(store.SetDrawingData(blob.data(), size, 1, 1, 1)) << size;
    blob[28] = 9;  // first style item of an unknown type
    EXPECT_FALSE(store.SetDrawingData(blob.data(), blob.size(), 1, 1, 1));
    // The style section is written back as it was.
    blob[28] = 3;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 1, 1, 1));
    EXPECT_EQ(Written(&store), blob);
}

TEST(DrawingStyle, DefaultFont) {
    CDrawingStore store;
    const SDrawingFont* font = store.GetFont(0);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->nValue1, 655);
    EXPECT_EQ(font->nValue2, 500);
    EXPECT_EQ(font->faceName, "Arial");
    EXPECT_EQ(store.GetFont(1), nullptr);
    EXPECT_EQ(store.GetFont(-1), nullptr);
}

TEST(DrawingOldForm, PointsAreScaledAndRounded) {
    Bytes blob = OldBlob(2);
    OldDrawing(&blob, 1, 380, 300, 1, 0xFF, {10, 7});
    OldDrawing(&blob, 6, 380, 300, 2, 0xFF, {11, 700, 11, 300, 0, 0, 0, 0});
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 760, 600, 1));
    ASSERT_EQ(store.GetDrawingCount(), 2);
    const SOMUDrawingItem* a = store.GetDrawing(0);
    EXPECT_EQ(a->nType, 12);
    EXPECT_EQ(a->pPoints[0].x, 20.0);
    EXPECT_EQ(a->pPoints[0].y, 14.0);
    EXPECT_EQ(a->nAttribute2, 4);
    EXPECT_EQ(a->nAttribute3, 0x332211);
    const SOMUDrawingItem* b = store.GetDrawing(1);
    EXPECT_EQ(b->nType, 7);
    EXPECT_EQ(b->pPoints[0].x, 21.0);  // 10.7 x 2 = 21.4
    EXPECT_EQ(b->pPoints[0].y, 23.0);  // 11.3 x 2 = 22.6
    EXPECT_EQ(b->nDrawingId, 7 << 16 | 1);
}

TEST(DrawingOldForm, UnknownTypeAndBrokenMarkerAreDropped) {
    Bytes blob = OldBlob(3);
    blob.insert(blob.end(), {8, 1, 0x7C, 1, 0x2C, 0, 4});  // old type 8: head only
    OldDrawing(&blob, 3, 380, 300, 1, 0xFF, {5, 5});
    OldDrawing(&blob, 5, 380, 300, 1, 0x00, {});  // marker 0: resume right after it
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 380, 300, 1));
    ASSERT_EQ(store.GetDrawingCount(), 1);
    EXPECT_EQ(store.GetDrawing(0)->nType, 10);
}

TEST(DrawingOldForm, AngleReferences) {
    Bytes blob = OldBlob(5);
    OldDrawing(&blob, 1, 100, 100, 1, 0xFF, {1, 1});        // becomes type 12
    OldDrawing(&blob, 2, 100, 100, 2, 0xFF, {1, 1, 2, 2});  // becomes type 13
    OldDrawing(&blob, 7, 100, 100, 0, 0, {3, 3});     // names a type 12: dropped, 8 bytes skipped
    OldDrawing(&blob, 7, 100, 100, 0, 0xFF, {3, 3});  // names nothing: dropped
    OldDrawing(&blob, 7, 100, 100, 0, 1, {9, 8});     // names the angle
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 100, 100, 1));
    ASSERT_EQ(store.GetDrawingCount(), 3);
    const SOMUDrawingItem* ref = store.GetDrawing(2);
    EXPECT_EQ(ref->nType, 11);
    EXPECT_EQ(ref->nPointCount, 1);
    EXPECT_EQ(ref->pPoints[0].x, 9.0);
    EXPECT_EQ(ref->anValues[0], 1);
    EXPECT_EQ(ref->nDrawingId, 11 << 16 | 1);
}

TEST(DrawingOldForm, ValueDrawings) {
    Bytes blob = OldBlob(2);
    OldDrawing(&blob, 4, 100, 100, 1, 0xFF, {7, 9});
    OldDrawing(&blob, 4, 200, 100, 3, 0xFF, {7, 9, 1, 500, 0, 12, 345, 0});
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 100, 100, 1));
    ASSERT_EQ(store.GetDrawingCount(), 2);
    EXPECT_EQ(store.GetDrawing(0)->nType, 9);
    EXPECT_EQ(store.GetDrawing(0)->bHasValue, 0);
    EXPECT_EQ(store.GetDrawing(0)->nAttribute4, 1);
    EXPECT_EQ(store.GetDrawing(1)->bHasValue, 1);
    EXPECT_DOUBLE_EQ(store.GetDrawing(1)->dValue, 12.345);
    EXPECT_EQ(store.GetDrawing(1)->pPoints[0].x, 3.5);  // 7 x 0.5, not rounded
}

TEST(DrawingOldForm, ZeroSizesZeroEntriesAndTheEnd) {
    Bytes blob = OldBlob(5);
    OldDrawing(&blob, 1, 0, 300, 1, 0xFF, {10, 7});     // no reference width
    OldDrawing(&blob, 1, 380, 0, 1, 0xFF, {10, 7});     // no reference height
    OldDrawing(&blob, 5, 380, 300, 0, 0xFF, {});        // no entries
    OldDrawing(&blob, 3, 380, 300, 1, 0xFF, {10, 7});   // kept
    OldDrawing(&blob, 1, 380, 300, 60, 0xFF, {10, 7});  // runs past the end
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 380, 300, 1));
    ASSERT_EQ(store.GetDrawingCount(), 1);
    EXPECT_EQ(store.GetDrawing(0)->nType, 10);
    // No drawing at all for count 0 or a wrong second byte.
    Bytes empty = OldBlob(0);
    EXPECT_TRUE(store.SetDrawingData(empty.data(), empty.size(), 380, 300, 1));
    EXPECT_EQ(store.GetDrawingCount(), 0);
    Bytes wrong = {0xDC, 0xBB, 0, 1, 1, 1, 1, 1, 1, 0, 4, 0xFF};
    EXPECT_FALSE(store.SetDrawingData(wrong.data(), wrong.size(), 380, 300, 1));
    EXPECT_EQ(store.GetDrawingCount(), 0);
}

TEST(DrawingOldForm, IsWrittenAsADrawingList) {
    Bytes blob = OldBlob(1);
    OldDrawing(&blob, 1, 100, 100, 1, 0xFF, {10, 7});
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 100, 100, 1));
    const Bytes written = Written(&store);
    ASSERT_GE(written.size(), 12u);
    EXPECT_EQ(written[4], 0xDB);
    EXPECT_EQ(written[5], 0xAC);
    CDrawingStore back;
    ASSERT_TRUE(Load(&back, written, store.GetWriterVersion(), 100, 100));
    EXPECT_EQ(back.GetDrawing(0)->pPoints[0].y, 7.0);
}

TEST(DrawingList, ExchangeWithTheRecord) {
    CDrawingStore store;
    store.SetSize(300, 200);
    AddSampleDrawings(&store);
    SOMUDrawingList list{};
    ASSERT_TRUE(store.GetDrawingList(&list));
    EXPECT_EQ(list.nCount, 8);
    EXPECT_EQ(list.nWidth, 300);
    ASSERT_TRUE(store.GetDrawingList(&list));  // the old items are freed first
    CDrawingStore other;
    ASSERT_TRUE(other.SetDrawingList(list));
    EXPECT_EQ(Written(&other), Written(&store));
    FreeDrawingList(&list);
    EXPECT_EQ(list.nCount, 0);
    EXPECT_EQ(list.pItems, nullptr);
}

TEST(DrawingList, ParsedListIsRewrittenAndReadBack) {
    CDrawingStore store;
    const Bytes blob = SampleBlob("1.5.0.0");
    ASSERT_TRUE(Load(&store, blob, "1.5.0.0"));
    SOMUDrawingList list{};
    ASSERT_TRUE(store.GetDrawingList(&list));
    std::strcpy(list.pItems[0].szText, "dropped by the old layout");
    list.pItems[0].pPoints[0].x = 99;
    ASSERT_TRUE(store.SetDrawingList(list));
    FreeDrawingList(&list);
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].x, 99.0);
    EXPECT_EQ(store.GetDrawing(0)->szText[0], 0);  // the store holds what its blob holds
    EXPECT_TRUE(store.IsChanged());
}

TEST(DrawingList, ItemsThatCannotBeStoredAreRefused) {
    CDrawingStore store;
    AddSampleDrawings(&store);
    const Bytes before = Written(&store);
    SOMUDrawingList list{};
    ASSERT_TRUE(store.GetDrawingList(&list));
    list.pItems[3].nPointCount = 0;
    EXPECT_FALSE(store.SetDrawingList(list));
    list.pItems[3].nPointCount = 3;
    const SOMUDrawingItem* t6 = &list.pItems[2];
    ASSERT_EQ(t6->nType, 6);
    list.pItems[2].nDataLength = 10000;
    EXPECT_FALSE(store.SetDrawingList(list));
    list.pItems[2].nDataLength = 5;
    FreeDrawingList(&list);
    EXPECT_EQ(Written(&store), before);
    Item noPoints(1, 1, {});
    EXPECT_FALSE(store.AddDrawing(CDrawingStore::kAppend, &noPoints.raw));
}

TEST(DrawingList, ModesByIdAndCopies) {
    CDrawingStore store;
    Item a(1, 101, {{1, 1}}), b(2, 202, {{2, 2}}), c(3, 303, {{3, 3}});
    EXPECT_FALSE(store.AddDrawing(CDrawingStore::kRemove, &a.raw));  // no list yet
    EXPECT_FALSE(store.AddDrawing(0, &a.raw));
    EXPECT_FALSE(store.AddDrawing(6, &a.raw));
    EXPECT_FALSE(store.AddDrawing(CDrawingStore::kAppend, nullptr));
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &a.raw));
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &b.raw));
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kInsertAt, &c.raw, 0));
    EXPECT_EQ(store.GetDrawing(0)->nDrawingId, 303);
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kMove, &c.raw, 2));
    EXPECT_EQ(store.GetDrawing(2)->nDrawingId, 303);
    b.raw.pPoints[0].x = 50;
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kReplace, &b.raw));
    EXPECT_EQ(store.GetDrawing(1)->pPoints[0].x, 50.0);
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kRemove, &a.raw));
    EXPECT_EQ(store.GetDrawingCount(), 2);
    EXPECT_FALSE(store.AddDrawing(CDrawingStore::kRemove, &a.raw));

    CDrawingStore copy(store);  // deep: the copy outlives changes to the original
    store.Clear();
    ASSERT_EQ(copy.GetDrawingCount(), 2);
    EXPECT_EQ(copy.GetDrawing(0)->pPoints[0].x, 50.0);
    store = copy;
    EXPECT_EQ(store.GetDrawingCount(), 2);
}

TEST(DrawingGeometry, MirrorAPoint) {
    CDrawingStore store;
    store.SetSize(100, 80);
    Item a(1, 1, {{10, 20}});
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &a.raw));
    store.Mirror(false);
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].x, 90.0);
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].y, 20.0);
    store.Mirror(true);  // line at ten times half the width
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].x, 910.0);
}

TEST(DrawingGeometry, MirrorTwiceAndHalfTurnTwiceGiveTheBlobBack) {
    for (const char* version : {"1.8.1.0", "1.8.0.0", "1.5.0.0"}) {
        const Bytes blob = SampleBlob(version);
        CDrawingStore store;
        ASSERT_TRUE(Load(&store, blob, version));
        store.Mirror(false);
        EXPECT_NE(Written(&store), blob);
        store.Mirror(false);
        EXPECT_EQ(Written(&store), blob) << version;
        store.Rotate(640, 480, std::numbers::pi);
        EXPECT_NE(Written(&store), blob);
        store.Rotate(640, 480, std::numbers::pi);
        EXPECT_EQ(Written(&store), blob) << version;
    }
}

TEST(DrawingGeometry, HalfTurnAndQuarterTurn) {
    CDrawingStore store;
    store.SetSize(100, 80);
    Item a(1, 1, {{10, 20}, {0, 0}, {100, 80}});
    Item angle(5, 2, {{0, 0}});
    angle.raw.adShape[2] = 3.0;
    Item picture(6, 3, {{0, 0}});
    picture.raw.nDataLength = 1;
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &a.raw));
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &angle.raw));
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &picture.raw));
    store.Rotate(100, 80, std::numbers::pi);
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].x, 90.0);
    EXPECT_EQ(store.GetDrawing(0)->pPoints[0].y, 60.0);
    EXPECT_DOUBLE_EQ(store.GetDrawing(1)->adShape[2],
                     3.0 + std::numbers::pi - 2 * std::numbers::pi);
    EXPECT_EQ(store.GetDrawing(2)->bMirrored, 1);
    // A quarter turn of the 100 x 80 image gives an 80 x 100 image; corners map onto corners.
    store.Rotate(80, 100, std::numbers::pi / 2);
    EXPECT_EQ(store.GetWidth(), 80);
    const SOMUDrawingPoint* p = store.GetDrawing(0)->pPoints;
    EXPECT_EQ(p[1].x, 0.0);  // (100, 80) after the half turn
    EXPECT_EQ(p[1].y, 100.0);
    EXPECT_EQ(p[2].x, 80.0);
    EXPECT_EQ(p[2].y, 0.0);
    EXPECT_EQ(store.GetDrawing(2)->bFlipped, 1);
    EXPECT_EQ(store.GetDrawing(2)->bMirrored, 0);
    // Any other angle leaves the points.
    store.Rotate(80, 100, 1.0);
    EXPECT_EQ(p[2].x, 80.0);
}

TEST(DrawingGeometry, AnglesStayInRangeWhateverTheirValue) {
    CDrawingStore store;
    store.SetSize(10, 10);
    Item angle(5, 2, {{0, 0}});
    angle.raw.adShape[2] = 1e300;
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kAppend, &angle.raw));
    store.Mirror(false);
    const double a = store.GetDrawing(0)->adShape[2];
    EXPECT_GT(a, -std::numbers::pi);
    EXPECT_LE(a, std::numbers::pi);
    angle.raw.adShape[2] = std::numbers::pi;
    ASSERT_TRUE(store.AddDrawing(CDrawingStore::kReplace, &angle.raw));
    store.Mirror(false);
    EXPECT_EQ(store.GetDrawing(0)->adShape[2], std::numbers::pi);  // -pi is brought to pi
}

TEST(DrawingGeometry, ApplyTransform) {
    const double m[3][3] = {{0, -1, 5}, {1, 0, 2}, {0, 0, 1}};
    double x = 0, y = 0;
    quorin::ApplyTransform3x3(m, &x, &y, {3, 4});
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(y, 5.0);
}

}  // namespace
