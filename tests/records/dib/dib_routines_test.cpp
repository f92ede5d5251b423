// Packed DIB layout, queries, locking, conversions to raw records and the small viewer routines.
#include <cstring>

#include "common/platform/every_path.h"
#include "platform/system/cpu.h"
#include "records/dib/dibbuffer.h"
#include "records/dib/dibresample.h"
#include "test_dib_util.h"

using namespace quorin::test;
using quorin::LockedDIB;
using win::globalmem_testing::LockCount;

namespace {

TEST(DibLayout, CreateDIBLaysOutHeaderPaletteAndRows) {
    NoLeaks noLeaks;
    win::HGLOBAL dib8 = CreateDIB(5, 3, 8);
    ASSERT_NE(dib8, nullptr);
    EXPECT_EQ(win::GlobalSize(dib8), 40u + 1024u + 8u * 3u);  // width 5 at 8 bits: stride 8
    const auto bytes = BlockBytes(dib8);
    win::BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 5);
    EXPECT_EQ(header.biHeight, 3);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(header.biClrUsed, 0u);
    EXPECT_EQ(bytes[40 + 4 * 200], 200);
    EXPECT_EQ(bytes[40 + 4 * 200 + 1], 200);
    EXPECT_EQ(bytes[40 + 4 * 200 + 2], 200);
    EXPECT_EQ(bytes[40 + 4 * 200 + 3], 0);
    EXPECT_EQ(LockCount(dib8), 0u);
    FreeDIB(dib8);

    win::HGLOBAL dib24 = CreateDIB(1, 2, 24);  // width 1 at 24 bits: stride 4
    EXPECT_EQ(win::GlobalSize(dib24), 40u + 4u * 2u);
    EXPECT_EQ(GetDIBStride(dib24), 4u);
    EXPECT_EQ(GetDIBBitCount(dib24), 24);
    std::int32_t w = 0, h = 0;
    EXPECT_TRUE(GetDIBSize(dib24, &w, nullptr));
    EXPECT_TRUE(GetDIBSize(dib24, nullptr, &h));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(LockCount(dib24), 0u);
    FreeDIB(dib24);
}

TEST(DibLayout, RefusesOtherDepthsAndSides) {
    NoLeaks noLeaks;
    EXPECT_EQ(CreateDIB(4, 4, 16), nullptr);
    EXPECT_EQ(CreateDIB(4, 4, 32), nullptr);
    EXPECT_EQ(CreateDIB(0, 4, 8), nullptr);
    EXPECT_EQ(CreateDIB(4, -1, 24), nullptr);
    EXPECT_EQ(CreateDIB(65536, 1, 8), nullptr);
    // 65,535 x 65,535 at 24 bits is 12 GiB: refused, never wrapped into a small block.
    EXPECT_EQ(CreateDIB(65535, 65535, 24), nullptr);
    EXPECT_EQ(GetDIBBitCount(nullptr), 0);
    EXPECT_FALSE(GetDIBSize(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetDIBStride(nullptr), 0u);
    EXPECT_EQ(LockDIBBits(nullptr), nullptr);
}

TEST(DibLayout, RawBuffersByDepth) {
    NoLeaks noLeaks;
    void* buffer = AllocPixelBuffer(3, 2, 1, 12);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(quorin::LockedBlockSize(buffer), 12u);  // two bytes per element
    FreePixelBuffer(&buffer);
    EXPECT_EQ(buffer, nullptr);
    FreePixelBuffer(&buffer);  // null does nothing
    EXPECT_EQ(AllocPixelBuffer(3, 2, 1, 9), nullptr);
    buffer = AllocPixelBuffer(3, 2, 3, 32);
    EXPECT_EQ(quorin::LockedBlockSize(buffer), 72u);
    FreePixelBuffer(&buffer);
    // 65,535 x 65,535 x 4 samples x 4 bytes overflows 32 bits; refused.
    EXPECT_EQ(AllocPixelBuffer(65535, 65535, 4, 32), nullptr);
    EXPECT_EQ(AllocPixelBuffer(0, 10, 1, 8), nullptr);
    EXPECT_EQ(AllocPixelBuffer(70000, 1, 1, 8), nullptr);
}

TEST(DibLocking, LockCountsBalance) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = CreateDIB(7, 5, 8);
    auto* bits = static_cast<std::uint8_t*>(LockDIBBits(dib));
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(LockCount(dib), 1u);
    auto* base = static_cast<std::uint8_t*>(win::GlobalLock(dib));
    EXPECT_EQ(bits, base + 40 + 1024);
    win::GlobalUnlock(dib);
    UnlockDIB(dib);
    EXPECT_EQ(LockCount(dib), 0u);

    win::HGLOBAL copy = DuplicateDIB(dib);
    win::HGLOBAL turned = RotateDIB(dib, 90);
    win::HGLOBAL mirrored = MirrorDIB(dib);
    win::HGLOBAL small = ResizeDIBTo380x480(dib, 7, 5);
    EXPECT_TRUE(CopyDIBPalette(copy, dib));
    for (win::HGLOBAL made : {copy, turned, mirrored, small}) {
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(LockCount(made), 0u);
        FreeDIB(made);
    }
    EXPECT_EQ(LockCount(dib), 0u);
    FreeDIB(dib);
}

