// SImage records and the SDK image record: allocation sizes computed safely, duplicates, the
// release of everything a record owns, and the bounded text fields.
#include "sdk/simage.h"

#include <gtest/gtest.h>
#include <quorin/simage.h>
#include <quorin/somuimage.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/leak_guard.h"
#include "platform/core/globalmem.h"
#include "sdk/somutext.h"

namespace {

class SImageTest : public ::testing::Test {
  protected:
    void TearDown() override { win::globalmem_testing::FailAllocationAfter(-1); }
    quorin::test::NoLeaks m_noLeaks;
};

std::size_t BlockSize(const void* locked) {
    return win::GlobalSize(win::GlobalHandle(locked));
}

}  // namespace

TEST_F(SImageTest, AllocatesElementsByDepth) {
    struct Case {
        std::uint32_t bits;
        std::size_t element;
    };
    for (const Case c :
         {Case{1, 1}, Case{8, 1}, Case{10, 2}, Case{16, 2}, Case{24, 4}, Case{32, 4}}) {
        SImage* image = AllocSImage(7, 5, 3, c.bits, false, nullptr);
        ASSERT_NE(image, nullptr) << c.bits;
        EXPECT_EQ(image->nWidth, 7u);
        EXPECT_EQ(image->nHeight, 5u);
        EXPECT_EQ(image->nSamplesPerPixel, 3u);
        EXPECT_EQ(image->nBitsPerSample, c.bits);
        ASSERT_NE(image->pPixels, nullptr);
        EXPECT_EQ(BlockSize(image->pPixels), 7u * 5 * 3 * c.element);
        const auto* bytes = static_cast<const std::uint8_t*>(image->pPixels);
        for (std::size_t i = 0; i < 7u * 5 * 3 * c.element; ++i) ASSERT_EQ(bytes[i], 0);
        // The record itself is a locked global block.
        EXPECT_NE(win::GlobalHandle(image), nullptr);
        FreeSImage(image, false);
    }
    // Above 32 bits there is no element: nothing is made.
    EXPECT_EQ(AllocSImage(4, 4, 1, 40, false, nullptr), nullptr);
    EXPECT_EQ(AllocSImage(0, 4, 1, 8, false, nullptr), nullptr);
}

TEST_F(SImageTest, RefusesSizesThatOverflowOrCannotBeReal) {
    // 65536 x 65536 x 1 x 1 byte wraps to 0 in 32 bits; 4 GiB is refused outright.
    EXPECT_EQ(AllocSImage(65536, 65536, 1, 8, false, nullptr), nullptr);
    EXPECT_EQ(AllocSImage(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 32, false, nullptr), nullptr);
    EXPECT_EQ(AllocSImage(0x10001u, 0x10001u, 3, 16, false, nullptr), nullptr);
    EXPECT_EQ(AllocSImage(1u << 16, 1u << 14, 2, 16, false, nullptr), nullptr);  // 4 GiB
    std::uint64_t bytes = 0;
    EXPECT_TRUE(quorin::PixelBlockBytes(1u << 15, 1u << 15, 1, 2, &bytes));  // exactly 2 GiB
    EXPECT_EQ(bytes, quorin::kMaxSImageBytes);
    EXPECT_FALSE(quorin::PixelBlockBytes(1u << 15, 1u << 15, 1, 4, &bytes));

    // A duplicate checks the same product, and never reads past the source block.
    SImage* small = AllocSImage(4, 4, 1, 8, false, nullptr);
    ASSERT_NE(small, nullptr);
    small->nWidth = 65536;
    small->nHeight = 65536;
    EXPECT_EQ(DuplicateSImage(small), nullptr);
    small->nWidth = 8;  // 8 x 65536: plausible, but more than the block holds
    EXPECT_EQ(DuplicateSImage(small), nullptr);
    small->nWidth = small->nHeight = 4;
    FreeSImage(small, false);
}

TEST_F(SImageTest, AdoptsOrBorrowsAGivenBlock) {
    SImage* owner = AllocSImage(3, 2, 1, 8, false, nullptr);
    ASSERT_NE(owner, nullptr);
    SImage* adopter = AllocSImage(3, 2, 1, 8, true, owner->pPixels);
    ASSERT_NE(adopter, nullptr);
    EXPECT_EQ(adopter->pPixels, owner->pPixels);
    FreeSImage(owner, true);  // the pixels now belong to the adopter
    FreeSImage(adopter, false);
    FreeSImage(nullptr, false);
    FreeGlobalPointer(nullptr);
}

