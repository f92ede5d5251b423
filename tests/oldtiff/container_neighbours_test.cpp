// The cases beside the typical ones: samples of 12 and 6 bits in whole bytes, and strips that
// share file bytes up to the limit or abut.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/oldtiff/collect_rows.h"
#include "common/oldtiff/fixtures.h"
#include "common/oldtiff/tiffbuilder.h"
#include "oldtiff/oldtiff.h"

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

// The main image of `path` read row by row: the read's result, its rows and the byte sum.
int ReadMainImage(const std::string& path, std::size_t rowBytes, Picture& rows,
                  std::uint32_t& byteSum) {
    OldTiffContext* raw = nullptr;
    if (const int r = OpenOldTiff(path.c_str(), &raw); r != 0) return r;
    OldTiffHolder context(raw);
    rows.rowBytes = rowBytes;
    byteSum = 0;
    return ReadOldTiffRows(context.get(), kOldTiffMainImage, 0, Collect, &rows, &byteSum);
}

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

        Picture rows;
        std::uint32_t byteSum = 0;
        ASSERT_EQ(ReadMainImage(path, rowBytes, rows, byteSum), c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(rows.pixels, written);
        EXPECT_EQ(byteSum, sum);
    }
}

// One strip more than the limit, each of one row of 4 bytes, over two blocks that abut, A then B:
// a strip ending where the next begins shares no byte with it, so the limit's number on A and
// one on B read; all on A are one more than the limit. Every strip is read whole and summed.
TEST(ContainerNeighbours, StripsShareBytesUpToTheLimitAndAbutFreely) {
    constexpr int kStrips = kOldTiffMaxStripOverlap + 1;
    const Bytes a = {1, 2, 3, 4}, b = {5, 6, 7, 8};
    struct Case {
        int onA;  // strips 0 to onA - 1 on A, the others on B
        int result;
    } cases[] = {{kStrips - 1, 0}, {kStrips, kOldTiffUnsupported}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.onA) + " strips on A");
        Bytes both = a;
        both.insert(both.end(), b.begin(), b.end());
        TiffBuilder builder;
        const std::uint32_t at = builder.Offset(builder.Blob(both));
        Bytes offsets, counts, expected;
        std::uint32_t sum = 0;
        for (int s = 0; s < kStrips; ++s) {
            const Bytes& block = s < c.onA ? a : b;
            TiffBuilder::Put32(offsets, s < c.onA ? at : at + 4);
            TiffBuilder::Put32(counts, 4);
            expected.insert(expected.end(), block.begin(), block.end());
            for (std::uint8_t v : block) sum += v;
        }
        auto d = TiffBuilder::Grey(4, kStrips, -1, 0);
        d[6] = TiffBuilder::At(273, 4, kStrips, builder.Blob(offsets));
        d[8] = TiffBuilder::Value(278, 4, 1, 1);
        d[9] = TiffBuilder::At(279, 4, kStrips, builder.Blob(counts));
        const std::string path = dir.file("shared.tif");
        WriteBytes(path, builder.Build({d}));

        Picture rows;
        std::uint32_t byteSum = 0;
        ASSERT_EQ(ReadMainImage(path, 4, rows, byteSum), c.result);
        if (c.result != 0) continue;
        EXPECT_EQ(rows.pixels, expected);
        EXPECT_EQ(byteSum, sum);
    }
}

}  // namespace
