// The integrity mark's size at its exact edge: 1024 pixels wide or high takes the large mark.
#include <gtest/gtest.h>

#include <vector>

#include "common/records/header_test_util.h"
#include "platform/system/bitmap.h"
#include "records/headers/headerchecksum.h"

namespace quorin::test {
namespace {

TEST(HeaderBoundaries, TheLargeMarkFromExactly1024PixelsWideOrHigh) {
    struct Case {
        int w, h, resource;
    };
    const Case cases[] = {{1023, 80, kIntegrityMarkResource},
                          {1024, 80, kIntegrityMarkResourceLarge},
                          {80, 1023, kIntegrityMarkResource},
                          {80, 1024, kIntegrityMarkResourceLarge}};
    for (const Case& c : cases) {
        CHeader header;
        header.SetWidth(static_cast<std::uint16_t>(c.w));
        header.SetHeight(static_cast<std::uint16_t>(c.h));
        header.SetBitsPerSample(8);
        header.SetSamplesPerPixel(1);
        std::vector<std::uint8_t> stamped(std::size_t(c.w) * c.h, 0);
        CheckPixelChecksum(header, stamped.data(), true, 12345);  // a mismatch: the mark goes on
        ASSERT_EQ(header.GetChecksumMismatch(), 1);
        std::vector<std::uint8_t> small(stamped.size(), 0), large(stamped.size(), 0);
        ASSERT_TRUE(StampIntegrityMark(header, small.data(),
                                       win::LoadBitmapResource(kIntegrityMarkResource)));
        ASSERT_TRUE(StampIntegrityMark(header, large.data(),
                                       win::LoadBitmapResource(kIntegrityMarkResourceLarge)));
        ASSERT_NE(small, large) << "the two marks must tell themselves apart";
        EXPECT_EQ(stamped, c.resource == kIntegrityMarkResource ? small : large)
            << c.w << " x " << c.h;
    }
}

}  // namespace
}  // namespace quorin::test
