// Container of the older image files: little-endian TIFF files whose directories are loaded
// into one context block. It chooses a directory by subfile type (and page), answers size,
// depth and compression, hands out the header record of the image description and the drawing
// data of private tag 32956, and delivers the image's rows (uncompressed, LZW or old-style
// JPEG strips) to a row function, keeping a running byte sum of the strip data it reads.
//
// Rows are delivered top row first, in the file's sample order: red, green, blue for colour
// images, whatever the compression (the JPEG road turns its decoder's rows back).
#pragma once
#include <cstdint>
#include <memory>

#include "platform/files/rawfile.h"

// Status codes of the container (0 success).
constexpr int kOldTiffCannotOpen = -1;   // cannot open, or no directory matches
constexpr int kOldTiffReadFailed = -2;   // a read or positioning failed, or data lie outside
constexpr int kOldTiffUnsupported = -4;  // size, depth, compression or strip layout
constexpr int kOldTiffNoMemory = -5;
constexpr int kOldTiffNoDirectory = -6;  // no directory of the wanted kind
constexpr int kOldTiffCloseFailed = -10;

// Compression codes of a directory (tag 259). Only the first three are read; a missing or zero
// value counts as uncompressed.
constexpr std::int32_t kOldTiffUncompressed = 1;
constexpr std::int32_t kOldTiffLzw = 5;
constexpr std::int32_t kOldTiffOldJpeg = 6;  // the old-style JPEG of tags 513 and 514
constexpr std::int32_t kOldTiffJpeg = 7;     // the later JPEG, which no older file uses

// Decoded images larger than this are refused (no sound older file comes near it).
constexpr std::uint64_t kOldTiffMaxImageBytes = std::uint64_t{1} << 28;

// Bytes of strip and JPEG data read for one image: at most this many times its decoded bytes
// plus a fixed allowance for tables, headers and short strips. An LZW strip of sound codes is at
// most 1.5 times its rows, a baseline JPEG stream at most about 3.3 times its grey pixels.
constexpr std::uint64_t kOldTiffReadFactor = 4;
constexpr std::uint64_t kOldTiffReadAllowance = std::uint64_t{1} << 20;
inline std::uint64_t OldTiffReadBudget(std::uint64_t imageBytes) {
    return kOldTiffReadFactor * imageBytes + kOldTiffReadAllowance;
}
// No byte of the file is read for more strips of one image than this (sound writers lay strips
// side by side).
constexpr int kOldTiffMaxStripOverlap = 4;

// True when a baseline JPEG stream of `streamBytes` can hold a picture of that size: every
// 8 x 8 block costs at least two bits (a DC code and an AC code of one bit at least); a colour
// unit of 16 x 8 pixels holds four blocks.
bool OldJpegStreamHolds(std::uint64_t streamBytes, std::int64_t width, std::int64_t height,
                        std::int32_t components);
// The same for a whole ".jpg" file (false when it cannot be opened).
bool OldJpegFileHolds(const char* path, std::int64_t width, std::int64_t height,
                      std::int32_t components);

// Subfile types the readers ask for.
constexpr int kOldTiffMainImage = 0;
constexpr int kOldTiffReducedImage = 1;
constexpr int kOldTiffPage = 2;

// One entry as stored: tag, type, count, value or offset.
struct OldTiffEntry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;
};

constexpr int kOldTiffKnownTags = 25;
constexpr int kOldTiffMaxDirectories = 32;

// One directory: the known tags in the fixed order of the known-tag table (an absent tag
// stays zero).
struct OldTiffDirectory {
    std::uint16_t entryCount;
    OldTiffEntry entries[kOldTiffKnownTags];
    std::uint32_t nextOffset;
};

// The context block (zero-filled global memory, locked while open).
struct OldTiffContext {
    win::HANDLE file;
    std::uint32_t byteSum;   // every byte of strip and JPEG data read is added
    std::uint8_t header[8];  // byte order mark, magic number, first directory offset
    std::int32_t directoryCount;
    OldTiffDirectory directories[kOldTiffMaxDirectories];
    std::uint64_t fileSize;
    std::uint64_t readBudget;  // bytes of image data the current image may still read
};

// Position of a tag in the known-tag table, -1 when it is not kept.
int OldTiffTagIndex(std::uint16_t tag);

// Opens the file and reads its directories (at most 32; a chain that loops is cut). The byte
// order and magic number are not checked unless `requireTiffHeader` (then "II" and 42 are
// required, else kOldTiffUnsupported). On failure *context is null.
int OpenOldTiff(const char* path, OldTiffContext** context, bool requireTiffHeader = false);

// Closes the file and frees the context (synchronously); 0 or kOldTiffCloseFailed.
int CloseOldTiff(OldTiffContext* context);

// Closes on scope exit.
struct OldTiffCloser {
    void operator()(OldTiffContext* context) const { CloseOldTiff(context); }
};
using OldTiffHolder = std::unique_ptr<OldTiffContext, OldTiffCloser>;

