// Two small routines of the viewer: fitting a box to an image's aspect ratio and finding the
// dot of a file extension.
#include <cmath>

#include "records/dib.h"

namespace {

// Rounds a half up and truncates toward zero, kept inside the 32-bit range.
std::int32_t RoundHalfUp(double value) {
    const double rounded = std::trunc(value + 0.5);
    if (!(rounded > INT32_MIN)) return INT32_MIN;
    if (!(rounded < INT32_MAX)) return INT32_MAX;
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

void FitSizeToAspect(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t* width,
                     std::int32_t* height) {
    if (width == nullptr || height == nullptr) return;
    const double fitted = sourceHeight != 0
                              ? static_cast<double>(*height) * sourceWidth / sourceHeight
                              : static_cast<double>(sourceWidth);
    if (*width >= fitted) *width = RoundHalfUp(fitted);
    if (sourceWidth != 0)
        *height = RoundHalfUp(static_cast<double>(*width) * sourceHeight / sourceWidth);
}

const char* FindExtensionDot(const char* text) {
    if (text == nullptr) return nullptr;
    // The code page has one byte per character, so the next character is the next byte.
    for (; *text != '\0'; ++text)
        if (*text == '.') return text;
    return nullptr;
}

char* FindExtensionDot(char* text) {
    return const_cast<char*>(FindExtensionDot(static_cast<const char*>(text)));
}
