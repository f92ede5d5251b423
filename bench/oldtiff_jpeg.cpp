// refs: turbojpeg
// Baseline JPEG decoding of a 3000 x 1500 picture (colour sampled 2 x 1, and grey) beside
// libjpeg-turbo in both its configurations: without SIMD (JSIMD_FORCENONE=1) and as users run it
// (with SIMD), all writing a whole picture. Prints our time over each of libjpeg-turbo's.
//
// libjpeg-turbo reads JSIMD_FORCENONE once per process, at its first use (compression included),
// so one process cannot time both configurations. Before this process touches the library it
// forks one child per configuration; each child sets the variable its way, compresses the test
// streams itself, times the reference decoder and sends back its median times with a checksum of
// its streams. Then this process compresses the streams (without SIMD) and times ours. A ratio is
// printed only when the child decoded the very same bytes.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "oldtiff/jpegdecoder.h"
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

// FNV-1a over both test streams.
std::uint64_t StreamChecksum() {
    std::uint64_t h = 14695981039346656037u;
    for (int samples : {1, 3})
        for (std::uint8_t b : Stream(samples)) h = (h ^ b) * 1099511628211u;
    return h;
}

// The reference's median times (grey, colour) in one configuration and the checksum of the
// streams it decoded, from a child process; times are negative when it failed.
struct Reference {
    double time[2] = {-1, -1};
    unsigned long long checksum = 0;
};

Reference RunReference(bool simd) {
    Reference reference;
    int fds[2];
    if (pipe(fds) != 0) return reference;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (simd)
            unsetenv("JSIMD_FORCENONE");
        else
            setenv("JSIMD_FORCENONE", "1", 1);
        std::printf("\n-- libjpeg-turbo %s SIMD\n", simd ? "with" : "without");
        quorin::bench::RatioReporter reporter("Turbo");
        benchmark::RunSpecifiedBenchmarks(&reporter, "^Turbo/");
        char line[128];
        const int n = std::snprintf(line, sizeof line, "%.17g %.17g %llu\n",
                                    reporter.Time("Turbo/1"), reporter.Time("Turbo/3"),
                                    static_cast<unsigned long long>(StreamChecksum()));
        std::fflush(stdout);
        const bool sent = n > 0 && write(fds[1], line, static_cast<std::size_t>(n)) == n;
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; child > 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 1;
    if (child > 0) waitpid(child, &status, 0);
    Reference sent;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
        std::sscanf(text.c_str(), "%lf %lf %llu", &sent.time[0], &sent.time[1], &sent.checksum) ==
            3)
        reference = sent;
    return reference;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    args.push_back(repetitions.data());
    argc = static_cast<int>(args.size());
    benchmark::Initialize(&argc, args.data());
    // Both children run before this process first uses libjpeg-turbo.
    const Reference plain = RunReference(false);
    const Reference simd = RunReference(true);

    setenv("JSIMD_FORCENONE", "1", 1);
    std::printf("\n-- ours\n");
    quorin::bench::RatioReporter reporter("Turbo");
    benchmark::RunSpecifiedBenchmarks(&reporter, "^Ours/");
    const unsigned long long checksum = StreamChecksum();
    std::printf("\n");
    for (int i = 0; i < 2; ++i) {
        const double ours = reporter.Time(i == 0 ? "Ours/1" : "Ours/3");
        auto ratio = [&](const Reference& r) {
            return ours > 0 && r.time[i] > 0 && r.checksum == checksum ? ours / r.time[i] : -1.0;
        };
        std::printf(
            "JPEG %s 3000x1500: ours / libjpeg-turbo = %.2fx without SIMD, %.2fx with SIMD\n",
            i == 0 ? "grey" : "colour 2x1", ratio(plain), ratio(simd));
    }
    benchmark::Shutdown();
    return 0;
}
