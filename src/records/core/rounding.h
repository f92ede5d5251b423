// Rounding of computed values to whole numbers: a value to the type that stores it, and the
// platform's MulDiv.
#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorin {

// value + 0.5 truncated toward zero (for value >= -0.5 that is rounding half up), held inside
// T's range: beyond either end the result is that end; NaN gives T's lowest value.
template <class T>
T RoundHalfUp(double value) {
    const double rounded = std::trunc(value + 0.5);
    if (!(rounded > static_cast<double>(std::numeric_limits<T>::min())))
        return std::numeric_limits<T>::min();
    if (!(rounded < static_cast<double>(std::numeric_limits<T>::max())))
        return std::numeric_limits<T>::max();
    return static_cast<T>(rounded);
}

// Windows' MulDiv: a x b / c in 64 bits, rounded half away from zero; -1 for c = 0 or a result
// beyond 32 bits.
inline std::int32_t MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return -1;
    const __int128 product = static_cast<__int128>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const __int128 magnitude = product < 0 ? -product : product;
    const __int128 divisor = c < 0 ? -static_cast<__int128>(c) : c;
    __int128 quotient = (magnitude + divisor / 2) / divisor;
    if (negative) quotient = -quotient;
    if (quotient > std::numeric_limits<std::int32_t>::max() ||
        quotient < std::numeric_limits<std::int32_t>::min())
        return -1;
    return static_cast<std::int32_t>(quotient);
}

}  // namespace quorin
