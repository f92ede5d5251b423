// qvdump's reading of the maker's older image files (R1234.TIF and its kin): the header model
// and preview record that the V5Files exports fill, and the pixels as a BMP file.
#pragma once

namespace qvdump {

struct OldFileOptions {
    const char* bmpPath = nullptr;  // write the pixels here
    int page = 0;                   // page of a full-mouth-series file
    bool reduced = false;           // the reduced image (sub-type 2)
};

// True when the path is an older file (by its name, or a little-endian 8- or 24-bit TIFF).
bool IsOldFile(const char* path);
// Prints what the exports read of the file, their refusals on standard error; false when they
// refused it or the BMP could not be written.
bool DumpOldFile(const char* path, const OldFileOptions& options);

}  // namespace qvdump
