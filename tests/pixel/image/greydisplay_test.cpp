// The display side of the grey images: the display DIB through the window ramp (checked against
// numpy evaluating the ramp's formula), DIB reuse, the display histogram, copy-out, LUT and
// window application, automatic windowing, stretching, the lens, relief, corners and logos.
#include <gtest/gtest.h>

#include <memory>

#include "common/pixel/pixel_io.h"
#include "pixel/image/greyimage.h"
#include "pixel/image/greyops.h"
#include "platform/core/globalmem.h"
#include "records/dib/dib.h"

using pixeltest::Check;
using pixeltest::WriteArray;

namespace {

using Grey8 = CTImgGrey<CTImgNB<unsigned char, unsigned char>>;
using Grey16 = CTImgGrey<CTImgNB<unsigned short, unsigned char>>;
using Grey32 = CTImgGrey<CTImgNB<unsigned int, unsigned int>>;

// The window ramp of n entries to 256 levels: 0 below low, floor((v - low) x 255 / (high - low))
// up to high, 255 from high on; levels past the table take its last entry. DIB rows bottom-up,
// each padded to 4 bytes.
const char* const kDisplayCheck = R"PY(
import sys, numpy as np
d, dt, w, h, lo, hi = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
src = np.fromfile(d + '/src', dt).reshape(h, w).astype(np.int64)
stride = (w + 3) // 4 * 4
dib = np.fromfile(d + '/dib', np.uint8).reshape(h, stride)[::-1, :w]
want = np.where(src < lo, 0, np.where(src >= hi, 255, (src - lo) * 255 // (hi - lo)))
hist = np.fromfile(d + '/hist', np.uint32)
ok = np.array_equal(dib, want) and np.array_equal(hist, np.bincount(want.ravel(), minlength=256))
print('ok' if ok else 'mismatch')
)PY";

std::vector<std::uint8_t> DIBBytes(win::HGLOBAL dib) {
    const auto* bits = static_cast<std::uint8_t*>(LockDIBBits(dib));
    std::int32_t w = 0, h = 0;
    GetDIBSize(dib, &w, &h);
    std::vector<std::uint8_t> bytes(bits, bits + std::size_t(GetDIBStride(dib)) * h);
    UnlockDIB(dib);
    return bytes;
}

}  // namespace

TEST(GreyDisplayNumpy, TwelveBitWindow) {
    const auto live = win::globalmem_testing::LiveBlocks();
    quorin::test::TempDir dir;
    const std::uint32_t w = 37, h = 11;
    auto src = pixeltest::RandomPixels<unsigned short>(w * h, 4095, 1);
    src[0] = 100;
    src[1] = 1100;
    src[2] = 5000;  // stray high bits above the depth
    WriteArray(dir.file("src"), src.data(), src.size());
    SImage* record = pixeltest::MakeSImage<unsigned short>(w, h, 12, src);
    {
        Grey16 image(record);
        image.SetWindow(100, 1100);
        win::HGLOBAL dib = nullptr;
        CTVector<unsigned int> histogram(256);
        ASSERT_TRUE(image.GetDisplayDIB(&dib, &histogram));
        WriteArray(dir.file("dib"), DIBBytes(dib).data(), DIBBytes(dib).size());
        WriteArray(dir.file("hist"), histogram.Data(), 256);
        FreeDIB(dib);
    }
    FreeSImage(record, true);
    EXPECT_EQ(Check(kDisplayCheck,
                    {dir.path(), "uint16", std::to_string(w), std::to_string(h), "100", "1100"}),
              "ok\n");
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, ReusesADIBOfTheRightSizeOnly) {
    const auto live = win::globalmem_testing::LiveBlocks() + 1;  // the image's pixels
    Grey8 image(5, 7);
    win::HGLOBAL dib = CreateDIB(7, 5, 8);
    const win::HGLOBAL first = dib;
    ASSERT_TRUE(image.GetDisplayDIB(&dib));
    EXPECT_EQ(dib, first);
    win::HGLOBAL other = CreateDIB(8, 5, 8);
    ASSERT_TRUE(image.GetDisplayDIB(&other));
    std::int32_t w = 0, h = 0;
    ASSERT_TRUE(GetDIBSize(other, &w, &h));
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    FreeDIB(dib);
    FreeDIB(other);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, LowWindowShowsLevelsSaturated) {
    Grey16 image(1, 3);
    image.Pixels()->Data()[0] = 10;
    image.Pixels()->Data()[1] = 255;
    image.Pixels()->Data()[2] = 300;  // above a window that ends below 256
    image.SetWindow(0, 200);
    win::HGLOBAL dib = nullptr;
    ASSERT_TRUE(image.GetDisplayDIB(&dib));
    const auto bytes = DIBBytes(dib);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[1], 255);
    EXPECT_EQ(bytes[2], 255);  // not its low byte (44)
    FreeDIB(dib);
}

