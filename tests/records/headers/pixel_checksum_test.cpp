// The pixel checksum (its 16-bit wraps are part of the stored format), its masked storage in
// the SDK record and its verification, checked against known sums (zero images, empty and colour
// images, the row-start wrap) and an independent numpy computation.
#include <gtest/gtest.h>
#include <quorin/simage.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/records/header_test_util.h"
#include "common/test_util.h"
#include "platform/core/globalmem.h"
#include "records/headers/headerchecksum.h"

namespace quorin::test {
namespace {

CHeader MakeHeader(std::uint16_t width, std::uint16_t height, std::int32_t bits,
                   std::int32_t samples = 1) {
    CHeader h;
    h.SetWidth(width);
    h.SetHeight(height);
    h.SetBitsPerSample(bits);
    h.SetSamplesPerPixel(samples);
    return h;
}

// A record of a guarded kind with its own pixel block of random values below 2^bits.
RecordPtr RecordWithPixels(std::int32_t type, std::uint32_t width, std::uint32_t height,
                           std::uint32_t bits, unsigned seed) {
    RecordPtr record = NewRecord();
    SImage* image = AllocSImage(width, height, 1, bits, false, nullptr);
    record->image = *image;
    FreeSImage(image, true);  // the record took the pixel block
    record->nImageType = type;
    std::mt19937 random(seed);
    const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    const std::size_t n = std::size_t(width) * height;
    if (bits <= 8) {
        auto* p = static_cast<std::uint8_t*>(record->image.pPixels);
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(random() & mask);
    } else {
        auto* p = static_cast<std::uint16_t*>(record->image.pPixels);
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint16_t>(random() & mask);
    }
    return record;
}

// As an acquisition stores a new image: the header describes the pixels, ToSOMU stores the sum.
void StoreAsAcquired(CHeader& h, SOMUImage& record) {
    h.SetDimensions(record.image);
    h.SetImageType(record.nImageType);
    ASSERT_TRUE(h.ToSOMU(record));
}

std::uint32_t Unmasked(const SOMUImage& record) {
    return std::uint32_t(record.nCheck1) + std::uint32_t(record.nCheck3);
}

TEST(PixelChecksum, WorkedExamples) {
    std::vector<std::uint8_t> zeros(100, 0);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 8), zeros.data()), 1u);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 0, 8), zeros.data()), 1u);
    std::vector<std::uint8_t> colour(300, 7);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 24), colour.data()), 0u);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 8), nullptr), 0u);
    std::vector<std::uint8_t> ones(100, 1);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 8), ones.data()), 100u);
    for (std::int32_t bits : {9, 11, 17, 24, 0, -1, 33})
        EXPECT_EQ(ComputePixelChecksum(MakeHeader(2, 2, bits), colour.data()), 0u) << bits;
}

TEST(PixelChecksum, RowStartWrapsAfter65535Elements) {
    // 300 x 300 16-bit: row 219 starts at 65,700 - 65,536 = 164, so element 164 is summed twice
    // (rows 0 and 219) and elements from 65,700 on are never summed.
    std::vector<std::uint16_t> pixels(300 * 300, 0);
    pixels[164] = 1;
    pixels[65699] = 10;  // last element of row 218, read once
    pixels[65700] = 1000;
    pixels[89999] = 5000;
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(300, 300, 16), pixels.data()), 2u + 10u);
}

TEST(PixelChecksum, SumWrapsAt32Bits) {
    std::vector<std::uint32_t> pixels(4, 0xFFFFFFFFu);
    pixels[3] = 4;  // 3 x (2^32 - 1) + 4 wraps to 1
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(2, 2, 32), pixels.data()), 1u);
}

TEST(PixelChecksum, RowLengthIsKeptTo16Bits) {
    // 3 samples x 21,846 columns = 65,538 elements: the row length wraps to 2.
    std::vector<std::uint8_t> pixels(3 * 21846 * 2, 1);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(21846, 2, 8, 3), pixels.data()), 4u);
}

TEST(PixelChecksum, AgreesWithAnIndependentNumpySum) {
    TempDir dir;
    struct Case {
        std::uint16_t width, height;
        std::int32_t bits, samples;
    };
    for (const Case c : {Case{300, 300, 16, 1}, Case{257, 300, 12, 1}, Case{640, 480, 8, 1},
                         Case{123, 97, 8, 3}, Case{70, 1100, 32, 1}}) {
        const unsigned bytes = c.bits <= 8 ? 1 : c.bits <= 16 ? 2 : 4;
        std::vector<std::uint8_t> pixels(std::size_t(c.width) * c.height * c.samples * bytes);
        std::mt19937 random(c.width);
        for (std::uint8_t& b : pixels) b = static_cast<std::uint8_t>(random());
        const std::string path = dir.file("pixels.raw");
        WriteBytes(path, pixels);
        const CommandResult result =
            RunPython(R"(
import sys, numpy as np
path, w, h, s, bits = sys.argv[1], *map(int, sys.argv[2:])
dtype = {8: np.uint8, 16: np.uint16, 32: np.uint32}[8 if bits <= 8 else 16 if bits <= 16 else 32]
a = np.fromfile(path, dtype=dtype).astype(np.uint64)
n = (s * w) & 0xFFFF
total = 0
for r in range(h):
    start = (r * n) & 0xFFFF
    total += int(a[start:start + n].sum())
total &= 0xFFFFFFFF
print(total if total else 1)
)",
                      {path, std::to_string(c.width), std::to_string(c.height),
                       std::to_string(c.samples), std::to_string(c.bits)});
        ASSERT_EQ(result.status, 0);
        EXPECT_EQ(std::to_string(ComputePixelChecksum(
                      MakeHeader(c.width, c.height, c.bits, c.samples), pixels.data())) +
                      "\n",
                  result.output)
            << c.width << 'x' << c.height << ' ' << c.bits;
    }
}

