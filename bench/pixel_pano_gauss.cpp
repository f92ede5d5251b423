// refs: opencv
// The panoramic two-Gaussian enhancement of a 3000 x 1500 12-bit image (fine 5 x 5, sigma 1;
// coarse 31 x 31, sigma 8, on a copy zoomed by 0.25) beside the same pipeline built from OpenCV
// (GaussianBlur, bilinear resize, arithmetic in float), and one 5 x 5 Gaussian beside
// cv::GaussianBlur; OpenCV on one thread. Ours sums the full two-dimensional kernel in double as
// the enhancement defines it; OpenCV runs a separable fixed-point kernel. Each pair prints our
// time over OpenCV's at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "pixel/pano/pano.h"
#include "pixel/pano/panoconvolve.h"
#include "ratio_reporter.h"

namespace {

constexpr int kWidth = 3000;
constexpr int kHeight = 1500;

struct Pictures {
    std::vector<std::uint16_t> grey;
    cv::Mat grey16;
    // OpenCV's outputs and intermediate pictures, kept from run to run as ours are.
    cv::Mat fine, small, coarseSmall, coarse, f, c, s, detail, sum, result, out;
    std::unique_ptr<CusPano> image;
    CTMatrix<unsigned short> source, target;

    Pictures()
        : grey(std::size_t(kWidth) * kHeight), source(kHeight, kWidth), target(kHeight, kWidth) {
        std::mt19937 random(5);
        std::normal_distribution<double> noise(0.0, 80.0);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                grey[std::size_t(y) * kWidth + x] = static_cast<std::uint16_t>(
                    std::clamp(1000.0 + 2000.0 * x / kWidth + noise(random), 0.0, 4095.0));
        grey16 = cv::Mat(kHeight, kWidth, CV_16U, grey.data());
        std::copy(grey.begin(), grey.end(), source.Data());
        SImage* record = AllocSImage(kWidth, kHeight, 1, 12, false, nullptr);
        std::copy(grey.begin(), grey.end(), static_cast<std::uint16_t*>(record->pPixels));
        image = std::make_unique<CusPano>(record);
        FreeSImage(record, true);
    }
};

Pictures& Shared() {
    static Pictures pictures;
    return pictures;
}

void OursEnhance(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.image->GaussEnhance(5, 1.0, 31, 8.0, 0.25));
    }
}
void OpenCVEnhance(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::GaussianBlur(p.grey16, p.fine, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_CONSTANT);
        cv::resize(p.grey16, p.small, cv::Size(), 0.25, 0.25, cv::INTER_LINEAR);
        cv::GaussianBlur(p.small, p.coarseSmall, cv::Size(31, 31), 8.0, 8.0, cv::BORDER_REPLICATE);
        cv::resize(p.coarseSmall, p.coarse, p.grey16.size(), 0, 0, cv::INTER_LINEAR);
        p.fine.convertTo(p.f, CV_32F);
        p.coarse.convertTo(p.c, CV_32F);
        p.grey16.convertTo(p.s, CV_32F);
        p.detail = (p.f - p.c + 4095.0f) * 0.5f;
        p.sum = (p.detail + p.s) * 0.5f;
        p.sum.convertTo(p.result, CV_16U);
        benchmark::DoNotOptimize(p.result.data);
    }
}

void OursGauss5(benchmark::State& state) {
    Pictures& p = Shared();
    const CTGaussFilter<double> kernel(5, 1.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorin::ConvolvePixels(p.source, kernel, 0, p.target));
    }
}
void OpenCVGauss5(benchmark::State& state) {
    Pictures& p = Shared();
    for (auto _ : state) {
        cv::GaussianBlur(p.grey16, p.out, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(p.out.data);
    }
}

BENCHMARK(OursEnhance)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVEnhance)->Unit(benchmark::kMillisecond);
BENCHMARK(OursGauss5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVGauss5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    Shared();
    return quorin::bench::RunAndCompare(argc, argv, "OpenCV", "our time / OpenCV time");
}
