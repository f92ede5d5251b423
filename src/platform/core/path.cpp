// Paths as the system writes them (either separator, drive letters) and the folder search.
#include "platform/core/path.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/core/confighome.h"

namespace quorin {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string ConfigHome() {
    std::string xdg = EnvOrEmpty("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/') return xdg;  // relative values are ignored (XDG)
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            home = found->pw_dir;
        else
            home = "/tmp";
    }
    return home + "/.config";
}

}  // namespace quorin

namespace win {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool HasDrive(std::string_view path) {
    return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

char FoldAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// '*' any run, '?' any one character; iterative with one backtrack point (no blow-up).
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

SplitPathParts SplitPath(std::string_view path) {
    SplitPathParts parts;
    if (HasDrive(path)) {
        parts.drive = std::string(path.substr(0, 2));
        path.remove_prefix(2);
    }
    std::size_t lastSep = std::string_view::npos;
    for (std::size_t i = path.size(); i-- > 0;) {
        if (IsSeparator(path[i])) {
            lastSep = i;
            break;
        }
    }
    std::string_view name = path;
    if (lastSep != std::string_view::npos) {
        parts.dir = std::string(path.substr(0, lastSep + 1));
        name = path.substr(lastSep + 1);
    }
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        parts.fname = std::string(name.substr(0, dot));
        parts.ext = std::string(name.substr(dot));
    } else {
        parts.fname = std::string(name);
    }
    return parts;
}

std::string PathExtension(std::string_view path) {
    return SplitPath(path).ext;
}

std::string PathStem(std::string_view path) {
    return SplitPath(path).fname;
}

std::string PathFileName(std::string_view path) {
    SplitPathParts parts = SplitPath(path);
    return parts.fname + parts.ext;
}

std::string PathFolder(std::string_view path) {
    SplitPathParts parts = SplitPath(path);
    std::string dir = parts.dir;
    while (dir.size() > 1 && IsSeparator(dir.back())) dir.pop_back();
    // A root folder keeps its separator ("/", "C:\"): without it, it would name another place.
    return parts.drive + dir;
}

std::string PathJoin(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string joined(folder);
    if (!IsSeparator(joined.back()) && !(joined.size() == 2 && HasDrive(joined))) joined += '/';
    joined += name;
    return joined;
}

std::string ToNativePath(std::string_view path) {
    std::string native;
    if (HasDrive(path) && FoldAscii(path[0]) == 'C') {
        native = quorin::EnvOrEmpty("QUORIN_DRIVE_C");
        if (native.empty()) native = quorin::ConfigHome() + "/quorin/drive_c";
        while (native.size() > 1 && native.back() == '/') native.pop_back();
        path.remove_prefix(2);
        if (path.empty() || !IsSeparator(path.front())) native += '/';
    }
    native.reserve(native.size() + path.size());
    for (char c : path) native += (c == '\\') ? '/' : c;
    return native;
}

std::vector<FolderEntry> FindFiles(std::string_view folder, std::string_view pattern) {
    std::vector<FolderEntry> entries;
    std::string native = ToNativePath(folder);
    if (native.empty()) native = ".";
    DIR* dir = opendir(native.c_str());
    if (dir == nullptr) return entries;
    // "*.*" is every name on Windows, with or without a dot.
    const std::string_view effective = (pattern == "*.*") ? std::string_view("*") : pattern;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!WildcardMatch(effective, name)) continue;
        FolderEntry found;
        found.name = std::string(name);
        if (entry->d_type == DT_DIR) {
            found.isDirectory = true;
        } else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            std::string full = native + "/" + found.name;
            found.isDirectory = stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back(std::move(found));
    }
    closedir(dir);
    // Readdir order is arbitrary; the Windows search gives names in (case-blind) order.
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const std::string ua = ToUpperAnsi(a.name), ub = ToUpperAnsi(b.name);
        return ua != ub ? ua < ub : a.name < b.name;
    });
    return entries;
}

bool FileExists(std::string_view path) {
    if (path.empty()) return false;
    struct stat info {};
    return stat(ToNativePath(path).c_str(), &info) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

std::string ToUpperAnsi(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = FoldAscii(c);
    return upper;
}

}  // namespace win
