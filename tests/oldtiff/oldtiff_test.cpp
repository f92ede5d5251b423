// The older TIFF container against libtiff, tifffile and libjpeg, and against hostile files.
#include "oldtiff/oldtiff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/oldtiff/collect_rows.h"
#include "common/oldtiff/fixtures.h"
#include "common/oldtiff/tiffbuilder.h"
#include "platform/core/globalmem.h"
#include "platform/core/notify.h"

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

struct Read {
    int open = 0, info = 0, rows = 0;
    std::int32_t width = 0, height = 0, compression = 0, depth = 0;
    std::uint32_t sum = 0;
    Picture picture;
};
Read ReadAll(const std::string& path, int subfile = 0, int page = 0) {
    Read r;
    OldTiffContext* raw = nullptr;
    r.open = OpenOldTiff(path.c_str(), &raw);
    OldTiffHolder c(raw);
    if (r.open != 0) return r;
    r.info = ReadOldTiffInfo(c.get(), subfile, page, &r.width, &r.height, &r.compression, &r.depth,
                             nullptr, nullptr);
    if (r.info != 0) return r;
    r.picture.rowBytes =
        static_cast<std::size_t>((r.depth + 7) / 8) * static_cast<std::size_t>(r.width);
    r.rows = ReadOldTiffRows(c.get(), subfile, page, Collect, &r.picture, &r.sum);
    return r;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    const std::string path = dir.file(name);
    WriteBytes(path, bytes);
    return path;
}

// ---------------------------------------------------------------------------------------------
// Files written by libtiff

class LibtiffStrips : public ::testing::TestWithParam<const char*> {};

TEST_P(LibtiffStrips, DecodeByteForByteWithTheStripSum) {
    TempDir dir;
    const std::string path = dir.file("a.tif");
    ASSERT_TRUE(Generate("tiff", path, GetParam()));
    const std::size_t blocks = win::globalmem_testing::LiveBlocks();
    const Read r = ReadAll(path);
    ASSERT_EQ(r.open, 0);
    ASSERT_EQ(r.info, 0);
    ASSERT_EQ(r.rows, 0) << GetParam();
    EXPECT_EQ(r.picture.pixels, ReadBytes(path + ".raw")) << GetParam();
    EXPECT_EQ(r.sum, ReadSum(path + ".sum")) << GetParam();
    EXPECT_EQ(static_cast<int>(r.picture.rows.size()), r.height);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LibtiffStrips,
    ::testing::Values("--width 33 --height 17 --bits 8 --compress none",
                      "--width 33 --height 17 --bits 24 --compress none --rows 5",
                      "--width 61 --height 40 --bits 8 --compress lzw --rows 7",
                      "--width 300 --height 220 --bits 8 --compress lzw --pattern noise",
                      "--width 257 --height 90 --bits 24 --compress lzw --pattern noise --rows 16",
                      "--width 120 --height 50 --bits 8 --compress lzw:2 --rows 9",
                      "--width 97 --height 64 --bits 24 --compress lzw:2 --pattern noise",
                      "--width 97 --height 31 --bits 24 --compress lzw:2 --rows 1"));

