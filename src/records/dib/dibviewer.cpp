// Two small routines of the viewer: fitting a box to an image's aspect ratio and finding the
// dot of a file extension.
#include "records/core/rounding.h"
#include "records/dib/dib.h"

void FitSizeToAspect(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t* width,
                     std::int32_t* height) {
    if (width == nullptr || height == nullptr) return;
    const double fitted = sourceHeight != 0
                              ? static_cast<double>(*height) * sourceWidth / sourceHeight
                              : static_cast<double>(sourceWidth);
    if (*width >= fitted) *width = quorin::RoundHalfUp<std::int32_t>(fitted);
    if (sourceWidth != 0)
        *height = quorin::RoundHalfUp<std::int32_t>(static_cast<double>(*width) * sourceHeight /
                                                    sourceWidth);
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
