// DIBs checked by tools nobody here wrote: Pillow and ImageMagick read them as BMP files, numpy
// says what quarter turns and mirrors give, and an independent closed form of Bresenham's line
// says what the nearest-neighbour tables must be.
#include <string>

#include "records/dib/dibresample.h"
#include "test_dib_util.h"

using namespace quorin::test;
using quorin::LockedDIB;

namespace {

// Expected picture of a DIB, top-down: RGB triples for 24 bits; indices then the palette as RGB
// triples for 8 bits.
std::vector<std::uint8_t> TopDownPicture(win::HGLOBAL dib) {
    LockedDIB locked(dib);
    const auto& layout = locked.layout();
    std::vector<std::uint8_t> picture;
    for (std::int32_t r = layout.height - 1; r >= 0; --r) {
        const std::uint8_t* row = locked.row(r);
        for (std::int32_t c = 0; c < layout.width; ++c) {
            if (layout.bitCount == 8) {
                picture.push_back(row[c]);
            } else {
                picture.push_back(row[3 * c + 2]);
                picture.push_back(row[3 * c + 1]);
                picture.push_back(row[3 * c]);
            }
        }
    }
    if (layout.bitCount == 8)
        for (int i = 0; i < 256; ++i) {
            picture.push_back(locked.palette()[i].rgbRed);
            picture.push_back(locked.palette()[i].rgbGreen);
            picture.push_back(locked.palette()[i].rgbBlue);
        }
    return picture;
}

const char* kPillowCheck = R"(
import sys, json
import numpy as np
from PIL import Image
folder, cases = sys.argv[1], json.loads(sys.argv[2])
def load(name, bits):
    im = Image.open(f"{folder}/{name}.bmp")
    im.load()
    if bits == 8:
        assert im.mode == "P", (name, im.mode)
        return np.array(im), np.array(im.getpalette()[:768], dtype=np.uint8)
    assert im.mode == "RGB", (name, im.mode)
    return np.array(im), None
for w, h, bits in cases:
    stem = f"{w}x{h}x{bits}"
    src, palette = load(stem, bits)
    raw = np.fromfile(f"{folder}/{stem}.raw", dtype=np.uint8)
    n = w * h * (1 if bits == 8 else 3)
    want = raw[:n].reshape((h, w) if bits == 8 else (h, w, 3))
    assert src.shape == want.shape, (stem, src.shape, want.shape)
    assert np.array_equal(src, want), stem + ": pixels or row order differ"
    if bits == 8:
        assert np.array_equal(palette, raw[n:]), stem + ": palette differs"
    expected = {"r90": np.rot90(src, -1), "r180": np.rot90(src, 2), "r270": np.rot90(src, 1),
                "mirror": np.fliplr(src)}
    for op, image in expected.items():
        got, got_palette = load(f"{stem}_{op}", bits)
        assert np.array_equal(got, image), f"{stem} {op} differs from numpy"
        if bits == 8:
            assert np.array_equal(got_palette, palette), f"{stem} {op}: palette not kept"
print("ok")
)";

TEST(DibTools, PillowReadsPixelsPaletteAndRowOrderAndAgreesOnTurns) {
    NoLeaks noLeaks;
    TempDir dir;
    std::string cases = "[";
    std::uint32_t seed = 1;
    // 601 x 11 turns through more than one tile of the quarter-turn walk.
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {5, 7}, {13, 4}, {17, 9}, {64, 33}, {601, 11}}) {
        for (int bits : {8, 24}) {
            const std::string stem =
                std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(bits);
            win::HGLOBAL dib = RandomDIB(w, h, bits, seed++);
            WriteBMP(dir.file(stem + ".bmp"), dib);
            WriteBytes(dir.file(stem + ".raw"), TopDownPicture(dib));
            const std::pair<const char*, win::HGLOBAL> made[] = {{"r90", RotateDIB(dib, 90)},
                                                                 {"r180", RotateDIB(dib, 180)},
                                                                 {"r270", RotateDIB(dib, 270)},
                                                                 {"mirror", MirrorDIB(dib)}};
            for (auto [op, result] : made) {
                ASSERT_NE(result, nullptr) << stem << " " << op;
                EXPECT_EQ(win::globalmem_testing::LockCount(result), 0u);
                WriteBMP(dir.file(stem + "_" + op + ".bmp"), result);
                FreeDIB(result);
            }
            EXPECT_EQ(win::globalmem_testing::LockCount(dib), 0u);
            FreeDIB(dib);
            cases += (cases.size() > 1 ? "," : "") + std::string("[") + std::to_string(w) + "," +
                     std::to_string(h) + "," + std::to_string(bits) + "]";
        }
    }
    cases += "]";
    const CommandResult result = RunPython(kPillowCheck, {dir.path(), cases});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "ok\n");
}

