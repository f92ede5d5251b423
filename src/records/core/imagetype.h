// Image type codes and the file-name rules built on them: extension and name prefix of a type,
// type of a path, the number inside a name, the next free numbered name in a folder, and the
// classification of a name (current native file, DICOM file, old numbered TIFF, derived copy).
// Only path texts and one folder listing are touched, never file contents.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The kind of an image or data file. Stored as a signed 32-bit code in headers and records;
// functions take the raw code so that unknown values read from files stay representable.
enum EImageType : std::int32_t {
    IMAGE_TYPE_UNKNOWN = 0,
    IMAGE_TYPE_ZEL = 1,       // intra-oral sensor radiograph, ".zel"
    IMAGE_TYPE_WLK = 2,       // intra-oral camera image, ".wlk"
    IMAGE_TYPE_PANO = 3,      // panoramic radiograph, ".pano"
    IMAGE_TYPE_SC_OLD4 = 4,   // scanned image (code of old files), ".sc"
    IMAGE_TYPE_SC_OLD5 = 5,   // scanned image (code of old files), ".sc"
    IMAGE_TYPE_CEPH = 6,      // cephalometric radiograph, ".ceph"
    IMAGE_TYPE_DX = 7,        // extra-oral X-ray, processed copies of 3, 6, 7 and CR, ".dx"
    IMAGE_TYPE_IO = 8,        // intra-oral X-ray, processed copies of 1 and 8, ".io"
    IMAGE_TYPE_VL = 9,        // visible-light colour image, processed copies of 2 and 9, ".vl"
    IMAGE_TYPE_SC = 10,       // scanned image, ".sc"
    IMAGE_TYPE_FMS = 11,      // full-mouth-series group file, ".fms"
    IMAGE_TYPE_CONTEXT = 12,  // context file, ".cqv"
    IMAGE_TYPE_CR = 13,       // computed-radiography image, ".cr"
    IMAGE_TYPE_CRIO = 14,     // CR intra-oral image, ".crio"
    IMAGE_TYPE_CRPANO = 15,   // CR panoramic image, ".crpano"
    IMAGE_TYPE_CRCEPH = 16,   // CR cephalometric image, ".crceph"
    IMAGE_TYPE_VOLUME = 17,   // volume folder "VOL_<n>"
    IMAGE_TYPE_SUP = 18,      // ".sup" file
    IMAGE_TYPE_DICOM = 19,    // plain DICOM file, ".dcm"
};

// Result of CheckImageFileName.
enum EImageNameStatus : std::uint32_t {
    IMAGE_NAME_NATIVE = 0,            // current native image file (".qv", ".zel", ... ".fms")
    IMAGE_NAME_DICOM = 1,             // ".dcm"
    IMAGE_NAME_OLD_TIFF = 2,          // ".tif", type letter then only digits
    IMAGE_NAME_OLD_TIFF_DERIVED = 3,  // ".tif", type letter, digits, then "A"
    IMAGE_NAME_OTHER = 4,
};

// Extension written for a new file of `type` (dot included); ".qv" for codes without one of
// their own. Sets `text` and returns it.
std::string& GetImageExtension(std::int32_t type, std::string& text);
std::string GetImageExtension(std::int32_t type);
// Name prefix of a new file of `type` ("R", "CR"...); empty for codes without one.
std::string& GetImagePrefix(std::int32_t type, std::string& text);
std::string GetImagePrefix(std::int32_t type);

// Image type code of a path by its extension (any case); 17 for a volume folder; 0 when unknown.
std::int32_t GetImageTypeFromExtension(std::string_view path);
// True when the last component of the path begins with "VOL_" (any case).
bool IsVolumeFolder(std::string_view path);
// The number inside a file name or title: the leading digits of the text that starts at its
// first digit and ends before its last dot; 0 when there is none; saturates at INT32_MAX.
std::int32_t GetImageFileNumber(std::string_view name);
// The next free name of `type` in `folder` (prefix, "VOL_" for volumes, largest number found
// plus 1; no folder, no extension). False with an empty `out` when the folder text is empty or
// the largest number found is already INT32_MAX.
bool GetNextImageFileName(std::int32_t type, std::string_view folder, std::string& out);
// Classification of a path by its name (EImageNameStatus).
std::uint32_t CheckImageFileName(std::string_view path);
// True when the file is a derived ("A") copy by the native naming rule.
bool IsDerivedImageFileName(std::string_view path);
