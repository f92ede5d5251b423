// Stamping the integrity mark: the four turned copies land in the four corners, every write is
// clipped to the image whatever the sizes (1 x 1, 8 x 8, the mark's own size), every depth with
// a raw element width is served with values within its range, and stamping twice changes
// nothing more. A mark is given to the stamp, and the program's own marks are stamped on a
// mismatch.
#include <gtest/gtest.h>
#include <quorin/simage.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/records/header_test_util.h"
#include "platform/system/bitmap.h"
#include "records/headers/headerchecksum.h"

namespace quorin::test {
namespace {

// A 5 x 3 mark (rows top-down) whose pixels are all distinct, 192 marking two transparent ones.
constexpr int kMarkW = 5, kMarkH = 3;
const std::uint8_t kMarkBits[kMarkH * kMarkW] = {
    10,  20,  192, 40,  50,   // top row: drawn last-but-two (rows are read bottom-up)
    60,  70,  80,  90,  100,  //
    110, 120, 130, 192, 255,  // bottom row: mark row 0
};
const win::BitmapResource kMark{kMarkW, kMarkH, 8, kMarkBits};

// The mark pixel at mark row i (from the bottom) and column j.
std::uint8_t MarkAt(int i, int j) {
    return kMarkBits[(kMarkH - 1 - i) * kMarkW + j];
}

CHeader MakeHeader(int width, int height, std::int32_t bits, std::int32_t samples = 1) {
    CHeader h;
    h.SetWidth(static_cast<std::uint16_t>(width));
    h.SetHeight(static_cast<std::uint16_t>(height));
    h.SetBitsPerSample(bits);
    h.SetSamplesPerPixel(samples);
    return h;
}

unsigned ElementBytes(std::int32_t bits) {
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 4;
}

std::uint64_t ReadElement(const std::uint8_t* p, unsigned bytes, std::size_t index) {
    std::uint64_t v = 0;
    std::memcpy(&v, p + index * bytes, bytes);
    return v;
}

const std::int32_t kDepths[] = {1, 4, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 24, 31, 32};

TEST(IntegrityMark, TheFourTurnedCopiesLandInTheCorners) {
    const int W = 20, H = 16;
    for (std::int32_t bits : {8, 16, 32}) {
        const unsigned bytes = ElementBytes(bits);
        std::vector<std::uint8_t> pixels(std::size_t(W) * H * bytes, 0);
        CHeader h = MakeHeader(W, H, bits);
        ASSERT_TRUE(StampIntegrityMark(h, pixels.data(), &kMark));
        const std::uint64_t scale = bits == 8 ? 1 : bits == 16 ? 257 : 0x01010101u;
        auto at = [&](int x, int y) {
            return ReadElement(pixels.data(), bytes, std::size_t(y) * W + x);
        };
        int written = 0;
        for (int i = 0; i < kMarkH; ++i)
            for (int j = 0; j < kMarkW; ++j) {
                const std::uint8_t v = MarkAt(i, j);
                const std::uint64_t expected = v == 192 ? 0 : v * scale;
                EXPECT_EQ(at(j, i), expected) << bits;
                EXPECT_EQ(at(W - 1 - i, j), expected) << bits;
                EXPECT_EQ(at(W - 1 - j, H - 1 - i), expected) << bits;
                EXPECT_EQ(at(i, H - 1 - j), expected) << bits;
                written += v != 192 ? 4 : 0;
            }
        int nonZero = 0;
        for (int k = 0; k < W * H; ++k) nonZero += ReadElement(pixels.data(), bytes, k) != 0;
        EXPECT_EQ(nonZero, written) << "nothing else is touched";
    }
}

TEST(IntegrityMark, NamedDepthsKeepTheirScale) {
    struct Case {
        std::int32_t bits;
        std::uint64_t white;  // the mark value 255 at that depth
    };
    for (const Case c : {Case{8, 255}, Case{10, 1020}, Case{12, 4080}, Case{13, 8160},
                         Case{14, 16320}, Case{15, 32640}, Case{16, 65535}, Case{32, 0xFFFFFFFFu},
                         Case{9, 510}, Case{11, 2040}, Case{24, 0xFFFFFF}, Case{4, 15}}) {
        const unsigned bytes = ElementBytes(c.bits);
        std::vector<std::uint8_t> pixels(8 * 8 * bytes, 0);
        ASSERT_TRUE(StampIntegrityMark(MakeHeader(8, 8, c.bits), pixels.data(), &kMark));
        // Mark row 0, column 4 is 255: image pixel (4, 0).
        EXPECT_EQ(ReadElement(pixels.data(), bytes, 4), c.white) << c.bits;
    }
}

// Clipping: image sizes below, at and around the mark's size, at every depth, each in a block
// of exactly its size between guard bytes that must stay untouched.
TEST(IntegrityMark, EveryWriteStaysInsideTheImage) {
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{1, 1}, {8, 8}, {kMarkW, kMarkH}, {kMarkH, kMarkW}, {2, 7}, {6, 1}};
    constexpr std::size_t kGuard = 64;
    for (const Size s : sizes)
        for (std::int32_t bits : kDepths)
            for (std::int32_t samples : {1, 3}) {
                const unsigned bytes = ElementBytes(bits);
                const std::size_t size = std::size_t(s.w) * s.h * samples * bytes;
                std::vector<std::uint8_t> buffer(size + 2 * kGuard, 0xA5);
                std::uint8_t* pixels = buffer.data() + kGuard;
                std::memset(pixels, 0, size);
                CHeader h = MakeHeader(s.w, s.h, bits, samples);
                ASSERT_TRUE(StampIntegrityMark(h, pixels, &kMark));
                for (std::size_t k = 0; k < kGuard; ++k) {
                    ASSERT_EQ(buffer[k], 0xA5) << s.w << 'x' << s.h << ' ' << bits;
                    ASSERT_EQ(buffer[kGuard + size + k], 0xA5) << s.w << 'x' << s.h << ' ' << bits;
                }
                const std::uint64_t max = (std::uint64_t{1} << bits) - 1;
                for (std::size_t k = 0; k < size / bytes; ++k)
                    ASSERT_LE(ReadElement(pixels, bytes, k), max) << bits;
                // The top-left pixel is always mark row 0, column 0, unless a later copy covered
                // it; in a 1 x 1 image every copy writes mark pixel (0, 0), 110 (0 at 1 bit).
                if (s.w == 1 && s.h == 1 && bits >= 4) {
                    EXPECT_NE(ReadElement(pixels, bytes, 0), 0u);
                }

                std::vector<std::uint8_t> once(pixels, pixels + size);
                ASSERT_TRUE(StampIntegrityMark(h, pixels, &kMark));
                EXPECT_EQ(std::memcmp(once.data(), pixels, size), 0)
                    << "stamping twice " << s.w << 'x' << s.h << ' ' << bits;
            }
}

TEST(IntegrityMark, ExactSizeGlobalBlocks) {
    // In exact-size blocks the sanitizer tree sees any stray write.
    for (std::int32_t bits : kDepths) {
        SImage* image =
            AllocSImage(kMarkW, kMarkH, 1, static_cast<std::uint32_t>(bits), false, nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_TRUE(StampIntegrityMark(MakeHeader(kMarkW, kMarkH, bits), image->pPixels, &kMark));
        FreeSImage(image, false);
    }
}

TEST(IntegrityMark, RefusesWhatItCannotServe) {
    std::vector<std::uint8_t> pixels(64, 0);
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 8), nullptr, &kMark));
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 33), pixels.data(), &kMark));
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 0), pixels.data(), &kMark));
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 8, 0), pixels.data(), &kMark));
    const win::BitmapResource mono{8, 8, 1, kMarkBits};
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 8), pixels.data(), &mono));
    // A global block smaller than the image's size.
    void* block = AllocRecordBlock(63);
    EXPECT_FALSE(StampIntegrityMark(MakeHeader(8, 8, 8), block, &kMark));
    FreeGlobalPointer(block);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), 64);
}

