// refs: opencv
// Packed-DIB transforms and the 16-bit histogram beside OpenCV (single-threaded) on a
// 3000 x 1500 picture: quarter turn, half turn, mirror, nearest-neighbour thumbnail, histogram.
// Each pair prints our time over OpenCV's at the end.
#include <benchmark/benchmark.h>
#include <quorin/histogram.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "ratio_reporter.h"
#include "records/dib/dib.h"
#include "records/dib/dibresample.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;

struct Pictures {
    win::HGLOBAL dib = nullptr;
    cv::Mat rgb;  // the same rows as the DIB
    CTMatrix<unsigned short> grey{kHeight, kWidth};
    cv::Mat grey16;  // a view of the same pixels

    Pictures() {
        dib = CreateDIB(kWidth, kHeight, 24);
        quorin::LockedDIB locked(dib);
        std::mt19937 random(5);
        for (int r = 0; r < kHeight; ++r)
            for (int i = 0; i < kWidth * 3; ++i) locked.row(r)[i] = std::uint8_t(random());
        rgb = cv::Mat(kHeight, kWidth, CV_8UC3, locked.bits(), locked.layout().stride).clone();
        std::normal_distribution<double> level(2000.0, 600.0);
        for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i)
            grey.Data()[i] = static_cast<unsigned short>(std::clamp(level(random), 0.0, 65535.0));
        grey16 = cv::Mat(kHeight, kWidth, CV_16UC1, grey.Data());
    }
    ~Pictures() { FreeDIB(dib); }
};

Pictures& Shared() {
    static Pictures pictures;
    return pictures;
}

template <class Make>
void RunOurs(benchmark::State& state, Make make) {
    Pictures& p = Shared();
    for (auto _ : state) {
        win::HGLOBAL made = make(p.dib);
        benchmark::DoNotOptimize(made);
        FreeDIB(made);
    }
}

void OursRotate90(benchmark::State& s) {
    RunOurs(s, [](auto d) { return RotateDIB(d, 90); });
}
void OursRotate180(benchmark::State& s) {
    RunOurs(s, [](auto d) { return RotateDIB(d, 180); });
}
void OursMirror(benchmark::State& s) {
    RunOurs(s, [](auto d) { return MirrorDIB(d); });
}
void OursResize(benchmark::State& s) {
    RunOurs(s, [](auto d) { return ResizeDIBTo380x480(d, kWidth, kHeight); });
}

// OpenCV makes a new output each time as well, as our routines do.
template <class Run>
void RunOpenCV(benchmark::State& state, Run run) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::Mat out;
        run(p.rgb, out);
        benchmark::DoNotOptimize(out.data);
    }
}

void OpenCVRotate90(benchmark::State& s) {
    RunOpenCV(
        s, [](const cv::Mat& in, cv::Mat& out) { cv::rotate(in, out, cv::ROTATE_90_CLOCKWISE); });
}
void OpenCVRotate180(benchmark::State& s) {
    RunOpenCV(s, [](const cv::Mat& in, cv::Mat& out) { cv::rotate(in, out, cv::ROTATE_180); });
}
void OpenCVMirror(benchmark::State& s) {
    RunOpenCV(s, [](const cv::Mat& in, cv::Mat& out) { cv::flip(in, out, 1); });
}
void OpenCVResize(benchmark::State& s) {
    RunOpenCV(s, [](const cv::Mat& in, cv::Mat& out) {
        cv::resize(in, out, cv::Size(380, 480), 0, 0, cv::INTER_NEAREST);
    });
}

void OursHistogram16(benchmark::State& state) {
    Pictures& p = Shared();
    CTHistogram<unsigned short, unsigned int, unsigned int> histogram;
    for (auto _ : state) {
        histogram.Calculate(&p.grey);
        benchmark::DoNotOptimize(histogram.BinData());
    }
}

void OpenCVHistogram16(benchmark::State& state) {
    Pictures& p = Shared();
    const int channels[] = {0};
    const int sizes[] = {65536};
    const float range[] = {0.0f, 65536.0f};
    const float* ranges[] = {range};
    cv::Mat histogram;
    for (auto _ : state) {
        cv::calcHist(&p.grey16, 1, channels, cv::Mat(), histogram, 1, sizes, ranges);
        benchmark::DoNotOptimize(histogram.data);
    }
}

BENCHMARK(OursRotate90)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVRotate90)->Unit(benchmark::kMillisecond);
BENCHMARK(OursRotate180)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVRotate180)->Unit(benchmark::kMillisecond);
BENCHMARK(OursMirror)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVMirror)->Unit(benchmark::kMillisecond);
BENCHMARK(OursResize)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVResize)->Unit(benchmark::kMillisecond);
BENCHMARK(OursHistogram16)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVHistogram16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    Shared();
    return quorin::bench::RunAndCompare(argc, argv, "OpenCV", "our time / OpenCV time");
}
