// The picture the codec benchmarks compress and decode.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace quorin::bench {

// A picture with smooth areas, edges and sensor noise, as radiographs and photographs have.
inline std::vector<std::uint8_t> TestPicture(int width, int height, int samples, unsigned seed) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * samples);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < samples; ++s) {
                double v =
                    128 + 80 * std::sin(x / (40.0 + 10 * s)) * std::cos(y / 55.0) + noise(random);
                if (((x / 64) + (y / 64)) % 7 == 0) v += 30;
                pixels[(static_cast<std::size_t>(y) * width + x) * samples + s] =
                    static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
            }
    return pixels;
}

}  // namespace quorin::bench
