// Container of the older image files.
//
// Everything the file says about sizes is hostile: sizes are computed in 64 bits, and every
// strip, array, description, drawing block and JPEG stream is proved to lie inside the file
// before anything is allocated for it or read.
#include "oldtiff/oldtiff.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "oldtiff/jpegdecoder.h"
#include "oldtiff/lzw.h"
#include "oldtiff/oldmemory.h"

namespace {

using quorin::COldBlock;

struct KnownTag {
    std::uint16_t tag;
    std::uint16_t type;  // expected type; informational, entries are kept as stored
};

constexpr KnownTag kKnownTags[kOldTiffKnownTags] = {
    {254, 4},    // NewSubfileType
    {256, 4},    // ImageWidth
    {257, 4},    // ImageLength
    {258, 3},    // BitsPerSample
    {259, 3},    // Compression
    {262, 3},    // PhotometricInterpretation
    {270, 2},    // ImageDescription
    {272, 2},    // Model
    {273, 4},    // StripOffsets
    {277, 3},    // SamplesPerPixel
    {278, 4},    // RowsPerStrip
    {279, 4},    // StripByteCounts
    {282, 5},    // XResolution
    {283, 5},    // YResolution
    {284, 3},    // PlanarConfiguration
    {296, 3},    // ResolutionUnit
    {297, 3},    // PageNumber
    {317, 3},    // Predictor
    {512, 3},    // JPEGProc
    {513, 4},    // JPEGInterchangeFormat
    {514, 4},    // JPEGInterchangeFormatLength
    {519, 4},    // JPEGQTables
    {520, 4},    // JPEGDCTables
    {521, 4},    // JPEGACTables
    {32956, 2},  // drawing data (the annotation blob)
};

enum : std::uint16_t {
    kTagSubfileType = 254,
    kTagWidth = 256,
    kTagHeight = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagDescription = 270,
    kTagStripOffsets = 273,
    kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279,
    kTagPageNumber = 297,
    kTagPredictor = 317,
    kTagJpegOffset = 513,
    kTagJpegLength = 514,
    kTagDrawing = 32956,
};

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

constexpr std::int64_t kMaxSide = 65535;

std::uint32_t TypeSize(std::uint16_t type) {
    switch (type) {
        case 1:  // BYTE
        case 2:  // ASCII
            return 1;
        case 3:
            return 2;
        case 4:
            return 4;
        case 5:  // RATIONAL
            return 8;
        default:
            return 0;
    }
}

const OldTiffEntry& Entry(const OldTiffDirectory& d, std::uint16_t tag) {
    return d.entries[OldTiffTagIndex(tag)];
}

bool Present(const OldTiffEntry& e) {
    return e.tag != 0;
}

// The value of a single-valued entry: SHORT and BYTE values sit in the low bytes of the field.
std::uint32_t Value(const OldTiffEntry& e) {
    switch (e.type) {
        case 1:
            return e.value & 0xFFu;
        case kTypeShort:
            return e.value & 0xFFFFu;
        default:
            return e.value;
    }
}

// ---------------------------------------------------------------------------------------------
// File layer

bool Inside(const OldTiffContext* c, std::uint64_t offset, std::uint64_t length) {
    return offset <= c->fileSize && length <= c->fileSize - offset;
}

// Reads exactly `length` bytes at `offset`; kOldTiffReadFailed otherwise.
int ReadAt(OldTiffContext* c, std::uint64_t offset, void* buffer, std::uint64_t length) {
    if (!Inside(c, offset, length)) return kOldTiffReadFailed;
    win::LONG high = static_cast<win::LONG>(offset >> 32);
    if (win::SetFilePointer(c->file, static_cast<win::LONG>(offset & 0xFFFFFFFFu), &high,
                            win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER &&
        offset != win::INVALID_SET_FILE_POINTER)
        return kOldTiffReadFailed;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
        const win::DWORD chunk = static_cast<win::DWORD>(std::min<std::uint64_t>(length, 1u << 30));
        win::DWORD read = 0;
        if (!win::ReadFile(c->file, out, chunk, &read, nullptr) || read != chunk)
            return kOldTiffReadFailed;
        out += chunk;
        length -= chunk;
    }
    return 0;
}

// Reads image data (strips, JPEG streams) within what is left of the image's budget.
int ReadImageData(OldTiffContext* c, std::uint64_t offset, void* buffer, std::uint64_t length) {
    if (length > c->readBudget) return kOldTiffReadFailed;
    c->readBudget -= length;
    return ReadAt(c, offset, buffer, length);
}

void AddToSum(OldTiffContext* c, const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t sum = c->byteSum;
    for (std::size_t i = 0; i < length; ++i) sum += bytes[i];
    c->byteSum = sum;
}

// ---------------------------------------------------------------------------------------------
// Directories

int ReadDirectory(OldTiffContext* c, std::uint32_t offset, OldTiffDirectory* d) {
    std::memset(d, 0, sizeof *d);
    std::uint8_t countBytes[2];
    if (ReadAt(c, offset, countBytes, 2) != 0) return kOldTiffReadFailed;
    d->entryCount = static_cast<std::uint16_t>(countBytes[0] | (countBytes[1] << 8));
    const std::uint64_t bytes = 12u * std::uint64_t{d->entryCount} + 4;
    if (!Inside(c, std::uint64_t{offset} + 2, bytes)) return kOldTiffReadFailed;
    std::vector<std::uint8_t> raw;
    try {
        raw.resize(bytes);
    } catch (const std::bad_alloc&) {
        return kOldTiffNoMemory;
    }
    if (ReadAt(c, std::uint64_t{offset} + 2, raw.data(), bytes) != 0) return kOldTiffReadFailed;
    for (std::uint32_t i = 0; i < d->entryCount; ++i) {
        OldTiffEntry e;
        std::memcpy(&e.tag, &raw[12 * i], 2);
        std::memcpy(&e.type, &raw[12 * i + 2], 2);
        std::memcpy(&e.count, &raw[12 * i + 4], 4);
        std::memcpy(&e.value, &raw[12 * i + 8], 4);
        const int index = OldTiffTagIndex(e.tag);
        if (index >= 0) d->entries[index] = e;  // a later duplicate wins
    }
    std::memcpy(&d->nextOffset, &raw[bytes - 4], 4);
    return 0;
}

const OldTiffDirectory* Directory(const OldTiffContext* c, int subfileType, int page) {
    const int index = FindOldTiffDirectory(c, subfileType, page);
    return index >= 0 ? &c->directories[index] : nullptr;
}

int Size(const OldTiffDirectory& d, std::int32_t* width, std::int32_t* height) {
    const std::int64_t w = Value(Entry(d, kTagWidth));
    const std::int64_t h = Value(Entry(d, kTagHeight));
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) return kOldTiffUnsupported;
    if (width) *width = static_cast<std::int32_t>(w);
    if (height) *height = static_cast<std::int32_t>(h);
    return 0;
}

