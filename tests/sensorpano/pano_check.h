// Helpers of the panoramic suites: images built from new records as the SDK builds them, and
// the numpy references of tools/fixtures/pano_ref.py over arrays written into a folder.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "sdk/simage.h"

namespace panotest {

class RefCheck {
  public:
    template <class T>
    void Write(const std::string& name, const T* data, std::size_t count) {
        std::vector<std::uint8_t> bytes(count * sizeof(T));
        if (count != 0) std::memcpy(bytes.data(), data, bytes.size());
        quorin::test::WriteBytes(m_dir.file(name), bytes);
    }
    template <class T>
    void Write(const std::string& name, const std::vector<T>& data) {
        Write(name, data.data(), data.size());
    }
    // Runs `check` with the JSON parameters; the test fails with the script's first difference.
    void Run(const std::string& check, const std::string& paramsJson) {
        quorin::test::WriteText(m_dir.file("params.json"), paramsJson);
        const auto result = quorin::test::RunCommand(
            std::string(QUORIN_PYTHON) + " " +
            quorin::test::ShellQuote(quorin::test::SourcePath("tools/fixtures/pano_ref.py")) + " " +
            check + " " + quorin::test::ShellQuote(m_dir.path()));
        EXPECT_EQ(result.output, "ok\n") << "status " << result.status;
    }

  private:
    quorin::test::TempDir m_dir;
};

template <class T>
std::vector<T> RandomPixels(std::size_t count, std::uint64_t top, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::uint64_t> level(0, top);
    std::vector<T> pixels(count);
    for (auto& p : pixels) p = static_cast<T>(level(random));
    return pixels;
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
