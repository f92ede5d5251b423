// The colour member road.
#include "v5files/colourmember.h"

#include <cctype>
#include <cstring>
#include <string>

#include "oldtiff/jpegdecoder.h"
#include "oldtiff/oldtiff.h"
#include "oldtiff/rgb565.h"
#include "records/dib/dib.h"
#include "v5files/colourrecord.h"
#include "v5files/oldfile.h"

namespace {

// The extension from the last dot of the last path component, upper-cased.
std::string Extension(const char* path) {
    const std::string p(path);
    const std::size_t slash = p.find_last_of("/\\");
    const std::size_t dot = p.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = p.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

// A 24-bit DIB of that size is one the readers are willing to make.
bool SaneSize(std::int32_t width, std::int32_t height) {
    return width >= 1 && height >= 1 && width <= 65535 && height <= 65535 &&
           3ull * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <=
               kOldTiffMaxImageBytes;
}

// Frees the DIB unless released.
struct DibHolder {
    win::HGLOBAL dib = nullptr;
    ~DibHolder() { FreeDIB(dib); }
    win::HGLOBAL Release() {
        win::HGLOBAL d = dib;
        dib = nullptr;
        return d;
    }
};

// Rows of the decoder (blue, green, red, or grey) into the DIB rows.
struct JpegTarget {
    quorin::LockedDIB* dib;
    std::int32_t width, height, components;
};

int JpegBegin(void* context, int width, int height, int components, const char*) {
    const auto* t = static_cast<JpegTarget*>(context);
    return width == t->width && height == t->height && components == t->components ? 0 : -1;
}

int JpegRow(void* context, int row, const std::uint8_t* pixels) {
    const auto* t = static_cast<JpegTarget*>(context);
    if (row < 0 || row >= t->height) return 0;
    std::uint8_t* out = t->dib->row(t->height - 1 - row);
    if (t->components == 3) {
        std::memcpy(out, pixels, 3 * static_cast<std::size_t>(t->width));
    } else {
        for (std::int32_t x = 0; x < t->width; ++x)
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = pixels[x];
    }
    return 0;
}

int ReadJpegMember(const char* path, CColourMember* m) {
    char comment[kShortColourRecordBytes] = {};
    int components = 0;
    if (DecodeJpegFile(path, &m->width, &m->height, &components, comment, sizeof comment) != 0)
        return kOldReadFailed;
    if ((components != 1 && components != 3) || !SaneSize(m->width, m->height) ||
        !OldJpegFileHolds(path, m->width, m->height, components))
        return kOldNotReadable;
    ConvertShortColourRecord(reinterpret_cast<const std::uint8_t*>(comment), m->record);
    m->lossy = true;

    DibHolder dib{CreateDIB(m->width, m->height, 24)};
    if (dib.dib == nullptr) return kOldNoMemory;
    {
        quorin::LockedDIB locked(dib.dib);
        if (!locked.valid()) return kOldNoMemory;
        JpegTarget target{&locked, m->width, m->height, components};
        if (DecodeJpegFileRows(path, &target, JpegBegin, JpegRow, nullptr) != 0)
            return kOldReadFailed;
    }
    m->dib = dib.Release();
    return 0;
}

int ReadRgb565Member(const char* path, CColourMember* m, const std::uint8_t* description) {
    ConvertShortColourRecord(description, m->record);
    if (!SaneSize(m->width, m->height)) return kOldNotReadable;
    DibHolder dib{CreateDIB(m->width, m->height, 24)};
    if (dib.dib == nullptr) return kOldNoMemory;
    if (int r = ReadRgb565Pixels(dib.dib, path, m->width, m->height, 16); r != 0)
        return TranslateOldTiffCode(r);
    m->dib = dib.Release();
    return 0;
}

// Container rows (red, green, blue or grey) into the DIB rows (blue, green, red).
struct TiffTarget {
    quorin::LockedDIB* dib;
    std::int32_t width, height, depth;
};

void TiffRow(void* context, std::int32_t row, const std::uint8_t* bytes) {
    const auto* t = static_cast<TiffTarget*>(context);
    if (row < 0 || row >= t->height) return;
    std::uint8_t* out = t->dib->row(t->height - 1 - row);
    for (std::int32_t x = 0; x < t->width; ++x) {
        if (t->depth == 24) {
            out[3 * x] = bytes[3 * x + 2];
            out[3 * x + 1] = bytes[3 * x + 1];
            out[3 * x + 2] = bytes[3 * x];
        } else {
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = bytes[x];
        }
    }
}

int ReadContainerMember(const char* path, CColourMember* m, bool wantDrawing) {
    OldTiffContext* raw = nullptr;
    if (int r = OpenOldTiff(path, &raw); r != 0) return TranslateOldTiffCode(r);
    OldTiffHolder c(raw);
    std::uint8_t stored[kColourRecordBytes] = {};
    std::uint32_t size = sizeof stored;
    std::int32_t depth = 0;
    if (int r = ReadOldTiffInfo(c.get(), kOldTiffMainImage, 0, &m->width, &m->height, nullptr,
                                &depth, stored, &size);
        r != 0)
        return TranslateOldTiffCode(r);
    // Rows of other depths would not fill a 24-bit row as they are.
    if ((depth != 24 && depth != 8) || !SaneSize(m->width, m->height)) return kOldNotReadable;
    ConvertStoredColourRecord(stored, size, m->record);
    if (int r = CheckOldTiffImage(c.get(), kOldTiffMainImage, 0); r != 0)
        return TranslateOldTiffCode(r);

    DibHolder dib{CreateDIB(m->width, m->height, 24)};
    if (dib.dib == nullptr) return kOldNoMemory;
    {
        quorin::LockedDIB locked(dib.dib);
        if (!locked.valid()) return kOldNoMemory;
        TiffTarget target{&locked, m->width, m->height, depth};
        if (int r = ReadOldTiffRows(c.get(), kOldTiffMainImage, 0, TiffRow, &target, nullptr);
            r != 0)
            return TranslateOldTiffCode(r);
    }
    if (wantDrawing)
        if (int r = ReadOldDrawing(c.get(), kOldTiffMainImage, 0, &m->drawing); r != 0) return r;
    m->dib = dib.Release();
    return 0;
}

}  // namespace

int ReadColourMember(const char* path, CColourMember* member, bool wantDrawing) {
    if (path == nullptr || member == nullptr) return kOldCannotOpen;
    *member = CColourMember{};
    const std::string ext = Extension(path);
    if (ext == ".JPG") return ReadJpegMember(path, member);
    if (ext != ".TIF") return kOldNotReadable;

    std::uint8_t description[kRgb565DescriptionBytes];
    std::int32_t depth = 0;
    const int header = ReadRgb565Header(path, &member->width, &member->height, &depth, description);
    if (header == 0) return ReadRgb565Member(path, member, description);
    if (header != kOldTiffUnsupported) return TranslateOldTiffCode(header);
    return ReadContainerMember(path, member, wantDrawing);
}
