// refs: opencv
// The float Gaussian of the lens enhancement (a horizontal and a vertical pass of 13 taps with
// mirrored ends over a 2048 x 2048 plane) beside cv::sepFilter2D with the same kernel and
// BORDER_REFLECT on one thread, and a whole registry lens run ("edges") on a 12-bit image of the
// same size. The pairs print our time over OpenCV's at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "pixel/ceph/cephlens.h"
#include "pixel/filters/floatmultiscale.h"
#include "ratio_reporter.h"

namespace {

constexpr int kSide = 2048;
constexpr int kTaps = 13;

struct Planes {
    std::vector<float> plane, work, out;
    std::vector<float> kernel;
    std::vector<std::uint16_t> grey;
    cv::Mat plane32;
    cv::Mat out32;  // OpenCV's output, kept from run to run as ours is

    Planes()
        : plane(std::size_t(kSide) * kSide),
          work(plane.size()),
          out(plane.size()),
          kernel(kTaps),
          grey(plane.size()) {
        std::mt19937 random(5);
        std::uniform_int_distribution<int> value(300, 3800);
        for (std::size_t i = 0; i < plane.size(); ++i) {
            grey[i] = static_cast<std::uint16_t>(value(random));
            plane[i] = grey[i];
        }
        quorin::FloatGaussKernel(kernel.data(), 2.0f, kTaps);
        plane32 = cv::Mat(kSide, kSide, CV_32F, plane.data());
    }
};

Planes& Shared() {
    static Planes planes;
    return planes;
}

void OursFloatGauss(benchmark::State& state) {
    Planes& p = Shared();
    for (auto _ : state) {
        quorin::FloatConvolvePass(p.plane.data(), p.work.data(), p.kernel.data(), kTaps, kSide,
                                  kSide);
        quorin::FloatConvolvePass(p.work.data(), p.out.data(), p.kernel.data(), kTaps, kSide,
                                  kSide);
        benchmark::DoNotOptimize(p.out.data());
    }
}
void OpenCVFloatGauss(benchmark::State& state) {
    Planes& p = Shared();
    const cv::Mat k(kTaps, 1, CV_32F, p.kernel.data());
    for (auto _ : state) {
        cv::sepFilter2D(p.plane32, p.out32, CV_32F, k, k, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
        benchmark::DoNotOptimize(p.out32.data);
    }
}

void OursLensRun(benchmark::State& state) {
    Planes& p = Shared();
    for (auto _ : state) {
        SImage* record = AllocSImage(kSide, kSide, 1, 12, false, nullptr);
        std::memcpy(record->pPixels, p.grey.data(), p.grey.size() * 2);
        CusCephVelmoLensV3 lens(record, 0);
        FreeSImage(record, true);
        benchmark::DoNotOptimize(lens.Enhance(nullptr, 4, 0));
    }
}

// The cache statistics of a 16-bit unit: 8191 reduced bins over a broad histogram.
void OursStatistics16(benchmark::State& state) {
    std::vector<std::uint32_t> h(65536);
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = std::uint32_t(1000 + (i * 7919) % 300);
    for (auto _ : state) {
        quorin::CephLensCache cache;
        quorin::CacheStatistics(h.data(), 65536, 65535, &cache);
        benchmark::DoNotOptimize(cache.first);
    }
}

BENCHMARK(OursStatistics16)->Unit(benchmark::kMillisecond);
BENCHMARK(OursFloatGauss)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenCVFloatGauss)->Unit(benchmark::kMillisecond);
BENCHMARK(OursLensRun)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    Shared();
    return quorin::bench::RunAndCompare(argc, argv, "OpenCV", "our time / OpenCV time");
}