TEST(PixelChecksum, NeverReadsPastAGlobalBlockTooSmallForTheSize) {
    void* block = AllocRecordBlock(100);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 8), block), 1u);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 11, 8), block), 0u);
    EXPECT_EQ(ComputePixelChecksum(MakeHeader(10, 10, 16), block), 0u);
    FreeGlobalPointer(block);
}

// ---- storage in the record and verification

TEST(PixelChecksumRecord, GuardedKindsStoreTheMaskedSum) {
    for (std::int32_t type : {1, 3, 6, 13, 14, 15, 16}) {
        RecordPtr record = RecordWithPixels(type, 64, 48, 12, type);
        CHeader h;
        StoreAsAcquired(h, *record);
        EXPECT_EQ(Unmasked(*record), ComputePixelChecksum(h, record->image.pPixels)) << type;
        EXPECT_NE(Unmasked(*record), 0u);
        EXPECT_EQ(record->bChecksumMismatch, 0);
        CHeader again;
        again.FromSOMU(*record);
        EXPECT_EQ(again.GetChecksumMismatch(), 0) << type;
    }
}

TEST(PixelChecksumRecord, OtherKindsAndProcessedCopiesStoreZeroAndAreNeverChecked) {
    for (std::int32_t type : {0, 2, 7, 8, 9, 10, 13}) {
        RecordPtr record = RecordWithPixels(type, 16, 16, 8, 3);
        record->bProcessed = type == 13 ? 1 : 0;
        record->nCheck1 = 12345;  // would be a mismatch if it were checked
        CHeader h;
        h.FromSOMU(*record);
        EXPECT_EQ(h.GetChecksumMismatch(), 0) << type;
        ASSERT_TRUE(h.ToSOMU(*record));
        EXPECT_EQ(Unmasked(*record), 0u) << type;
    }
}

TEST(PixelChecksumRecord, AChangedPixelIsFlaggedAndTheFlagStaysWithoutNewChecks) {
    RecordPtr record = RecordWithPixels(1, 32, 32, 8, 9);
    CHeaderZel h;
    StoreAsAcquired(h, *record);
    CHeaderZel sound;
    sound.FromSOMU(*record);
    EXPECT_EQ(sound.GetChecksumMismatch(), 0);
    static_cast<std::uint8_t*>(record->image.pPixels)[5] ^= 1;

    std::vector<std::uint8_t> before(32 * 32);
    std::memcpy(before.data(), record->image.pPixels, before.size());
    CHeaderZel tampered;
    tampered.FromSOMU(*record);
    EXPECT_EQ(tampered.GetChecksumMismatch(), 1);
    // The mark is drawn into the pixels; the checksum is that of the marked pixels.
    EXPECT_NE(std::memcmp(before.data(), record->image.pPixels, before.size()), 0);
    EXPECT_EQ(tampered.GetChecksum(), ComputePixelChecksum(tampered, record->image.pPixels));
    std::memcpy(before.data(), record->image.pPixels, before.size());

    ASSERT_TRUE(tampered.ToSOMU(*record));
    EXPECT_EQ(record->bChecksumMismatch, 1);
    // From now on the record's verdict holds, whatever its sums say.
    record->nCheck1 = 0;
    CHeaderZel later;
    later.FromSOMU(*record);
    EXPECT_EQ(later.GetChecksumMismatch(), 1);
    EXPECT_EQ(std::memcmp(before.data(), record->image.pPixels, before.size()), 0);
}

TEST(PixelChecksumRecord, ARecordWithoutAStoredSumIsFlagged) {
    // Pixels that never had their sum stored do not pass for sound.
    RecordPtr record = RecordWithPixels(3, 16, 16, 8, 1);
    CHeaderPano h;
    h.FromSOMU(*record);
    EXPECT_EQ(h.GetChecksumMismatch(), 1);
}

TEST(PixelChecksumRecord, ARecordWithoutPixelsIsNotJudged) {
    RecordPtr record = NewRecord();
    record->nImageType = 1;
    record->image.nWidth = 10;
    record->image.nHeight = 10;
    record->image.nBitsPerSample = 8;
    record->image.nSamplesPerPixel = 1;
    record->nCheck1 = 777;
    CHeaderZel h;
    h.FromSOMU(*record);
    EXPECT_EQ(h.GetChecksumMismatch(), 0);
    ASSERT_TRUE(h.ToSOMU(*record));
    EXPECT_EQ(record->bChecksumMismatch, 0);
}

TEST(PixelChecksumRecord, CheckAgainstTheStoredChecksum) {
    std::vector<std::uint8_t> pixels(4 * 4, 3);
    CHeader h = MakeHeader(4, 4, 8);
    h.SetSubType(2);
    h.SetChecksum(48);
    EXPECT_EQ(CheckPixelChecksum(h, pixels.data(), false, 0), 48u);
    EXPECT_EQ(h.GetChecksumMismatch(), 0);
    EXPECT_EQ(CheckPixelChecksum(h, pixels.data(), true, 47), 48u);
    EXPECT_EQ(h.GetChecksumMismatch(), 1);
    EXPECT_EQ(h.GetChecksum(), 48u);
}

}  // namespace
}  // namespace quorin::test
