// Helpers of the panoramic suites: images built from new records as the SDK builds them, and
// the numpy references of tools/fixtures/pano_ref.py over arrays written into a folder.
#pragma once
#include <gtest/gtest.h>
#include <quorin/simage.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/leak_guard.h"
#include "common/pixel/pixel_io.h"
#include "common/reference_folder.h"

namespace panotest {

class RefCheck : public quorin::test::ReferenceFolder {
  public:
    RefCheck() : ReferenceFolder("pano_ref.py") {}
};

// The pano cases draw their pictures from the 64-bit engine.
template <class T>
std::vector<T> RandomPixels(std::size_t count, std::uint64_t top, std::uint32_t seed) {
    return pixeltest::RandomPixels<T, std::mt19937_64>(count, top, seed);
}

// A ramp with blocks of bone and noise: a histogram with modes, as radiographs have.
inline std::vector<std::uint16_t> Radiograph(std::uint32_t width, std::uint32_t height,
                                             std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 60.0);
    std::vector<std::uint16_t> pixels(std::size_t(width) * height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const double bone = (x / 16 + y / 16) % 3 == 0 ? 1500.0 : 0.0;
            const double v = 800.0 + 1200.0 * x / width + bone + noise(random);
            pixels[std::size_t(y) * width + x] = std::uint16_t(std::clamp(v, 0.0, 4095.0));
        }
    return pixels;
}

// The image adopts the new record's block; the record is then freed without it.
template <class Image, class T, class... Args>
std::unique_ptr<Image> MakeImage(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                                 const std::vector<T>& pixels, Args... args) {
    SImage* record = AllocSImage(width, height, 1, bits, false, nullptr);
    std::memcpy(record->pPixels, pixels.data(), pixels.size() * sizeof(T));
    std::unique_ptr<Image> image(new Image(record, args...));
    FreeSImage(record, image->HasPixels());
    return image;
}

template <class Image>
auto PixelsOf(const Image& image) {
    const auto* data = image.Pixels()->Data();
    return std::vector<std::remove_const_t<std::remove_pointer_t<decltype(data)>>>(
        data, data + std::size_t(image.Width()) * image.Height());
}

// "name":value pairs of a JSON object, numbers with every digit.
inline std::string Json(std::initializer_list<std::pair<const char*, double>> values,
                        const std::string& extra = "") {
    std::ostringstream out;
    out.precision(17);
    out << "{";
    for (const auto& [name, value] : values) out << "\"" << name << "\":" << value << ",";
    out << extra << "\"_\":0}";
    return out.str();
}

}  // namespace panotest
