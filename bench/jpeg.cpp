// refs: turbojpeg
// Baseline JPEG decoding of a 3000 x 1500 picture (colour sampled 2 x 1, and grey) beside
// libjpeg-turbo without SIMD (JSIMD_FORCENONE=1 set before the first decode), both writing a
// whole picture. Prints our time over libjpeg-turbo's.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "nativefiles/jpegdecoder.h"
#include "ratio_reporter.h"
#include "test_picture.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;

std::vector<std::uint8_t> Picture(int samples) {
    return quorin::bench::TestPicture(kWidth, kHeight, samples, 9);
}

std::vector<std::uint8_t>& Stream(int samples) {
    static std::map<int, std::vector<std::uint8_t>> streams;
    std::vector<std::uint8_t>& s = streams[samples];
    if (!s.empty()) return s;
    const std::vector<std::uint8_t> pixels = Picture(samples);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, pixels.data(), kWidth, 0, kHeight, samples == 3 ? TJPF_RGB : TJPF_GRAY, &jpeg,
                &size, samples == 3 ? TJSAMP_422 : TJSAMP_GRAY, 85, TJFLAG_ACCURATEDCT);
    s.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    return s;
}

struct Memory {
    const std::vector<std::uint8_t>* data;
    std::size_t pos;
    std::uint8_t* out;
    std::size_t rowBytes;
};

int Read(void* c, std::uint8_t* buffer, int size) {
    auto* m = static_cast<Memory*>(c);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(size), m->data->size() - m->pos);
    if (n == 0) return -1;
    std::memcpy(buffer, m->data->data() + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}

int Row(void* c, int row, const std::uint8_t* pixels) {
    auto* m = static_cast<Memory*>(c);
    std::memcpy(m->out + static_cast<std::size_t>(row) * m->rowBytes, pixels, m->rowBytes);
    return 0;
}

void Ours(benchmark::State& state) {
    const int samples = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t>& stream = Stream(samples);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kWidth) * kHeight * samples);
    for (auto _ : state) {
        Memory m{&stream, 0, out.data(), static_cast<std::size_t>(kWidth) * samples};
        if (DecodeJpegStream(nullptr, &m, Read, nullptr, nullptr, Row, nullptr) != 0)
            state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight);
}

void Turbo(benchmark::State& state) {
    const int samples = static_cast<int>(state.range(0));
    std::vector<std::uint8_t>& stream = Stream(samples);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kWidth) * kHeight * samples);
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        // Islow transform and plain upsampling: the same work as ours.
        if (tjDecompress2(tj, stream.data(), stream.size(), out.data(), kWidth, 0, kHeight,
                          samples == 3 ? TJPF_BGR : TJPF_GRAY,
                          TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE) != 0)
            state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
    tjDestroy(tj);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight);
}

BENCHMARK(Ours)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Turbo)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // libjpeg-turbo reads this once, at its first use.
    setenv("JSIMD_FORCENONE", "1", 1);
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    args.push_back(repetitions.data());
    argc = static_cast<int>(args.size());
    benchmark::Initialize(&argc, args.data());
    quorin::bench::RatioReporter reporter("Turbo");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* arg : {"1", "3"}) {
        const double ratio = reporter.Ratio("/" + std::string(arg));
        if (ratio >= 0)
            std::printf("JPEG %s 3000x1500: ours / libjpeg-turbo (no SIMD) = %.2fx\n",
                        arg[0] == '1' ? "grey" : "colour 2x1", ratio);
    }
    benchmark::Shutdown();
    return 0;
}
