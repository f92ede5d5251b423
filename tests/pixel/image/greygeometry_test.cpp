// Mirror, rotation and zoom of the grey images against numpy (rot90, fliplr, flipud and the
// zoom's index formulas), for 8-, 16- and 32-bit pixels, with the corners following the pixels.
#include <gtest/gtest.h>

#include <memory>

#include "common/pixel/pixel_io.h"
#include "pixel/image/greyimage.h"
#include "platform/core/globalmem.h"

using pixeltest::Check;
using pixeltest::WriteArray;

namespace {

template <class P>
using Grey = CTImgGrey<CTImgNB<P, unsigned char>>;

template <class P>
const char* Dtype() {
    return sizeof(P) == 1 ? "uint8" : sizeof(P) == 2 ? "uint16" : "uint32";
}

// Each of our results against numpy: np.rot90 turns counter-clockwise, so a clockwise quarter
// turn is k = -1.
const char* const kGeometryCheck = R"PY(
import sys, numpy as np
d, dt, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
src = np.fromfile(d + '/src', dt).reshape(h, w)
cases = {'cw90': np.rot90(src, -1), 'ccw90': np.rot90(src, 1), 'r180': np.rot90(src, 2),
         'cw270f': np.rot90(src, -1), 'ccw270t': np.rot90(src, 1),
         'mh': np.fliplr(src), 'mv': np.flipud(src)}
bad = []
for name, want in cases.items():
    got = np.fromfile(d + '/' + name, dt)
    if got.size != want.size or not np.array_equal(got.reshape(want.shape), want):
        bad.append(name)
print('ok' if not bad else ' '.join(bad))
)PY";

template <class P>
void GeometryAgainstNumpy(std::uint32_t width, std::uint32_t height, std::uint32_t bits) {
    const auto live = win::globalmem_testing::LiveBlocks();
    quorin::test::TempDir dir;
    const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
    const auto src = pixeltest::RandomPixels<P>(std::size_t(width) * height,
                                                static_cast<std::uint32_t>(top), bits);
    WriteArray(dir.file("src"), src.data(), src.size());
    struct Case {
        const char* name;
        int angle;
        bool flag;
    };
    for (const Case& c : {Case{"cw90", 90, true}, Case{"ccw90", 90, false}, Case{"r180", 180, true},
                          Case{"cw270f", 270, false}, Case{"ccw270t", 270, true},
                          Case{"mh", 0, true}, Case{"mv", 0, false}}) {
        SImage* record = pixeltest::MakeSImage<P>(width, height, bits, src);
        ASSERT_NE(record, nullptr);
        {
            Grey<P> image(record);
            ASSERT_EQ(image.GetHeight(), height);
            if (c.angle == 0) {
                ASSERT_TRUE(c.flag ? image.MirrorHorizontal() : image.MirrorVertical());
            } else {
                ASSERT_TRUE(image.Rotate(c.angle, c.flag));
            }
            const bool quarter = c.angle == 90 || c.angle == 270;
            EXPECT_EQ(image.GetWidth(), quarter ? height : width);
            WriteArray(dir.file(c.name), image.Pixels()->Data(), src.size());
        }
        FreeSImage(record, true);  // the image adopted and freed the pixels
    }
    EXPECT_EQ(Check(kGeometryCheck,
                    {dir.path(), Dtype<P>(), std::to_string(width), std::to_string(height)}),
              "ok\n");
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

// The zoom: output (y, x) samples the source at ((y + 0.5) h / H, (x + 0.5) w / W), bilinear
// inside, linear along the last row or column, floored; then the window ramp to 8 bits.
const char* const kZoomCheck = R"PY(
import sys, numpy as np
d, dt, w, h, f, lo, hi, n = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7]), int(sys.argv[8])
src = np.fromfile(d + '/src', dt).reshape(h, w).astype(np.float64)
H, W = max(1, int(np.floor(h * f))), max(1, int(np.floor(w * f)))
got = np.fromfile(d + '/zoom', np.uint8)
if got.size != H * W:
    print('size', got.size, H, W); sys.exit()
out = np.zeros((H, W), np.int64)
for y in range(H):
    sy = (y + 0.5) * (h / H); i = min(int(np.floor(sy)), h - 1); fy = sy - i
    for x in range(W):
        sx = (x + 0.5) * (w / W); j = min(int(np.floor(sx)), w - 1); fx = sx - j
        if i + 1 < h and j + 1 < w:
            v = ((1 - fx) * src[i, j] + fx * src[i, j + 1]) * (1 - fy) + ((1 - fx) * src[i + 1, j] + fx * src[i + 1, j + 1]) * fy
        elif j + 1 < w:
            v = (1 - fx) * src[i, j] + fx * src[i, j + 1]
        elif i + 1 < h:
            v = (1 - fy) * src[i, j] + fy * src[i + 1, j]
        else:
            v = src[i, j]
        out[y, x] = int(np.floor(v))