// A header that claims more rows than its block holds, or a bad size field, is refused.
TEST(DibLocking, HostileHeadersAreRefusedWithoutLeakingLocks) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = CreateDIB(4, 4, 24);
    auto* header = static_cast<win::BITMAPINFOHEADER*>(win::GlobalLock(dib));
    const win::BITMAPINFOHEADER good = *header;
    const std::vector<void (*)(win::BITMAPINFOHEADER*)> spoil = {
        [](win::BITMAPINFOHEADER* h) { h->biHeight = 5; },
        [](win::BITMAPINFOHEADER* h) { h->biWidth = 0x7fffffff; },
        [](win::BITMAPINFOHEADER* h) { h->biHeight = -4; },
        [](win::BITMAPINFOHEADER* h) { h->biSize = 0xffffffff; },
        [](win::BITMAPINFOHEADER* h) { h->biBitCount = 8; },  // 8 bits needs a palette it lacks
    };
    for (auto change : spoil) {
        *header = good;
        change(header);
        EXPECT_EQ(LockDIBBits(dib), nullptr);
        EXPECT_EQ(RotateDIB(dib, 90), nullptr);
        EXPECT_EQ(MirrorDIB(dib), nullptr);
        EXPECT_EQ(DuplicateDIB(dib), nullptr);
        EXPECT_EQ(ResizeDIBTo380x480(dib, 4, 4), nullptr);
        SImage image{};
        EXPECT_FALSE(DIBToSImage(dib, &image, false));
        EXPECT_EQ(LockCount(dib), 1u);
    }
    win::GlobalUnlock(dib);
    FreeDIB(dib);
}

TEST(DibLocking, PaletteCopyNeedsTwoEightBitDIBs) {
    NoLeaks noLeaks;
    win::HGLOBAL grey = CreateDIB(2, 2, 8);
    win::HGLOBAL colour = RandomDIB(2, 2, 8, 7);
    win::HGLOBAL rgb = CreateDIB(2, 2, 24);
    EXPECT_TRUE(CopyDIBPalette(grey, colour));
    EXPECT_EQ(std::memcmp(BlockBytes(grey).data() + 40, BlockBytes(colour).data() + 40, 1024), 0);
    EXPECT_FALSE(CopyDIBPalette(rgb, colour));  // would overwrite the rows of a 24-bit DIB
    EXPECT_FALSE(CopyDIBPalette(grey, rgb));
    EXPECT_FALSE(CopyDIBPalette(grey, nullptr));
    for (auto dib : {grey, colour, rgb}) {
        EXPECT_EQ(LockCount(dib), 0u);
        FreeDIB(dib);
    }
}

TEST(DibTransforms, RefusesOtherAnglesAndCopiesAtZero) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = RandomDIB(3, 2, 24, 1);
    EXPECT_EQ(RotateDIB(dib, 45), nullptr);
    EXPECT_EQ(RotateDIB(dib, -90), nullptr);
    win::HGLOBAL copy = RotateDIB(dib, 0);
    EXPECT_EQ(BlockBytes(copy), BlockBytes(dib));
    win::HGLOBAL turned = RotateDIB(dib, 90);
    std::int32_t w = 0, h = 0;
    GetDIBSize(turned, &w, &h);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 3);
    for (auto made : {dib, copy, turned}) FreeDIB(made);
}

