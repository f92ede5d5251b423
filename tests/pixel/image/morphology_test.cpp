// Grey-scale morphology against scipy.ndimage.grey_erosion / grey_dilation with the same
// structuring element: erosion min(I - B) clipped at 0, dilation max(I + B) clipped at the top
// level (scipy reflects the element for dilation, so it gets B flipped). Only the interior is
// compared with scipy; the frame where the element leaves the image must keep the source.
#include <gtest/gtest.h>

#include <memory>

#include "common/pixel/pixel_io.h"
#include "pixel/image/greyimage.h"
#include "platform/core/globalmem.h"

using pixeltest::Check;
using pixeltest::WriteArray;

namespace {

const char* const kMorphCheck = R"PY(
import sys, numpy as np
from scipy import ndimage as nd
d, dt, w, h, br, bc, top = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
src = np.fromfile(d + '/src', dt).reshape(h, w).astype(np.int64)
b = np.fromfile(d + '/b', np.uint32).reshape(br, bc).astype(np.int64)
hr, hc = (br - 1) // 2, (bc - 1) // 2
def framed(full):
    out = src.copy()
    out[hr:h-(br-1-hr), hc:w-(bc-1-hc)] = full[hr:h-(br-1-hr), hc:w-(bc-1-hc)]
    return out
ero = framed(np.clip(nd.grey_erosion(src, structure=b, mode='nearest'), 0, top))
dil = framed(np.clip(nd.grey_dilation(src, structure=b[::-1, ::-1], mode='nearest'), 0, top))
bad = []
for name, want in (('erode', ero), ('dilate', dil)):
    got = np.fromfile(d + '/' + name, dt).reshape(h, w).astype(np.int64)
    if not np.array_equal(got, want): bad.append(name)
print('ok' if not bad else ' '.join(bad))
)PY";

template <class P>
void MorphAgainstScipy(std::uint32_t w, std::uint32_t h, std::uint32_t bits, std::uint32_t rows,
                       std::uint32_t columns, std::uint32_t maxOffset) {
    const auto live = win::globalmem_testing::LiveBlocks();
    quorin::test::TempDir dir;
    const std::uint32_t levels = (1u << bits) - 1;
    std::uint64_t top = 0;  // an image built empty has its pixel type's depth
    const auto src = pixeltest::RandomPixels<P>(std::size_t(w) * h, levels, rows * 7 + columns);
    WriteArray(dir.file("src"), src.data(), src.size());
    {
        CStructElement element(rows, columns);
        const auto offsets = pixeltest::RandomPixels<unsigned int>(rows * columns, maxOffset, 5);
        std::copy(offsets.begin(), offsets.end(), element.Data());
        WriteArray(dir.file("b"), element.Data(), offsets.size());
        CTImgGrey<CTImgNB<P, unsigned char>> image(h, w);
        top = image.TopLevel();
        std::copy(src.begin(), src.end(), image.Pixels()->Data());
        std::unique_ptr<CTImgNB<P, unsigned char>> eroded(
            image.CTImgNB<P, unsigned char>::Erode(element));
        std::unique_ptr<CTImgNB<P, unsigned char>> dilated(
            image.CTImgNB<P, unsigned char>::Dilate(element));
        ASSERT_TRUE(eroded && dilated);
        WriteArray(dir.file("erode"), eroded->Pixels()->Data(), src.size());
        WriteArray(dir.file("dilate"), dilated->Pixels()->Data(), src.size());
        // The slot replaces the image's pixels with the result.
        ASSERT_TRUE(image.Erode(&element));
        EXPECT_TRUE(std::equal(image.Pixels()->Data(), image.Pixels()->Data() + src.size(),
                               eroded->Pixels()->Data()));
    }
    const char* dtype = sizeof(P) == 1 ? "uint8" : "uint16";
    EXPECT_EQ(
        Check(kMorphCheck, {dir.path(), dtype, std::to_string(w), std::to_string(h),
                            std::to_string(rows), std::to_string(columns), std::to_string(top)}),
        "ok\n");
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

}  // namespace

TEST(MorphologyScipy, FlatSquare) {
    MorphAgainstScipy<unsigned char>(31, 23, 8, 3, 3, 0);
}
TEST(MorphologyScipy, NonFlatRectangle8) {
    MorphAgainstScipy<unsigned char>(29, 19, 8, 3, 5, 40);
}
TEST(MorphologyScipy, NonFlat12Bits) {
    MorphAgainstScipy<unsigned short>(26, 21, 12, 5, 3, 900);
}
TEST(MorphologyScipy, SingleRowElement) {
    MorphAgainstScipy<unsigned short>(17, 9, 16, 1, 5, 7);
}

TEST(Morphology, EvenElementStaysInsideTheImage) {
    CTImgGrey<CTImgNB<unsigned char, unsigned char>> image(4, 4);
    unsigned char* p = image.Pixels()->Data();
    for (int i = 0; i < 16; ++i) p[i] = static_cast<unsigned char>(10 + i);
    CStructElement element(2, 2);  // its window runs from (r, c) to (r+1, c+1)
    ASSERT_TRUE(image.Erode(&element));
    EXPECT_EQ(image.Pixels()->Data()[0], 10);
    EXPECT_EQ(image.Pixels()->Data()[2 * 4 + 2], 20);
    EXPECT_EQ(image.Pixels()->Data()[3 * 4 + 3], 25);  // last row and column: kept
}

TEST(Morphology, CompositesAndTopHats) {
    CTImgGrey<CTImgNB<unsigned char, unsigned char>> image(9, 9);
    unsigned char* p = image.Pixels()->Data();
    std::fill(p, p + 81, 50);
    p[4 * 9 + 4] = 200;  // a bright spike
    p[2 * 9 + 6] = 10;   // a dark pit
    CStructElement element(3, 3);
    using T = CTImgNB<unsigned char, unsigned char>;
    std::unique_ptr<T> white(image.T::WhiteTopHat(element));
    std::unique_ptr<T> black(image.T::BlackTopHat(element));
    std::unique_ptr<T> contrast(image.T::MorphologicalContrast(element));
    ASSERT_TRUE(white && black && contrast);
    EXPECT_EQ(white->Pixels()->Data()[4 * 9 + 4], 150);  // the opening removes the spike
    EXPECT_EQ(white->Pixels()->Data()[0], 0);
    EXPECT_EQ(black->Pixels()->Data()[2 * 9 + 6], 40);  // the closing fills the pit
    EXPECT_EQ(contrast->Pixels()->Data()[4 * 9 + 4], 255);
    EXPECT_EQ(contrast->Pixels()->Data()[2 * 9 + 6], 0);
    EXPECT_EQ(contrast->Pixels()->Data()[1 * 9 + 1], 50);
    EXPECT_FALSE(image.Erode(nullptr));
    CStructElement empty;
    EXPECT_FALSE(image.Dilate(&empty));
    CStructElement large(12, 3);  // larger than the image: nothing inside, all kept
    ASSERT_TRUE(image.Dilate(&large));
    EXPECT_EQ(image.Pixels()->Data()[4 * 9 + 4], 200);
}