// Index of the first directory of the wanted subfile type (0 or 1; 2 with the page number),
// or -1.
int FindOldTiffDirectory(const OldTiffContext* context, int subfileType, int page);

// 0, kOldTiffNoDirectory, or kOldTiffUnsupported (a side below 1 or above 65,535).
int GetOldTiffSize(const OldTiffContext* context, int subfileType, int page, std::int32_t* width,
                   std::int32_t* height);

// Size, compression (1 when absent), depth (8, 24, 16, 12 or 6) and, when `description` is
// given, the image description (a count of at least 5) up to *descriptionSize bytes; the size
// becomes the number copied (0 without one). Each out may be null.
int ReadOldTiffInfo(OldTiffContext* context, int subfileType, int page, std::int32_t* width,
                    std::int32_t* height, std::int32_t* compression, std::int32_t* depth,
                    void* description, std::uint32_t* descriptionSize);

// The drawing data of tag 32956 (a count of at least 5; else size 0).
int GetOldTiffDrawingSize(const OldTiffContext* context, int subfileType, std::uint32_t* size,
                          int page = 0);
// Reads min(count, *size) bytes into `buffer`; *size becomes the number read.
int ReadOldTiffDrawing(OldTiffContext* context, int subfileType, void* buffer, std::uint32_t* size,
                       int page = 0);

// What ReadOldTiffRows checks before it decodes anything, without decoding: size within
// kOldTiffMaxImageBytes, depth, compression, strip layout inside the file, uncompressed strips
// that hold their rows, LZW strips that can expand to their rows (kLzwMaxExpansion), strips that
// do not share file bytes more than kOldTiffMaxStripOverlap times, reads within the budget, and
// for old-style JPEG a stream whose frame is the directory's and that can hold its blocks.
// 0, kOldTiffNoDirectory, kOldTiffUnsupported, kOldTiffReadFailed or kOldTiffNoMemory.
int CheckOldTiffImage(OldTiffContext* context, int subfileType, int page);

// False when no file of this one's length can hold a picture of that size: not even LZW strips
// of the largest expansion (kLzwMaxExpansion), each byte shared by kOldTiffMaxStripOverlap
// strips, decode to that many bytes. No other road the container knows is denser.
bool OldTiffFileCanHold(const OldTiffContext* context, std::int32_t width, std::int32_t height,
                        std::int32_t depth);

// Receives each row: its number counted from the top and its bytes (row length
// ceil(depth / 8) x width).
using OldTiffRowFn = void (*)(void* context, std::int32_t row, const std::uint8_t* bytes);

// Delivers every row of the chosen image to `rowFn`; *byteSum receives the running sum.
int ReadOldTiffRows(OldTiffContext* context, int subfileType, int page, OldTiffRowFn rowFn,
                    void* rowContext, std::uint32_t* byteSum);

// ---------------------------------------------------------------------------------------------
// Result codes of the older-file readers
//
// Every reader of the older files (the roads behind the exports, the colour members) answers 0
// or one of these codes. A container code becomes the reader code of its row in the table below,
// and the exports answer their callers the public code of that row (include/quorin/v5files.h);
// a value in no row passes both steps unchanged. The JPEG decoder's results and reasons
// (jpegdecoder.h) are numbers of its own, some equal to these: they are never answered as reader
// codes, whoever calls the decoder says what a failed decode means here.
constexpr int kOldCannotOpen = -111;
constexpr int kOldReadFailed = -112;   // a read or positioning failed, or data lie outside
constexpr int kOldContainer3 = -113;   // the container's -3, which it never answers
constexpr int kOldNoDirectory = -116;  // no image of the wanted kind
constexpr int kOldContainer7 = -117;   // the container's -7, which it never answers
constexpr int kOldNotReadable = -118;  // wrong extension or layout, unsupported form or size
constexpr int kOldNoMemory = -120;

struct OldFileCodeRow {
    int container;  // the container's code
    int reader;     // what the readers answer for it
    int exported;   // what the exports answer for that
};
inline constexpr OldFileCodeRow kOldFileCodes[] = {
    {kOldTiffCannotOpen, kOldCannotOpen, 1},
    {kOldTiffReadFailed, kOldReadFailed, 2},
    {-3, kOldContainer3, 3},
    {kOldTiffUnsupported, kOldNotReadable, 7},
    {kOldTiffNoMemory, kOldNoMemory, 8},
    {kOldTiffNoDirectory, kOldNoDirectory, 5},
    {-7, kOldContainer7, 6},
};

// The readers' code for a container code.
constexpr int TranslateOldTiffCode(int code) {
    for (const OldFileCodeRow& row : kOldFileCodes)
        if (row.container == code) return row.reader;
    return code;
}

// The exports' public code for a reader code (0 stays 0).
constexpr int OldFilePublicCode(int code) {
    for (const OldFileCodeRow& row : kOldFileCodes)
        if (row.reader == code) return row.exported;
    return code;
}
