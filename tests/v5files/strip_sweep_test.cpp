// Sound files over every strip layout a writer may leave (tools/fixtures/strip_sweep.py): exact
// strips, strips with padding, a last strip written at its full size; one or many strips;
// uncompressed, LZW with and without the predictor, old-style JPEG; 8, 12, 16 and 24 bits; dated
// and undated header records. The container's byte sum counts every byte of every strip as
// written, the integrity verdict is the one the fixture works out from the header record's rules,
// and the pixels are libtiff's decode (libjpeg's within its rounding), unmarked when sound.
#include <gtest/gtest.h>
#include <quorin/v5files.h>

#include <fstream>
#include <sstream>

#include "common/oldtiff/collect_rows.h"
#include "common/oldtiff/fixtures.h"
#include "oldtiff/oldtiff.h"
#include "records/headers/headerkinds.h"
#include "v5fixtures.h"

namespace {

using namespace quorin::test;
using Bytes = std::vector<std::uint8_t>;

struct Case {
    std::string name, size, compression, strips, layout, record, verdict;
    int bits = 0;
    std::uint32_t sum = 0;
};

// The rows of the main image and the container's byte sum.
int ReadRows(const std::string& path, Picture* rows, std::uint32_t* sum) {
    OldTiffContext* raw = nullptr;
    if (int r = OpenOldTiff(path.c_str(), &raw); r != 0) return r;
    OldTiffHolder context(raw);
    std::int32_t width = 0, height = 0, depth = 0;
    if (int r = ReadOldTiffInfo(raw, 0, 0, &width, &height, nullptr, &depth, nullptr, nullptr))
        return r;
    rows->rowBytes = static_cast<std::size_t>((depth + 7) / 8 * width);
    rows->pixels.assign(rows->rowBytes * static_cast<std::size_t>(height), 0);
    return ReadOldTiffRows(raw, 0, 0, Collect, rows, sum);
}

TEST(StripSweep, SumsVerdictsAndPixelsOfSoundFiles) {
    TempDir dir;
    ASSERT_EQ(
        RunCommand(FixtureCommand("strip_sweep.py") + " sweep " + ShellQuote(dir.path())).status,
        0);
    std::ifstream list(dir.file("cases.txt"));
    std::string line;
    int cases = 0;
    while (std::getline(list, line)) {
        Case c;
        std::istringstream(line) >> c.name >> c.size >> c.bits >> c.compression >> c.strips >>
            c.layout >> c.record >> c.sum >> c.verdict;
        SCOPED_TRACE(line);
        ++cases;
        const std::string path = dir.file(c.name + ".tif");
        const Bytes reference = ReadBytes(dir.file(c.name + ".ref"));
        const int tolerance = c.compression != "jpeg" ? 0 : c.bits == 8 ? 2 : 5;

        Picture rows;
        std::uint32_t sum = 0;
        ASSERT_EQ(ReadRows(path, &rows, &sum), 0);
        EXPECT_EQ(sum, c.sum);
        EXPECT_LE(MaxDifference(rows.pixels, reference), tolerance);

        if (c.bits != 8 && c.bits != 24) continue;  // the pixel road delivers 8-bit samples
        CHeaderZel header;
        ASSERT_EQ(V5Files_ReadQVImageInformation(path.c_str(), &header, 0), 0);
        Bytes pixels(reference.size());
        ASSERT_EQ(V5Files_ReadImage(path.c_str(), &header, 0, pixels.data()), 0);
        const int mismatch = header.GetChecksumMismatch();
        if (c.bits == 8) {
            EXPECT_EQ(std::to_string(mismatch), c.verdict);
        }
        // Sound pixels are delivered as read; a mismatch carries the mark.
        EXPECT_EQ(pixels == rows.pixels, mismatch == 0);
    }
    EXPECT_EQ(cases, 1628);
}

}  // namespace
