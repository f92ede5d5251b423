// The image interface and the pseudo-colour palettes: the defaults of every slot, the grey
// layers' LUT information and corners, the colour table written into a display DIB, and the
// five palette tables against their fixed values.
#include <gtest/gtest.h>

#include <memory>

#include "pixel/image/greyimage.h"
#include "pixel/image/palette.h"
#include "platform/core/globalmem.h"
#include "platform/files/registry.h"
#include "records/dib/dib.h"

namespace {

using Grey8 = CTImgGrey<CTImgNB<unsigned char, unsigned char>>;
using Zel16 = CTImgGrey<CTImgNB<unsigned short, unsigned short>, CImgZEL>;
using Pano16 = CTImgGrey<CTImgNB<unsigned short, unsigned char>, CImgPano>;

std::uint32_t Rgb(const win::RGBQUAD& q) {
    return std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
}

}  // namespace

TEST(ImageInterface, RootAnswersNotDone) {
    CImg image;
    win::HGLOBAL dib = nullptr;
    SImage out{};
    CStructElement element(3, 3);
    EXPECT_FALSE(image.GetDisplayDIB(&dib));
    EXPECT_FALSE(image.AddLogo());
    EXPECT_FALSE(image.FillCorners(1));
    int state = 7;
    float gain = 2.f, second = 3.f;
    image.GetExposureState(&state, &gain, &second);
    EXPECT_EQ(state, 7);  // left untouched
    EXPECT_FALSE(image.CopyToSImage(&out));
    EXPECT_FALSE(image.Zoom(&out, 2.0));
    EXPECT_FALSE(image.CreateHighlightLens(3, 8));
    EXPECT_FALSE(image.DrawHighlightLens({1, 1}, nullptr));
    EXPECT_FALSE(image.MirrorHorizontal());
    EXPECT_FALSE(image.MirrorVertical());
    EXPECT_FALSE(image.Rotate(90, true));
    EXPECT_FALSE(image.Erode(&element));
    EXPECT_FALSE(image.Close(&element));
    EXPECT_FALSE(image.Reserved18(nullptr));
    EXPECT_FALSE(image.MorphologicalContrast(&element));
    EXPECT_FALSE(image.GaussEnhance(5, 1.0, 9, 2.0, 1.0));
    EXPECT_FALSE(image.MultiFilter(3));
    EXPECT_FALSE(image.Convolve(nullptr));
    EXPECT_FALSE(image.Relief());
    EXPECT_EQ(image.GetHeight(), 0u);
    EXPECT_EQ(image.GetBits(), 0u);
    EXPECT_EQ(image.GetSamplesPerPixel(), 0u);
    EXPECT_EQ(image.GetLUTInfo(), nullptr);
}

