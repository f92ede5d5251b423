// Generic grey images: the detail filter against numpy at both scales, the fixed levels and the
// documented flat-picture answers of the 8-bit image, hostile strengths and sizes.
#include "pixel/generic/genericgrey.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

#include "common/pixel/pixel_io.h"
#include "common/pixel/sensor_ref.h"

using pixeltest::RandomPixels;
using sensortest::BlocksBalanced;
using sensortest::JsonRows;
using sensortest::Make;
using sensortest::RefCheck;

namespace {

std::vector<std::uint8_t> PixelsOf(const CucExtNB& image) {
    const auto* data = image.Pixels()->Data();
    return {data, data + std::size_t(image.Width()) * image.Height()};
}

}  // namespace

TEST(GenericDetailFilter, MatchesNumpy) {
    BlocksBalanced balanced;
    struct Case {
        std::uint32_t w, h;
        std::int32_t scale;
        bool changes;
    };
    RefCheck check;
    std::vector<std::vector<double>> rows;  // w, h, scale, gain
    // Reduced sides below 3, or too small for a 2-pixel interior, leave the picture as it is.
    for (const Case& c : {Case{41, 33, 3, true}, Case{40, 35, 1, true}, Case{64, 20, 2, true},
                          Case{8, 40, 3, false}, Case{9, 9, 3, false}, Case{4, 4, 1, false}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "/" +
                     std::to_string(c.scale));
        const auto source = RandomPixels<std::uint8_t>(std::size_t(c.w) * c.h, 255, c.w);
        std::vector<std::uint8_t> target(source.size(), 0);
        ASSERT_TRUE(
            quorin::GenericDetailFilter(source.data(), target.data(), c.w, c.h, c.scale, 8));
        EXPECT_EQ(target != source, c.changes);
        check.Write("image" + std::to_string(rows.size()), source);
        check.Write("out" + std::to_string(rows.size()), target);
        rows.push_back({double(c.w), double(c.h), double(c.scale), 8});
    }
    check.Run("detail", "{\"cases\":" + JsonRows(rows) + "}");
    std::vector<std::uint8_t> flat(30 * 30, 77), out(30 * 30);
    ASSERT_TRUE(quorin::GenericDetailFilter(flat.data(), out.data(), 30, 30, 3, 8));
    EXPECT_EQ(out, flat);  // no detail in a flat picture
    EXPECT_FALSE(quorin::GenericDetailFilter(flat.data(), out.data(), 30, 30, 0, 8));
    EXPECT_FALSE(quorin::GenericDetailFilter(flat.data(), out.data(), 0, 30, 1, 8));
    EXPECT_FALSE(quorin::GenericDetailFilter(nullptr, out.data(), 30, 30, 1, 8));
}

TEST(GenericGreyImages, EightBitSlots) {
    BlocksBalanced balanced;
    const std::uint32_t w = 36, h = 30;
    const auto px = RandomPixels<std::uint8_t>(w * h, 60, 2);
    auto image = Make<CucExtNB>(w, h, 8, px);
    ASSERT_EQ(image->GetHeight(), h);
    image->ComputeMinMax();  // fixed levels whatever the pixels
    EXPECT_EQ(image->WindowLow(), 0);
    EXPECT_EQ(image->WindowHigh(), 255);
    EXPECT_FALSE(image->GetDetailFlag());
    ASSERT_TRUE(image->ApplyDetailFilter());
    EXPECT_TRUE(image->GetDetailFlag());
    std::vector<std::uint8_t> expected(px.size());
    ASSERT_TRUE(quorin::GenericDetailFilter(px.data(), expected.data(), w, h, 3, 8));
    EXPECT_EQ(PixelsOf(*image), expected);
    EXPECT_TRUE(CucExtNB(4, 4).GetDetailFlag());

    // A flat picture: each interior pixel becomes min(255, v + ((v x s) >> 2)).
    auto flat = Make<CucExtNB>(w, h, 8, std::vector<std::uint8_t>(w * h, 40));
    ASSERT_TRUE(flat->MultiFilter(3));
    EXPECT_EQ(flat->Pixels()->Data()[w + 1], 40 + (40 * 3 >> 2));
    EXPECT_EQ(flat->Pixels()->Data()[0], 40);
    // A strength far beyond what saturates: the same answer, no overflow of the weights.
    auto strong = Make<CucExtNB>(w, h, 8, px);
    auto bounded = Make<CucExtNB>(w, h, 8, px);
    ASSERT_TRUE(strong->MultiFilter(INT_MAX));
    ASSERT_TRUE(bounded->MultiFilter(65536));
    EXPECT_EQ(PixelsOf(*strong), PixelsOf(*bounded));
    ASSERT_TRUE(strong->MultiFilter(INT_MIN));

    // Relief: 150 inside a flat picture.
    ASSERT_TRUE(flat->Relief());
    EXPECT_EQ(flat->Pixels()->Data()[2 * w + 2], 150);
}

TEST(GenericGreyImages, DeepImagesAndHostileSizes) {
    BlocksBalanced balanced;
    for (const auto& [w, h] : {std::array<std::uint32_t, 2>{1, 1}, {2, 2}, {3, 700}, {33, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::vector<std::unique_ptr<CImg>> images;
        images.push_back(Make<CucExtNB>(w, h, 8, RandomPixels<std::uint8_t>(w * h, 255, 1)));
        images.push_back(Make<CusExtNB>(w, h, 12, RandomPixels<std::uint16_t>(w * h, 4095, 2)));
        images.push_back(Make<CunExtNB>(w, h, 32, RandomPixels<std::uint32_t>(w * h, ~0u, 3)));
        for (auto& image : images) {
            ASSERT_EQ(image->GetHeight(), h);
            EXPECT_TRUE(image->Relief());
            image->MultiFilter(5);
            EXPECT_TRUE(image->Rotate(90, true));
            EXPECT_EQ(image->GetWidth(), h);
            SImage zoomed{};
            ASSERT_TRUE(image->Zoom(&zoomed, 0.5));
            FreeGlobalPointer(zoomed.pPixels);
            win::HGLOBAL dib = nullptr;
            EXPECT_TRUE(image->GetDisplayDIB(&dib));
            win::GlobalFree(dib);
            if (auto* eight = dynamic_cast<CucExtNB*>(image.get())) {
                EXPECT_TRUE(eight->ApplyDetailFilter());
            }
        }
    }
    // The deep relief is the grey template's: inside a flat 12-bit picture, 4096 x 150 / 256.
    auto deep = Make<CusExtNB>(20, 20, 12, std::vector<std::uint16_t>(400, 3000));
    ASSERT_TRUE(deep->Relief());
    EXPECT_EQ(deep->Pixels()->Data()[21], 2400);
    EXPECT_EQ(deep->WindowHigh(), 3000);  // the border keeps its pixels
}