// The turns and the mirror of 24-bit DIBs give the bytes of the baseline walk on every path
// (quarter turns in 8 x 8 blocks with AVX2, reversed runs of 16 pixels with AVX-512): sides
// around the blocks, rows with and without padding, and blocks at the end of the source, which
// go pixel by pixel.
TEST(DibTransforms, TurnsAndMirrorGiveTheSameBytesOnEveryPath) {
    if (!quorin::cpu::UseAvx2()) GTEST_SKIP() << "the processor has no AVX2 path";
    NoLeaks noLeaks;
    const auto made = [](win::HGLOBAL dib, int op) {
        return op == 0 ? MirrorDIB(dib) : RotateDIB(dib, op);
    };
    std::uint32_t seed = 3;
    for (auto [w, h] :
         {std::pair{8, 8}, {9, 8}, {8, 9}, {16, 15}, {23, 41}, {40, 17}, {64, 64}, {603, 29}}) {
        win::HGLOBAL dib = RandomDIB(w, h, 24, seed++);
        for (const int op : {90, 180, 270, 0}) {
            win::HGLOBAL results[3] = {};
            OnEveryPath([&](int path) { results[path] = made(dib, op); });
            const auto [fast, avx2, baseline] = results;
            ASSERT_NE(fast, nullptr);
            ASSERT_NE(avx2, nullptr);
            ASSERT_NE(baseline, nullptr);
            EXPECT_EQ(BlockBytes(fast), BlockBytes(baseline)) << w << "x" << h << " " << op;
            EXPECT_EQ(BlockBytes(avx2), BlockBytes(baseline)) << w << "x" << h << " " << op;
            for (win::HGLOBAL result : {fast, avx2, baseline}) FreeDIB(result);
        }
        FreeDIB(dib);
    }
}

TEST(DibTransforms, FailedAllocationsLeaveNothingBehind) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = RandomDIB(9, 4, 8, 3);
    win::globalmem_testing::FailAllocationAfter(0);
    EXPECT_EQ(RotateDIB(dib, 270), nullptr);
    win::globalmem_testing::FailAllocationAfter(0);
    EXPECT_EQ(ResizeDIBTo380x480(dib, 9, 4), nullptr);
    win::globalmem_testing::FailAllocationAfter(0);
    SImage image{};
    EXPECT_FALSE(DIBToSImage(dib, &image, true));
    EXPECT_EQ(image.pPixels, nullptr);
    win::globalmem_testing::FailAllocationAfter(-1);
    EXPECT_EQ(LockCount(dib), 0u);
    FreeDIB(dib);
}

TEST(DibResize, ClampsTheRectangleAndRefusesAnEmptyOne) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = RandomDIB(190, 240, 24, 5);
    EXPECT_EQ(ResizeDIBTo380x480(dib, 0, 240), nullptr);
    EXPECT_EQ(ResizeDIBTo380x480(dib, 190, -3), nullptr);
    // A rectangle larger than the source is the whole source.
    win::HGLOBAL clamped = ResizeDIBTo380x480(dib, 5000, 5000);
    win::HGLOBAL exact = ResizeDIBTo380x480(dib, 190, 240);
    ASSERT_NE(clamped, nullptr);
    EXPECT_EQ(BlockBytes(clamped), BlockBytes(exact));
    for (auto made : {dib, clamped, exact}) FreeDIB(made);
}

TEST(DibResample, OtherDepthsAndOversizedRectanglesFail) {
    std::vector<std::uint8_t> target(64, 0xAB), source(64, 1);
    EXPECT_FALSE(
        ResampleNearest(target.data(), 8, 0, 0, 2, 2, source.data(), 8, 0, 0, 4, 4, 32, 0));
    EXPECT_FALSE(ResampleNearest(target.data(), 8, 0, 0, 2, 0, source.data(), 8, 0, 0, 4, 4, 8, 0));
    EXPECT_FALSE(
        ResampleNearest(target.data(), 8, 0, 0, 70000, 2, source.data(), 8, 0, 0, 4, 4, 8, 0));
    EXPECT_EQ(target, std::vector<std::uint8_t>(64, 0xAB));
}