TEST(LibtiffStrips, ColourRowsAreRedGreenBlue) {
    TempDir dir;
    for (const char* colour : {"red", "blue"}) {
        const std::string path = dir.file(std::string(colour) + ".tif");
        ASSERT_TRUE(Generate(
            "tiff", path,
            std::string("--width 9 --height 4 --bits 24 --compress lzw --pattern ") + colour));
        const Read r = ReadAll(path);
        ASSERT_EQ(r.rows, 0);
        const bool red = colour[0] == 'r';
        for (std::size_t i = 0; i < r.picture.pixels.size(); i += 3) {
            EXPECT_EQ(r.picture.pixels[i], red ? 255 : 0);
            EXPECT_EQ(r.picture.pixels[i + 2], red ? 0 : 255);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Files written by Python: subfile types, pages, binary description, drawing data, inline arrays

Bytes Hex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
std::string JsonField(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return {};
    std::size_t start = at + key.size() + 4;
    if (json[start] == '"') ++start;
    const std::size_t end = json.find_first_of("\",}", start);
    return json.substr(start, end - start);
}

TEST(PythonWritten, DirectoriesDescriptionAndDrawing) {
    TempDir dir;
    const std::string path = dir.file("v.tif");
    ASSERT_TRUE(Generate("v5", path, ""));
    const Bytes jsonBytes = ReadBytes(path + ".json");
    const std::string json(jsonBytes.begin(), jsonBytes.end());

    OldTiffContext* raw = nullptr;
    ASSERT_EQ(OpenOldTiff(path.c_str(), &raw), 0);
    OldTiffHolder c(raw);
    EXPECT_EQ(c->directoryCount, 3);
    EXPECT_EQ(FindOldTiffDirectory(c.get(), 1, 0), 0);
    EXPECT_EQ(FindOldTiffDirectory(c.get(), 0, 0), 1);
    EXPECT_EQ(FindOldTiffDirectory(c.get(), 2, 5), 2);
    EXPECT_EQ(FindOldTiffDirectory(c.get(), 2, 4), -1);
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(GetOldTiffSize(c.get(), 2, 4, &w, &h), -6);

    // The description holds zeros: it is copied as binary, up to the buffer.
    const Bytes description = Hex(JsonField(json, "description"));
    std::uint8_t buffer[356] = {};
    std::uint32_t size = sizeof buffer;
    std::int32_t compression = 0, depth = 0;
    ASSERT_EQ(ReadOldTiffInfo(c.get(), 0, 0, &w, &h, &compression, &depth, buffer, &size), 0);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(compression, 1);
    EXPECT_EQ(depth, 8);
    ASSERT_EQ(size, description.size());
    EXPECT_EQ(Bytes(buffer, buffer + size), description);
    size = 10;
    ASSERT_EQ(ReadOldTiffInfo(c.get(), 0, 0, nullptr, nullptr, nullptr, nullptr, buffer, &size), 0);
    EXPECT_EQ(size, 10u);

    const Bytes drawing = Hex(JsonField(json, "drawing"));
    std::uint32_t drawingSize = 0;
    ASSERT_EQ(GetOldTiffDrawingSize(c.get(), 0, &drawingSize), 0);
    ASSERT_EQ(drawingSize, drawing.size());
    Bytes got(drawingSize);
    ASSERT_EQ(ReadOldTiffDrawing(c.get(), 0, got.data(), &drawingSize), 0);
    EXPECT_EQ(got, drawing);
    ASSERT_EQ(GetOldTiffDrawingSize(c.get(), 1, &drawingSize), 0);
    EXPECT_EQ(drawingSize, 0u);

    // Strip arrays of two SHORTs stored inside their entries.
    const auto rowsOf = [&](int subfile, int page, std::size_t width, std::uint32_t* sum) {
        Picture p;
        p.rowBytes = width;
        EXPECT_EQ(ReadOldTiffRows(c.get(), subfile, page, Collect, &p, sum), 0);
        return p.pixels;
    };
    std::uint32_t sum = 0;
    EXPECT_EQ(rowsOf(0, 0, 6, &sum), Hex(JsonField(json, "main")));
    EXPECT_EQ(sum, static_cast<std::uint32_t>(std::stoul(JsonField(json, "main_sum"))));
    EXPECT_EQ(rowsOf(2, 5, 4, nullptr), Hex(JsonField(json, "page")));
    EXPECT_EQ(rowsOf(1, 0, 3, nullptr), Hex(JsonField(json, "reduced")));
}

// ---------------------------------------------------------------------------------------------
// Old-style JPEG strips

TEST(OldStyleJpeg, StripsDecodeWithinToleranceAndSumTheStream) {
    TempDir dir;
    for (const char* options :
         {"--grey --width 40 --height 24", "--width 45 --height 19",
          "--width 16 --height 8 --pattern red", "--width 16 --height 8 --pattern blue"}) {
        const std::string path = dir.file("o.tif");
        ASSERT_TRUE(Generate("ojpeg", path, options));
        const Read r = ReadAll(path);
        ASSERT_EQ(r.rows, 0) << options;
        EXPECT_EQ(r.compression, 6);
        // Rows come red, green, blue, as djpeg writes them.
        EXPECT_LE(MaxDifference(r.picture.pixels, ReadBytes(path + ".raw")),
                  std::string(options).find("grey") != std::string::npos ? 2 : 5)
            << options;
        EXPECT_EQ(r.sum, ReadSum(path + ".sum")) << options;
    }
}

TEST(OldStyleJpeg, AStreamOfAnotherSizeIsRefused) {
    TempDir dir;
    const std::string path = dir.file("o.tif");
    ASSERT_TRUE(Generate("ojpeg", path, "--width 16 --height 8 --jpeg-size 64x48"));
    const Read r = ReadAll(path);
    EXPECT_EQ(r.rows, kOldTiffUnsupported);
    EXPECT_TRUE(r.picture.rows.empty());
}

TEST(OldStyleJpeg, DecoderFailuresDoNotReadAsCannotOpen) {
    TempDir dir;
    const std::string path = dir.file("o.tif");
    ASSERT_TRUE(Generate("ojpeg", path, "--width 16 --height 8"));
    Bytes bytes = ReadBytes(path);
    bytes[8] = 0x00;  // the stream's SOI
    const Read bad = ReadAll(WriteFile(dir, "bad.tif", bytes));
    EXPECT_EQ(bad.rows, kOldTiffUnsupported);
}

// ---------------------------------------------------------------------------------------------
// Edge cases of the container, on hand-built files

TEST(Container, DepthFromBitsPerSample) {
    TempDir dir;
    const auto depthOf = [&](std::vector<std::uint16_t> bits) {
        TiffBuilder b;
        const int pixels = b.Blob(Bytes(4 * 2 * 3));
        Bytes raw;
        for (auto v : bits) TiffBuilder::Put16(raw, v);
        auto d = TiffBuilder::Grey(2, 2, pixels, 24);
        if (bits.size() == 1)
            d[3] = TiffBuilder::Value(258, 3, 1, bits[0]);
        else
            d[3] = TiffBuilder::At(258, 3, 3, b.Blob(raw));
        const std::string path = WriteFile(dir, "d.tif", b.Build({d}));
        return ReadAll(path);
    };
    EXPECT_EQ(depthOf({5, 6, 5}).depth, 16);
    EXPECT_EQ(depthOf({8, 8, 8}).depth, 24);
    EXPECT_EQ(depthOf({4}).info, kOldTiffUnsupported);
    EXPECT_EQ(depthOf({8}).depth, 8);
}

TEST(Container, StripLayouts) {
    TempDir dir;
    Bytes image(6 * 4);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i + 1);

    // A single uncompressed strip without StripByteCounts is read; compressed, its length is
    // not known, and it is refused.
    {
        TiffBuilder b;
        auto d = TiffBuilder::Grey(6, 4, b.Blob(image), 24);
        d.pop_back();
        const Read r = ReadAll(WriteFile(dir, "a.tif", b.Build({d})));
        EXPECT_EQ(r.rows, 0);
        EXPECT_EQ(r.picture.pixels, image);
        d[4] = TiffBuilder::Value(259, 3, 1, kOldTiffLzw);
        const Read lzw = ReadAll(WriteFile(dir, "a5.tif", b.Build({d})));
        EXPECT_EQ(lzw.rows, kOldTiffUnsupported);
        EXPECT_TRUE(lzw.picture.rows.empty());
    }
    // No Compression entry, or Compression 0, is uncompressed.
    {
        TiffBuilder b;
        auto d = TiffBuilder::Grey(6, 4, b.Blob(image), 24);
        d[4] = TiffBuilder::Value(259, 3, 1, 0);
        for (const bool absent : {false, true}) {
            if (absent) d.erase(d.begin() + 4);
            const Read r = ReadAll(WriteFile(dir, "z.tif", b.Build({d})));
            EXPECT_EQ(r.compression, kOldTiffUncompressed) << absent;
            EXPECT_EQ(r.rows, 0) << absent;
            EXPECT_EQ(r.picture.pixels, image) << absent;
        }
    }
    // Two strips without StripByteCounts are refused.
    {
        TiffBuilder b;
        const int s0 = b.Blob(Bytes(image.begin(), image.begin() + 12));
        const int s1 = b.Blob(Bytes(image.begin() + 12, image.end()));
        Bytes offsets;
        TiffBuilder::Put32(offsets, b.Offset(s0));
        TiffBuilder::Put32(offsets, b.Offset(s1));
        auto d = TiffBuilder::Grey(6, 4, 0, 0);
        d[6] = TiffBuilder::At(273, 4, 2, b.Blob(offsets));
        d[8] = TiffBuilder::Value(278, 4, 1, 2);
        d.pop_back();
        EXPECT_EQ(ReadAll(WriteFile(dir, "b.tif", b.Build({d}))).rows, kOldTiffUnsupported);
        // With the counts it is read; a rows-per-strip above the height is clamped.
        Bytes counts;
        TiffBuilder::Put32(counts, 12);
        TiffBuilder::Put32(counts, 12);
        d.push_back(TiffBuilder::At(279, 4, 2, b.Blob(counts)));
        const Read r = ReadAll(WriteFile(dir, "c.tif", b.Build({d})));
        EXPECT_EQ(r.rows, 0);
        EXPECT_EQ(r.picture.pixels, image);
        d[8] = TiffBuilder::Value(278, 4, 1, 0);
        EXPECT_EQ(ReadAll(WriteFile(dir, "d.tif", b.Build({d}))).rows, kOldTiffUnsupported);
        // 2 strips of 3 rows: the counts of 2 agree, but 12 bytes cannot hold 3 rows of 6.
        d[8] = TiffBuilder::Value(278, 4, 1, 3);
        EXPECT_EQ(ReadAll(WriteFile(dir, "e.tif", b.Build({d}))).rows, kOldTiffUnsupported);
        d[8] = TiffBuilder::Value(278, 4, 1, 1);  // 4 strips but 2 offsets
        EXPECT_EQ(ReadAll(WriteFile(dir, "f.tif", b.Build({d}))).rows, kOldTiffUnsupported);
    }
    // An uncompressed strip shorter than its rows is refused before any row is delivered.
    {
        TiffBuilder b;
        const Read r =
            ReadAll(WriteFile(dir, "g.tif", b.Build({TiffBuilder::Grey(6, 4, b.Blob(image), 15)})));
        EXPECT_EQ(r.rows, kOldTiffUnsupported);
        EXPECT_TRUE(r.picture.rows.empty());
    }
    // A strip that runs past the end of the file is refused before anything is read.
    {
        TiffBuilder b;
        const Read r = ReadAll(
            WriteFile(dir, "h.tif", b.Build({TiffBuilder::Grey(6, 4, b.Blob(image), 4000)})));
        EXPECT_EQ(r.rows, kOldTiffReadFailed);
        EXPECT_TRUE(r.picture.rows.empty());
    }
    // Compression 7 and huge sides are refused.
    {
        TiffBuilder b;
        auto d = TiffBuilder::Grey(6, 4, b.Blob(image), 24);
        d[4] = TiffBuilder::Value(259, 3, 1, kOldTiffJpeg);
        EXPECT_EQ(ReadAll(WriteFile(dir, "i.tif", b.Build({d}))).rows, kOldTiffUnsupported);
        d = TiffBuilder::Grey(70000, 4, 0, 24);
        EXPECT_EQ(ReadAll(WriteFile(dir, "j.tif", b.Build({d}))).info, kOldTiffUnsupported);
        d = TiffBuilder::Grey(65535, 65535, 0, 24);
        d[3] = TiffBuilder::Value(258, 3, 1, 16);
        EXPECT_EQ(ReadAll(WriteFile(dir, "k.tif", b.Build({d}))).rows, kOldTiffUnsupported);
    }
}

TEST(Container, DrawingDataOfCountFourIsAbsent) {
    TempDir dir;
    TiffBuilder b;
    auto d = TiffBuilder::Grey(2, 2, b.Blob(Bytes(4)), 4);
    d.push_back(TiffBuilder::Value(32956, 7, 4, 0x01020304));
    OldTiffContext* raw = nullptr;
    ASSERT_EQ(OpenOldTiff(WriteFile(dir, "a.tif", b.Build({d})).c_str(), &raw), 0);
    OldTiffHolder c(raw);
    std::uint32_t size = 99;
    EXPECT_EQ(GetOldTiffDrawingSize(c.get(), 0, &size), 0);
    EXPECT_EQ(size, 0u);
}

TEST(Container, DirectoryChainsAreBounded) {
    TempDir dir;
    TiffBuilder b;
    const int pixels = b.Blob(Bytes(4));
    std::vector<TiffBuilder::Directory> many(40, TiffBuilder::Grey(2, 2, pixels, 4, 1));
    OldTiffContext* raw = nullptr;
    ASSERT_EQ(OpenOldTiff(WriteFile(dir, "many.tif", b.Build(many)).c_str(), &raw), 0);
    EXPECT_EQ(raw->directoryCount, 32);
    CloseOldTiff(raw);

    // A chain that comes back to its first directory is cut there.
    ASSERT_EQ(
        OpenOldTiff(WriteFile(dir, "loop.tif", b.Build(std::vector(3, many[0]), 0)).c_str(), &raw),
        0);
    EXPECT_EQ(raw->directoryCount, 3);
    CloseOldTiff(raw);
}

TEST(Container, ProbingRequiresTheTiffHeader) {
    TempDir dir;
    TiffBuilder b;
    Bytes file = b.Build({TiffBuilder::Grey(2, 2, b.Blob(Bytes(4)), 4)});
    OldTiffContext* raw = nullptr;
    const std::string good = WriteFile(dir, "good.tif", file);
    ASSERT_EQ(OpenOldTiff(good.c_str(), &raw, true), 0);
    CloseOldTiff(raw);
    file[0] = file[1] = 'M';
    const std::string big = WriteFile(dir, "big.tif", file);
    EXPECT_EQ(OpenOldTiff(big.c_str(), &raw, true), kOldTiffUnsupported);
    EXPECT_EQ(raw, nullptr);
    // Without the check the header is taken as it stands.
    ASSERT_EQ(OpenOldTiff(big.c_str(), &raw, false), 0);
    CloseOldTiff(raw);
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F',
                        0,    1,    1,    0,    0, 1,  0,   1,   0,   0};
    EXPECT_EQ(OpenOldTiff(WriteFile(dir, "a.jpg", jpeg).c_str(), &raw, true), kOldTiffUnsupported);
    EXPECT_EQ(OpenOldTiff(dir.file("missing.tif").c_str(), &raw), kOldTiffCannotOpen);
}

TEST(Container, AllocationFailuresAreShownAndReported) {
    TempDir dir;
    TiffBuilder b;
    const std::string path =
        WriteFile(dir, "a.tif", b.Build({TiffBuilder::Grey(2, 2, b.Blob(Bytes(4)), 4)}));
    std::vector<std::string> shown;
    auto previous = win::SetNotifyHandler([&](std::string_view caption, std::string_view text) {
        shown.push_back(std::string(caption) + ":" + std::string(text));
    });
    const std::size_t blocks = win::globalmem_testing::LiveBlocks();
    win::globalmem_testing::FailAllocationAfter(0);
    OldTiffContext* raw = nullptr;
    EXPECT_EQ(OpenOldTiff(path.c_str(), &raw), kOldTiffNoMemory);
    win::globalmem_testing::FailAllocationAfter(-1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "GlobalAlloc:Erreur Allocation");
    // A failing strip buffer: the rows road reports it and leaks nothing.
    ASSERT_EQ(OpenOldTiff(path.c_str(), &raw), 0);
    win::globalmem_testing::FailAllocationAfter(0);
    Picture p;
    p.rowBytes = 2;
    EXPECT_EQ(ReadOldTiffRows(raw, 0, 0, Collect, &p, nullptr), kOldTiffNoMemory);
    win::globalmem_testing::FailAllocationAfter(-1);
    CloseOldTiff(raw);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), blocks);
    win::SetNotifyHandler(previous);
}

