// The reading roads of the older grey image files.
#include "v5files/oldfile.h"

#include <cstring>
#include <new>
#include <string>

#include "oldtiff/jpegdecoder.h"
#include "oldtiff/rgb565.h"
#include "platform/core/path.h"
#include "platform/files/rawfile.h"
#include "records/dib/dib.h"
#include "records/dib/dibresample.h"
#include "v5files/colourrecord.h"
#include "v5files/oldmark.h"
#include "v5files/oldname.h"

namespace {

namespace R = old_record;

// The half-size form: 190 x 240 samples of 6 bits, four packed into three bytes.
constexpr std::int32_t kHalfWidth = 190, kHalfHeight = 240;
constexpr std::uint32_t kHalfRowBytes = 143;
constexpr std::uint32_t kHalfPixelBytes = kHalfRowBytes * kHalfHeight;  // 34,320
constexpr std::uint32_t kHalfShortStrip = 34564;  // strip byte count of the 244-byte header
// The oldest textual record is a JPEG comment of 45 bytes.
constexpr int kTextualBytes = 45;

std::string UpperExtension(const char* path) {
    return win::ToUpperAnsi(win::PathExtension(path));
}

// Opens the container; a name that does not follow the rule must carry a TIFF header.
int Open(const char* path, OldTiffHolder* holder) {
    OldTiffContext* raw = nullptr;
    const int r = OpenOldTiff(path, &raw, !IsOldFileName(path));
    holder->reset(raw);
    return r == 0 ? 0 : TranslateOldTiffCode(r);
}

// Frees the DIB unless released.
struct DibOwner {
    win::HGLOBAL dib = nullptr;
    DibOwner() = default;
    DibOwner(const DibOwner&) = delete;
    DibOwner& operator=(const DibOwner&) = delete;
    ~DibOwner() { FreeDIB(dib); }
    win::HGLOBAL Release() {
        win::HGLOBAL d = dib;
        dib = nullptr;
        return d;
    }
};

// The textual record of a ".jpg" comment, converted when the image is small and the comment
// starts like a date; otherwise the record stays cleared.
void ConvertJpegComment(const char* comment, std::int32_t width, std::int32_t height,
                        std::uint8_t* record, bool* dated = nullptr) {
    std::memset(record, 0, kOldRecordBytes);
    if (dated != nullptr) *dated = false;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (width > 512 && height > 512) return;
    if (!digit(comment[0]) && !digit(comment[1])) return;
    ConvertOldHeaderRecord(reinterpret_cast<const std::uint8_t*>(comment), kTextualBytes,
                           OLD_KIND_INTRAORAL, width, height, nullptr, record, dated);
}

// Container rows into DIB rows: picture row r goes to stored row height - 1 - r; colour rows
// turn from red-green-blue into blue-green-red.
struct RowTarget {
    quorin::LockedDIB* dib;
    std::int32_t width, height, depth;
};

void PutRow(void* context, std::int32_t row, const std::uint8_t* bytes) {
    const auto* t = static_cast<RowTarget*>(context);
    if (row < 0 || row >= t->height) return;
    std::uint8_t* out = t->dib->row(t->height - 1 - row);
    if (t->depth == 8) {
        std::memcpy(out, bytes, static_cast<std::size_t>(t->width));
        return;
    }
    for (std::int32_t x = 0; x < t->width; ++x) {
        out[3 * x] = bytes[3 * x + 2];
        out[3 * x + 1] = bytes[3 * x + 1];
        out[3 * x + 2] = bytes[3 * x];
    }
}

// The 6-bit half-size image, read raw, into an 8-bit DIB of 380 x 480.
int ReadHalfSize(const char* path, std::uint32_t stripBytes, win::HGLOBAL* result) {
    win::HANDLE file = win::CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                        win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return kOldCannotOpen;
    struct Closer {
        win::HANDLE f;
        ~Closer() { win::CloseHandle(f); }
    } closer{file};

    std::uint8_t head[58] = {};
    win::DWORD got = 0;
    if (!win::ReadFile(file, head, sizeof head, &got, nullptr) || got != sizeof head)
        return kOldReadFailed;
    if (head[0] != 'I' || head[1] != 'I' || head[2] != '*' || head[3] != 0) return kOldNotReadable;
    if (OldRecordLong(head, 30) != kHalfWidth || OldRecordLong(head, 42) != kHalfHeight ||
        OldRecordWord(head, 54) != 6)
        return kOldNotReadable;

    const win::LONG start = stripBytes == kHalfShortStrip ? 244 : 327;
    if (win::SetFilePointer(file, start, nullptr, win::FILE_BEGIN) !=
        static_cast<win::DWORD>(start))
        return kOldReadFailed;
    std::vector<std::uint8_t> packed(kHalfPixelBytes);
    for (std::uint32_t half = 0; half < 2; ++half) {
        const std::uint32_t n = kHalfPixelBytes / 2;
        if (!win::ReadFile(file, packed.data() + half * n, n, &got, nullptr) || got != n)
            return kOldReadFailed;
    }

    DibOwner dib;
    dib.dib = CreateDIB(2 * kHalfWidth, 2 * kHalfHeight, 8);
    if (dib.dib == nullptr) return kOldNoMemory;
    {
        quorin::LockedDIB locked(dib.dib);
        if (!locked.valid()) return kOldNoMemory;
        std::uint8_t samples[kHalfWidth + 2];
        for (std::int32_t y = 0; y < kHalfHeight; ++y) {
            const std::uint8_t* in = packed.data() + y * kHalfRowBytes;
            for (std::int32_t i = 0, b = 0; i < kHalfWidth; i += 4, b += 3) {
                const std::uint8_t b0 = in[b], b1 = in[b + 1];
                const std::uint8_t b2 =
                    static_cast<std::uint32_t>(b + 2) < kHalfRowBytes ? in[b + 2] : 0;
                samples[i] = b0 >> 2;
                samples[i + 1] = static_cast<std::uint8_t>(((b0 & 3) << 4) | (b1 >> 4));
                samples[i + 2] = static_cast<std::uint8_t>(((b1 & 15) << 2) | (b2 >> 6));
                samples[i + 3] = b2 & 63;
            }
            for (int twice = 0; twice < 2; ++twice) {
                std::uint8_t* out = locked.row(2 * kHalfHeight - 1 - (2 * y + twice));
                for (std::int32_t x = 0; x < kHalfWidth; ++x)
                    out[2 * x] = out[2 * x + 1] = static_cast<std::uint8_t>(samples[x] * 4);
            }
        }
    }
    *result = dib.Release();
    return 0;
}

// The integrity check of a grey DIB with its record; stamps the mark on a mismatch.
int CheckIntegrity(SOldFileDIB* out, const void* markModule) {
    if (out->byteSum == 0) out->byteSum = 1;
    if (GetDIBBitCount(out->dib) != 8) return 0;
    const std::uint32_t stored = OldRecordLong(out->record, R::kIntegritySum);
    if (out->dated && (stored == 0 || stored == out->byteSum)) return 0;
    out->mismatch = true;
    return StampMismatchMark(out->dib, markModule) ? 0 : kOldNoMemory;
}

// Hands a finished DIB to `out` and judges it; on a failure the DIB is freed again.
int DeliverDIB(win::HGLOBAL dib, std::int32_t width, std::int32_t height, const void* markModule,
               SOldFileDIB* out) {
    out->dib = dib;
    out->width = width;
    out->height = height;
    if (int r = CheckIntegrity(out, markModule); r != 0) {
        FreeDIB(out->dib);
        out->dib = nullptr;
        return r;
    }
    return 0;
}

int ReadJpegDIB(const char* path, const void* markModule, SOldFileDIB* out) {
    char comment[kTextualBytes] = {};
    int width = 0, height = 0, components = 0;
    if (DecodeJpegFile(path, &width, &height, &components, comment, sizeof comment) != 0)
        return kOldReadFailed;
    // The grey road makes an 8-bit DIB: a colour stream's rows would not fit its rows.
    if (components != 1) return kOldNotReadable;
    if (width < 1 || height < 1 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
            kOldTiffMaxImageBytes ||
        !OldJpegFileHolds(path, width, height, components))
        return kOldNotReadable;
    ConvertJpegComment(comment, width, height, out->record, &out->dated);
    out->lossy = 1;

    DibOwner dib;
    dib.dib = CreateDIB(width, height, 8);
    if (dib.dib == nullptr) return kOldNoMemory;
    {
        quorin::LockedDIB locked(dib.dib);
        if (!locked.valid()) return kOldNoMemory;
        RowTarget target{&locked, width, height, 8};
        const auto begin = [](void* c, int w, int h, int n, const char*) {
            const auto* t = static_cast<RowTarget*>(c);
            return w == t->width && h == t->height && n == 1 ? 0 : -1;
        };
        const auto row = [](void* c, int r, const std::uint8_t* pixels) {
            PutRow(c, r, pixels);
            return 0;
        };
        if (DecodeJpegFileRows(path, &target, begin, row, nullptr) != 0) return kOldReadFailed;
    }
    return DeliverDIB(dib.Release(), width, height, markModule, out);
}

}  // namespace