TEST(DibResample, FlagsFlipAndMirror) {
    // 16-bit elements: 3 x 2 source copied to 3 x 2 with both flags.
    const std::uint16_t source[6] = {1, 2, 3, 4, 5, 6};
    std::uint16_t target[6] = {};
    ASSERT_TRUE(ResampleNearest(reinterpret_cast<std::uint8_t*>(target), 6, 0, 0, 3, 2,
                                reinterpret_cast<const std::uint8_t*>(source), 6, 0, 0, 3, 2, 16,
                                kResampleFlipRows | kResampleMirrorRows));
    EXPECT_EQ(std::vector<std::uint16_t>(target, target + 6),
              (std::vector<std::uint16_t>{6, 5, 4, 3, 2, 1}));
    ASSERT_TRUE(ResampleNearest(reinterpret_cast<std::uint8_t*>(target), 6, 0, 0, 3, 2,
                                reinterpret_cast<const std::uint8_t*>(source), 6, 0, 0, 3, 2, 16,
                                kResampleFlipRows));
    EXPECT_EQ(std::vector<std::uint16_t>(target, target + 6),
              (std::vector<std::uint16_t>{4, 5, 6, 1, 2, 3}));
}

TEST(DibToSImage, RowsTopDownAndSamplesRedGreenBlue) {
    NoLeaks noLeaks;
    win::HGLOBAL dib = CreateDIB(2, 3, 24);
    {
        LockedDIB locked(dib);
        const std::uint8_t bottomLeft[3] = {1, 2, 3};  // stored blue, green, red
        std::memcpy(locked.row(0), bottomLeft, 3);
        locked.row(2)[3] = 9;  // top row, second pixel, blue
    }
    SImage image{};
    ASSERT_TRUE(DIBToSImage(dib, &image, true));  // frees the DIB
    EXPECT_EQ(image.nWidth, 2u);
    EXPECT_EQ(image.nHeight, 3u);
    EXPECT_EQ(image.nSamplesPerPixel, 3u);
    EXPECT_EQ(image.nBitsPerSample, 8u);
    const auto* pixels = static_cast<const std::uint8_t*>(image.pPixels);
    EXPECT_EQ(pixels[2 * 6 + 0], 3);  // last row begins 3, 2, 1
    EXPECT_EQ(pixels[2 * 6 + 1], 2);
    EXPECT_EQ(pixels[2 * 6 + 2], 1);
    EXPECT_EQ(pixels[5], 9);  // first row, second pixel, red last
    FreePixelBuffer(&image.pPixels);

    win::HGLOBAL grey = RandomDIB(3, 2, 8, 11);
    ASSERT_TRUE(DIBToSImage(grey, &image, false));
    EXPECT_EQ(image.nSamplesPerPixel, 1u);
    LockedDIB locked(grey);
    EXPECT_EQ(std::memcmp(image.pPixels, locked.row(1), 3), 0);
    FreePixelBuffer(&image.pPixels);
    locked.unlock();
    FreeDIB(grey);
}

TEST(DibToSImage, MirrorByLayout) {
    NoLeaks noLeaks;
    SImage image{3, 2, 1, 12, AllocPixelBuffer(3, 2, 1, 12)};
    auto* words = static_cast<std::uint16_t*>(image.pPixels);
    for (int i = 0; i < 6; ++i) words[i] = std::uint16_t(1000 + i);
    ASSERT_TRUE(MirrorSImage(&image));
    words = static_cast<std::uint16_t*>(image.pPixels);
    EXPECT_EQ(std::vector<std::uint16_t>(words, words + 6),
              (std::vector<std::uint16_t>{1002, 1001, 1000, 1005, 1004, 1003}));
    FreePixelBuffer(&image.pPixels);

    SImage rgb{2, 1, 3, 8, AllocPixelBuffer(2, 1, 3, 8)};
    std::memcpy(rgb.pPixels, "\1\2\3\4\5\6", 6);
    ASSERT_TRUE(MirrorSImage(&rgb));
    EXPECT_EQ(std::memcmp(rgb.pPixels, "\4\5\6\1\2\3", 6), 0);
    FreePixelBuffer(&rgb.pPixels);

    SImage wide{2, 1, 1, 32, AllocPixelBuffer(2, 1, 1, 32)};
    void* before = wide.pPixels;
    EXPECT_FALSE(MirrorSImage(&wide));
    EXPECT_EQ(wide.pPixels, before);
    FreePixelBuffer(&wide.pPixels);

    // A record claiming more pixels than its block holds is refused.
    SImage lying{100, 100, 1, 8, AllocPixelBuffer(2, 2, 1, 8)};
    EXPECT_FALSE(MirrorSImage(&lying));
    FreePixelBuffer(&lying.pPixels);
    EXPECT_FALSE(MirrorSImage(nullptr));
}

