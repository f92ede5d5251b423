// Colour members at their exact edges: a 5-6-5 file cut anywhere inside its pixel rows.
#include <gtest/gtest.h>

#include "common/oldtiff/fixtures.h"
#include "oldtiff/rgb565.h"
#include "records/dib/dib.h"
#include "v5files/colourmember.h"

namespace {

using quorin::test::ReadBytes;
using quorin::test::TempDir;
using quorin::test::WriteBytes;

TEST(ColourMemberBoundaries, Rgb565CutInsideItsPixelsIsRefused) {
    // 7 x 5 pixels of 2 bytes: 70 pixel bytes after the 276-byte header.
    TempDir dir;
    const std::string path = dir.file("a.tif");
    ASSERT_TRUE(quorin::test::Generate("rgb565", path, "--width 7 --height 5"));
    const std::vector<std::uint8_t> whole = ReadBytes(path);
    ASSERT_EQ(whole.size(), 276u + 70u);
    for (std::size_t pixelBytes : {70u, 69u, 36u, 35u, 1u}) {
        WriteBytes(path, {whole.begin(), whole.begin() + 276 + pixelBytes});
        const int expected = pixelBytes == 70 ? 0 : -2;
        EXPECT_EQ(ReadRgb565Header(path.c_str(), nullptr, nullptr, nullptr, nullptr), expected)
            << pixelBytes << " pixel bytes";
        CColourMember member;
        EXPECT_EQ(ReadColourMember(path.c_str(), &member) == 0, pixelBytes == 70) << pixelBytes;
        EXPECT_EQ(member.dib != nullptr, pixelBytes == 70) << pixelBytes;
        if (member.dib != nullptr) FreeDIB(member.dib);
    }
}

}  // namespace
