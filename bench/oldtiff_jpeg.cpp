// refs: turbojpeg
// Baseline JPEG decoding of a 3000 x 1500 picture (colour sampled 2 x 1, and grey) beside
// libjpeg-turbo in both its configurations: without SIMD (JSIMD_FORCENONE=1) and as users run it
// (with SIMD), all writing a whole picture. Prints our time over each of libjpeg-turbo's.
//
// libjpeg-turbo reads JSIMD_FORCENONE once per process, at its first use (compression included),
// so one process cannot time both configurations. Before this process touches the library it
// forks one child per configuration; each child sets the variable its way, compresses the test
// streams itself, sends back a checksum of them and then runs its decoder benchmarks when asked,
// so that ours and each configuration of the reference run in turn, as in every other case. This
// process compresses the streams (without SIMD) and times ours. A ratio is printed only when the
// child decoded the very same bytes.
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

BENCHMARK(Ours)->ArgName("samples")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Turbo)->ArgName("samples")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

// FNV-1a over both test streams.
unsigned long long StreamChecksum() {
    std::uint64_t h = 14695981039346656037u;
    for (int samples : {1, 3})
        for (std::uint8_t b : Stream(samples)) h = (h ^ b) * 1099511628211u;
    return h;
}

// libjpeg-turbo in one configuration, in a child process that answers the name of one of its
// benchmarks with the time of one run of it ("table" prints its table instead).
class Reference {
  public:
    explicit Reference(bool simd) : m_simd(simd) {
        int down[2], up[2];
        if (pipe(down) != 0) return;
        if (pipe(up) != 0) {
            close(down[0]);
            close(down[1]);
            return;
        }
        std::fflush(stdout);
        m_child = fork();
        if (m_child == 0) {
            close(down[1]);
            close(up[0]);
            Serve(fdopen(down[0], "r"), fdopen(up[1], "w"));
        }
        close(down[0]);
        close(up[1]);
        m_to = fdopen(down[1], "w");
        m_from = fdopen(up[0], "r");
        if (m_child < 0 || std::fscanf(m_from, "%llu", &m_checksum) != 1) m_checksum = 0;
    }
    ~Reference() {
        if (m_to != nullptr) std::fclose(m_to);  // the child's end of its work
        if (m_from != nullptr) std::fclose(m_from);
        if (m_child > 0) waitpid(m_child, nullptr, 0);
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    const char* Name() const { return m_simd ? "with SIMD" : "without SIMD"; }
    unsigned long long Checksum() const { return m_checksum; }

    double Ask(const std::string& what) {
        double seconds = -1;
        if (m_to == nullptr || m_from == nullptr || m_checksum == 0) return seconds;
        std::fflush(stdout);  // the child may print next
        std::fprintf(m_to, "%s\n", what.c_str());
        std::fflush(m_to);
        if (std::fscanf(m_from, "%lf", &seconds) != 1) seconds = -1;
        return seconds;
    }

  private:
    [[noreturn]] void Serve(FILE* in, FILE* out) {
        if (in == nullptr || out == nullptr) _exit(1);
        if (m_simd)
            unsetenv("JSIMD_FORCENONE");
        else
            setenv("JSIMD_FORCENONE", "1", 1);
        std::fprintf(out, "%llu\n", StreamChecksum());
        std::fflush(out);
        char line[256];
        while (std::fgets(line, sizeof line, in) != nullptr) {
            const std::string what(line, std::strcspn(line, "\n"));
            double seconds = 0;
            if (what == "table") {
                std::printf("\n-- libjpeg-turbo %s\n", Name());
                quorin::bench::TimesReporter table(true);
                benchmark::RunSpecifiedBenchmarks(&table, "^Turbo/");
                std::fflush(stdout);
            } else {
                seconds = quorin::bench::TimeOnce(what);
            }
            std::fprintf(out, "%.17g\n", seconds);
            std::fflush(out);
        }
        _exit(0);
    }

    bool m_simd;
    pid_t m_child = -1;
    FILE* m_to = nullptr;
    FILE* m_from = nullptr;
    unsigned long long m_checksum = 0;
};

}  // namespace

int main(int argc, char** argv) {
    quorin::bench::Initialize(argc, argv);
    // Both children start before this process first uses libjpeg-turbo. The second child holds
    // copies of the first one's pipe ends: it is ended first (objects end in reverse order), so
    // that the first one then sees the end of its input.
    Reference plain(false), simd(true);

    setenv("JSIMD_FORCENONE", "1", 1);
    std::printf("\n-- ours\n");
    quorin::bench::TimesReporter table(true);
    benchmark::RunSpecifiedBenchmarks(&table, "^Ours/");
    plain.Ask("table");
    simd.Ask("table");

    // A configuration whose streams differ from ours fails its cases.
    const unsigned long long checksum = StreamChecksum();
    quorin::bench::Cases cases;
    for (const char* samples : {"1", "3"}) {
        const std::string name = std::string("/samples:") + samples;
        if (table.Seconds("Ours" + name) < 0) continue;
        for (Reference* reference : {&plain, &simd}) {
            const bool same = reference->Checksum() == checksum;
            cases.Add(
                std::string(samples[0] == '1' ? "grey " : "colour 2x1 ") + reference->Name(),
                "turbo", [name] { return quorin::bench::TimeOnce("Ours" + name); },
                [reference, name, same] { return same ? reference->Ask("Turbo" + name) : -1.0; },
                reference == &simd ? 1.5 : 1.0);
        }
    }
    cases.Run("our time / libjpeg-turbo time (goal: 1.0 without SIMD, 1.5 with)");
    benchmark::Shutdown();
    return 0;
}