int ReadOldDirectory(std::int32_t kind, OldTiffContext* context, int subfileType, std::int32_t page,
                     std::uint8_t* record, std::int32_t* width, std::int32_t* height,
                     std::int32_t* compression, std::int32_t* depth, std::int32_t* rotation,
                     bool* dated) {
    if (dated != nullptr) *dated = false;
    if (context == nullptr) return kOldCannotOpen;
    std::int32_t pageCompression = 0;
    if (compression != nullptr && kind == OLD_KIND_FMS_PAGE &&
        subfileType == kOldTiffReducedImage) {
        int r = 0;
        for (std::int32_t p = 0; p <= 21; ++p) {
            r = ReadOldTiffInfo(context, kOldTiffPage, p, nullptr, nullptr, &pageCompression,
                                nullptr, nullptr, nullptr);
            if (r == 0) break;
        }
        if (r != 0) return TranslateOldTiffCode(r);
    }
    std::uint8_t stored[kOldRecordBytes] = {};
    std::uint32_t storedSize = sizeof stored;
    std::int32_t w = 0, h = 0, c = 0, d = 0;
    if (int r = ReadOldTiffInfo(context, subfileType, page, &w, &h, &c, &d, stored, &storedSize);
        r != 0)
        return TranslateOldTiffCode(r);
    if (c < 1) c = kOldTiffUncompressed;
    if (kind == OLD_KIND_FMS_PAGE && subfileType == kOldTiffReducedImage && compression != nullptr)
        c = pageCompression < 1 ? kOldTiffUncompressed : pageCompression;
    if (width) *width = w;
    if (height) *height = h;
    if (compression) *compression = c;
    if (depth) *depth = d;
    if (record != nullptr) {
        // A refused layout leaves the record cleared; the road still succeeds.
        ConvertOldHeaderRecord(stored, storedSize, kind, w, h, rotation, record, dated);
    } else if (rotation != nullptr) {
        *rotation = 0;
    }
    return 0;
}