// Depth from BitsPerSample: one value 16, 12, 8 or 6, or three values adding to 16 or 24.
int Depth(OldTiffContext* c, const OldTiffDirectory& d, std::int32_t* depth) {
    *depth = 0;
    const OldTiffEntry& e = Entry(d, kTagBitsPerSample);
    if (e.count == 1) {
        const std::uint32_t v = Value(e);
        if (v == 16 || v == 12 || v == 8 || v == 6) *depth = static_cast<std::int32_t>(v);
    } else if (e.count == 3 && e.type == kTypeShort) {
        std::uint8_t raw[6];
        if (ReadAt(c, e.value, raw, 6) != 0) return kOldTiffReadFailed;
        const int sum = (raw[0] | raw[1] << 8) + (raw[2] | raw[3] << 8) + (raw[4] | raw[5] << 8);
        if (sum == 16 || sum == 24) *depth = sum;
    }
    return *depth != 0 ? 0 : kOldTiffUnsupported;
}

std::int32_t Compression(const OldTiffDirectory& d) {
    const std::uint32_t v = Value(Entry(d, kTagCompression));
    return v == 0 ? kOldTiffUncompressed : static_cast<std::int32_t>(v);
}

// A SHORT or LONG array of exactly `count` values, inline when it fits in the entry.
int ReadArray(OldTiffContext* c, const OldTiffEntry& e, std::uint64_t count,
              std::vector<std::uint32_t>& values) {
    if (e.type != kTypeShort && e.type != kTypeLong) return kOldTiffUnsupported;
    if (e.count != count) return kOldTiffUnsupported;
    const std::uint32_t size = TypeSize(e.type);
    const std::uint64_t bytes = count * size;
    std::vector<std::uint8_t> raw;
    try {
        raw.resize(std::max<std::uint64_t>(bytes, 4));
        values.resize(count);
    } catch (const std::bad_alloc&) {
        return kOldTiffNoMemory;
    }
    if (bytes <= 4) {
        std::memcpy(raw.data(), &e.value, 4);
    } else {
        if (!Inside(c, e.value, bytes)) return kOldTiffReadFailed;
        if (ReadAt(c, e.value, raw.data(), bytes) != 0) return kOldTiffReadFailed;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        if (size == 2)
            values[i] = raw[2 * i] | (raw[2 * i + 1] << 8);
        else
            std::memcpy(&values[i], &raw[4 * i], 4);
    }
    return 0;
}

