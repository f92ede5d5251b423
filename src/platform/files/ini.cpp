// INI files with the profile API's rules. The file is read again on every call: the system
// expects edits made while it runs to count.
#include "platform/files/ini.h"

#include <locale.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/core/textcodec.h"
#include "platform/files/file.h"

namespace win {
namespace {

constexpr std::uintmax_t kMaxIniBytes = 16u << 20;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::string> ReadIniText(const char* path) {
    if (path == nullptr || *path == '\0') return std::nullopt;
    std::string bytes;
    if (quorin::ReadRegularFile(path, kMaxIniBytes, bytes) != ERROR_SUCCESS) return std::nullopt;
    return quorin::DecodeTextFile(bytes);
}

struct Entry {
    std::string_view section;
    std::string_view key;    // empty for a section line
    std::string_view value;  // trimmed, not yet unquoted
    bool isSection = false;
};

std::vector<Entry> Parse(std::string_view text) {
    std::vector<Entry> entries;
    std::string_view section;
    bool inSection = false;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            section = Trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            inSection = true;
            entries.push_back({section, {}, {}, true});
            continue;
        }
        std::size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos) continue;
        entries.push_back({section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), false});
    }
    return entries;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

DWORD CopyValue(std::string_view value, char* buffer, DWORD size) {
    const std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    if (n > 0) std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Names each ending in NUL, the list ending in one more; a list that does not fit is cut and still
// ends in two NULs, and the answer is size - 2, as the profile API does.
DWORD CopyList(const std::vector<std::string_view>& names, char* buffer, DWORD size) {
    std::string list;
    for (std::string_view name : names) {
        list += name;
        list += '\0';
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                               char* buffer, DWORD size, const char* path) {
    if (buffer == nullptr || size == 0) return 0;
    const std::optional<std::string> text = ReadIniText(path);
    const std::vector<Entry> entries = text ? Parse(*text) : std::vector<Entry>{};
    if (section == nullptr) {
        std::vector<std::string_view> names;
        for (const Entry& e : entries)
            if (e.isSection) names.push_back(e.section);
        return CopyList(names, buffer, size);
    }
    if (key == nullptr) {
        std::vector<std::string_view> names;
        for (const Entry& e : entries)
            if (!e.isSection && EqualsNoCase(e.section, section)) names.push_back(e.key);
        return CopyList(names, buffer, size);
    }
    for (const Entry& e : entries) {
        if (!e.isSection && EqualsNoCase(e.section, section) && EqualsNoCase(e.key, key))
            return CopyValue(Unquote(e.value), buffer, size);
    }
    std::string_view fallback = defaultText != nullptr ? defaultText : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    return CopyValue(fallback, buffer, size);
}

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* path) {
    char text[64];
    if (GetPrivateProfileStringA(section, key, "", text, sizeof text, path) == 0 ||
        section == nullptr || key == nullptr)
        return static_cast<UINT>(defaultValue);
    // Digits by hand: no locale, no exceptions; overflow wraps as the system's parser did.
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    UINT number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) number = number * 10u + static_cast<UINT>(*p - '0');
    return negative ? 0u - number : number;
}

double AtofClassic(const char* text) {
    if (text == nullptr) return 0.0;
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (classic == locale_t{}) return std::strtod(text, nullptr);  // no locale object: best effort
    return strtod_l(text, nullptr, classic);
}

}  // namespace win