int ReadOldFileInfo(const char* path, std::int32_t page, bool* subTypeFlag, SOldFileInfo* info) {
    if (path == nullptr || info == nullptr) return kOldNotReadable;
    *info = SOldFileInfo{};
    if (UpperExtension(path) != ".TIF") return kOldNotReadable;
    const std::int32_t nameKind = GetOldFileNameKind(path);
    bool flag = subTypeFlag != nullptr && *subTypeFlag;
    const int subfile = flag                            ? kOldTiffReducedImage
                        : nameKind == OLD_KIND_FMS_PAGE ? kOldTiffPage
                                                        : kOldTiffMainImage;

    // A 5-6-5 colour member: its directory is laid out two bytes off, so that the container
    // cannot read it; its own reader knows its size.
    std::int32_t w = 0, h = 0, d = 0;
    if (ReadRgb565Header(path, &w, &h, &d, nullptr) == 0) {
        info->width = w;
        info->height = h;
        info->depth = d;
        info->kind = nameKind;
        if (subTypeFlag != nullptr) *subTypeFlag = false;
        return 0;
    }

    OldTiffHolder context;
    if (int r = Open(path, &context); r != 0) return r;
    std::uint8_t stored[kOldRecordBytes] = {};
    std::uint32_t storedSize = sizeof stored;
    int r = ReadOldTiffInfo(context.get(), subfile, subfile == kOldTiffPage ? page : 0, &w, &h,
                            nullptr, &d, stored, &storedSize);
    if (r != 0 && flag) {
        flag = false;
        storedSize = sizeof stored;
        r = ReadOldTiffInfo(context.get(), kOldTiffMainImage, 0, &w, &h, nullptr, &d, stored,
                            &storedSize);
    }
    // Callers size their buffers from the answer: a picture no file of this length can hold is
    // refused here. Compression and strip faults are the pixel road's to report.
    if (r == 0 && !OldTiffFileCanHold(context.get(), w, h, d)) r = kOldTiffUnsupported;
    context.reset();
    if (subTypeFlag != nullptr) *subTypeFlag = flag;
    if (r != 0) return TranslateOldTiffCode(r);

    info->width = w;
    info->height = h;
    info->depth = d;
    info->kind = nameKind != OLD_KIND_NONE ? nameKind
                 : d == 8                  ? OLD_KIND_GREY_TIFF
                 : d == 24                 ? OLD_KIND_COLOUR
                                           : OLD_KIND_NONE;
    if (d == 8) {
        std::uint8_t record[kOldRecordBytes];
        if (!ConvertOldHeaderRecord(stored, storedSize, info->kind, w, h, nullptr, record))
            return kOldNotReadable;
        info->pixelSizes = OldRecordPixelSize(record, R::kPixelSizeX) != 0.0 &&
                           OldRecordPixelSize(record, R::kPixelSizeY) != 0.0;
    }
    return 0;
}

