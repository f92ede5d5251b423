// The cases beside the typical ones: a lossy (JPEG-strip) grey file with a stored integrity sum,
// 6-bit samples at the edge of what a file can hold, and the whole mismatch mark at odd and even
// widths.
#include <gtest/gtest.h>
#include <quorin/v5files.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/oldtiff/fixtures.h"
#include "common/oldtiff/tiffbuilder.h"
#include "oldtiff/lzw.h"
#include "records/dib/dib.h"
#include "records/headers/headerkinds.h"
#include "v5files/oldfile.h"
#include "v5files/oldmark.h"

namespace {

using quorin::test::ReadBytes;
using quorin::test::TempDir;
using quorin::test::TiffBuilder;
using Bytes = std::vector<std::uint8_t>;

// An intra-oral file whose one strip is a baseline JPEG stream (compression 6) and whose 0x5409
// record is dated and keeps the byte sum of the stream as written: checking the stream's header
// before decoding it reads bytes too, which must not count twice.
TEST(OldFileNeighbours, JpegStripWithItsStoredSumReadsSoundAndUnmarked) {
    TempDir dir;
    const std::string jpeg = dir.file("strip.jpg");
    ASSERT_TRUE(quorin::test::Generate("jpeg", jpeg, "--grey --width 40 --height 24"));
    const Bytes stream = ReadBytes(jpeg);
    std::uint32_t sum = 0;
    for (std::uint8_t v : stream) sum += v;

    Bytes record(356, 0);
    record[0] = 0x09, record[1] = 0x54;
    std::memcpy(&record[2], "20240102", 8);
    for (int i = 0; i < 4; ++i) record[352 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    TiffBuilder b;
    const int strip = b.Blob(stream);
    const int description = b.Blob(record);
    const TiffBuilder::Directory d = {
        TiffBuilder::Value(254, 4, 1, 0),
        TiffBuilder::Value(256, 4, 1, 40),
        TiffBuilder::Value(257, 4, 1, 24),
        TiffBuilder::Value(258, 3, 1, 8),
        TiffBuilder::Value(259, 3, 1, 6),
        TiffBuilder::Value(262, 3, 1, 1),
        TiffBuilder::At(270, 2, 356, description),
        TiffBuilder::Value(277, 3, 1, 1),
        TiffBuilder::At(513, 4, 1, strip),
        TiffBuilder::Value(514, 4, 1, static_cast<std::uint32_t>(stream.size()))};
    const std::string file = dir.file("R21.tif");
    quorin::test::WriteBytes(file, b.Build({d}));

    CHeaderZel header;
    ASSERT_EQ(V5Files_ReadQVImageInformation(file.c_str(), &header, 0), 0);
    ASSERT_EQ(header.GetWidth(), 40);
    ASSERT_EQ(header.GetHeight(), 24);
    Bytes pixels(40 * 24, 0);
    ASSERT_EQ(V5Files_ReadImage(file.c_str(), &header, 0, pixels.data()), 0);
    EXPECT_EQ(header.GetChecksumMismatch(), 0);
    EXPECT_EQ(header.ImageInfo().GetLossyCompression(nullptr), 2);
    // The record road (previews) calls it lossy too.
    std::int32_t lossy = 0;
    ASSERT_EQ(ReadOldFileRecord(file.c_str(), nullptr, nullptr, nullptr, &lossy), 0);
    EXPECT_EQ(lossy, 1);
    // libjpeg's decode of the stream, within the decoder's fixed-point tolerance: no mark.
    EXPECT_LE(quorin::test::MaxDifference(pixels, ReadBytes(jpeg + ".raw")), 2);
}

// No file byte gives more than 4 x 1364 picture bytes (LZW strips at their largest expansion,
// each byte shared by 4 strips), and a sample below 8 bits takes a whole byte: at 6 bits, one
// sample per such share is answered (the sides doubled); one column more is refused, although
// three quarters of a byte per sample would still fit.
TEST(OldFileNeighbours, SixBitSamplesCountWholeBytesInWhatTheFileCanHold) {
    TempDir dir;
    const auto picture = [](std::uint32_t width, std::uint32_t height) {
        TiffBuilder b;
        auto d = TiffBuilder::Grey(width, height, -1, 0);  // strips are the pixel road's to judge
        d[3] = TiffBuilder::Value(258, 3, 1, 6);
        return b.Build({d});
    };
    const auto length = static_cast<std::uint32_t>(picture(1, 1).size());  // sides sit inline
    const std::uint32_t rows = kOldTiffMaxStripOverlap * kLzwMaxExpansion;
    for (const std::uint32_t columns : {length, length + 1}) {
        SCOPED_TRACE(std::to_string(columns) + " x " + std::to_string(rows));
        const std::string path = dir.file("R12.tif");
        quorin::test::WriteBytes(path, picture(columns, rows));
        CHeaderZel header;
        const int result = V5Files_ReadQVImageInformation(path.c_str(), &header, 0);
        if (columns == length) {
            ASSERT_EQ(result, 0);
            EXPECT_EQ(header.GetWidth(), 2 * columns);
            EXPECT_EQ(header.GetHeight(), 2 * rows);
        } else {
            EXPECT_EQ(result, 7);
        }
    }
}

// Every non-transparent mark pixel (j, i) lands at (j, i), (W-1-j, i), (j, H-1-i) and
// (W-1-j, H-1-i) of the picture, and nothing else changes.
TEST(OldFileNeighbours, MismatchMarkStandsWholeInAllFourCorners) {
    const win::BitmapResource* mark = LoadOldMark(OldMarkModule(), "IDB_NOCOPYRIGHT");
    ASSERT_NE(mark, nullptr);
    for (const std::int32_t w : {2 * mark->width + 1, 2 * mark->width + 2}) {
        const std::int32_t h = 2 * mark->height + 3;
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        std::vector<Bytes> expected(static_cast<std::size_t>(h), Bytes(std::size_t(w)));
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                expected[std::size_t(y)][std::size_t(x)] =
                    static_cast<std::uint8_t>(x * 7 + y * 13);
        win::HGLOBAL dib = CreateDIB(w, h, 8);
        ASSERT_NE(dib, nullptr);
        {
            quorin::LockedDIB picture(dib);
            for (std::int32_t y = 0; y < h; ++y)
                std::memcpy(picture.row(h - 1 - y), expected[std::size_t(y)].data(),
                            std::size_t(w));
        }
        for (std::int32_t i = 0; i < mark->height; ++i)
            for (std::int32_t j = 0; j < mark->width; ++j) {
                const std::uint8_t v = mark->bits[i * mark->width + j];
                if (v == 192) continue;
                for (const auto& [x, y] :
                     {std::pair{j, i}, std::pair{w - 1 - j, i}, std::pair{j, h - 1 - i},
                      std::pair{w - 1 - j, h - 1 - i}})
                    expected[std::size_t(y)][std::size_t(x)] = v;
            }
        ASSERT_TRUE(StampMismatchMark(dib, OldMarkModule()));
        {
            quorin::LockedDIB picture(dib);
            for (std::int32_t y = 0; y < h; ++y)
                EXPECT_EQ(Bytes(picture.row(h - 1 - y), picture.row(h - 1 - y) + w),
                          expected[std::size_t(y)])
                    << "picture row " << y;
        }
        FreeDIB(dib);
    }
}

}  // namespace
