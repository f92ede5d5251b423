// Shared by the sensor image suites: the numpy/scipy reference script and a leak guard.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/leak_guard.h"
#include "common/test_util.h"
#include "pixel/core/pixel_io.h"
#include "platform/core/globalmem.h"

namespace sensortest {

// Runs tools/fixtures/sensor_ref.py COMMAND FOLDER ARGS...; "ok" when our results match.
inline std::string Reference(const std::string& command, const std::string& folder,
                             const std::vector<std::string>& args = {}) {
    using quorin::test::ShellQuote;
    std::string line =
        quorin::test::FixtureCommand("sensor_ref.py") + " " + command + " " + ShellQuote(folder);
    for (const auto& a : args) line += " " + ShellQuote(a);
    const auto result = quorin::test::RunCommand(line);
    std::string out = result.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return result.status == 0 ? out : "python failed: " + out;
}

// An image built from a new record; the record goes, adopted pixels stay with the image.
template <class Img, class T, class... Args>
std::unique_ptr<Img> Make(std::uint32_t w, std::uint32_t h, std::uint32_t bits,
                          const std::vector<T>& pixels, Args... args) {
    SImage* record = pixeltest::MakeSImage(w, h, bits, pixels);
    std::unique_ptr<Img> image(new Img(record, args...));
    FreeSImage(record, image->HasPixels());
    return image;
}

// Every global block made inside the scope is freed by its end.
using BlocksBalanced = quorin::test::NoLeaks;

}  // namespace sensortest
