// Helpers of the pixel image suites: arrays to and from files for the numpy/scipy checks, and
// SImage records over new global blocks.
#pragma once
#include <quorin/simage.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "records/dib/dibbuffer.h"

namespace pixeltest {

template <class T>
void WriteArray(const std::string& path, const T* data, std::size_t count) {
    std::vector<std::uint8_t> bytes(count * sizeof(T));
    if (count != 0) std::memcpy(bytes.data(), data, bytes.size());
    quorin::test::WriteBytes(path, bytes);
}

// Levels 0..top drawn from Engine seeded with `seed` (the 64-bit engine for levels past 32 bits).
template <class T, class Engine = std::mt19937>
std::vector<T> RandomPixels(std::size_t count, typename Engine::result_type top,
                            std::uint32_t seed) {
    Engine random(seed);
    std::uniform_int_distribution<typename Engine::result_type> level(0, top);
    std::vector<T> pixels(count);
    for (auto& p : pixels) p = static_cast<T>(level(random));
    return pixels;
}

// A record that owns a new pixel block holding `pixels`.
template <class T>
SImage* MakeSImage(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                   const std::vector<T>& pixels) {
    SImage* image = AllocSImage(width, height, 1, bits, false, nullptr);
    if (image != nullptr && image->pPixels != nullptr)
        std::memcpy(image->pPixels, pixels.data(), pixels.size() * sizeof(T));
    return image;
}

// Runs a check script; it prints "ok" when our files match what numpy/scipy compute.
inline std::string Check(const std::string& script, const std::vector<std::string>& args) {
    const auto result = quorin::test::RunPython(script, args);
    return result.status == 0 ? result.output : "python failed: " + result.output;
}

}  // namespace pixeltest
