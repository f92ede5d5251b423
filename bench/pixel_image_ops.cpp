// refs: opencv
// The 8-bit median and mean filters and the LUT display of a 3000 x 1500 grey picture beside
// OpenCV (single-threaded): Median3x3 / cv::medianBlur(3), Mean3x3 and Mean5x5 / cv::blur with a
// replicated border (OpenCV rounds the mean, ours truncates: the same work), and a 256-entry
// LUT applied to an 8-bit image / cv::LUT. Outputs are made once, outside the timed loops.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "pixel/filters/filters8.h"
#include "pixel/image/greyimage.h"
#include "ratio_reporter.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;
using Grey8 = CTImgNB<unsigned char, unsigned char>;

struct Pictures {
    Grey8 image{kHeight, kWidth};
    Grey8 display{kHeight, kWidth};
    cv::Mat grey;  // a view of the image's pixels
    cv::Mat out;
    std::vector<std::uint8_t> target = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight);
    CTLut<unsigned char> lut{256, 256, 20, 230};
    cv::Mat cvLut;

    Pictures() {
        std::mt19937 random(5);
        std::normal_distribution<double> level(120.0, 40.0);
        unsigned char* p = image.Pixels()->Data();
        for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i)
            p[i] = static_cast<unsigned char>(std::clamp(level(random), 0.0, 255.0));
        grey = cv::Mat(kHeight, kWidth, CV_8UC1, p);
        out = cv::Mat(kHeight, kWidth, CV_8UC1);
        cvLut = cv::Mat(1, 256, CV_8UC1, lut.Data()).clone();
    }
};

Pictures& Shared() {
    static Pictures pictures;
    return pictures;
}

template <class Run>
void Loop(benchmark::State& state, Run run) {
    Pictures& p = Shared();
    for (auto _ : state) {
        run(p);
        benchmark::ClobberMemory();
    }
}

void OursMedian3x3(benchmark::State& s) {
    Loop(s, [](Pictures& p) {
        Median3x3(p.image.Pixels()->Data(), p.target.data(), kWidth, kHeight);
    });
}
void OpenCVMedian3x3(benchmark::State& s) {
    Loop(s, [](Pictures& p) { cv::medianBlur(p.grey, p.out, 3); });
}
void OursMean3x3(benchmark::State& s) {
    Loop(s,
         [](Pictures& p) { Mean3x3(p.image.Pixels()->Data(), p.target.data(), kWidth, kHeight); });
}
void OpenCVMean3x3(benchmark::State& s) {
    Loop(s, [](Pictures& p) {
        cv::blur(p.grey, p.out, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    });
}
void OursMean5x5(benchmark::State& s) {
    Loop(s,
         [](Pictures& p) { Mean5x5(p.image.Pixels()->Data(), p.target.data(), kWidth, kHeight); });
}
void OpenCVMean5x5(benchmark::State& s) {
    Loop(s, [](Pictures& p) {
        cv::blur(p.grey, p.out, cv::Size(5, 5), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    });
}
void OursLutDisplay(benchmark::State& s) {
    Loop(s, [](Pictures& p) { p.image.ApplyLut(p.display, p.lut); });
}
void OpenCVLutDisplay(benchmark::State& s) {
    Loop(s, [](Pictures& p) { cv::LUT(p.grey, p.cvLut, p.out); });
}

BENCHMARK(OursMedian3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVMedian3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(OursMean3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVMean3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(OursMean5x5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVMean5x5)->Unit(benchmark::kMillisecond);
BENCHMARK(OursLutDisplay)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVLutDisplay)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    Shared();
    return quorin::bench::RunAndCompare(argc, argv, "OpenCV", "our time / OpenCV time");
}