TEST_F(SImageTest, DuplicatesCopyablePixelsOnly) {
    for (std::uint32_t bits : {8u, 10u, 12u, 16u, 32u}) {
        SImage* image = AllocSImage(5, 3, 1, bits, false, nullptr);
        ASSERT_NE(image, nullptr);
        const std::size_t bytes = BlockSize(image->pPixels);
        for (std::size_t i = 0; i < bytes; ++i)
            static_cast<std::uint8_t*>(image->pPixels)[i] = static_cast<std::uint8_t>(i * 7 + 1);
        SImage* copy = DuplicateSImage(image);
        ASSERT_NE(copy, nullptr) << bits;
        EXPECT_NE(copy->pPixels, image->pPixels);
        EXPECT_EQ(std::memcmp(copy->pPixels, image->pPixels, bytes), 0);
        EXPECT_EQ(copy->nBitsPerSample, bits);
        FreeSImage(copy, false);
        FreeSImage(image, false);
    }
    for (std::uint32_t bits : {1u, 9u, 11u, 24u}) {
        SImage* image = AllocSImage(5, 3, 1, bits, false, nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(DuplicateSImage(image), nullptr) << bits;
        FreeSImage(image, false);
    }
    SImage* empty = AllocSImage(5, 3, 1, 8, true, nullptr);
    EXPECT_EQ(DuplicateSImage(empty), nullptr);
    FreeSImage(empty, false);
}

TEST_F(SImageTest, FailedAllocationsKeepNothing) {
    win::globalmem_testing::FailAllocationAfter(1);  // the pixels succeed, the record fails
    EXPECT_EQ(AllocSImage(4, 4, 1, 8, false, nullptr), nullptr);
    win::globalmem_testing::FailAllocationAfter(0);
    EXPECT_EQ(AllocSImage(4, 4, 1, 8, false, nullptr), nullptr);
    win::globalmem_testing::FailAllocationAfter(-1);
    SImage* image = AllocSImage(4, 4, 1, 8, false, nullptr);
    ASSERT_NE(image, nullptr);
    win::globalmem_testing::FailAllocationAfter(1);
    EXPECT_EQ(DuplicateSImage(image), nullptr);
    win::globalmem_testing::FailAllocationAfter(-1);
    FreeSImage(image, false);
}

TEST_F(SImageTest, ARecordFreesEverythingItOwns) {
    auto record = std::make_unique<SOMUImage>();
    InitSOMUImage(record.get());
    SImage* image = AllocSImage(6, 6, 1, 16, false, nullptr);
    ASSERT_NE(image, nullptr);
    record->image = *image;
    FreeSImage(image, true);
    record->drawing.pBlob = static_cast<std::uint8_t*>(quorin::AllocRecordBlock(64));
    record->drawing.nBlobSize = 64;
    record->display.lut.pTable = static_cast<std::uint16_t*>(quorin::AllocRecordBlock(512));
    record->display.lut.nTableCount = 256;
    record->pano.pPoints = static_cast<std::uint32_t*>(quorin::AllocRecordBlock(40));
    record->pano.nPointCount = 10;
    FreeSOMUImageData(record.get());
    EXPECT_EQ(record->image.pPixels, nullptr);
    EXPECT_EQ(record->drawing.pBlob, nullptr);
    EXPECT_EQ(record->display.lut.pTable, nullptr);
    EXPECT_EQ(record->display.lut.nTableCount, 0);
    EXPECT_EQ(record->pano.nPointCount, 0);
    FreeSOMUImageData(record.get());  // twice is harmless
    FreeSOMUImageData(nullptr);
}

TEST(SOMUText, FieldsAreCutAndTerminated) {
    char field[9];
    std::memset(field, 'x', sizeof field);
    quorin::PutFieldText(field, "1234567");  // width - 2
    EXPECT_EQ(quorin::GetFieldText(field), "1234567");
    quorin::PutFieldText(field, "12345678");  // width - 1
    EXPECT_EQ(quorin::GetFieldText(field), "12345678");
    quorin::PutFieldText(field, "123456789");  // width: cut
    EXPECT_EQ(quorin::GetFieldText(field), "12345678");
    EXPECT_EQ(field[8], '\0');
    // A field without its terminating zero is read to its end, not beyond.
    std::memset(field, 'y', sizeof field);
    EXPECT_EQ(quorin::GetFieldText(field), std::string(9, 'y'));

    char path[kSOMUPathWidth];
    EXPECT_TRUE(quorin::PutFieldPath(path, std::string(kSOMUPathWidth - 1, 'p')));
    EXPECT_FALSE(quorin::PutFieldPath(path, std::string(kSOMUPathWidth, 'p')));
    EXPECT_EQ(quorin::GetFieldText(path), "");
}
