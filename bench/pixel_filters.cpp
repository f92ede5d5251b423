// refs: opencv
// The pyramid's reduce and expand of a 3000 x 1500 float image beside cv::pyrDown and cv::pyrUp,
// and the 16-bit Gaussian smoothing (sigma 2.00 at amplitude 4095: 17 taps, mirrored ends)
// beside cv::GaussianBlur with the same kernel size, sigma and BORDER_REFLECT, OpenCV on one
// thread. Each pair prints our time over OpenCV's at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "pixel/filters/filters16.h"
#include "pixel/filters/pyramid.h"
#include "ratio_reporter.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;

struct Pictures {
    C2DArr<float> level, child, expanded;
    cv::Mat level32, child32;
    std::vector<std::uint16_t> grey, smooth;
    cv::Mat grey16;
    cv::Mat down, up, smooth16;  // OpenCV's outputs, kept from run to run as ours are

    Pictures() : grey(std::size_t(kWidth) * kHeight), smooth(grey.size()) {
        level.Create(kWidth, kHeight, 1, nullptr);
        child.Create((kWidth + 1) / 2, (kHeight + 1) / 2, 1, nullptr);
        expanded.Create(kWidth, kHeight, 1, nullptr);
        std::mt19937 random(5);
        std::normal_distribution<double> value(2000.0, 600.0);
        for (std::size_t i = 0; i < grey.size(); ++i)
            grey[i] = static_cast<std::uint16_t>(std::clamp(value(random), 0.0, 4095.0));
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) level.Row(y)[x] = grey[std::size_t(y) * kWidth + x];
        quorin::PyramidReduce(level, child, *quorin::PyramidFilterWeights(0));
        level32 = cv::Mat(kHeight, kWidth, CV_32F, level.Row(0));
        child32 = cv::Mat(child.Height(), child.Width(), CV_32F, child.Row(0));
        grey16 = cv::Mat(kHeight, kWidth, CV_16U, grey.data());
    }
};

Pictures& Shared() {
    static Pictures pictures;
    return pictures;
}

void OursPyramidDown(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        quorin::PyramidReduce(p.level, p.child, *quorin::PyramidFilterWeights(0));
        benchmark::DoNotOptimize(p.child.Row(0));
    }
}
void OpenCVPyramidDown(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::pyrDown(p.level32, p.down, cv::Size(p.child.Width(), p.child.Height()));
        benchmark::DoNotOptimize(p.down.data);
    }
}

// Ours adds the expanded child into a level (the reconstruction step); OpenCV writes it.
void OursPyramidUp(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        quorin::PyramidExpand(p.child, p.expanded, +1, *quorin::PyramidFilterWeights(0));
        benchmark::DoNotOptimize(p.expanded.Row(0));
    }
}
void OpenCVPyramidUp(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::pyrUp(p.child32, p.up, cv::Size(kWidth, kHeight));
        benchmark::DoNotOptimize(p.up.data);
    }
}

void OursGauss16(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        GaussSmooth16(p.grey.data(), p.smooth.data(), kWidth, kHeight, 4095, 200);
        benchmark::DoNotOptimize(p.smooth.data());
    }
}
void OpenCVGauss16(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::GaussianBlur(p.grey16, p.smooth16, cv::Size(17, 17), 2.0, 2.0, cv::BORDER_REFLECT);
        benchmark::DoNotOptimize(p.smooth16.data);
    }
}

BENCHMARK(OursPyramidDown)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVPyramidDown)->Unit(benchmark::kMillisecond);
BENCHMARK(OursPyramidUp)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVPyramidUp)->Unit(benchmark::kMillisecond);
BENCHMARK(OursGauss16)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVGauss16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    Shared();
    return quorin::bench::RunAndCompare(argc, argv, "OpenCV", "our time / OpenCV time");
}