TEST(DibFromBitmap, RowsTurnBottomUpWithTheirPadding) {
    NoLeaks noLeaks;
    // 3 x 2 pixels of 24 bits: each row 9 bytes, padded to 10 in the bitmap, 12 in the DIB.
    std::uint8_t rows[20] = {};
    for (int i = 0; i < 9; ++i) rows[i] = std::uint8_t(10 + i), rows[10 + i] = std::uint8_t(50 + i);
    win::HBITMAP bitmap = win::CreateBitmap(3, 2, 1, 24, rows);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(DDBToDIB(bitmap, win::BI_BITFIELDS, nullptr), nullptr);
    win::HGLOBAL dib = DDBToDIB(bitmap, win::BI_RGB, nullptr);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(LockCount(dib), 0u);
    EXPECT_EQ(GetDIBBitCount(dib), 24);
    EXPECT_EQ(GetDIBStride(dib), 12u);
    {
        LockedDIB locked(dib);
        ASSERT_TRUE(locked.valid());
        EXPECT_EQ(locked.header()->biSizeImage, 24u);
        EXPECT_EQ(std::memcmp(locked.row(0), rows + 10, 9), 0);  // bottom row first
        EXPECT_EQ(std::memcmp(locked.row(1), rows, 9), 0);
        EXPECT_EQ(locked.row(0)[9], 0);
    }
    FreeDIB(dib);

    win::HBITMAP grey = win::CreateBitmap(5, 1, 1, 8, "\0\1\2\3\4\0");
    win::HGLOBAL dib8 = DDBToDIB(grey, win::BI_RGB, nullptr);
    ASSERT_NE(dib8, nullptr);
    EXPECT_EQ(static_cast<std::uint8_t*>(LockDIBBits(dib8))[4], 4);
    UnlockDIB(dib8);
    FreeDIB(dib8);
    win::DeleteObject(grey);
    win::DeleteObject(bitmap);
    EXPECT_EQ(DDBToDIB(nullptr, win::BI_RGB, nullptr), nullptr);
}

TEST(DibViewer, FitSizeToAspect) {
    std::int32_t w = 800, h = 300;
    FitSizeToAspect(400, 300, &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
    w = 400, h = 900;
    FitSizeToAspect(400, 300, &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
    w = 100, h = 77;
    FitSizeToAspect(0, 300, &w, &h);
    EXPECT_EQ(h, 77);
    w = 3, h = 3;  // 3 x 2 / 3 = 2 exactly; a half rounds up: 5 x 1 box of a 2 x 1 source
    FitSizeToAspect(3, 2, &w, &h);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    w = 5, h = 1;
    FitSizeToAspect(5, 2, &w, &h);  // x = 2.5 -> w = 3, h = 3 x 2 / 5 + 0.5 = 1.7 -> 1
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
    w = 2000000000, h = 2000000000;
    FitSizeToAspect(1, 2000000000, &w, &h);  // no overflow
    EXPECT_EQ(w, 1);
}

TEST(DibViewer, FindExtensionDot) {
    const char* name = "A123.TIF";
    EXPECT_EQ(FindExtensionDot(name), name + 4);
    EXPECT_EQ(FindExtensionDot("A123"), nullptr);
    EXPECT_EQ(FindExtensionDot(static_cast<const char*>(nullptr)), nullptr);
}

}  // namespace