int ReadOldFileRecord(const char* path, std::uint8_t* record, std::int32_t* width,
                      std::int32_t* height, std::int32_t* lossy) {
    if (path == nullptr) return kOldNotReadable;
    std::uint8_t local[kOldRecordBytes];
    if (record == nullptr) record = local;
    std::memset(record, 0, kOldRecordBytes);
    const std::string ext = UpperExtension(path);
    if (ext == ".TIF") {
        const std::int32_t kind = GetOldFileNameKind(path);
        OldTiffHolder context;
        if (int r = Open(path, &context); r != 0) return r;
        const int subfile = kind == OLD_KIND_FMS_PAGE && !IsOldDerivedFile(path)
                                ? kOldTiffReducedImage
                                : kOldTiffMainImage;
        std::int32_t w = 0, h = 0, c = 0, d = 0;
        if (int r =
                ReadOldDirectory(kind, context.get(), subfile, 0, record, &w, &h, &c, &d, nullptr);
            r != 0)
            return r;
        if (width) *width = w;
        if (height) *height = h;
        if (lossy) *lossy = (c == kOldTiffOldJpeg || d == 6) ? 1 : 0;
        return 0;
    }
    if (ext == ".JPG") {
        if (lossy) *lossy = 1;
        char comment[kTextualBytes] = {};
        int w = 0, h = 0;
        if (DecodeJpegFile(path, &w, &h, nullptr, comment, sizeof comment) != 0)
            return kOldReadFailed;
        if (width) *width = w;
        if (height) *height = h;
        ConvertJpegComment(comment, w, h, record);
        return 0;
    }
    return kOldNotReadable;
}

int ReadOldColourRecord(const char* path, std::uint8_t* record, std::int32_t* width,
                        std::int32_t* height) {
    if (path == nullptr || record == nullptr) return kOldNotReadable;
    std::memset(record, 0, kColourRecordBytes);
    std::int32_t w = 0, h = 0;
    const std::string ext = UpperExtension(path);
    if (ext == ".JPG") {
        char comment[kShortColourRecordBytes] = {};
        if (DecodeJpegFile(path, &w, &h, nullptr, comment, sizeof comment) != 0)
            return kOldReadFailed;
        ConvertShortColourRecord(reinterpret_cast<const std::uint8_t*>(comment), record);
    } else if (ext == ".TIF") {
        std::uint8_t description[kRgb565DescriptionBytes];
        std::int32_t depth = 0;
        const int r565 = ReadRgb565Header(path, &w, &h, &depth, description);
        if (r565 == 0) {
            ConvertShortColourRecord(description, record);
        } else if (r565 != kOldTiffUnsupported) {
            return TranslateOldTiffCode(r565);
        } else {
            OldTiffHolder context;
            if (int r = Open(path, &context); r != 0) return r;
            std::uint8_t stored[kColourRecordBytes] = {};
            std::uint32_t size = sizeof stored;
            if (int r = ReadOldTiffInfo(context.get(), kOldTiffMainImage, 0, &w, &h, nullptr,
                                        nullptr, stored, &size);
                r != 0)
                return TranslateOldTiffCode(r);
            ConvertStoredColourRecord(stored, size, record);
        }
    } else {
        return kOldNotReadable;
    }
    if (width) *width = w;
    if (height) *height = h;
    return 0;
}

