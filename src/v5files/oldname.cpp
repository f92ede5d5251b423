// The naming rule of the older image files.
#include "v5files/oldname.h"

#include <climits>
#include <string>

#include "oldtiff/oldtiff.h"
#include "platform/core/path.h"

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::int32_t KindOfLetter(char letter) {
    switch (Upper(letter)) {
        case 'R':
            return OLD_KIND_INTRAORAL;
        case 'B':
        case 'F':
        case 'H':
        case 'N':
        case 'X':
        case 'Y':
            return OLD_KIND_FMS_PAGE;
        case 'S':
            return OLD_KIND_VIDEO;
        case 'P':
            return OLD_KIND_PANORAMIC;
        case 'T':
            return OLD_KIND_GREY_TIFF;
        case 'C':
            return OLD_KIND_COLOUR;
        default:
            return OLD_KIND_NONE;
    }
}

// The stem as the rule sees it: the name without extension, cut at its first dot.
std::string_view RuleStem(std::string_view name) {
    const std::size_t dot = name.find('.');
    return dot == std::string_view::npos ? name : name.substr(0, dot);
}

bool HasOldExtension(std::string_view path) {
    const std::string ext = win::ToUpperAnsi(win::PathExtension(path));
    return ext == ".TIF" || ext == ".JPG";
}

// Number and derived mark of a stem; number 0 when the rule fails.
std::int32_t ParseStem(std::string_view stem, bool* derived) {
    if (derived != nullptr) *derived = false;
    if (stem.empty() || KindOfLetter(stem[0]) == OLD_KIND_NONE) return 0;
    std::string_view digits = stem.substr(1);
    bool isDerived = false;
    if (!digits.empty() && Upper(digits.back()) == 'A') {
        digits.remove_suffix(1);
        isDerived = true;
    }
    if (digits.empty()) return 0;
    std::int64_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = std::min<std::int64_t>(number * 10 + (c - '0'), INT32_MAX);
    }
    if (number == 0) return 0;
    if (derived != nullptr) *derived = isDerived;
    return static_cast<std::int32_t>(number);
}

}  // namespace

std::int32_t GetOldFileNumber(std::string_view stem) {
    return ParseStem(stem, nullptr);
}

bool IsOldFileName(std::string_view path) {
    if (!HasOldExtension(path)) return false;
    return ParseStem(RuleStem(win::PathFileName(path)), nullptr) != 0;
}

bool IsOldDerivedFile(std::string_view path) {
    if (!HasOldExtension(path)) return false;
    bool derived = false;
    return ParseStem(RuleStem(win::PathFileName(path)), &derived) != 0 && derived;
}

char GetOldFileLetter(std::string_view path) {
    const std::string name = win::PathFileName(path);
    return name.empty() ? '\0' : Upper(name[0]);
}

std::int32_t GetOldFileNameKind(std::string_view path) {
    if (!IsOldFileName(path)) return OLD_KIND_NONE;
    return KindOfLetter(GetOldFileLetter(path));
}

std::int32_t GetOldFileKind(const char* path, bool probe) {
    if (path == nullptr) return OLD_KIND_NONE;
    if (const std::int32_t kind = GetOldFileNameKind(path); kind != OLD_KIND_NONE) return kind;
    if (!probe) return OLD_KIND_NONE;
    // A file named otherwise must at least be a little-endian TIFF: a JPEG or DICOM file must
    // not pass as an older file.
    OldTiffContext* raw = nullptr;
    if (OpenOldTiff(path, &raw, true) != 0) return OLD_KIND_NONE;
    OldTiffHolder context(raw);
    std::int32_t depth = 0;
    if (ReadOldTiffInfo(context.get(), kOldTiffMainImage, 0, nullptr, nullptr, nullptr, &depth,
                        nullptr, nullptr) != 0)
        return OLD_KIND_NONE;
    return depth == 8 ? OLD_KIND_GREY_TIFF : depth == 24 ? OLD_KIND_COLOUR : OLD_KIND_NONE;
}
