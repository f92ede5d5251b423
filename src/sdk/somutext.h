// Bounded texts of the SDK record's fixed fields: writing cuts a text to the field's width - 1
// characters and terminates it; reading never runs past the field, terminated or not.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quorin {

// Writes `text` into a field of `width` bytes: at most width - 1 characters, zero-padded.
inline void PutFieldText(char* field, std::size_t width, std::string_view text) {
    if (field == nullptr || width == 0) return;
    const std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
    if (n > 0) std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}

template <std::size_t N>
void PutFieldText(char (&field)[N], std::string_view text) {
    PutFieldText(field, N, text);
}

// The text of a field of `width` bytes, up to its first NUL or the field's end.
inline std::string GetFieldText(const char* field, std::size_t width) {
    if (field == nullptr) return {};
    const void* nul = std::memchr(field, 0, width);
    const std::size_t n = nul ? static_cast<const char*>(nul) - field : width;
    return std::string(field, n);
}

template <std::size_t N>
std::string GetFieldText(const char (&field)[N]) {
    return GetFieldText(field, N);
}

// Paths are never cut: false (field emptied) when the text does not fit.
template <std::size_t N>
bool PutFieldPath(char (&field)[N], std::string_view text) {
    if (text.size() >= N) {
        std::memset(field, 0, N);
        return false;
    }
    PutFieldText(field, N, text);
    return true;
}

}  // namespace quorin