int ReadOldDirectoryDIB(OldTiffContext* context, std::int32_t kind, int subfileType,
                        std::int32_t page, bool derived, const void* markModule, SOldFileDIB* out) {
    std::int32_t w = 0, h = 0, c = 0, d = 0;
    if (int r = ReadOldDirectory(kind, context, subfileType, page, out->record, &w, &h, &c, &d,
                                 &out->rotation, &out->dated);
        r != 0)
        return r;
    out->lossy = (c == kOldTiffOldJpeg || d == 6) ? 1 : 0;
    if (derived) std::memset(out->record + R::kIntegritySum, 0, 4);
    if (d != 8 && d != 24) return kOldNotReadable;
    if (int r = CheckOldTiffImage(context, subfileType, page); r != 0)
        return TranslateOldTiffCode(r);

    DibOwner dib;
    dib.dib = CreateDIB(w, h, d);
    if (dib.dib == nullptr) return kOldNoMemory;
    {
        quorin::LockedDIB locked(dib.dib);
        if (!locked.valid()) return kOldNoMemory;
        RowTarget target{&locked, w, h, d};
        if (int r = ReadOldTiffRows(context, subfileType, page, PutRow, &target, &out->byteSum);
            r != 0)
            return TranslateOldTiffCode(r);
    }
    return DeliverDIB(dib.Release(), w, h, markModule, out);
}

int ReadOldFileDIB(const char* path, bool subTypeFlag, const void* markModule, SOldFileDIB* out) {
    if (path == nullptr || out == nullptr) return kOldNotReadable;
    *out = SOldFileDIB{};
    const std::string ext = UpperExtension(path);
    if (ext == ".JPG") return ReadJpegDIB(path, markModule, out);
    if (ext != ".TIF") return kOldNotReadable;

    const std::int32_t kind = GetOldFileNameKind(path);
    const int subfile = subTypeFlag ? kOldTiffReducedImage : kOldTiffMainImage;
    OldTiffHolder context;
    if (int r = Open(path, &context); r != 0) return r;

    std::int32_t w = 0, h = 0, c = 0, d = 0;
    int r = ReadOldDirectory(kind, context.get(), subfile, 0, out->record, &w, &h, &c, &d,
                             &out->rotation, &out->dated);
    if (r != 0) return r;
    if (d == 6) {
        // The half-size form is read raw; its strip byte count tells where the pixels start.
        const int index = FindOldTiffDirectory(context.get(), subfile, 0);
        const std::uint32_t strip =
            index < 0 ? 0 : context->directories[index].entries[OldTiffTagIndex(279)].value;
        context.reset();
        out->lossy = 1;
        if (IsOldDerivedFile(path)) std::memset(out->record + R::kIntegritySum, 0, 4);
        win::HGLOBAL half = nullptr;
        if ((r = ReadHalfSize(path, strip, &half)) != 0) return r;
        return DeliverDIB(half, 2 * kHalfWidth, 2 * kHalfHeight, markModule, out);
    }

    if ((r = ReadOldDirectoryDIB(context.get(), kind, subfile, 0, IsOldDerivedFile(path),
                                 markModule, out)) != 0)
        return r;
    if (!subTypeFlag && out->width == kHalfWidth && out->height == kHalfHeight &&
        GetDIBBitCount(out->dib) == 8) {
        win::HGLOBAL large = ResizeDIBTo380x480(out->dib, kHalfWidth, kHalfHeight);
        FreeDIB(out->dib);
        out->dib = large;
        if (large == nullptr) return kOldNoMemory;
        out->width = 2 * kHalfWidth;
        out->height = 2 * kHalfHeight;
    }
    return 0;
}

int ReadOldDrawing(OldTiffContext* context, int subfileType, std::int32_t page,
                   std::vector<std::uint8_t>* data) {
    data->clear();
    std::uint32_t size = 0;
    // Drawing data that cannot be read are an unreadable blob like any other: no drawings.
    if (int r = GetOldTiffDrawingSize(context, subfileType, &size, page); r != 0)
        return r == kOldTiffReadFailed ? 0 : TranslateOldTiffCode(r);
    if (size == 0) return 0;
    try {
        data->assign(size, 0);
    } catch (const std::bad_alloc&) {
        return kOldNoMemory;
    }
    if (int r = ReadOldTiffDrawing(context, subfileType, data->data(), &size, page); r != 0) {
        data->clear();
        return r == kOldTiffReadFailed ? 0 : TranslateOldTiffCode(r);
    }
    data->resize(size);
    return 0;
}
