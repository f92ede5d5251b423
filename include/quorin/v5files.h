// Exported functions that read the maker's older image files (TIFF files named by a type letter
// and a number, R1234.TIF, with companion ".jpg" and ".tif" colour members): whether a path is
// such a file, its full-mouth-series layout, its size and kind, its header records and pixels,
// and the preview record of the open dialog.
//
// Result codes of V5Files_ReadQVImageInformation and V5Files_ReadImage: 0 success, 1 the file
// cannot be opened, 2 a read failed, 5 no image of the wanted kind, 7 not a readable older file
// (wrong extension, unknown layout, unsupported type, sizes or depths that disagree), 8 out of
// memory; 3 and 6 are kept for the container's codes -3 and -7; other negative codes pass as
// they are.
#pragma once
#include <quorin/basicpreview.h>
#include <quorin/export.h>
#include <quorin/header.h>

#include <string>

extern "C" {

// Non-zero when the path names an older file, or (when the name rule fails) is a little-endian
// TIFF file whose main image is 8 or 24 bits.
QUORIN_EXPORT int V5Files_IsOldQuorinFile(const char* path);

// The full-mouth-series layout of a page file's name: "B" 1, "F" 2, "X" 3, "Y" 4, "H" 5, "N" 6;
// 0 for every other name.
QUORIN_EXPORT int V5Files_IsFMSFile(const char* path);

// Fills the header's size, depth, path and type. Sub-type 2 asks for the reduced image (the
// sub-type becomes 1 when there is none). The size reported is the image directory's, half-size
// images counting at 380 x 480; it is never more than the file could hold. The compression and
// the strips are not judged here: V5Files_ReadImage refuses what it cannot read with its own
// codes. A buffer for V5Files_ReadImage holds width x height x samples bytes.
QUORIN_EXPORT int V5Files_ReadQVImageInformation(const char* path, CHeader* header, int pageNumber);

// Fills the header's records by its image type (set by V5Files_ReadQVImageInformation) and,
// when `pixels` is not null, the pixels: rows top-down without padding, colour as red, green,
// blue. The header's size and depth must be those of the image delivered (else 7).
QUORIN_EXPORT int V5Files_ReadImage(const char* path, CHeader* header, int pageIndex,
                                    unsigned char* pixels);

// Fills the preview record from the file's header record; 0, or 7 when it cannot.
QUORIN_EXPORT int V5Files_ReadBasicPreviewInformation(const std::string& path,
                                                      SBasicPreviewInfo& info);

}  // extern "C"
