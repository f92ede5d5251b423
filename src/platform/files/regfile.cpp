// Reading and writing ".reg" text. Regedit's rules: a header line, "[root\path]" sections,
// "name"=value lines with \\ and \" escapes, dword: and hex(n): forms with "\" continuations,
// "[-key]" and "name"=- deletions, ";" comments.
#include "platform/files/regfile.h"

#include <cstdio>

#include "platform/core/path.h"
#include "platform/core/textcodec.h"
#include "platform/files/registry.h"

namespace quorin::reg {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr win::DWORD kRegMultiSz = 7;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && win::EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted text starting at s[pos] == '"'; pos ends behind the closing quote.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) c = s[pos++];
        out += c;
    }
    return false;
}

bool ParseHexNumber(std::string_view s, win::DWORD& out) {
    if (s.empty() || s.size() > 8) return false;
    out = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        out = (out << 4) | static_cast<win::DWORD>(d);
    }
    return true;
}

// "aa,bb, cc" (a trailing comma allowed: it ends a continued line).
bool ParseByteList(std::string_view s, std::vector<win::BYTE>& out) {
    out.clear();
    std::size_t pos = 0;
    while (true) {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
        if (pos >= s.size()) return true;
        std::size_t start = pos;
        while (pos < s.size() && HexDigit(s[pos]) >= 0) ++pos;
        win::DWORD byte = 0;
        if (pos - start > 2 || !ParseHexNumber(s.substr(start, pos - start), byte)) return false;
        out.push_back(static_cast<win::BYTE>(byte));
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
        if (pos >= s.size()) return true;
        if (s[pos] != ',') return false;
        ++pos;
    }
}

bool IsTextType(win::DWORD type) {
    return type == win::REG_SZ || type == win::REG_EXPAND_SZ || type == kRegMultiSz;
}

// The data part of a value line (behind "="); false when it cannot be read. `remove` is set for
// "-". Text types given as hex are UTF-16LE in a version 5 file.
bool ParseData(std::string_view data, bool unicode, Value& value, bool& remove) {
    remove = false;
    if (data == "-") {
        remove = true;
        return true;
    }
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        std::string text;
        if (!ParseQuoted(data, pos, text) || !Trim(data.substr(pos)).empty()) return false;
        value.type = win::REG_SZ;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);  // a string from a .reg file is stored with its NUL
        return true;
    }
    if (StartsWithNoCase(data, "dword:")) {
        win::DWORD number = 0;
        if (!ParseHexNumber(Trim(data.substr(6)), number)) return false;
        value.type = win::REG_DWORD;
        value.data = {static_cast<win::BYTE>(number), static_cast<win::BYTE>(number >> 8),
                      static_cast<win::BYTE>(number >> 16), static_cast<win::BYTE>(number >> 24)};
        return true;
    }
    if (!StartsWithNoCase(data, "hex")) return false;
    data.remove_prefix(3);
    win::DWORD type = win::REG_BINARY;
    if (!data.empty() && data.front() == '(') {
        std::size_t close = data.find(')');
        if (close == std::string_view::npos || !ParseHexNumber(data.substr(1, close - 1), type))
            return false;
        data.remove_prefix(close + 1);
    }
    if (data.empty() || data.front() != ':') return false;
    std::vector<win::BYTE> bytes;
    if (!ParseByteList(data.substr(1), bytes)) return false;
    value.type = type;
    if (unicode && IsTextType(type)) {
        std::string text = Utf16LeToAnsi(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        value.data.assign(text.begin(), text.end());
    } else {
        value.data = std::move(bytes);
    }
    return true;
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
}

// A REG_SZ that reads back the same from "name"="text": one NUL, at the end, no line breaks.
bool FitsQuoted(const Value& value) {
    if (value.type != win::REG_SZ || value.data.empty() || value.data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        const win::BYTE c = value.data[i];
        if (c == 0 || c == '\r' || c == '\n') return false;
    }
    return true;
}

void AppendHex(std::string& out, std::size_t lineStart, std::string_view prefix,
               std::string_view bytes) {
    out += prefix;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        out += digits;
        if (i + 1 < bytes.size()) {
            out += ',';
            if (out.size() - lineStart > 76) {  // regedit wraps long lists the same way
                out += "\\\r\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

void AppendValue(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        out += '"';
        AppendEscaped(out, value.name);
        out += '"';
    }
    out += '=';
    const std::string_view raw(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    if (FitsQuoted(value)) {
        out += '"';
        AppendEscaped(out, raw.substr(0, raw.size() - 1));
        out += '"';
    } else if (value.type == win::REG_DWORD && value.data.size() == 4) {
        char text[16];
        std::snprintf(
            text, sizeof text, "dword:%08x",
            static_cast<unsigned>(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                  (static_cast<win::DWORD>(value.data[3]) << 24)));
        out += text;
    } else if (value.type == win::REG_BINARY) {
        AppendHex(out, lineStart, "hex:", raw);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
        AppendHex(out, lineStart, prefix,
                  IsTextType(value.type) ? AnsiToUtf16Le(raw) : std::string(raw));
    }
    out += "\r\n";
}

}  // namespace

std::string NormaliseKeyPath(std::string_view path) {
    std::string out;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) {
            if (!out.empty()) out += '\\';
            out += path.substr(pos, end - pos);
        }
        pos = end + 1;
    }
    return out;
}

