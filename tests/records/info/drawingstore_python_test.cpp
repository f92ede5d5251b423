// The drawing store against an independent reader and writer of the blob layout
// (tools/fixtures/drawing_blob.py, Python's struct): blobs written there parse here to the same
// drawings and are written back byte for byte; blobs written here read the same there.
#include <gtest/gtest.h>
#include <quorin/drawingstore.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace {

using namespace quorin::test;

std::string Script() {
    return FixtureCommand("drawing_blob.py");
}

std::string Num(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string Hex(const void* data, std::size_t size) {
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<const std::uint8_t*>(data)[i]);
        out += pair;
    }
    return out;
}

// The same line per drawing as the Python dump.
std::string Dump(const CDrawingStore& store) {
    std::string out;
    for (int i = 0; i < store.GetDrawingCount(); ++i) {
        const SOMUDrawingItem& d = *store.GetDrawing(i);
        std::string line = std::to_string(d.nType) + " " + std::to_string(d.nDrawingId) + " " +
                           std::to_string(d.nAttribute2) + " " + std::to_string(d.nAttribute3) +
                           " " + std::to_string(d.nAttribute4) + " " +
                           std::to_string(d.nPointCount);
        for (int k = 0; k < d.nPointCount; ++k)
            line += " " + Num(d.pPoints[k].x) + " " + Num(d.pPoints[k].y);
        line += " " + Hex(d.szText, kDrawingTextSize) + " " +
                std::to_string(d.abyTextAttributes[0]) + " " +
                std::to_string(d.abyTextAttributes[1]);
        switch (d.nType) {
            case 5:
                for (double v : d.adShape) line += " " + Num(v);
                break;
            case 6:
                line += " " + std::to_string(d.byDataLead) + " " + std::to_string(d.nDataLength) +
                        " " + Hex(d.pData, std::size_t(d.nDataLength)) + " " +
                        std::to_string(d.bMirrored) + " " + std::to_string(d.bFlipped);
                break;
            case 9:
                line += " " + Num(d.dValue) + " " + std::to_string(d.bHasValue);
                break;
            case 11:
            case 20:
                line += " " + std::to_string(d.anValues[0]) + " " + std::to_string(d.anValues[1]);
                break;
            case 14:
                for (int k = 0; k < d.nPointCount; ++k)
                    line += " " + std::to_string(d.pPointValues[k]);
                line += " " + Hex(d.pPointTexts, std::size_t(d.nPointCount) * kDrawingTextSize);
                break;
            default:
                break;
        }
        out += line + "\n";
    }
    return out;
}

std::string ReadText(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(DrawingBlobPython, BlobsWrittenThereParseAndWriteBackHere) {
    TempDir dir;
    ASSERT_EQ(RunCommand(Script() + " gen " + ShellQuote(dir.path())).status, 0);
    for (const char* version : {"1.8.1.0", "1.8.0.0", "1.5.0.0"}) {
        SCOPED_TRACE(version);
        const std::string base = dir.file(std::string("list_") + version);
        const auto blob = ReadBytes(base + ".bin");
        ASSERT_FALSE(blob.empty());
        CDrawingStore store;
        store.SetWriterVersion(version);
        ASSERT_TRUE(store.SetDrawingData(blob.data(), blob.size(), 640, 480, 1));
        EXPECT_EQ(Dump(store), ReadText(base + ".expect"));
        std::uint32_t size = 0;
        const std::uint8_t* written = store.WriteBlob(&size);
        ASSERT_NE(written, nullptr);
        EXPECT_EQ(std::vector<std::uint8_t>(written, written + size), blob);
    }
    const auto old = ReadBytes(dir.file("old.bin"));
    CDrawingStore store;
    ASSERT_TRUE(store.SetDrawingData(old.data(), old.size(), 760, 600, 1));
    EXPECT_EQ(Dump(store), ReadText(dir.file("old.expect")));
}

TEST(DrawingBlobPython, BlobsWrittenHereReadTheSameThere) {
    // Drawings of every type with pseudo-random fields, in every layout.
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    CDrawingStore source;
    source.SetSize(1000, 800);
    for (int d = 0; d < 60; ++d) {
        SOMUDrawingItem item{};
        item.nType = 1 + int(next() % 21);
        item.nDrawingId = source.NextDrawingId(item.nType);
        item.nAttribute2 = std::int16_t(next());
        item.nAttribute3 = std::int32_t(next());
        item.nAttribute4 = std::int32_t(next());
        item.nPointCount = 1 + int(next() % 6);
        item.pPoints = new SOMUDrawingPoint[std::size_t(item.nPointCount)];
        for (int k = 0; k < item.nPointCount; ++k)
            item.pPoints[k] = {std::int32_t(next()) / 4096.0, (next() % 100000) / 7.0};
        for (char& c : item.szText) c = char(next() % 3 == 0 ? next() : 0);
        item.abyTextAttributes[0] = std::uint8_t(next());
        item.adShape[0] = std::int32_t(next()) / 3.0;
        item.adShape[2] = (next() % 6283) / 1000.0 - 3.14;
        item.byDataLead = std::uint8_t(next());
        item.nDataLength = 1 + int(next() % 40);
        item.pData = new std::uint8_t[std::size_t(item.nDataLength)];
        for (int k = 0; k < item.nDataLength; ++k) item.pData[k] = std::uint8_t(next());
        item.bMirrored = next() % 2;
        item.dValue = std::int32_t(next()) / 1e3;
        item.bHasValue = 1;
        item.anValues[0] = std::int32_t(next());
        item.anValues[1] = std::int32_t(next());
        item.pPointValues = new std::int32_t[std::size_t(item.nPointCount)];
        item.pPointTexts = new char[std::size_t(item.nPointCount) * kDrawingTextSize]();
        for (int k = 0; k < item.nPointCount; ++k) {
            item.pPointValues[k] = std::int32_t(next());
            std::snprintf(item.pPointTexts + k * kDrawingTextSize, kDrawingTextSize, "pt%u",
                          next() % 1000);
        }
        ASSERT_TRUE(source.AddDrawing(CDrawingStore::kAppend, &item));
        FreeDrawingItem(&item);
    }
    TempDir dir;
    for (const char* version : {"1.8.1.0", "1.8.0.0", "1.6", "1.5.0.0"}) {
        SCOPED_TRACE(version);
        CDrawingStore store(source);
        store.SetWriterVersion(version);
        std::uint32_t size = 0;
        const std::uint8_t* blob = store.WriteBlob(&size);
        ASSERT_NE(blob, nullptr);
        const std::string path = dir.file(std::string("ours_") + version + ".bin");
        WriteBytes(path, std::vector<std::uint8_t>(blob, blob + size));
        CDrawingStore back;
        back.SetWriterVersion(version);
        ASSERT_TRUE(back.SetDrawingData(blob, size, 1000, 800, 1));
        const auto theirs =
            RunCommand(Script() + " read " + ShellQuote(version) + " " + ShellQuote(path));
        ASSERT_EQ(theirs.status, 0);
        EXPECT_EQ(Dump(back), theirs.output);
    }
}

}  // namespace
