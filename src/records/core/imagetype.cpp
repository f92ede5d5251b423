#include "records/core/imagetype.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/core/path.h"
#include "records/core/textops.h"

namespace {

struct TypeNaming {
    std::string_view extension;
    std::string_view prefix;
};

// Extension and prefix written for each code with an entry of its own; the rest get ".qv", "".
constexpr std::array<TypeNaming, 20> kTypeNaming = {{
    {".qv", ""},        // 0 unknown
    {".zel", "R"},      // 1
    {".wlk", "S"},      // 2
    {".pano", "P"},     // 3
    {".sc", "C"},       // 4
    {".sc", "C"},       // 5
    {".ceph", "H"},     // 6
    {".dx", "T"},       // 7
    {".io", "T"},       // 8
    {".vl", "D"},       // 9
    {".sc", "C"},       // 10
    {".fms", "F"},      // 11
    {".qv", ""},        // 12 context file: no entry of its own
    {".cr", "CR"},      // 13
    {".crio", "CI"},    // 14
    {".crpano", "CP"},  // 15
    {".crceph", "CH"},  // 16
    {".qv", ""},        // 17 volume folder
    {".sup", "U"},      // 18
    {".qv", ""},        // 19 plain DICOM
}};

const TypeNaming& NamingOf(std::int32_t type) {
    if (type < 0 || type >= static_cast<std::int32_t>(kTypeNaming.size())) return kTypeNaming[0];
    return kTypeNaming[static_cast<std::size_t>(type)];
}

struct ExtensionType {
    std::string_view extension;
    std::int32_t type;
};

// Extensions recognised when a file is opened, in the order they are tried.
constexpr std::array<ExtensionType, 18> kExtensionTypes = {{
    {".dx", IMAGE_TYPE_DX},
    {".dxfp", IMAGE_TYPE_DX},
    {".io", IMAGE_TYPE_IO},
    {".iofp", IMAGE_TYPE_IO},
    {".sc", IMAGE_TYPE_SC},
    {".vl", IMAGE_TYPE_VL},
    {".cr", IMAGE_TYPE_CR},
    {".zel", IMAGE_TYPE_ZEL},
    {".pano", IMAGE_TYPE_PANO},
    {".ceph", IMAGE_TYPE_CEPH},
    {".wlk", IMAGE_TYPE_WLK},
    {".fms", IMAGE_TYPE_FMS},
    {".sup", IMAGE_TYPE_SUP},
    {".cqv", IMAGE_TYPE_CONTEXT},
    {".crio", IMAGE_TYPE_CRIO},
    {".crpano", IMAGE_TYPE_CRPANO},
    {".crceph", IMAGE_TYPE_CRCEPH},
    {".dcm", IMAGE_TYPE_DICOM},
}};

// Extensions of the current native files (name status 0).
constexpr std::array<std::string_view, 17> kNativeExtensions = {
    ".qv",     ".zel",    ".wlk", ".pano", ".ceph", ".dx",   ".dxfp", ".cr",  ".crio",
    ".crpano", ".crceph", ".vl",  ".sc",   ".io",   ".iofp", ".sup",  ".fms",
};

// First letters of the old numbered TIFF files.
constexpr std::string_view kOldTiffLetters = "TDCRFPHSBXNY";

bool EndsWithLetterA(std::string_view stem) {
    return !stem.empty() && (stem.back() == 'A' || stem.back() == 'a');
}

}  // namespace

std::string& GetImageExtension(std::int32_t type, std::string& text) {
    text = NamingOf(type).extension;
    return text;
}

std::string GetImageExtension(std::int32_t type) {
    return std::string(NamingOf(type).extension);
}

std::string& GetImagePrefix(std::int32_t type, std::string& text) {
    text = NamingOf(type).prefix;
    return text;
}

std::string GetImagePrefix(std::int32_t type) {
    return std::string(NamingOf(type).prefix);
}

bool IsVolumeFolder(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    const std::string_view last =
        separator == std::string_view::npos ? path : path.substr(separator + 1);
    return win::EqualsNoCase(quorin::Left(last, 4), "VOL_");
}