std::string UpperKey(std::string_view text) {
    return win::ToUpperAnsi(text);
}

Key* FindKey(Hive& hive, std::string_view normalisedPath) {
    auto it = hive.keys.find(UpperKey(normalisedPath));
    return it == hive.keys.end() ? nullptr : &it->second;
}

bool NameFits(std::string_view name) {
    return name.find_first_of("\r\n") == std::string_view::npos;
}

Key& EnsureKey(Hive& hive, std::string_view normalisedPath) {
    // Parents first: the root and every prefix ending before a separator.
    std::size_t pos = 0;
    while (true) {
        std::size_t sep = normalisedPath.find('\\', pos);
        std::string_view prefix =
            normalisedPath.substr(0, sep == std::string_view::npos ? normalisedPath.size() : sep);
        auto [it, inserted] = hive.keys.try_emplace(UpperKey(prefix));
        if (inserted) it->second.path = std::string(prefix);
        if (sep == std::string_view::npos) return it->second;
        pos = sep + 1;
    }
}

ParseResult ParseRegText(std::string_view fileBytes, std::string_view rootName, Hive& hive) {
    const std::string text = DecodeTextFile(fileBytes);
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
    }
    ParseResult result;
    auto malformed = [&](std::size_t index) {
        if (result.malformedLines++ == 0) result.firstMalformedLine = static_cast<int>(index + 1);
    };
    bool headerSeen = false;
    bool unicode = true;
    Key* current = nullptr;
    bool inSkippedSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = Trim(lines[i]);
        if (line.empty()) continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == kHeader5) continue;
            if (line == kHeader4) {
                unicode = false;
                continue;
            }
            malformed(i);  // read on: a hand-written file without its header still counts
        }
        if (line.front() == ';') continue;
        if (line.front() == '[') {
            current = nullptr;
            inSkippedSection = true;
            if (line.back() != ']') {
                malformed(i);
                continue;
            }
            std::string_view inner = line.substr(1, line.size() - 2);
            const bool remove = !inner.empty() && inner.front() == '-';
            if (remove) inner.remove_prefix(1);
            const std::size_t sep = inner.find('\\');
            if (!win::EqualsNoCase(inner.substr(0, sep), rootName)) {
                malformed(i);
                continue;
            }
            const std::string path = NormaliseKeyPath(
                sep == std::string_view::npos ? std::string_view() : inner.substr(sep + 1));
            if (remove) {
                const std::string upper = UpperKey(path);
                for (auto it = hive.keys.lower_bound(upper); it != hive.keys.end();) {
                    const std::string& k = it->first;
                    const bool inside =
                        k == upper || upper.empty() ||
                        (k.size() > upper.size() && k.compare(0, upper.size(), upper) == 0 &&
                         k[upper.size()] == '\\');
                    if (!inside) {
                        if (k.compare(0, upper.size(), upper) != 0) break;
                        ++it;
                        continue;
                    }
                    it = hive.keys.erase(it);
                }
                continue;
            }
            current = &EnsureKey(hive, path);
            inSkippedSection = false;
            continue;
        }
        if (line.front() != '"' && line.front() != '@') {
            malformed(i);
            continue;
        }
        Value value;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, value.name)) {
            malformed(i);
            continue;
        }
        std::string_view rest = Trim(line.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            malformed(i);
            continue;
        }
        rest = Trim(rest.substr(1));
        // A hex list goes on over the following lines while a line ends in "\".
        std::string joined;
        const std::size_t firstLine = i;
        if (StartsWithNoCase(rest, "hex") && !rest.empty() && rest.back() == '\\') {
            joined.assign(rest.substr(0, rest.size() - 1));
            while (i + 1 < lines.size()) {
                std::string_view next = Trim(lines[++i]);
                const bool more = !next.empty() && next.back() == '\\';
                joined += more ? next.substr(0, next.size() - 1) : next;
                if (!more) break;
            }
            rest = joined;
        }
        if (current == nullptr) {
            if (!inSkippedSection) malformed(firstLine);  // a value before any section
            continue;
        }
        bool remove = false;
        if (!ParseData(rest, unicode, value, remove)) {
            malformed(firstLine);
            continue;
        }
        const std::string upperName = UpperKey(value.name);
        if (remove) {
            current->values.erase(upperName);
            continue;
        }
        auto [it, inserted] = current->values.try_emplace(upperName);
        if (inserted) it->second.name = value.name;  // the first spelling of a name stays
        it->second.type = value.type;
        it->second.data = std::move(value.data);
    }
    return result;
}

std::string WriteRegText(const Hive& hive, std::string_view rootName) {
    std::string out(kHeader5);
    out += "\r\n\r\n";
    for (const auto& [upper, key] : hive.keys) {
        out += '[';
        out += rootName;
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\r\n";
        for (const auto& [upperName, value] : key.values) AppendValue(out, value);
        out += "\r\n";
    }
    return out;
}

}  // namespace quorin::reg
