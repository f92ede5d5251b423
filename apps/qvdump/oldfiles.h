// qvdump's reading of the maker's older image files (R1234.TIF and its kin): the header model
// and preview record that the V5Files exports fill, and the pixels as a BMP file.
#pragma once

namespace qvdump {

struct OldFileOptions {
    const char* bmpPath = nullptr;  // write the pixels here (a name as the system reads it)
    int page = 0;                   // page of a full-mouth-series file
    bool reduced = false;           // the reduced image (sub-type 2)
};

// True when the library path (names.h) is an older file (by its name, or a little-endian 8- or
// 24-bit TIFF).
bool IsOldFile(const char* path);
// Prints what the exports read of the file the user named `name` (at the library path `path`),
// their refusals on standard error; false when they refused it, the page or reduced image asked
// for is not in it, or the BMP (bmpPath, a name as the system reads it) could not be written.
bool DumpOldFile(const char* name, const char* path, const OldFileOptions& options);

}  // namespace qvdump