// Container code, the readers' code, the exports' public code; values in no row pass unchanged.
TEST(Container, CodesReachThePublicCodes) {
    const int rows[][3] = {{-1, -111, 1},   {-2, -112, 2},     {-3, -113, 3}, {-4, -118, 7},
                           {-5, -120, 8},   {-6, -116, 5},     {-7, -117, 6}, {0, 0, 0},
                           {-10, -10, -10}, {-119, -119, -119}};
    for (const auto& row : rows) {
        EXPECT_EQ(TranslateOldTiffCode(row[0]), row[1]) << row[0];
        EXPECT_EQ(OldFilePublicCode(row[1]), row[2]) << row[1];
    }
    EXPECT_EQ(OldFilePublicCode(-1), -1);  // a container code is no reader code
}

// ---------------------------------------------------------------------------------------------
// Malformed files nobody here wrote

TEST(MalformedFiles, CheckitTiffFailuresGiveClearCodes) {
    const std::filesystem::path folder = "/usr/share/checkit_tiff/tiffs_should_fail";
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << "package checkit-tiff is missing";
    const std::size_t blocks = win::globalmem_testing::LiveBlocks();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const auto start = std::chrono::steady_clock::now();
        const std::string path = entry.path().string();
        OldTiffContext* raw = nullptr;
        const int open = OpenOldTiff(path.c_str(), &raw);
        EXPECT_TRUE(open == 0 || open == kOldTiffReadFailed) << path << " " << open;
        if (open != 0) continue;
        OldTiffHolder c(raw);
        for (int type = 0; type <= 2; ++type) {
            std::int32_t w, h, compression, depth;
            std::uint8_t description[356];
            std::uint32_t size = sizeof description;
            const int info =
                ReadOldTiffInfo(c.get(), type, 0, &w, &h, &compression, &depth, description, &size);
            EXPECT_TRUE(info == 0 || info == kOldTiffNoDirectory || info == kOldTiffUnsupported ||
                        info == kOldTiffReadFailed)
                << path << " " << info;
            Picture p;
            p.rowBytes = info == 0 ? static_cast<std::size_t>((depth + 7) / 8 * w) : 0;
            const int rows = ReadOldTiffRows(c.get(), type, 0, Collect, &p, nullptr);
            EXPECT_TRUE(rows == 0 || rows == kOldTiffNoDirectory || rows == kOldTiffUnsupported ||
                        rows == kOldTiffReadFailed || rows == kOldTiffNoMemory)
                << path << " " << rows;
            std::uint32_t drawing = 0;
            GetOldTiffDrawingSize(c.get(), type, &drawing);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << path;
    }
    EXPECT_GT(files, 10);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), blocks);
}

}  // namespace