std::int32_t GetImageTypeFromExtension(std::string_view path) {
    if (IsVolumeFolder(path)) return IMAGE_TYPE_VOLUME;
    const std::string extension = win::PathExtension(path);
    for (const ExtensionType& entry : kExtensionTypes) {
        if (win::EqualsNoCase(extension, entry.extension)) return entry.type;
    }
    return IMAGE_TYPE_UNKNOWN;
}

std::int32_t GetImageFileNumber(std::string_view name) {
    const std::size_t firstDigit = name.find_first_of("0123456789");
    if (firstDigit == std::string_view::npos) return 0;
    const std::size_t lastDot = name.rfind('.');
    // Text from the first digit up to the last dot; a dot before the digit leaves nothing, as
    // the framework's clamped substring does.
    const std::int64_t count =
        lastDot == std::string_view::npos
            ? static_cast<std::int64_t>(name.size())
            : static_cast<std::int64_t>(lastDot) - static_cast<std::int64_t>(firstDigit);
    return quorin::LeadingDigitsToInt32(
        quorin::Mid(name, static_cast<std::int64_t>(firstDigit), count));
}

bool GetNextImageFileName(std::int32_t type, std::string_view folder, std::string& out) {
    out.clear();
    if (folder.empty()) return false;
    const bool volume = type == IMAGE_TYPE_VOLUME;
    const std::string prefix = GetImagePrefix(type);
    const std::string pattern = volume ? std::string("*.*") : prefix + "*";

    std::int32_t largest = 0;
    for (const win::FolderEntry& entry : win::FindFiles(folder, pattern)) {
        const win::SplitPathParts parts = win::SplitPath(entry.name);
        if (parts.ext == ".txt" || parts.ext == ".xml") continue;
        if (volume && !entry.isDirectory) continue;
        largest = std::max(largest, GetImageFileNumber(parts.fname));
    }
    // The next number would not fit: no name rather than a wrapped or repeated one.
    if (largest == std::numeric_limits<std::int32_t>::max()) return false;
    out = prefix;
    if (volume) out += "VOL_";
    out += std::to_string(largest + 1);
    return true;
}

std::uint32_t CheckImageFileName(std::string_view path) {
    const win::SplitPathParts parts = win::SplitPath(path);
    for (std::string_view native : kNativeExtensions) {
        if (win::EqualsNoCase(parts.ext, native)) return IMAGE_NAME_NATIVE;
    }
    if (win::EqualsNoCase(parts.ext, ".dcm")) return IMAGE_NAME_DICOM;
    if (!win::EqualsNoCase(parts.ext, ".tif")) return IMAGE_NAME_OTHER;

    const std::string_view stem = parts.fname;
    if (stem.empty()) return IMAGE_NAME_OTHER;
    const std::string first = win::ToUpperAnsi(stem.substr(0, 1));
    if (kOldTiffLetters.find(first[0]) == std::string_view::npos) return IMAGE_NAME_OTHER;
    if (quorin::IsAllDigits(stem.substr(1))) return IMAGE_NAME_OLD_TIFF;
    // The whole stem is examined (no cut at the path limit: a cut could hide a non-digit).
    if (EndsWithLetterA(stem) && quorin::IsAllDigits(stem.substr(1, stem.size() - 2))) {
        return IMAGE_NAME_OLD_TIFF_DERIVED;
    }
    return IMAGE_NAME_OTHER;
}

bool IsDerivedImageFileName(std::string_view path) {
    switch (CheckImageFileName(path)) {
        case IMAGE_NAME_OLD_TIFF_DERIVED:
            return true;
        case IMAGE_NAME_NATIVE:
            break;
        default:
            return false;
    }
    const std::string stem = win::PathStem(path);
    if (!EndsWithLetterA(stem)) return false;
    // Native names carry a one- or two-letter prefix; the digits are checked from the third
    // character of the stem without its "A".
    return quorin::IsAllDigits(quorin::Mid(stem, 2, static_cast<std::int64_t>(stem.size()) - 3));
}
