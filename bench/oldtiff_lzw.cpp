// refs: tiff
// LZW strip decoding of a 3000 x 1500 picture, 8-bit and 24-bit, beside libtiff's
// TIFFReadEncodedStrip over the same file. Prints our time over libtiff's.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "oldtiff/lzw.h"
#include "ratio_reporter.h"
#include "test_picture.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;

std::vector<std::uint8_t> Picture(int samples) {
    return quorin::bench::TestPicture(kWidth, kHeight, samples, 5);
}

struct Fixture {
    std::string path;
    TIFF* tiff = nullptr;
    std::vector<std::vector<std::uint8_t>> strips;  // compressed, as stored
    std::vector<std::size_t> decodedSizes;
    std::size_t stripBytes = 0;
};

Fixture& Get(int samples) {
    static std::map<int, Fixture> fixtures;
    Fixture& f = fixtures[samples];
    if (f.tiff != nullptr) return f;
    f.path = "/tmp/bench_lzw_" + std::to_string(getpid()) + "_" + std::to_string(samples) + ".tif";
    const std::vector<std::uint8_t> pixels = Picture(samples);
    TIFF* out = TIFFOpen(f.path.c_str(), "w");
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 16);
    const std::size_t rowBytes = static_cast<std::size_t>(kWidth) * samples;
    for (int y = 0; y < kHeight; ++y)
        TIFFWriteScanline(out, const_cast<std::uint8_t*>(&pixels[y * rowBytes]),
                          static_cast<std::uint32_t>(y), 0);
    TIFFClose(out);

    f.tiff = TIFFOpen(f.path.c_str(), "r");
    const tstrip_t count = TIFFNumberOfStrips(f.tiff);
    f.stripBytes = static_cast<std::size_t>(TIFFStripSize(f.tiff));
    for (tstrip_t s = 0; s < count; ++s) {
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(TIFFRawStripSize(f.tiff, s)));
        TIFFReadRawStrip(f.tiff, s, raw.data(), static_cast<tmsize_t>(raw.size()));
        f.strips.push_back(std::move(raw));
        f.decodedSizes.push_back(static_cast<std::size_t>(
            TIFFVStripSize(f.tiff, std::min<std::uint32_t>(16, kHeight - 16 * s))));
    }
    // Both decoders must agree before their speeds mean anything.
    std::vector<std::uint8_t> ours(f.stripBytes), theirs(f.stripBytes);
    for (tstrip_t s = 0; s < count; ++s) {
        const std::size_t n =
            DecodeLzw(f.strips[s].data(), f.strips[s].size(), ours.data(), f.decodedSizes[s]);
        const tmsize_t m =
            TIFFReadEncodedStrip(f.tiff, s, theirs.data(), static_cast<tmsize_t>(theirs.size()));
        if (static_cast<tmsize_t>(n) != m || std::memcmp(ours.data(), theirs.data(), n) != 0) {
            std::fprintf(stderr, "strip %u differs from libtiff\n", s);
            std::abort();
        }
    }
    unlink(f.path.c_str());  // the open handle keeps it readable
    return f;
}

void Ours(benchmark::State& state) {
    Fixture& f = Get(static_cast<int>(state.range(0)));
    std::vector<std::uint8_t> out(f.stripBytes);
    for (auto _ : state) {
        for (std::size_t s = 0; s < f.strips.size(); ++s)
            benchmark::DoNotOptimize(
                DecodeLzw(f.strips[s].data(), f.strips[s].size(), out.data(), f.decodedSizes[s]));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight *
                            state.range(0));
}

void Libtiff(benchmark::State& state) {
    Fixture& f = Get(static_cast<int>(state.range(0)));
    std::vector<std::uint8_t> out(f.stripBytes);
    for (auto _ : state) {
        for (std::size_t s = 0; s < f.strips.size(); ++s)
            benchmark::DoNotOptimize(TIFFReadEncodedStrip(
                f.tiff, static_cast<tstrip_t>(s), out.data(), static_cast<tmsize_t>(out.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight *
                            state.range(0));
}

BENCHMARK(Ours)->ArgName("samples")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Libtiff)->ArgName("samples")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return quorin::bench::RunAndCompare(argc, argv, "Libtiff", "our time / libtiff time");
}
