// Shared by the sensor image suites: the numpy/scipy references of tools/fixtures/sensor_ref.py
// and a leak guard.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/leak_guard.h"
#include "common/pixel/pixel_io.h"
#include "common/reference_folder.h"
#include "platform/core/globalmem.h"

namespace sensortest {

// Runs one check of sensor_ref.py over arrays written into a temporary folder.
class RefCheck : public quorin::test::ReferenceFolder {
  public:
    RefCheck() : ReferenceFolder("sensor_ref.py") {}
};

// A JSON list of rows of numbers, each with every digit: [[4096,300,2.2999999999999998],...].
inline std::string JsonRows(const std::vector<std::vector<double>>& rows) {
    std::ostringstream out;
    out.precision(17);
    out << "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out << (r != 0 ? ",[" : "[");
        for (std::size_t k = 0; k < rows[r].size(); ++k) out << (k != 0 ? "," : "") << rows[r][k];
        out << "]";
    }
    out << "]";
    return out.str();
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