TEST(GreyDisplay, CopyToSImage) {
    Grey16 image(3, 4);
    const auto live = win::globalmem_testing::LiveBlocks();
    image.Pixels()->Data()[5] = 777;
    SImage out{};
    ASSERT_TRUE(image.CopyToSImage(&out));
    EXPECT_EQ(out.nWidth, 4u);
    EXPECT_EQ(out.nHeight, 3u);
    EXPECT_EQ(out.nSamplesPerPixel, 1u);
    EXPECT_EQ(out.nBitsPerSample, 16u);
    EXPECT_EQ(static_cast<unsigned short*>(out.pPixels)[5], 777);
    void* kept = out.pPixels;
    EXPECT_FALSE(image.CopyToSImage(&out));
    EXPECT_EQ(out.pPixels, kept);
    FreePixelBuffer(&out.pPixels);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, AdoptionRefusesMismatchedRecords) {
    const auto live = win::globalmem_testing::LiveBlocks();
    const std::vector<unsigned short> pixels(6, 3);
    SImage* record = pixeltest::MakeSImage<unsigned short>(3, 2, 16, pixels);
    {
        Grey8 wrongDepth(record);  // 16-bit elements into an 8-bit image
        EXPECT_FALSE(wrongDepth.HasPixels());
        EXPECT_EQ(wrongDepth.GetHeight(), 0u);
        win::HGLOBAL dib = nullptr;
        EXPECT_FALSE(wrongDepth.GetDisplayDIB(&dib));
        EXPECT_FALSE(wrongDepth.MirrorHorizontal());
        record->nWidth = 1000;  // more pixels than the block holds
        Grey16 tooLarge(record);
        EXPECT_FALSE(tooLarge.HasPixels());
        record->nWidth = 0;
        Grey16 empty(record);
        EXPECT_FALSE(empty.HasPixels());
        Grey16 none(nullptr);
        EXPECT_FALSE(none.HasPixels());
    }
    FreeSImage(record, false);  // the record kept its block
    Grey8 zero(0, 0);
    EXPECT_FALSE(zero.HasPixels());
    SImage out{};
    EXPECT_FALSE(zero.CopyToSImage(&out));
    EXPECT_FALSE(zero.Zoom(&out, 1.0));
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, WideSingleRow) {
    const auto live = win::globalmem_testing::LiveBlocks();
    {
        Grey16 image(1, 65535);
        ASSERT_TRUE(image.HasPixels());
        image.Pixels()->Data()[65534] = 65535;
        image.ComputeMinMax();
        win::HGLOBAL dib = nullptr;
        ASSERT_TRUE(image.GetDisplayDIB(&dib));
        FreeDIB(dib);
        ASSERT_TRUE(image.Rotate(90, true));
        EXPECT_EQ(image.GetHeight(), 65535u);
        SImage out{};
        EXPECT_TRUE(image.Zoom(&out, 0.5));
        FreePixelBuffer(&out.pPixels);
    }
    {
        Grey8 tooWide(1, 65536);  // no DIB can be that wide
        win::HGLOBAL dib = nullptr;
        EXPECT_FALSE(tooWide.GetDisplayDIB(&dib));
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, MinMaxAndWindows) {
    Grey16 image(2, 2);
    unsigned short* p = image.Pixels()->Data();
    p[0] = 7;
    p[1] = 900;
    p[2] = 40;
    p[3] = 40;
    image.ComputeMinMax();
    EXPECT_EQ(image.WindowLow(), 7);
    EXPECT_EQ(image.WindowHigh(), 900);
    EXPECT_EQ(image.Range(), 894u);
    CTImgNB<unsigned char, unsigned char>* display = nullptr;
    ASSERT_TRUE(image.MakeDisplayImage(&display));
    std::unique_ptr<CTImgNB<unsigned char, unsigned char>> owned(display);
    EXPECT_EQ(display->Pixels()->Data()[0], 0);
    EXPECT_EQ(display->Pixels()->Data()[1], 255);
    EXPECT_EQ(display->Pixels()->Data()[2], (40 - 7) * 255 / (900 - 7));
    EXPECT_FALSE(image.MakeDisplayImage(&display));  // already set
    // A LUT of another size than the level count is refused.
    CTLut<unsigned char> small(256, 256);
    EXPECT_FALSE(image.ApplyLut(*display, small));
    CTLut<unsigned char> full(65536, 256);
    ASSERT_TRUE(image.ApplyLut(*display, full));
    EXPECT_EQ(display->Pixels()->Data()[1], 900u * 255 / 65535);
}

TEST(GreyDisplay, AutoWindowAndStretch) {
    Grey8 image(20, 20);
    unsigned char* p = image.Pixels()->Data();
    for (int i = 0; i < 400; ++i)
        p[i] = static_cast<unsigned char>(i < 100 ? 30 : i < 350 ? 90 : 200);
    p[0] = 0;  // one stray dark pixel
    unsigned char low = 0, high = 0;
    ASSERT_TRUE(image.AutoWindow(&low, &high, nullptr));
    EXPECT_EQ(low, 30);  // the first level with more than 40 pixels
    EXPECT_EQ(high, 200);
    EXPECT_FALSE(image.StretchBetweenFractions(0.5, 0.2, nullptr));
    ASSERT_TRUE(image.StretchBetweenFractions(0.1, 0.9, nullptr));
    EXPECT_EQ(image.WindowLow(), 0);
    EXPECT_EQ(image.WindowHigh(), 255);
    EXPECT_EQ(image.Pixels()->Data()[5], 0);  // 30 was the new low
    EXPECT_EQ(image.Pixels()->Data()[200], 255 * (90 - 30) / (200 - 30));
}

TEST(GreyDisplay, ReliefOfAFlatImage) {
    Grey16 image(4, 5);
    std::fill(image.Pixels()->Data(), image.Pixels()->Data() + 20, 1000);
    image.ComputeMinMax();  // window above 255: offset 65536 x 150 / 256
    Grey16 target(4, 5);
    ASSERT_TRUE(image.Relief(target));
    EXPECT_EQ(target.Pixels()->Data()[6], 38400);
    EXPECT_EQ(target.Pixels()->Data()[0], 1000);
    Grey8 small(3, 3);
    std::fill(small.Pixels()->Data(), small.Pixels()->Data() + 9, 20);
    small.Pixels()->Data()[5] = 120;  // right of the centre
    small.ComputeMinMax();
    Grey8 out(3, 3);
    ASSERT_TRUE(small.Relief(out));
    EXPECT_EQ(out.Pixels()->Data()[4], 255);  // 100 x 3 / 2 + 150 clamped
    Grey8 wrongSize(3, 4);
    EXPECT_FALSE(small.Relief(wrongSize));
}

TEST(GreyDisplay, FillCorners) {
    Grey8 image(10, 12);
    const std::int32_t none[8] = {};
    EXPECT_FALSE(image.CTImgNB::FillCorners(9, none));
    const std::int32_t negative[8] = {-4, -4, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(image.CTImgNB::FillCorners(9, negative));
    const std::int32_t topLeft[8] = {2, 2, 0, 0, 0, 0, 0, 3};
    EXPECT_FALSE(image.CTImgNB::FillCorners(256, topLeft));  // above the top level
    ASSERT_TRUE(image.CTImgNB::FillCorners(9, topLeft));
    const unsigned char* p = image.Pixels()->Data();
    // n = m = 4: rows 0..3 get 4, 3, 2, 1 pixels.
    EXPECT_EQ(p[3], 9);
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p[12 + 2], 9);
    EXPECT_EQ(p[12 + 3], 0);
    EXPECT_EQ(p[3 * 12 + 0], 9);
    EXPECT_EQ(p[3 * 12 + 1], 0);
    // Without corners information the slot has nothing to do; with it the pairs are its corners.
    EXPECT_TRUE(image.FillCorners(5));
    CInfosCorners corners;
    corners.SetCorner4(2, 2);
    image.SetCorners(&corners);
    ASSERT_TRUE(image.FillCorners(5));
    EXPECT_EQ(p[10 * 12 - 1], 5);
    EXPECT_EQ(p[10 * 12 - 5], 0);
}

TEST(GreyDisplay, StampBitmap) {
    Grey16 image(10, 12);
    Grey32 deep(4, 4);
    const auto live = win::globalmem_testing::LiveBlocks();
    image.ComputeMinMax();
    const std::uint8_t bits[4] = {0x80, 0, 0x40, 0};  // 2 x 2, 1 bit, rows padded to 2 bytes
    ASSERT_TRUE(image.StampBitmap(win::CreateBitmap(2, 2, 1, 1, bits), false));
    const unsigned short* p = image.Pixels()->Data();
    // Default place: x = width - 3, bitmap row k on image row height - (h + 1) + k - 1:
    // one column from the right edge, two rows above the bottom edge.
    EXPECT_EQ(p[6 * 12 + 9], 65535);
    EXPECT_EQ(p[7 * 12 + 10], 65535);
    EXPECT_EQ(p[6 * 12 + 10], 0);
    // Too low or too far right: refused, the bitmap deleted all the same.
    EXPECT_FALSE(image.StampBitmap(win::CreateBitmap(2, 2, 1, 1, bits), false, 11, 3));
    EXPECT_FALSE(image.StampBitmap(win::CreateBitmap(2, 2, 1, 1, bits), false, 0, 0));
    EXPECT_FALSE(image.StampBitmap(win::CreateBitmap(2, 2, 1, 1, bits), false, 0, 40));
    EXPECT_FALSE(image.StampBitmap(nullptr, false));
    EXPECT_FALSE(image.StampBitmap(quorin::LoadLogoBitmap(8007), false));  // not embedded
    EXPECT_FALSE(deep.StampBitmap(win::CreateBitmap(2, 2, 1, 1, bits), false));
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, HighlightLens) {
    Grey8 image(20, 20);
    const auto live = win::globalmem_testing::LiveBlocks() + 1;  // the lens's copy stays
    unsigned char* p = image.Pixels()->Data();
    for (int i = 0; i < 400; ++i) p[i] = static_cast<unsigned char>(100 + (i % 20));
    win::HGLOBAL dib = nullptr;
    ASSERT_TRUE(image.GetDisplayDIB(&dib));
    EXPECT_FALSE(image.DrawHighlightLens({10, 10}, dib));  // no lens yet
    EXPECT_FALSE(image.CreateHighlightLens(0, 8));
    ASSERT_TRUE(image.CreateHighlightLens(4, 8));
    ASSERT_TRUE(image.DrawHighlightLens({10, 10}, dib));
    const auto bytes = DIBBytes(dib);
    const std::size_t stride = GetDIBStride(dib);
    const auto at = [&](int row, int column) { return bytes[(19 - row) * stride + column]; };
    // Inside the disc the columns 106..114 are stretched over 0..255; outside, untouched.
    EXPECT_EQ(at(10, 6), 0);
    EXPECT_EQ(at(10, 14), 255);
    EXPECT_EQ(at(10, 18), 118);
    EXPECT_EQ(at(2, 10), 110);
    // Edges and corners clip the disc; other DIBs are refused.
    EXPECT_TRUE(image.DrawHighlightLens({0, 0}, dib));
    EXPECT_TRUE(image.DrawHighlightLens({-50, 500}, dib));
    win::HGLOBAL other = CreateDIB(21, 20, 8);
    EXPECT_FALSE(image.DrawHighlightLens({5, 5}, other));
    // After a turn the lens takes the new pixels.
    ASSERT_TRUE(image.Rotate(90, true));
    EXPECT_FALSE(image.DrawHighlightLens({5, 5}, other));
    FreeDIB(other);
    FreeDIB(dib);
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(GreyDisplay, UpperQuarterShareAndPixelCopies) {
    Grey16 image(10, 100);
    unsigned short* p = image.Pixels()->Data();
    std::fill(p, p + 1000, 100);
    std::fill(p, p + 200, 4000);  // t = ((100 + 4000) / 2 + 4000) / 2 = 3025
    EXPECT_FALSE(image.TestUpperQuarterShare());
    std::fill(p, p + 300, 4000);
    EXPECT_TRUE(image.TestUpperQuarterShare());
    Grey16 copy(10, 100);
    ASSERT_TRUE(image.CopyPixelsTo(copy));
    EXPECT_EQ(copy.WindowLow(), 100);
    EXPECT_EQ(copy.WindowHigh(), 4000);
    Grey16 other(10, 99);
    EXPECT_FALSE(image.CopyPixelsTo(other));
}