if lo < hi:
    ramp = np.where(out < lo, 0, np.where(out >= hi, 255, (np.clip(out, lo, hi) - lo) * 255 // (hi - lo)))
else:
    ramp = np.minimum(out, n - 1) * 255 // (n - 1)
print('ok' if np.array_equal(got.reshape(H, W), ramp) else 'mismatch')
)PY";

template <class P>
void ZoomAgainstNumpy(std::uint32_t width, std::uint32_t height, std::uint32_t bits, double factor,
                      P low, P high) {
    const auto live = win::globalmem_testing::LiveBlocks();
    quorin::test::TempDir dir;
    const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
    const auto src = pixeltest::RandomPixels<P>(std::size_t(width) * height,
                                                static_cast<std::uint32_t>(top), 99);
    WriteArray(dir.file("src"), src.data(), src.size());
    SImage* record = pixeltest::MakeSImage<P>(width, height, bits, src);
    ASSERT_NE(record, nullptr);
    {
        Grey<P> image(record);
        image.SetWindow(low, high);
        SImage out{};
        ASSERT_TRUE(image.Zoom(&out, factor));
        EXPECT_EQ(out.nBitsPerSample, 8u);
        WriteArray(dir.file("zoom"), static_cast<std::uint8_t*>(out.pPixels),
                   std::size_t(out.nWidth) * out.nHeight);
        EXPECT_FALSE(image.Zoom(&out, factor));  // out already has pixels
        FreePixelBuffer(&out.pPixels);
    }
    FreeSImage(record, true);
    EXPECT_EQ(
        Check(kZoomCheck, {dir.path(), Dtype<P>(), std::to_string(width), std::to_string(height),
                           std::to_string(factor), std::to_string(low), std::to_string(high),
                           std::to_string(top + 1)}),
        "ok\n");
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

}  // namespace

TEST(GreyGeometryNumpy, EightBits) {
    GeometryAgainstNumpy<unsigned char>(7, 4, 8);
}
TEST(GreyGeometryNumpy, TwelveBits) {
    GeometryAgainstNumpy<unsigned short>(5, 9, 12);
}
TEST(GreyGeometryNumpy, ThirtyTwoBits) {
    GeometryAgainstNumpy<unsigned int>(6, 3, 32);
}
TEST(GreyGeometryNumpy, OneRowAndOneColumn) {
    GeometryAgainstNumpy<unsigned char>(9, 1, 8);
    GeometryAgainstNumpy<unsigned short>(1, 6, 16);
}

TEST(GreyZoomNumpy, Shrink) {
    ZoomAgainstNumpy<unsigned char>(23, 17, 8, 0.37, 0, 255);
}
TEST(GreyZoomNumpy, Enlarge) {
    ZoomAgainstNumpy<unsigned short>(9, 6, 12, 2.5, 100, 3000);
}
TEST(GreyZoomNumpy, ToOnePixel) {
    ZoomAgainstNumpy<unsigned short>(5, 4, 12, 0.01, 0, 4095);
}
TEST(GreyZoomNumpy, ThirtyTwoBits) {
    ZoomAgainstNumpy<unsigned int>(11, 7, 32, 1.6, 1000u, 4000000000u);
}

TEST(GreyGeometry, RotateTwoByThree) {
    Grey<unsigned char> image(2, 3);
    unsigned char* p = image.Pixels()->Data();
    for (int i = 0; i < 6; ++i) p[i] = static_cast<unsigned char>(i + 1);  // rows 1 2 3 / 4 5 6
    ASSERT_TRUE(image.Rotate(90, true));
    ASSERT_EQ(image.GetHeight(), 3u);
    ASSERT_EQ(image.GetWidth(), 2u);
    // Row 0 is column 0 read bottom-up; the top-right pixel is the source's top-left.
    EXPECT_EQ(image.Pixels()->Data()[0], 4);
    EXPECT_EQ(image.Pixels()->Data()[1], 1);
    EXPECT_TRUE(image.Rotate(45, true));  // nothing turned
    EXPECT_EQ(image.GetHeight(), 3u);
}

TEST(GreyGeometry, CornersFollowTheTurn) {
    Grey<unsigned char> image(4, 6);
    CInfosCorners corners;
    corners.SetCorner1(3, 1);
    ASSERT_TRUE(image.SetCorners(&corners));
    CInfosCorners expected = corners;
    expected.Rotate(270);  // a counter-clockwise quarter turn
    ASSERT_TRUE(image.Rotate(90, false));
    for (int i = 0; i < 4; ++i) {
        std::int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        EXPECT_EQ(image.GetCornersInfo()->GetCorner(i, &x1, &y1), expected.GetCorner(i, &x2, &y2));
        EXPECT_EQ(x1, x2);
        EXPECT_EQ(y1, y2);
    }
}

TEST(GreyGeometry, HostileZoomFactors) {
    Grey<unsigned char> image(3, 4);
    SImage out{};
    EXPECT_FALSE(image.Zoom(&out, 0.0));
    EXPECT_FALSE(image.Zoom(&out, -2.0));
    EXPECT_FALSE(image.Zoom(&out, std::nan("")));
    EXPECT_FALSE(image.Zoom(&out, 1e9));  // beyond the largest image side
    EXPECT_EQ(out.pPixels, nullptr);
}
