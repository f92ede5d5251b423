// The 8-bit filter library against scipy.ndimage on random pictures (interior compared, frame
// must be the source's), the flat-picture rules, the trimmed-mean example and hostile sizes.
#include "pixel/filters/filters8.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/pixel/pixel_io.h"
#include "platform/core/globalmem.h"

using pixeltest::Check;
using pixeltest::WriteArray;

namespace {

using Filter = bool (*)(const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t);

// Every check: scipy computes the filter over the whole picture with its borders ("nearest"),
// then the source's frame of the filter's border width is put back, as our filters leave it.
// Box means are integer sums divided with floor (our integer division of non-negative sums);
// medians, minima and maxima are exact. Trimmed means sort each window (numpy) and drop two
// values at each end.
const char* const kScipyCheck = R"PY(
import sys, numpy as np
from scipy import ndimage as nd
from numpy.lib.stride_tricks import sliding_window_view as windows
d, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
src = np.fromfile(d + '/src', np.uint8).reshape(h, w)
s = src.astype(np.int64)
def frame(full, b):
    out = src.astype(np.int64).copy()
    out[b:h-b, b:w-b] = full[b:h-b, b:w-b]
    return out
def box(n):
    return nd.correlate(s, np.ones((n, n), np.int64), mode='nearest')
def trimmed(n):
    full = np.zeros_like(s)
    b = n // 2
    win = np.sort(windows(s, (n, n)).reshape(h - 2*b, w - 2*b, n*n), axis=2)
    full[b:h-b, b:w-b] = win[:, :, 2:-2].sum(axis=2) // (n*n - 4)
    return full
ring = np.ones((3, 3), bool); ring[1, 1] = False
mn = frame(nd.minimum_filter(s, size=3, mode='nearest'), 1)
expected = {
  'median3': frame(nd.median_filter(s, size=3, mode='nearest'), 1),
  'mean3': frame(box(3) // 9, 1),
  'nmean3': frame((box(3) - s) >> 3, 1),
  'mean5': frame(box(5) // 25, 2),
  'tmean3': frame(trimmed(3), 1),
  'tmean5': frame(trimmed(5), 2),
  'max3': frame(nd.maximum_filter(s, size=3, mode='nearest'), 1),
  'min3': mn,
  'open3': np.where(np.pad(np.ones((h-2, w-2), bool), 1), nd.maximum_filter(mn, size=3, mode='nearest'), mn),
  'clip': frame(np.clip(s, nd.minimum_filter(s, footprint=ring, mode='nearest'),
                        nd.maximum_filter(s, footprint=ring, mode='nearest')), 1),
}
rel = np.zeros_like(s)
a = s
t = (a[:-2, 1:-1] + a[:-2, 2:] + a[1:-1, 2:] - a[1:-1, :-2] - a[2:, :-2] - a[2:, 1:-1]) * 3
rel[1:-1, 1:-1] = np.clip(np.fix(t / 2).astype(np.int64) + 150, 0, 255)
expected['relief'] = frame(rel, 1)
bad = []
for name, want in expected.items():
    got = np.fromfile(d + '/' + name, np.uint8).reshape(h, w).astype(np.int64)
    if not np.array_equal(got, want):
        y, x = np.argwhere(got != want)[0]
        bad.append('%s at (%d,%d): %d vs %d' % (name, y, x, got[y, x], want[y, x]))
print('ok' if not bad else '\n'.join(bad))
)PY";

void RunAgainstScipy(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    const auto live = win::globalmem_testing::LiveBlocks();
    quorin::test::TempDir dir;
    const auto src = pixeltest::RandomPixels<std::uint8_t>(std::size_t(width) * height, 255, seed);
    WriteArray(dir.file("src"), src.data(), src.size());
    const std::pair<const char*, Filter> filters[] = {{"median3", Median3x3},
                                                      {"mean3", Mean3x3},
                                                      {"nmean3", NeighbourMean3x3},
                                                      {"mean5", Mean5x5},
                                                      {"tmean3", TrimmedMean3x3},
                                                      {"tmean5", TrimmedMean5x5},
                                                      {"max3", Max3x3},
                                                      {"min3", Min3x3},
                                                      {"open3", Open3x3},
                                                      {"clip", ClipToNeighbourRange},
                                                      {"relief", Relief8}};
    for (const auto& [name, filter] : filters) {
        std::vector<std::uint8_t> out(src.size(), 0xAA);
        ASSERT_TRUE(filter(src.data(), out.data(), width, height)) << name;
        WriteArray(dir.file(name), out.data(), out.size());
    }
    EXPECT_EQ(Check(kScipyCheck, {dir.path(), std::to_string(width), std::to_string(height)}),
              "ok\n");
    EXPECT_EQ(win::globalmem_testing::LiveBlocks(), live);
}

// The two multi-filters composed from scipy's median, box, minimum and maximum filters, with the
// filters' weight tables, reductions and expansions written out in numpy.
const char* const kMultiFilterCheck = R"PY(
import sys, numpy as np
from scipy import ndimage as nd
from numpy.lib.stride_tricks import sliding_window_view as windows
d, w, h, strength = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
src = np.fromfile(d + '/src', np.uint8).reshape(h, w).astype(np.int64)
def framed(img, full, b):
    H, W = img.shape
    out = img.copy()
    out[b:H-b, b:W-b] = full[b:H-b, b:W-b]
    return out
med3 = lambda a: framed(a, nd.median_filter(a, size=3, mode='nearest'), 1)
mean = lambda a, n: framed(a, nd.correlate(a, np.ones((n, n), np.int64), mode='nearest') // (n * n), n // 2)
mx = lambda a: framed(a, nd.maximum_filter(a, size=3, mode='nearest'), 1)
mn = lambda a: framed(a, nd.minimum_filter(a, size=3, mode='nearest'), 1)
def trimmed3(a):
    full = np.zeros_like(a)
    win = np.sort(windows(a, (3, 3)).reshape(h - 2, w - 2, 9), axis=2)
    full[1:-1, 1:-1] = win[:, :, 2:-2].sum(axis=2) // 5
    return framed(a, full, 1)
# The intra-oral form.
m = mean(med3(src), 5)
dil = mx(mx(mx(m)))
ero = mn(mn(m))
def weight(diff):
    a = np.abs(diff)
    return np.where(a <= 15, np.sign(diff) * (diff * diff // 8), 2 * diff)
zel = np.clip(src + weight(m - dil) + weight(m - ero), 0, 255)
# The generic form.
A = trimmed3(src)
B = mx(mn(A))
sh, sw = h // 3, w // 3
full = np.zeros_like(src)
if sh >= 3 and sw >= 3:
    S = A[:3*sh, :3*sw].reshape(sh, 3, sw, 3).sum(axis=(1, 3)) // 9
    T = np.zeros_like(S)
    T[1:-1, 1:-1] = np.maximum(mx(mx(S)) - S, 0)[1:-1, 1:-1]
    full[:3*sh, :3*sw] = np.kron(T, np.ones((3, 3), np.int64))
C = mean(full, 3)
W = lambda v: (v * strength) >> 2
gen = framed(src, np.clip(W(B) - W(C) + src, 0, 255), 1)
bad = []
for name, want in (('zel', zel), ('generic', gen)):
    got = np.fromfile(d + '/' + name, np.uint8).reshape(h, w).astype(np.int64)
    if not np.array_equal(got, want): bad.append(name)
print('ok' if not bad else ' '.join(bad))
)PY";

}  // namespace

TEST(Filters8Scipy, MultiFilters) {
    const std::uint32_t w = 47, h = 35;
    quorin::test::TempDir dir;
    // Smooth areas with noise, so that both weight ranges (|d| <= 15 and above) are used.
    auto src = pixeltest::RandomPixels<std::uint8_t>(w * h, 40, 17);
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 0; c < w; ++c)
            if ((r / 8 + c / 10) % 2 == 0) src[r * w + c] = std::uint8_t(src[r * w + c] + 180);
    WriteArray(dir.file("src"), src.data(), src.size());
    std::vector<std::uint8_t> out(src.size());
    ASSERT_TRUE(MultiFilter(src.data(), out.data(), w, h));
    WriteArray(dir.file("zel"), out.data(), out.size());
    ASSERT_TRUE(MultiFilter(src.data(), out.data(), w, h, 3));
    WriteArray(dir.file("generic"), out.data(), out.size());
    EXPECT_EQ(Check(kMultiFilterCheck, {dir.path(), std::to_string(w), std::to_string(h), "3"}),
              "ok\n");
}

TEST(Filters8Scipy, RandomPicture) {
    RunAgainstScipy(67, 41, 7);
}
TEST(Filters8Scipy, SmallestInteriors) {
    RunAgainstScipy(5, 5, 11);
}

TEST(Filters8, InPlaceFormsMatchCopyingForms) {
    const std::uint32_t w = 33, h = 17;
    auto src = pixeltest::RandomPixels<std::uint8_t>(w * h, 255, 3);
    std::vector<std::uint8_t> expected(src.size());
    ASSERT_TRUE(Max3x3(src.data(), expected.data(), w, h));
    auto in = src;
    ASSERT_TRUE(Max3x3InPlace(in.data(), w, h));
    EXPECT_EQ(in, expected);
    ASSERT_TRUE(Min3x3(src.data(), expected.data(), w, h));
    in = src;
    ASSERT_TRUE(Min3x3InPlace(in.data(), w, h));
    EXPECT_EQ(in, expected);
}

TEST(Filters8, TrimmedMeanDropsTwoAtEachEnd) {
    const std::uint8_t src[9] = {0, 255, 0, 10, 20, 30, 255, 0, 255};
    std::uint8_t out[9];
    ASSERT_TRUE(TrimmedMean3x3(src, out, 3, 3));
    EXPECT_EQ(out[4], 63);  // (0 + 10 + 20 + 30 + 255) / 5
}

TEST(Filters8, FlatPictureRules) {
    const std::uint32_t w = 40, h = 31;
    for (std::uint8_t v : {0, 7, 128, 255}) {
        const std::vector<std::uint8_t> flat(w * h, v);
        std::vector<std::uint8_t> out(flat.size());
        for (Filter f :
             {Median3x3, Mean3x3, NeighbourMean3x3, Mean5x5, TrimmedMean3x3, TrimmedMean5x5, Max3x3,
              Min3x3, Open3x3, ClipToNeighbourRange, NeighbourhoodSharpen, MultiLevelDetail}) {
            ASSERT_TRUE(f(flat.data(), out.data(), w, h));
            EXPECT_EQ(out, flat) << int(v);
        }
        ASSERT_TRUE(MultiFilter(flat.data(), out.data(), w, h));
        EXPECT_EQ(out, flat);
        ASSERT_TRUE(Relief8(flat.data(), out.data(), w, h));
        EXPECT_EQ(out[w + 1], 150);
        EXPECT_EQ(out[0], v);
        for (std::int32_t s : {0, 1, 4, 9}) {
            ASSERT_TRUE(MultiFilter(flat.data(), out.data(), w, h, s));
            EXPECT_EQ(out[5 * w + 5], std::min(255, v + ((v * s) >> 2))) << s;
            EXPECT_EQ(out[0], v);
        }
    }
}

TEST(Filters8, SharpenPushesAPixelAwayFromItsNeighbours) {
    const std::uint32_t w = 21, h = 21;
    std::vector<std::uint8_t> src(w * h, 100);
    src[10 * w + 10] = 110;  // more than 5 above its 11 x 11 mean
    src[3 * w + 3] = 140;    // inside the 5-pixel frame: copied
    std::vector<std::uint8_t> out(src.size());
    ASSERT_TRUE(NeighbourhoodSharpen(src.data(), out.data(), w, h));
    // d = 10 against every neighbour: 4 x (30 >> 1) + 4 x (10 >> 1) = 80 more.
    EXPECT_EQ(out[10 * w + 10], 190);
    EXPECT_EQ(out[3 * w + 3], 140);
    EXPECT_EQ(out[10 * w + 11], 100);  // within 5 of its mean
}

TEST(Filters8, DetailOfANarrowPictureIsZero) {
    const std::uint32_t w = 8, h = 40;
    const auto src = pixeltest::RandomPixels<std::uint8_t>(w * h, 255, 5);
    std::vector<std::int16_t> detail(w * h, 0);
    ASSERT_TRUE(DetailEnhance8(w, h, src.data(), detail.data(), 8));
    EXPECT_EQ(detail, std::vector<std::int16_t>(w * h, 0));
}

TEST(Filters8, DetailEnhancesAnEdge) {
    const std::uint32_t w = 60, h = 60;
    std::vector<std::uint8_t> src(w * h, 50);
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 30; c < w; ++c) src[r * w + c] = 200;
    std::vector<std::int16_t> detail(w * h, 0);
    ASSERT_TRUE(DetailEnhance8(w, h, src.data(), detail.data(), 8));
    // The bright side of the edge gains, the dark side loses, far from it nothing changes.
    EXPECT_GT(detail[30 * w + 31], 0);
    EXPECT_LT(detail[30 * w + 28], 0);
    EXPECT_EQ(detail[30 * w + 10], 0);
    std::vector<std::uint8_t> out(src.size());
    ASSERT_TRUE(MultiLevelDetail(src.data(), out.data(), w, h));
    EXPECT_GT(out[30 * w + 31], 200);
    EXPECT_LT(out[30 * w + 28], 50);
}

TEST(Filters8, HostileSizes) {
    std::vector<std::uint8_t> src(65535 * 2, 9), out(65535 * 2);
    EXPECT_FALSE(Median3x3(src.data(), out.data(), 0, 10));
    EXPECT_FALSE(Mean3x3(src.data(), out.data(), 10, 0));
    EXPECT_FALSE(Max3x3(nullptr, out.data(), 3, 3));
    EXPECT_FALSE(Mean5x5(src.data(), out.data(), 65536, 1));
    // 1 x 1 and a single wide row have no interior: copied.
    for (Filter f : {Median3x3, Mean5x5, TrimmedMean5x5, NeighbourhoodSharpen, Relief8}) {
        out[0] = 0;
        ASSERT_TRUE(f(src.data(), out.data(), 1, 1));
        EXPECT_EQ(out[0], 9);
        ASSERT_TRUE(f(src.data(), out.data(), 65535, 2));
        EXPECT_EQ(out[65534], 9);
    }
    ASSERT_TRUE(MultiFilter(src.data(), out.data(), 65535, 2, 3));
    ASSERT_TRUE(MultiFilter(src.data(), out.data(), 65535, 2));
    std::vector<std::int16_t> detail(src.size());
    ASSERT_TRUE(DetailEnhance8(65535, 2, src.data(), detail.data(), 8));
}