TEST(ImageInterface, GreyImagesAnswerTheCommonSlots) {
    const auto live = win::globalmem_testing::LiveBlocks();
    {
        std::unique_ptr<CImg> image(new Grey8(4, 6));  // held and deleted as the SDK does
        EXPECT_EQ(image->GetSamplesPerPixel(), 1u);
        EXPECT_EQ(image->GetHeight(), 4u);
        EXPECT_EQ(image->GetWidth(), 6u);
        EXPECT_EQ(image->GetBits(), 8u);
        ASSERT_NE(image->GetLUTInfo(), nullptr);  // made at construction
        EXPECT_EQ(image->GetLUTInfo()->GetMaxEntries(), 256);
        int state = 7;
        float gain = 2.f, second = 3.f;
        image->GetExposureState(&state, &gain, &second);
        EXPECT_EQ(state, 0);
        EXPECT_EQ(gain, 0.f);
        EXPECT_FALSE(image->MultiFilter(2));  // the modality images' business
        EXPECT_FALSE(image->Relief());
        EXPECT_EQ(image->GetCornersInfo(), nullptr);
        CInfosCorners corners;
        corners.SetCorner2(4, 5);
        ASSERT_TRUE(image->SetCorners(&corners));
        ASSERT_NE(image->GetCornersInfo(), nullptr);
        EXPECT_FALSE(image->SetCorners(nullptr));
    }
    {
        Zel16 zel(3, 3);
        EXPECT_NE(dynamic_cast<CInfosLUTGrayZel*>(zel.GetLUTInfo()), nullptr);
        EXPECT_EQ(zel.GetBits(), 16u);
        Zel16 copy(zel);  // attached to its own sensor record
        EXPECT_EQ(static_cast<CInfosLUTGrayZel*>(copy.GetLUTInfo())->Source(), &copy.GetZelInfo());
        Pano16 pano(2, 2);
        EXPECT_NE(dynamic_cast<CInfosLUTGrayPano*>(pano.GetLUTInfo()), nullptr);
        EXPECT_EQ(pano.GetDeviceCode(), 17);
    }
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

TEST(ImageInterface, UpdateDIBPaletteWritesTheColourTable) {
    Grey8 image(2, 2);
    win::HGLOBAL dib = nullptr;
    ASSERT_TRUE(image.GetDisplayDIB(&dib));
    image.GetDisplayInfo().SetColorLUT(1);
    ASSERT_TRUE(image.UpdateDIBPalette(dib));
    {
        quorin::LockedDIB locked(dib);
        ASSERT_TRUE(locked.valid());
        EXPECT_EQ(Rgb(locked.palette()[64]), 0xFF0000u);  // a neutral level table: identity
        EXPECT_EQ(Rgb(locked.palette()[255]), 0xFCFEFFu);
    }
    EXPECT_FALSE(image.UpdateDIBPalette(nullptr));
    win::HGLOBAL colour = CreateDIB(2, 2, 24);
    EXPECT_FALSE(image.UpdateDIBPalette(colour));
    FreeDIB(colour);
    FreeDIB(dib);
}

TEST(Palette, FixedTables) {
    const CImgNBPalette* palette = GetImgNBPalette();
    ASSERT_NE(palette, nullptr);
    std::uint8_t identity[256];
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i);
    win::RGBQUAD out[256];
    ASSERT_EQ(palette->GetPalette(identity, 0, out), 256);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(Rgb(out[i]), std::uint32_t(i * 0x010101));
    ASSERT_EQ(palette->GetPalette(identity, 1, out), 256);
    EXPECT_EQ(Rgb(out[64]), 0xFF0000u);
    EXPECT_EQ(Rgb(out[128]), 0xA8FF00u);  // red 168, green 255
    EXPECT_EQ(Rgb(out[255]), 0xFCFEFFu);
    EXPECT_EQ(Rgb(out[0]), 0x000001u);
    ASSERT_EQ(palette->GetPalette(identity, 2, out), 256);
    EXPECT_EQ(Rgb(out[0]), 0u);
    EXPECT_EQ(Rgb(out[255]), 0xFFFFFCu);
    EXPECT_EQ(Rgb(out[88]), std::uint32_t(64 + 191 * 24 / 63) << 16 | (32 + 223 * 24 / 159) << 8);
    EXPECT_EQ(out[63].rgbBlue, 25);  // max(63 / 4, 63 / 2 - 6)
    EXPECT_EQ(out[64].rgbBlue, 24);
    const win::RGBQUAD* blue = palette->Table(1);
    EXPECT_EQ(Rgb(blue[15]), 0x00000Fu);
    EXPECT_EQ(Rgb(blue[16]), 0x000010u);
    EXPECT_EQ(Rgb(blue[200]), 0xB8B8C8u);
    const win::RGBQUAD* soft = palette->Table(2);
    EXPECT_EQ(Rgb(soft[0]), 0x010101u);
    EXPECT_EQ(Rgb(soft[127]), 0x6C8093u);
    EXPECT_EQ(Rgb(soft[255]), 0xFFFFFFu);
    for (int t = 0; t < 5; ++t)
        for (int i = 0; i < 256; ++i) EXPECT_EQ(palette->Table(t)[i].rgbReserved, 0);
    EXPECT_EQ(palette->Table(5), nullptr);
    // The level table picks the entries.
    std::uint8_t inverted[256];
    for (int i = 0; i < 256; ++i) inverted[i] = static_cast<std::uint8_t>(255 - i);
    ASSERT_EQ(palette->GetPalette(inverted, 0, out), 256);
    EXPECT_EQ(Rgb(out[0]), 0xFFFFFFu);
    EXPECT_EQ(palette->GetPalette(nullptr, 0, out), 0);
}

TEST(Palette, BlueFilterSetting) {
    win::registry::ClearHives();  // hives in memory only: nothing is written
    const CImgNBPalette* palette = GetImgNBPalette();
    std::uint8_t identity[256];
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i);
    win::RGBQUAD out[256];
    palette->GetPalette(identity, 3, out);
    EXPECT_EQ(Rgb(out[100]), 0x545464u);  // value missing: blue tint
    win::registry::LoadHiveText(
        0,
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\QUORIN\\QV\\BlueFilter]\n"
        "\"Value\"=dword:00000002\n");
    palette->GetPalette(identity, 3, out);
    EXPECT_EQ(Rgb(out[100]), 0x516579u);  // soft blue
    win::registry::LoadHiveText(
        0,
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\QUORIN\\QV\\BlueFilter]\n"
        "\"Value\"=dword:00000001\n");
    palette->GetPalette(identity, 3, out);
    EXPECT_EQ(Rgb(out[100]), 0x545464u);
    win::registry::ClearHives();
}