// Undoes horizontal differencing in one row: 8-bit samples step by `step` bytes, 16-bit
// samples (one sample of 12 or 16 bits) in little-endian 16-bit arithmetic.
void UndoPredictor(std::uint8_t* row, std::size_t length, std::size_t step, bool wide) {
    if (wide) {
        for (std::size_t i = 2; i + 1 < length; i += 2) {
            const std::uint16_t left = static_cast<std::uint16_t>(row[i - 2] | (row[i - 1] << 8));
            const std::uint16_t v = static_cast<std::uint16_t>((row[i] | (row[i + 1] << 8)) + left);
            row[i] = static_cast<std::uint8_t>(v);
            row[i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        return;
    }
    for (std::size_t i = step; i < length; ++i)
        row[i] = static_cast<std::uint8_t>(row[i] + row[i - step]);
}

// ---------------------------------------------------------------------------------------------
// Old-style JPEG strips

struct JpegRoad {
    OldTiffContext* c;
    std::uint64_t offset;  // next byte of the stream
    std::uint64_t left;    // bytes of the stream not yet read
    std::uint64_t length;  // of the whole stream
    std::int32_t width, height, components;
    OldTiffRowFn rowFn;  // null: the frame is checked and nothing is decoded
    void* rowContext;
    COldBlock row;  // a colour row turned back to red, green, blue
    bool readFailed = false;
    bool beginRefused = false;
    bool framePassed = false;
};

int JpegRead(void* context, std::uint8_t* buffer, int size) {
    auto* r = static_cast<JpegRoad*>(context);
    if (r->left == 0) return -1;
    const std::uint64_t n = std::min<std::uint64_t>(r->left, static_cast<std::uint64_t>(size));
    if (ReadImageData(r->c, r->offset, buffer, n) != 0) {
        r->readFailed = true;
        return -1;
    }
    AddToSum(r->c, buffer, n);
    r->offset += n;
    r->left -= n;
    return static_cast<int>(n);
}

// A stream whose picture differs from the directory's would write outside the caller's rows;
// one too short for its blocks would be decoded from nothing.
int JpegBegin(void* context, int width, int height, int components, const char*) {
    auto* r = static_cast<JpegRoad*>(context);
    if (width != r->width || height != r->height || components != r->components ||
        !OldJpegStreamHolds(r->length, width, height, components)) {
        r->beginRefused = true;
        return -1;
    }
    r->framePassed = true;
    return r->rowFn != nullptr ? 0 : -1;  // only the frame was asked for
}

int JpegRow(void* context, int row, const std::uint8_t* pixels) {
    auto* r = static_cast<JpegRoad*>(context);
    if (r->rowFn == nullptr) return -1;
    if (row < 0 || row >= r->height) return 0;
    if (r->components == 1) {
        r->rowFn(r->rowContext, row, pixels);
        return 0;
    }
    std::uint8_t* out = r->row.data();
    for (std::int32_t x = 0; x < r->width; ++x) {
        out[3 * x] = pixels[3 * x + 2];
        out[3 * x + 1] = pixels[3 * x + 1];
        out[3 * x + 2] = pixels[3 * x];
    }
    r->rowFn(r->rowContext, row, out);
    return 0;
}

// Decodes the stream into `rowFn`, or with a null `rowFn` reads only its header segments and
// checks its frame.
int ReadJpegStrip(OldTiffContext* c, const OldTiffDirectory& d, std::int32_t width,
                  std::int32_t height, std::int32_t depth, OldTiffRowFn rowFn, void* rowContext) {
    const std::uint32_t offset = Value(Entry(d, kTagJpegOffset));
    const std::uint32_t length = Value(Entry(d, kTagJpegLength));
    if (offset == 0 || length == 0) return kOldTiffUnsupported;
    if (depth != 8 && depth != 24) return kOldTiffUnsupported;
    if (!Inside(c, offset, length)) return kOldTiffReadFailed;
    const std::uint64_t imageBytes = static_cast<std::uint64_t>(width) *
                                     static_cast<std::uint64_t>(height) *
                                     static_cast<std::uint64_t>(depth / 8);
    if (imageBytes > kOldTiffMaxImageBytes) return kOldTiffUnsupported;
    if (length > OldTiffReadBudget(imageBytes)) return kOldTiffReadFailed;
    c->readBudget = OldTiffReadBudget(imageBytes);

    JpegRoad road{c, offset, length, length, width, height, depth / 8, rowFn, rowContext, {}};
    if (rowFn != nullptr && road.components == 3 &&
        !road.row.Allocate(3u * static_cast<std::size_t>(width)))
        return kOldTiffNoMemory;
    int reason = 0;
    const int result =
        DecodeJpegStream(nullptr, &road, JpegRead, nullptr, JpegBegin, JpegRow, nullptr, &reason);
    // The decoder's own codes would read as the container's "cannot open": say what happened.
    if (road.readFailed) return kOldTiffReadFailed;
    if (result == kJpegOk) return 0;
    if (road.beginRefused) return kOldTiffUnsupported;
    if (rowFn == nullptr && road.framePassed) return 0;
    if (reason == kJpegReasonEndOfData) return kOldTiffReadFailed;
    if (result == kJpegFailed && reason == 0) return kOldTiffNoMemory;
    return kOldTiffUnsupported;
}

// ---------------------------------------------------------------------------------------------
// Uncompressed and LZW strips

// What the strip reader reads of an image, checked against the file before anything is read.
struct StripPlan {
    std::uint64_t pixelBytes = 0;  // bytes of one pixel in a row
    std::uint64_t rowBytes = 0;
    std::uint64_t rowsPerStrip = 0;
    std::uint64_t strips = 0;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;  // byte counts: every strip is read whole
    std::uint64_t largestStrip = 0;
    std::uint64_t budget = 0;
};

// How many strips the most shared byte of the file belongs to.
std::uint64_t DeepestOverlap(const StripPlan& p) {
    std::vector<std::pair<std::uint64_t, int>> edges;  // (position, +1 start / -1 end)
    edges.reserve(2 * p.strips);
    for (std::uint64_t s = 0; s < p.strips; ++s) {
        if (p.counts[s] == 0) continue;
        edges.emplace_back(p.offsets[s], 1);
        edges.emplace_back(std::uint64_t{p.offsets[s]} + p.counts[s], -1);
    }
    std::sort(edges.begin(), edges.end());  // an end sorts before a start at the same place
    std::int64_t depth = 0, deepest = 0;
    for (const auto& e : edges) deepest = std::max(deepest, depth += e.second);
    return static_cast<std::uint64_t>(deepest);
}

int PlanStrips(OldTiffContext* c, const OldTiffDirectory& d, std::int32_t width,
               std::int32_t height, std::int32_t depth, std::int32_t compression, StripPlan* p) {
    p->pixelBytes = (static_cast<std::uint64_t>(depth) + 7) / 8;
    p->rowBytes = p->pixelBytes * static_cast<std::uint64_t>(width);
    const std::uint64_t imageBytes = p->rowBytes * static_cast<std::uint64_t>(height);
    if (imageBytes > kOldTiffMaxImageBytes) return kOldTiffUnsupported;

    const OldTiffEntry& offsetsEntry = Entry(d, kTagStripOffsets);
    const OldTiffEntry& countsEntry = Entry(d, kTagStripByteCounts);
    const OldTiffEntry& rowsEntry = Entry(d, kTagRowsPerStrip);
    if (!Present(offsetsEntry)) return kOldTiffUnsupported;

    p->rowsPerStrip = static_cast<std::uint64_t>(height);
    if (Present(rowsEntry)) {
        p->rowsPerStrip = Value(rowsEntry);
        if (p->rowsPerStrip == 0) return kOldTiffUnsupported;
        p->rowsPerStrip =
            std::min<std::uint64_t>(p->rowsPerStrip, static_cast<std::uint64_t>(height));
    } else if (offsetsEntry.count != 1) {
        return kOldTiffUnsupported;
    }
    p->strips = (static_cast<std::uint64_t>(height) + p->rowsPerStrip - 1) / p->rowsPerStrip;

    // A single strip's offset and count are the entries' own values, whatever their type;
    // several strips need SHORT or LONG arrays of one value per strip.
    auto values = [&](const OldTiffEntry& e, std::vector<std::uint32_t>& out) {
        if (p->strips == 1 && e.count == 1) {
            out.assign(1, Value(e));
            return 0;
        }
        return ReadArray(c, e, p->strips, out);
    };
    if (int r = values(offsetsEntry, p->offsets); r != 0) return r;
    if (Present(countsEntry)) {
        if (int r = values(countsEntry, p->counts); r != 0) return r;
    } else {
        // Only a single uncompressed strip may go without its byte count.
        if (p->strips != 1 || compression != kOldTiffUncompressed) return kOldTiffUnsupported;
        p->counts.assign(1, static_cast<std::uint32_t>(imageBytes));
    }

    // Every strip is read whole, padding and rows past the image included: the header record's
    // integrity sum was taken over every byte of the strips as written. Uncompressed strips must
    // hold their rows; LZW strips must be able to expand to them.
    std::uint64_t total = 0;
    for (std::uint64_t s = 0; s < p->strips; ++s) {
        const std::uint64_t count = p->counts[s];
        if (!Inside(c, p->offsets[s], count)) return kOldTiffReadFailed;
        const std::uint64_t rows =
            std::min(p->rowsPerStrip, static_cast<std::uint64_t>(height) - s * p->rowsPerStrip);
        const std::uint64_t need = rows * p->rowBytes;
        if (compression == kOldTiffLzw ? need > kLzwMaxExpansion * count : count < need)
            return kOldTiffUnsupported;
        p->largestStrip = std::max(p->largestStrip, count);
        total += count;
    }
    if (DeepestOverlap(*p) > kOldTiffMaxStripOverlap) return kOldTiffUnsupported;
    p->budget = OldTiffReadBudget(imageBytes);
    if (total > p->budget) return kOldTiffReadFailed;
    return 0;
}

int ReadStrips(OldTiffContext* c, const OldTiffDirectory& d, std::int32_t width,
               std::int32_t height, std::int32_t depth, std::int32_t compression,
               OldTiffRowFn rowFn, void* rowContext) {
    StripPlan p;
    try {
        if (int r = PlanStrips(c, d, width, height, depth, compression, &p); r != 0) return r;
    } catch (const std::bad_alloc&) {
        return kOldTiffNoMemory;
    }
    const bool lzw = compression == kOldTiffLzw;
    COldBlock strip, rows;
    if (!strip.Allocate(static_cast<std::size_t>(std::max<std::uint64_t>(p.largestStrip, 1))) ||
        (lzw && !rows.Allocate(static_cast<std::size_t>(p.rowsPerStrip * p.rowBytes))))
        return kOldTiffNoMemory;

    const bool predictor = lzw && Value(Entry(d, kTagPredictor)) == 2;
    const bool wideSamples = Entry(d, kTagBitsPerSample).count == 1 && (depth == 16 || depth == 12);

    c->readBudget = p.budget;
    std::int32_t next = 0;
    for (std::uint64_t s = 0; s < p.strips && next < height; ++s) {
        const std::uint64_t stripRows =
            std::min<std::uint64_t>(p.rowsPerStrip, static_cast<std::uint64_t>(height - next));
        const std::uint64_t need = stripRows * p.rowBytes;
        if (ReadImageData(c, p.offsets[s], strip.data(), p.counts[s]) != 0)
            return kOldTiffReadFailed;
        AddToSum(c, strip.data(), p.counts[s]);

        const std::uint8_t* source = strip.data();
        if (lzw) {
            std::memset(rows.data(), 0, static_cast<std::size_t>(need));
            DecodeLzw(strip.data(), p.counts[s], rows.data(), static_cast<std::size_t>(need));
            if (predictor)
                for (std::uint64_t r = 0; r < stripRows; ++r)
                    UndoPredictor(rows.data() + r * p.rowBytes,
                                  static_cast<std::size_t>(p.rowBytes),
                                  static_cast<std::size_t>(p.pixelBytes), wideSamples);
            source = rows.data();
        }
        for (std::uint64_t r = 0; r < stripRows; ++r)
            rowFn(rowContext, next++, source + r * p.rowBytes);
    }
    return 0;
}

// The directory of an image to read: size, depth and compression.
struct ImageOf {
    const OldTiffDirectory* d = nullptr;
    std::int32_t width = 0, height = 0, depth = 0, compression = 0;
};

int ChooseImage(OldTiffContext* c, int subfileType, int page, ImageOf* image) {
    image->d = Directory(c, subfileType, page);
    if (image->d == nullptr) return kOldTiffNoDirectory;
    if (int r = Size(*image->d, &image->width, &image->height); r != 0) return r;
    if (int r = Depth(c, *image->d, &image->depth); r != 0) return r;
    image->compression = Compression(*image->d);
    if (image->compression != kOldTiffUncompressed && image->compression != kOldTiffLzw &&
        image->compression != kOldTiffOldJpeg)
        return kOldTiffUnsupported;
    return 0;
}

}  // namespace

int OldTiffTagIndex(std::uint16_t tag) {
    for (int i = 0; i < kOldTiffKnownTags; ++i)
        if (kKnownTags[i].tag == tag) return i;
    return -1;
}

int OpenOldTiff(const char* path, OldTiffContext** context, bool requireTiffHeader) {
    if (context == nullptr) return kOldTiffCannotOpen;
    *context = nullptr;
    if (path == nullptr) return kOldTiffCannotOpen;
    win::HANDLE file = win::CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                        win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return kOldTiffCannotOpen;

    auto* c = static_cast<OldTiffContext*>(quorin::OldAllocLocked(sizeof(OldTiffContext)));
    if (c == nullptr) {
        win::CloseHandle(file);
        return kOldTiffNoMemory;
    }
    c->file = file;
    win::DWORD high = 0;
    const win::DWORD low = win::GetFileSize(file, &high);
    c->fileSize = (std::uint64_t{high} << 32) | low;

    auto fail = [&](int code) {
        CloseOldTiff(c);
        return code;
    };
    if (ReadAt(c, 0, c->header, 8) != 0) return fail(kOldTiffReadFailed);
    if (requireTiffHeader &&
        !(c->header[0] == 'I' && c->header[1] == 'I' && c->header[2] == 42 && c->header[3] == 0))
        return fail(kOldTiffUnsupported);

    std::uint32_t offset;
    std::memcpy(&offset, c->header + 4, 4);
    std::uint32_t seen[kOldTiffMaxDirectories];
    while (offset != 0 && c->directoryCount < kOldTiffMaxDirectories) {
        if (std::find(seen, seen + c->directoryCount, offset) != seen + c->directoryCount) break;
        seen[c->directoryCount] = offset;
        OldTiffDirectory& d = c->directories[c->directoryCount];
        if (int r = ReadDirectory(c, offset, &d); r != 0) return fail(r);
        offset = d.nextOffset;
        ++c->directoryCount;
    }
    *context = c;
    return 0;
}

int CloseOldTiff(OldTiffContext* context) {
    if (context == nullptr) return 0;
    const bool closed = context->file == nullptr || win::CloseHandle(context->file) != 0;
    quorin::OldFreeLocked(context);
    return closed ? 0 : kOldTiffCloseFailed;
}

int FindOldTiffDirectory(const OldTiffContext* c, int subfileType, int page) {
    if (c == nullptr || subfileType < 0 || subfileType > 2) return -1;
    for (int i = 0; i < c->directoryCount && i < kOldTiffMaxDirectories; ++i) {
        const OldTiffDirectory& d = c->directories[i];
        if (Value(Entry(d, kTagSubfileType)) != static_cast<std::uint32_t>(subfileType)) continue;
        if (subfileType == kOldTiffPage &&
            (Entry(d, kTagPageNumber).value & 0xFFFFu) != static_cast<std::uint32_t>(page))
            continue;
        return i;
    }
    return -1;
}

int GetOldTiffSize(const OldTiffContext* c, int subfileType, int page, std::int32_t* width,
                   std::int32_t* height) {
    const OldTiffDirectory* d = Directory(c, subfileType, page);
    if (d == nullptr) return kOldTiffNoDirectory;
    return Size(*d, width, height);
}

int ReadOldTiffInfo(OldTiffContext* c, int subfileType, int page, std::int32_t* width,
                    std::int32_t* height, std::int32_t* compression, std::int32_t* depth,
                    void* description, std::uint32_t* descriptionSize) {
    const OldTiffDirectory* d = Directory(c, subfileType, page);
    if (d == nullptr) return kOldTiffNoDirectory;
    if (int r = Size(*d, width, height); r != 0) return r;
    if (compression) *compression = Compression(*d);
    std::int32_t bits = 0;
    const int depthResult = Depth(c, *d, &bits);
    if (depth) *depth = bits;
    if (depthResult != 0) return depthResult;
    if (description != nullptr && descriptionSize != nullptr) {
        const OldTiffEntry& e = Entry(*d, kTagDescription);
        if (Present(e) && e.count >= 5) {
            const std::uint32_t n = std::min(e.count, *descriptionSize);
            if (ReadAt(c, e.value, description, n) != 0) return kOldTiffReadFailed;
            *descriptionSize = n;
        } else {
            *descriptionSize = 0;
        }
    }
    return 0;
}

int GetOldTiffDrawingSize(const OldTiffContext* c, int subfileType, std::uint32_t* size, int page) {
    if (size == nullptr) return kOldTiffUnsupported;
    *size = 0;
    const OldTiffDirectory* d = Directory(c, subfileType, page);
    if (d == nullptr) return kOldTiffNoDirectory;
    const OldTiffEntry& e = Entry(*d, kTagDrawing);
    if (Present(e) && e.count >= 5) {
        if (!Inside(c, e.value, e.count)) return kOldTiffReadFailed;
        *size = e.count;
    }
    return 0;
}

int ReadOldTiffDrawing(OldTiffContext* c, int subfileType, void* buffer, std::uint32_t* size,
                       int page) {
    if (size == nullptr) return kOldTiffUnsupported;
    const OldTiffDirectory* d = Directory(c, subfileType, page);
    if (d == nullptr) return kOldTiffNoDirectory;
    const OldTiffEntry& e = Entry(*d, kTagDrawing);
    if (!Present(e) || e.count < 5 || buffer == nullptr) {
        *size = 0;
        return 0;
    }
    const std::uint32_t n = std::min(e.count, *size);
    if (ReadAt(c, e.value, buffer, n) != 0) return kOldTiffReadFailed;
    *size = n;
    return 0;
}

int CheckOldTiffImage(OldTiffContext* c, int subfileType, int page) {
    if (c == nullptr) return kOldTiffUnsupported;
    ImageOf image;
    if (int r = ChooseImage(c, subfileType, page, &image); r != 0) return r;
    if (image.compression == kOldTiffOldJpeg) {
        // The header segments are read and summed; the running sum stays the file's own.
        const std::uint32_t sum = c->byteSum;
        const int r =
            ReadJpegStrip(c, *image.d, image.width, image.height, image.depth, nullptr, nullptr);
        c->byteSum = sum;
        return r;
    }
    StripPlan plan;
    try {
        return PlanStrips(c, *image.d, image.width, image.height, image.depth, image.compression,
                          &plan);
    } catch (const std::bad_alloc&) {
        return kOldTiffNoMemory;
    }
}

bool OldTiffFileCanHold(const OldTiffContext* c, std::int32_t width, std::int32_t height,
                        std::int32_t depth) {
    if (c == nullptr || width < 1 || height < 1 || depth < 1) return false;
    const std::uint64_t imageBytes = (static_cast<std::uint64_t>(depth) + 7) / 8 *
                                     static_cast<std::uint64_t>(width) *
                                     static_cast<std::uint64_t>(height);
    return imageBytes <= kOldTiffMaxStripOverlap * kLzwMaxExpansion * c->fileSize;
}

int ReadOldTiffRows(OldTiffContext* c, int subfileType, int page, OldTiffRowFn rowFn,
                    void* rowContext, std::uint32_t* byteSum) {
    if (c == nullptr || rowFn == nullptr) return kOldTiffUnsupported;
    ImageOf image;
    int result = ChooseImage(c, subfileType, page, &image);
    if (result == 0 && image.compression == kOldTiffOldJpeg)
        result =
            ReadJpegStrip(c, *image.d, image.width, image.height, image.depth, rowFn, rowContext);
    else if (result == 0)
        result = ReadStrips(c, *image.d, image.width, image.height, image.depth, image.compression,
                            rowFn, rowContext);
    if (byteSum != nullptr) *byteSum = c->byteSum;
    return result;
}

bool OldJpegStreamHolds(std::uint64_t streamBytes, std::int64_t width, std::int64_t height,
                        std::int32_t components) {
    if (width < 1 || height < 1 || (components != 1 && components != 3)) return false;
    const std::uint64_t unitWidth = components == 1 ? 8 : 16;
    const std::uint64_t blocks = (static_cast<std::uint64_t>(width) + unitWidth - 1) / unitWidth *
                                 ((static_cast<std::uint64_t>(height) + 7) / 8) *
                                 (components == 1 ? 1 : 4);
    return 2 * blocks <= 8 * streamBytes;
}

bool OldJpegFileHolds(const char* path, std::int64_t width, std::int64_t height,
                      std::int32_t components) {
    if (path == nullptr) return false;
    win::HANDLE file = win::CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                        win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return false;
    win::DWORD high = 0;
    const win::DWORD low = win::GetFileSize(file, &high);
    win::CloseHandle(file);
    return OldJpegStreamHolds((std::uint64_t{high} << 32) | low, width, height, components);
}
