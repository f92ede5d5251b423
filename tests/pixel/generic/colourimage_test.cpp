// The colour image: byte order and row order in and out of the DIB, quarter turns, zoom by
// planes, the empty image's answers and refused records that keep the old picture.
#include "pixel/generic/colourimage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/pixel/pixel_io.h"
#include "common/pixel/sensor_ref.h"
#include "pixel/image/greyimage.h"
#include "records/dib/dib.h"

using pixeltest::RandomPixels;
using sensortest::BlocksBalanced;

namespace {

// A 3-sample record of w x h pixels with the given bytes (RGB, rows top-down).
SImage* Rgb(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& bytes) {
    SImage* record = AllocSImage(w, h, 3, 8, false, nullptr);
    if (record != nullptr) std::memcpy(record->pPixels, bytes.data(), bytes.size());
    return record;
}

std::vector<std::uint8_t> CopyOut(CImgLEADColor& image) {
    SImage out{};
    if (!image.CopyToSImage(&out)) return {};
    const auto* data = static_cast<const std::uint8_t*>(out.pPixels);
    std::vector<std::uint8_t> bytes(data, data + std::size_t(out.nWidth) * out.nHeight * 3);
    FreeGlobalPointer(out.pPixels);
    return bytes;
}

}  // namespace

TEST(ColourImage, ByteAndRowOrder) {
    BlocksBalanced balanced;
    std::vector<std::uint8_t> bytes(4 * 3 * 3, 0);
    bytes[0] = 10, bytes[1] = 20, bytes[2] = 30;  // top-left pixel
    SImage* record = Rgb(4, 3, bytes);
    CImgLEADColor image;
    ASSERT_TRUE(image.SetFromSImage(record));
    FreeSImage(record, false);
    EXPECT_EQ(image.GetWidth(), 4u);
    EXPECT_EQ(image.GetHeight(), 3u);
    EXPECT_EQ(image.GetBits(), 8u);
    EXPECT_EQ(image.GetSamplesPerPixel(), 3u);
    {
        quorin::LockedDIB dib(image.GetPicture());
        ASSERT_TRUE(dib.valid());
        EXPECT_EQ(dib.layout().bitCount, 24u);
        const std::uint8_t* lastRow = dib.row(2);  // the record's first row is the DIB's last
        EXPECT_EQ(lastRow[0], 30);
        EXPECT_EQ(lastRow[1], 20);
        EXPECT_EQ(lastRow[2], 10);
    }
    EXPECT_EQ(CopyOut(image), bytes);

    win::HGLOBAL display = CreateDIB(2, 2, 8);
    ASSERT_TRUE(image.GetDisplayDIB(&display));  // the old handle is freed
    ASSERT_NE(display, image.GetPicture());
    win::HGLOBAL own = image.GetPicture();
    win::HGLOBAL same = own;
    ASSERT_TRUE(image.GetDisplayDIB(&same));  // its own picture is never freed
    EXPECT_EQ(image.GetHeight(), 3u);
    FreeDIB(display);
    FreeDIB(same);
}

TEST(ColourImage, TurnsMirrorsAndZoom) {
    BlocksBalanced balanced;
    const std::uint32_t w = 7, h = 5;
    const auto bytes = RandomPixels<std::uint8_t>(w * h * 3, 255, 4);
    SImage* record = Rgb(w, h, bytes);
    CImgLEADColor image;
    ASSERT_TRUE(image.SetFromSImage(record));
    FreeSImage(record, false);

    ASSERT_TRUE(image.Rotate(90, false));
    EXPECT_EQ(image.GetWidth(), h);
    ASSERT_TRUE(image.Rotate(270, true));
    EXPECT_EQ(CopyOut(image), bytes);
    EXPECT_FALSE(image.Rotate(45, true));
    EXPECT_EQ(CopyOut(image), bytes);
    ASSERT_TRUE(image.MirrorHorizontal());
    const auto mirrored = CopyOut(image);
    for (std::uint32_t c = 0; c < 3; ++c) EXPECT_EQ(mirrored[c], bytes[(w - 1) * 3 + c]);
    ASSERT_TRUE(image.MirrorHorizontal());
    EXPECT_FALSE(image.Erode(nullptr));

    // Each plane zooms as a grey picture does.
    for (double factor : {2.5, 0.3, 1e-9}) {
        SImage zoomed{};
        ASSERT_TRUE(image.Zoom(&zoomed, factor));
        EXPECT_EQ(zoomed.nSamplesPerPixel, 3u);
        EXPECT_FALSE(image.Zoom(&zoomed, factor));  // already has pixels
        for (std::uint32_t plane = 0; plane < 3; ++plane) {
            CTImgNB<unsigned char, unsigned char, unsigned int> grey(h, w);
            for (std::uint32_t k = 0; k < w * h; ++k)
                grey.Pixels()->Data()[k] = bytes[k * 3 + plane];
            SImage expected{};
            ASSERT_TRUE(grey.Zoom(&expected, factor));
            ASSERT_EQ(expected.nWidth, zoomed.nWidth);
            ASSERT_EQ(expected.nHeight, zoomed.nHeight);
            const auto* e = static_cast<const std::uint8_t*>(expected.pPixels);
            const auto* z = static_cast<const std::uint8_t*>(zoomed.pPixels);
            for (std::uint32_t k = 0; k < expected.nWidth * expected.nHeight; ++k)
                ASSERT_EQ(z[k * 3 + plane], e[k]) << "plane " << plane << " pixel " << k;
            FreeGlobalPointer(expected.pPixels);
        }
        FreeGlobalPointer(zoomed.pPixels);
    }
    SImage none{};
    EXPECT_FALSE(image.Zoom(&none, -1.0));
    EXPECT_EQ(none.pPixels, nullptr);
}

TEST(ColourImage, EmptyImageAndRefusedRecords) {
    BlocksBalanced balanced;
    CImgLEADColor empty;
    EXPECT_EQ(empty.GetHeight(), 0u);
    EXPECT_EQ(empty.GetWidth(), 0u);
    EXPECT_EQ(empty.GetBits(), 0u);
    EXPECT_EQ(empty.GetSamplesPerPixel(), 0u);
    win::HGLOBAL dib = nullptr;
    EXPECT_FALSE(empty.GetDisplayDIB(&dib));
    SImage out{};
    EXPECT_FALSE(empty.CopyToSImage(&out));
    EXPECT_FALSE(empty.Rotate(90, true));
    EXPECT_FALSE(empty.MirrorHorizontal());

    CImgLEADColor image;
    SImage* good = Rgb(3, 2, std::vector<std::uint8_t>(18, 9));
    ASSERT_TRUE(image.SetFromSImage(good));
    FreeSImage(good, false);
    // One sample per pixel, a block shorter than the sides say, no block: refused, picture kept.
    SImage* grey = AllocSImage(3, 2, 1, 8, false, nullptr);
    EXPECT_FALSE(image.SetFromSImage(grey));
    FreeSImage(grey, false);
    SImage* small = Rgb(3, 2, std::vector<std::uint8_t>(18, 1));
    small->nHeight = 4000;
    EXPECT_FALSE(image.SetFromSImage(small));
    FreeSImage(small, false);
    SImage bare{3, 2, 3, 8, nullptr};
    EXPECT_FALSE(image.SetFromSImage(&bare));
    EXPECT_FALSE(image.SetFromSImage(nullptr));
    EXPECT_EQ(CopyOut(image), std::vector<std::uint8_t>(18, 9));
}
