// The reading roads of the older grey image files, on top of the container: the information
// road (size, depth, kind), the directory road (one directory's size and header record), the
// record roads (the header record alone, for previews), and the packed-DIB road (pixels as a
// packed DIB, enlarged to 380 x 480 when stored at half size, with the integrity check of the
// header record's byte sum). Results are 0 or the readers' codes (oldtiff/oldtiff.h):
// kOldNotReadable for a wrong extension, an unknown layout or a form that cannot be read.
#pragma once
#include <cstdint>
#include <vector>

#include "oldtiff/oldtiff.h"
#include "platform/core/globalmem.h"
#include "v5files/oldheader.h"

// What the information road answers.
struct SOldFileInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t depth = 0;   // 6, 8, 12, 16 or 24
    std::int32_t kind = 0;    // old-file kind (EOldFileKind)
    bool pixelSizes = false;  // the header record carries both pixel sizes
};

// Size, depth and kind of a ".tif" file's main image, reduced image (*subTypeFlag set: the flag
// is cleared when the file has none and the main image is answered instead) or page (kind-2
// names). For 8-bit images the header record is converted; an unknown layout gives
// kOldNotReadable, and so does a picture that no file of this length can hold. Compression and
// strips are not judged here: they are the pixel road's to refuse.
int ReadOldFileInfo(const char* path, std::int32_t page, bool* subTypeFlag, SOldFileInfo* info);

// One directory of an open container: size, compression (1 when absent), depth code and the
// header record brought up to the current layout (left cleared for an unknown layout). Asked for
// the compression of a kind-2 file's reduced image, the pages 0 to 21 are tried instead until
// one can be read. Every out may be null; `dated` as ConvertOldHeaderRecord gives it.
int ReadOldDirectory(std::int32_t kind, OldTiffContext* context, int subfileType, std::int32_t page,
                     std::uint8_t* record, std::int32_t* width, std::int32_t* height,
                     std::int32_t* compression, std::int32_t* depth, std::int32_t* rotation,
                     bool* dated = nullptr);

// The header record of a ".tif" or ".jpg" file (for previews), with the image size and the
// lossy flag (old-style JPEG, the 6-bit half-size form and ".jpg" files). Every out may be null.
int ReadOldFileRecord(const char* path, std::uint8_t* record, std::int32_t* width,
                      std::int32_t* height, std::int32_t* lossy);

// The 290-byte colour record (layout 0x5403) of a colour or video member: a 5-6-5 ".tif", a
// ".jpg" or another ".tif". Every out but `record` may be null.
int ReadOldColourRecord(const char* path, std::uint8_t* record, std::int32_t* width,
                        std::int32_t* height);

// A packed DIB with the header record of its image.
struct SOldFileDIB {
    win::HGLOBAL dib = nullptr;  // owned by the caller after a successful read
    std::uint8_t record[kOldRecordBytes] = {};
    std::int32_t width = 0;  // of the DIB
    std::int32_t height = 0;
    std::int32_t lossy = 0;  // 1 for old-style JPEG strips, the half-size form, ".jpg" files
    std::int32_t rotation = 0;
    std::uint32_t byteSum = 0;  // of the strip data read (1 when 0)
    bool dated = false;         // the record counts as dated (ConvertOldHeaderRecord)
    bool mismatch = false;      // the pixels do not match the record's integrity sum
};

// The packed-DIB road over a ".tif" (main image, or the reduced one when `subTypeFlag` is set)
// or ".jpg" file. Grey images with a header record are checked against its integrity sum and
// stamped with the mark of `markModule` when they fail; a mark that cannot be drawn fails the
// read (kOldNoMemory).
int ReadOldFileDIB(const char* path, bool subTypeFlag, const void* markModule, SOldFileDIB* out);

// The same for one directory of an open container (pages of full-mouth-series files).
int ReadOldDirectoryDIB(OldTiffContext* context, std::int32_t kind, int subfileType,
                        std::int32_t page, bool derived, const void* markModule, SOldFileDIB* out);

// The drawing data of a directory, whole; empty when it has none or when they cannot be read
// (they lie outside the file, or the read fails): the image stands without its drawings.
int ReadOldDrawing(OldTiffContext* context, int subfileType, std::int32_t page,
                   std::vector<std::uint8_t>* data);
