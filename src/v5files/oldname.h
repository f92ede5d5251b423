// Names of the older image files: a type letter, a non-zero number and an optional "a" that
// marks a derived copy, with the extension ".tif" or ".jpg" (R1234.TIF, R1234a.tif, C12.jpg).
// The name tells the kind of image; a file whose name does not follow the rule may still be
// probed as a container (8-bit images count as 8-bit TIFF, 24-bit images as colour).
#pragma once
#include <cstdint>
#include <string_view>

// Old-file kinds.
enum EOldFileKind : std::int32_t {
    OLD_KIND_NONE = 0,
    OLD_KIND_INTRAORAL = 1,  // "R"
    OLD_KIND_FMS_PAGE = 2,   // "B", "F", "H", "N", "X", "Y"
    OLD_KIND_VIDEO = 3,      // "S"
    OLD_KIND_PANORAMIC = 4,  // "P"
    OLD_KIND_GREY_TIFF = 5,  // "T", or any 8-bit TIFF when probing
    OLD_KIND_COLOUR = 6,     // "C", or any 24-bit TIFF when probing
};

// The number of the naming rule for a stem (the name without folder and extension): the digits
// after the type letter, an "a" or "A" at the end dropped; 0 when the rule fails. Saturates at
// INT32_MAX.
std::int32_t GetOldFileNumber(std::string_view stem);
// True when the name (folder allowed) follows the naming rule.
bool IsOldFileName(std::string_view path);
// True when the name follows the rule and its stem ends in "a" or "A".
bool IsOldDerivedFile(std::string_view path);
// The upper-cased first character of the file name (0 for an empty name).
char GetOldFileLetter(std::string_view path);
// The kind of the name (OLD_KIND_NONE when the rule fails).
std::int32_t GetOldFileNameKind(std::string_view path);
// The kind of the name; when the rule fails and `probe` is set, the file is opened as a
// container, which must then carry a little-endian TIFF header ("II", 42): an 8-bit main image
// gives kind 5, a 24-bit one kind 6, anything else 0.
std::int32_t GetOldFileKind(const char* path, bool probe);
