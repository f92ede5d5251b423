// The platform's rectangle: left, top, right and bottom edges in pixels (right and bottom
// exclusive). The histograms take their counted region as one.
#pragma once
#include <cstdint>

namespace win {

struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

}  // namespace win