TEST(DibTools, ImageMagickReadsTheSameColours) {
    NoLeaks noLeaks;
    TempDir dir;
    for (int bits : {8, 24}) {
        win::HGLOBAL dib = RandomDIB(5, 3, bits, 40 + bits);
        const std::string path = dir.file("m" + std::to_string(bits) + ".bmp");
        WriteBMP(path, dib);
        const CommandResult info = RunCommand("identify -format '%m %w %h' " + ShellQuote(path));
        EXPECT_EQ(info.status, 0);
        EXPECT_EQ(info.output, "BMP3 5 3");  // a Windows 3 BMP: the 40-byte header
        const CommandResult text =
            RunCommand("/usr/bin/convert " + ShellQuote(path) + " -depth 8 txt:-");
        ASSERT_EQ(text.status, 0);
        // Lines read "x,y: (r,g,b)  #RRGGBB  ..."; the colour of every pixel must match.
        LockedDIB locked(dib);
        int checked = 0;
        std::size_t at = 0;
        while ((at = text.output.find('\n', at)) != std::string::npos) {
            ++at;
            int x = 0, y = 0;
            unsigned rgb = 0;
            const char* line = text.output.c_str() + at;
            const char* hash = std::strchr(line, '#');
            if (std::sscanf(line, "%d,%d:", &x, &y) != 2 || hash == nullptr ||
                std::sscanf(hash + 1, "%6x", &rgb) != 1)
                continue;
            const std::uint8_t* row = locked.row(2 - y);  // y counts from the top
            std::uint8_t b = 0, g = 0, r = 0;
            if (bits == 8) {
                const win::RGBQUAD entry = locked.palette()[row[x]];
                b = entry.rgbBlue, g = entry.rgbGreen, r = entry.rgbRed;
            } else {
                b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
            }
            EXPECT_EQ(rgb, (unsigned(r) << 16) | (unsigned(g) << 8) | b) << x << "," << y;
            ++checked;
        }
        EXPECT_EQ(checked, 15);
        locked.unlock();
        FreeDIB(dib);
    }
}

TEST(DibTools, FourQuarterTurnsGiveBackTheBytes) {
    NoLeaks noLeaks;
    for (int bits : {8, 24}) {
        win::HGLOBAL dib = RandomDIB(3, 2, bits, 99);
        win::HGLOBAL turned = DuplicateDIB(dib);
        for (int i = 0; i < 4; ++i) {
            win::HGLOBAL next = RotateDIB(turned, 90);
            FreeDIB(turned);
            turned = next;
        }
        EXPECT_EQ(BlockBytes(turned), BlockBytes(dib));
        win::HGLOBAL twice = MirrorDIB(dib);
        win::HGLOBAL back = MirrorDIB(twice);
        EXPECT_EQ(BlockBytes(back), BlockBytes(dib));
        for (auto made : {dib, turned, twice, back}) FreeDIB(made);
    }
}

TEST(DibTools, ResizeTo380x480CopiesDoublesAndHalves) {
    NoLeaks noLeaks;
    for (auto [w, h] : {std::pair{380, 480}, {190, 240}, {760, 960}}) {
        win::HGLOBAL dib = RandomDIB(w, h, 24, 7);
        win::HGLOBAL small = ResizeDIBTo380x480(dib, w, h);
        ASSERT_NE(small, nullptr);
        LockedDIB from(dib), to(small);
        for (int r = 0; r < 480; ++r)
            for (int c = 0; c < 380; ++c) {
                const int sr = r * h / 480, sc = c * w / 380;
                ASSERT_EQ(std::memcmp(to.row(r) + 3 * c, from.row(sr) + 3 * sc, 3), 0)
                    << w << "x" << h << " at " << r << "," << c;
            }
        from.unlock();
        to.unlock();
        FreeDIB(small);
        FreeDIB(dib);
    }
}

const char* kBresenhamCheck = R"(
import sys
import numpy as np
data = np.fromfile(sys.argv[1], dtype=np.int32)
N = int(sys.argv[2])
def table(s, d):
    # Bresenham's line between (0, 0) and the far corner, driven by the longer axis; ties go up.
    if d == 1:
        return np.zeros(1, dtype=np.int64)
    if d >= s:
        i = np.arange(d, dtype=np.int64)
        return (2 * i * (s - 1) + (d - 1)) // (2 * (d - 1))
    j = np.arange(s, dtype=np.int64)
    minor = (2 * j * (d - 1) + (s - 1)) // (2 * (s - 1))
    values, first = np.unique(minor, return_index=True)
    assert np.array_equal(values, np.arange(d))
    return j[first]
at, bad = 0, []
for s in range(1, N + 1):
    for d in range(1, N + 1):
        cols = data[at:at + d]; at += d
        rows = data[at:at + (N + 1 - d)]; at += N + 1 - d
        if not np.array_equal(cols, table(s, d)):
            bad.append(("columns", s, d))
        if not np.array_equal(rows, table(N + 1 - s, N + 1 - d)):
            bad.append(("rows", N + 1 - s, N + 1 - d))
assert at == data.size
print("ok" if not bad else bad[:10])
)";

TEST(DibTools, ResamplerTablesAgreeWithAnIndependentBresenham) {
    constexpr int kN = 120;
    TempDir dir;
    // Source s x (N+1-s) of 16-bit elements holding (row << 8) | column, resampled to
    // d x (N+1-d): row 0 of the result shows the column table, column 0 the row table.
    std::vector<std::int32_t> out;
    std::vector<std::uint16_t> source(kN * kN), target(kN * kN);
    for (int s = 1; s <= kN; ++s) {
        const int sh = kN + 1 - s;
        for (int r = 0; r < sh; ++r)
            for (int c = 0; c < s; ++c) source[r * s + c] = std::uint16_t((r << 8) | c);
        for (int d = 1; d <= kN; ++d) {
            const int dh = kN + 1 - d;
            ASSERT_TRUE(ResampleNearest(reinterpret_cast<std::uint8_t*>(target.data()), 2 * d, 0, 0,
                                        d, dh, reinterpret_cast<const std::uint8_t*>(source.data()),
                                        2 * s, 0, 0, s, sh, 16, 0));
            for (int c = 0; c < d; ++c) out.push_back(target[c] & 0xFF);
            for (int r = 0; r < dh; ++r) out.push_back(target[r * d] >> 8);
        }
    }
    std::vector<std::uint8_t> bytes(out.size() * 4);
    std::memcpy(bytes.data(), out.data(), bytes.size());
    WriteBytes(dir.file("tables.bin"), bytes);
    const CommandResult result =
        RunPython(kBresenhamCheck, {dir.file("tables.bin"), std::to_string(kN)});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "ok\n");
}

}  // namespace
