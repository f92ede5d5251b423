#include "records/core/textops.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quorin {

std::string_view Left(std::string_view text, std::int64_t count) {
    if (count <= 0) return {};
    return text.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(
                              count, static_cast<std::int64_t>(text.size()))));
}

std::string_view Mid(std::string_view text, std::int64_t first, std::int64_t count) {
    const auto size = static_cast<std::int64_t>(text.size());
    first = std::clamp<std::int64_t>(first, 0, size);
    count = std::clamp<std::int64_t>(count, 0, size - first);
    return text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

std::string_view Right(std::string_view text, std::int64_t count) {
    const auto size = static_cast<std::int64_t>(text.size());
    count = std::clamp<std::int64_t>(count, 0, size);
    return text.substr(static_cast<std::size_t>(size - count));
}

std::int32_t LeadingDigitsToInt32(std::string_view text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min(value * 10 + (c - '0'), kMax);
    }
    return static_cast<std::int32_t>(value);
}

bool IsAllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace quorin

namespace {

char* CopyToField(char* field, std::size_t fieldSize, std::string_view text) {
    if (field == nullptr) return nullptr;
    const std::size_t n = std::min(text.size(), fieldSize - 1);
    std::memmove(field, text.data(), n);
    field[n] = '\0';
    return field;
}

char* CopyToField(char* field, std::size_t fieldSize, const char* text) {
    if (text == nullptr) return nullptr;
    // Never read past the field's width of the source: it may be an unterminated record field.
    return CopyToField(field, fieldSize, std::string_view(text, ::strnlen(text, fieldSize - 1)));
}

}  // namespace

char* CopyToField9(char* field, const char* text) {
    return CopyToField(field, 9, text);
}
char* CopyToField17(char* field, const char* text) {
    return CopyToField(field, 17, text);
}
char* CopyToField65(char* field, const char* text) {
    return CopyToField(field, 65, text);
}
char* CopyToField9(char* field, std::string_view text) {
    return CopyToField(field, 9, text);
}
char* CopyToField17(char* field, std::string_view text) {
    return CopyToField(field, 17, text);
}
char* CopyToField65(char* field, std::string_view text) {
    return CopyToField(field, 65, text);
}
