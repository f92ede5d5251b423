// The cases beside the typical ones: samples of 12 and 6 bits in whole bytes, and the decoder's
// refill of the bit buffer when exactly 7 bytes of scan data are buffered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/oldtiff/collect_rows.h"
#include "common/oldtiff/fixtures.h"
#include "common/oldtiff/tiffbuilder.h"
#include "oldtiff/jpegdecoder.h"
#include "oldtiff/oldtiff.h"

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

// An uncompressed grey image of `depth` bits in strips of `rowsPerStrip` rows, each sample in
// ceil(depth / 8) bytes (little-endian); the last strip `shortBy` bytes short of its rows.
TEST(ContainerNeighbours, SamplesOfTwelveAndSixBitsTakeWholeBytes) {
    struct Case {
        std::uint16_t depth;
        std::uint32_t width, height, rowsPerStrip, shortBy;
        int result;
    } cases[] = {
        {12, 5, 4, 3, 0, 0},
        {6, 5, 3, 3, 0, 0},
        {12, 5, 4, 3, 1, kOldTiffUnsupported},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.depth) + " bits, short by " + std::to_string(c.shortBy));
        const std::size_t sampleBytes = (c.depth + 7u) / 8u;
        const std::size_t rowBytes = sampleBytes * c.width;
        Bytes written;
        for (std::uint32_t i = 0; i < c.width * c.height; ++i) {
            const std::uint32_t v = (i * 1237u + 5u) % (1u << c.depth);
            for (std::size_t b = 0; b < sampleBytes; ++b)
                written.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
        TiffBuilder b;
        std::vector<std::uint32_t> offsets, counts;
        std::uint32_t sum = 0;
        for (std::uint32_t row = 0; row < c.height; row += c.rowsPerStrip) {
            const std::uint32_t rows = std::min(c.rowsPerStrip, c.height - row);
            Bytes strip(written.begin() + row * rowBytes,
                        written.begin() + (row + rows) * rowBytes);
            if (row + rows == c.height) strip.resize(strip.size() - c.shortBy);
            for (std::uint8_t v : strip) sum += v;
            offsets.push_back(b.Offset(b.Blob(strip)));
            counts.push_back(static_cast<std::uint32_t>(strip.size()));
        }
        // One LONG sits in its entry; several are an array elsewhere in the file.
        auto array = [&](std::uint16_t tag, const std::vector<std::uint32_t>& values) {
            const auto n = static_cast<std::uint32_t>(values.size());
            if (n == 1) return TiffBuilder::Value(tag, 4, 1, values[0]);
            Bytes raw;
            for (std::uint32_t v : values) TiffBuilder::Put32(raw, v);
            return TiffBuilder::At(tag, 4, n, b.Blob(raw));
        };
        auto d = TiffBuilder::Grey(c.width, c.height, -1, 0);
        d[3] = TiffBuilder::Value(258, 3, 1, c.depth);
        d[6] = array(273, offsets);
        d[8] = TiffBuilder::Value(278, 4, 1, c.rowsPerStrip);
        d[9] = array(279, counts);
        const std::string path = dir.file("deep.tif");
        WriteBytes(path, b.Build({d}));

        OldTiffContext* raw = nullptr;
        ASSERT_EQ(OpenOldTiff(path.c_str(), &raw), 0);
        OldTiffHolder context(raw);
        Picture rows;
        rows.rowBytes = rowBytes;
        std::uint32_t byteSum = 0;
        ASSERT_EQ(ReadOldTiffRows(context.get(), kOldTiffMainImage, 0, Collect, &rows, &byteSum),
                  c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(rows.pixels, written);
        EXPECT_EQ(byteSum, sum);
    }
}

// A stream handed over in chunks of given sizes.
struct Chunked {
    Bytes data;
    std::vector<std::size_t> sizes;  // of the first reads; the later ones fill what is asked
    bool byteByByte = false;         // every read gives one byte
    std::size_t pos = 0, chunk = 0;
    Bytes pixels;
    int width = 0;
};
int ChunkRead(void* context, std::uint8_t* buffer, int size) {
    auto* s = static_cast<Chunked*>(context);
    std::size_t n = s->data.size() - s->pos;
    if (s->byteByByte)
        n = std::min<std::size_t>(n, 1);
    else if (s->chunk < s->sizes.size())
        n = s->sizes[s->chunk++];
    n = std::min<std::size_t>(n, static_cast<std::size_t>(size));
    if (n == 0) return -1;
    std::memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}
int ChunkBegin(void* context, int width, int height, int, const char*) {
    auto* s = static_cast<Chunked*>(context);
    s->width = width;
    s->pixels.assign(static_cast<std::size_t>(width) * height, 0);
    return 0;
}
int ChunkRow(void* context, int row, const std::uint8_t* pixels) {
    auto* s = static_cast<Chunked*>(context);
    std::memcpy(s->pixels.data() + static_cast<std::size_t>(row) * s->width, pixels, s->width);
    return 0;
}

// Where the entropy-coded data of a baseline stream start: after the SOS segment.
std::size_t ScanStart(const Bytes& s) {
    std::size_t pos = 2;
    while (pos + 4 <= s.size() && s[pos] == 0xFF) {
        const std::size_t length = std::size_t{s[pos + 2]} << 8 | s[pos + 3];
        if (s[pos + 1] == 0xDA) return pos + 2 + length;
        pos += 2 + length;
    }
    return 0;
}

// The scan begins with no bits held and exactly 7 data bytes buffered (the rest comes with the
// next read): eight bytes at once would take one the input never gave, so the bytes must be
// those of the byte-by-byte road.
TEST(ContainerNeighbours, JpegScanStartingWithSevenBufferedBytesDecodesAsByteByByte) {
    TempDir dir;
    const std::string path = dir.file("g.jpg");
    ASSERT_TRUE(Generate("jpeg", path, "--grey --width 64 --height 48 --pattern noise"));
    Chunked chunked;
    chunked.data = ReadBytes(path);
    const std::size_t start = ScanStart(chunked.data);
    ASSERT_GT(start, 16u);
    ASSERT_GT(chunked.data.size(), start + 64);
    for (std::size_t i = start; i < start + 7; ++i) ASSERT_NE(chunked.data[i], 0xFF) << i;
    // The second read places the header's last byte and the 7 data bytes at the front of the
    // buffer; the byte after them there is left from the first, longer read.
    chunked.sizes = {start - 1, 8};
    ASSERT_NE(chunked.data[8], 0xFF);
    ASSERT_NE(chunked.data[8], chunked.data[start + 7]);

    Chunked single = chunked;
    single.byteByByte = true;
    int reason = 1;
    ASSERT_EQ(DecodeJpegStream(nullptr, &single, ChunkRead, nullptr, ChunkBegin, ChunkRow, nullptr,
                               &reason),
              0);
    EXPECT_EQ(reason, 0);
    ASSERT_EQ(DecodeJpegStream(nullptr, &chunked, ChunkRead, nullptr, ChunkBegin, ChunkRow, nullptr,
                               &reason),
              0);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(chunked.pixels, single.pixels);
    // Both are the stream's picture (libjpeg's decode, within the fixed-point tolerance).
    ASSERT_LE(MaxDifference(single.pixels, ReadBytes(path + ".raw")), 2);
}

}  // namespace