// The program's own marks (resources 4003 and 4004): small 8-bit bitmaps with transparent 192s.
// A checksum mismatch stamps the small one, the large one at 1024 pixels wide or high, each as
// the rule draws it; sub-type 2 is flagged without a mark.
TEST(IntegrityMark, TheProgramsMarksAreStampedOnAMismatch) {
    for (int id : {kIntegrityMarkResource, kIntegrityMarkResourceLarge}) {
        const win::BitmapResource* mark = win::LoadBitmapResource(id);
        ASSERT_NE(mark, nullptr) << id;
        ASSERT_EQ(mark->bitsPerPixel, 8);
        const auto* end = mark->bits + mark->width * mark->height;
        EXPECT_GT(std::count(mark->bits, end, 192), 0) << id;
        EXPECT_LT(std::count(mark->bits, end, 192), mark->width * mark->height) << id;
    }
    struct Case {
        int w, h, id;
        std::int32_t subType;
    } cases[] = {{40, 30, 4003, 0}, {1024, 3, 4004, 1}, {3, 1100, 4004, 0}, {40, 30, 4003, 2}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> pixels(std::size_t(c.w) * c.h, 0);
        CHeader h = MakeHeader(c.w, c.h, 8);
        h.SetSubType(c.subType);
        CheckPixelChecksum(h, pixels.data(), true, 12345);
        EXPECT_EQ(h.GetChecksumMismatch(), 1);
        std::vector<std::uint8_t> expected(pixels.size(), 0);
        const win::BitmapResource& m = *win::LoadBitmapResource(c.id);
        auto put = [&](int x, int y, std::uint8_t v) {
            if (x >= 0 && y >= 0 && x < c.w && y < c.h) expected[std::size_t(y) * c.w + x] = v;
        };
        for (int i = 0; c.subType != 2 && i < m.height; ++i)  // mark rows from the last upwards
            for (int j = 0; j < m.width; ++j) {
                const std::uint8_t v = m.bits[(m.height - 1 - i) * m.width + j];
                if (v == 192) continue;
                put(j, i, v);
                put(c.w - 1 - i, j, v);
                put(c.w - 1 - j, c.h - 1 - i, v);
                put(i, c.h - 1 - j, v);
            }
        EXPECT_EQ(pixels, expected) << c.w << 'x' << c.h << " sub-type " << c.subType;
        EXPECT_EQ(h.GetChecksum(), ComputePixelChecksum(h, pixels.data()));
    }
}

}  // namespace
}  // namespace quorin::test
