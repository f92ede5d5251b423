// The exported functions of the older image files.
#include <quorin/basicpreview.h>
#include <quorin/header.h>
#include <quorin/v5files.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "oldtiff/oldtiff.h"
#include "oldtiff/rgb565.h"
#include "platform/core/path.h"
#include "records/core/imagetype.h"
#include "records/dib/dib.h"
#include "records/headers/headerchecksum.h"
#include "v5files/colourmember.h"
#include "v5files/oldfile.h"
#include "v5files/oldfill.h"
#include "v5files/oldmark.h"
#include "v5files/oldname.h"

namespace {

// Public codes the exports answer without a reader's code.
constexpr int kPublicNotReadable = OldFilePublicCode(kOldNotReadable);
constexpr int kPublicNoMemory = OldFilePublicCode(kOldNoMemory);

// The half-size form of 6-bit samples, delivered at twice its size.
constexpr std::int64_t kHalfSizeWidth = 190, kHalfSizeHeight = 240;

// Runs an export body; nothing thrown leaves the library.
template <class Body>
int Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kPublicNoMemory;
    } catch (...) {
        return kPublicNotReadable;
    }
}

struct DibFree {
    win::HGLOBAL dib = nullptr;
    ~DibFree() { FreeDIB(dib); }
};

// Colour members read through a container must be 24-bit images: an 8-bit one would be
// delivered three times larger than its header says.
int CheckColourMember(const char* path) {
    if (!win::EqualsNoCase(win::PathExtension(path), ".tif")) return 0;
    if (ReadRgb565Header(path, nullptr, nullptr, nullptr, nullptr) == 0) return 0;
    OldTiffContext* raw = nullptr;
    if (int r = OpenOldTiff(path, &raw); r != 0) return TranslateOldTiffCode(r);
    OldTiffHolder context(raw);
    std::int32_t depth = 0;
    if (int r = ReadOldTiffInfo(context.get(), kOldTiffMainImage, 0, nullptr, nullptr, nullptr,
                                &depth, nullptr, nullptr);
        r != 0)
        return TranslateOldTiffCode(r);
    return depth == 24 ? 0 : kOldNotReadable;
}

// The drawing data of a directory into the header.
int ReadDrawing(CHeader& header, OldTiffContext* context, int subfileType, std::int32_t page,
                std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> data;
    if (int r = ReadOldDrawing(context, subfileType, page, &data); r != 0) return r;
    // A blob the drawing store refuses leaves the image without drawings; the pixels stand.
    if (!data.empty())
        header.SetDrawingData(data.data(), static_cast<std::uint32_t>(data.size()), width, height,
                              header.GetDrawingFlag());
    return 0;
}

// The drawing data of the image that the packed-DIB road read.
int ReadDrawingOfFile(CHeader& header, const char* path, int subfileType, std::int32_t width,
                      std::int32_t height) {
    if (!win::EqualsNoCase(win::PathExtension(path), ".tif")) return 0;
    OldTiffContext* raw = nullptr;
    if (int r = OpenOldTiff(path, &raw, !IsOldFileName(path)); r != 0)
        return TranslateOldTiffCode(r);
    OldTiffHolder context(raw);
    // The half-size form is read raw: its directory may not be one the container knows.
    if (FindOldTiffDirectory(context.get(), subfileType, 0) < 0) return 0;
    return ReadDrawing(header, context.get(), subfileType, 0, width, height);
}

// Rows of the DIB top-down into the caller's buffer, colour as red, green, blue.
int CopyPixels(const CHeader& header, win::HGLOBAL dib, unsigned char* pixels) {
    const std::int32_t samples = header.GetSamplesPerPixel();
    if (header.GetBitsPerSample() != 8 || (samples != 1 && samples != 3)) return kOldNotReadable;
    quorin::LockedDIB locked(dib);
    if (!locked.valid()) return kOldNotReadable;
    const quorin::DIBLayout& layout = locked.layout();
    if (layout.width != header.GetWidth() || layout.height != header.GetHeight() ||
        layout.bitCount != static_cast<std::uint32_t>(8 * samples))
        return kOldNotReadable;
    const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * samples;
    for (std::int32_t y = 0; y < layout.height; ++y) {
        unsigned char* out = pixels + static_cast<std::size_t>(y) * rowBytes;
        std::memcpy(out, locked.row(layout.height - 1 - y), rowBytes);
        if (samples == 3)
            for (std::size_t x = 0; x < rowBytes; x += 3) std::swap(out[x], out[x + 2]);
    }
    return 0;
}

int ReadImage(const char* path, CHeader& header, int pageIndex, unsigned char* pixels) {
    const win::SplitPathParts parts = win::SplitPath(path);
    header.Patient().SetFolder(parts.drive + parts.dir);

    const std::int32_t type = header.GetImageType();
    const bool subType2 = header.GetSubType() == 2;
    DibFree dib;
    bool mismatch = false;
    bool grey = false;
    if (type == 2 || type == 5) {
        if (int r = CheckColourMember(path); r != 0) return r;
        CColourMember member;
        if (int r = ReadColourMember(path, &member, true); r != 0) return r;
        dib.dib = member.dib;
        FillColourHeader(header, member.record);
        if (!member.drawing.empty())
            header.SetDrawingData(member.drawing.data(),
                                  static_cast<std::uint32_t>(member.drawing.size()), member.width,
                                  member.height, header.GetDrawingFlag());
    } else if (type == 1 || type == 3 || type == 4 || (type == 11 && subType2)) {
        SOldFileDIB read;
        if (int r = ReadOldFileDIB(path, subType2, OldMarkModule(), &read); r != 0) return r;
        dib.dib = read.dib;
        mismatch = read.mismatch;
        grey = GetDIBBitCount(read.dib) == 8;
        switch (type) {
            case 1:
                FillIntraoralHeader(header, read.record, read.lossy, path);
                break;
            case 11:
                FillPageHeader(header, read.record);
                break;
            case 3:
                FillPanoramicHeader(header, read.record, read.lossy);
                break;
            default:
                FillScannedHeader(header, read.record, read.lossy);
                break;
        }
        if (int r =
                ReadDrawingOfFile(header, path, subType2 ? kOldTiffReducedImage : kOldTiffMainImage,
                                  read.width, read.height);
            r != 0)
            return r;
    } else if (type == 11) {
        if (!win::EqualsNoCase(win::PathExtension(path), ".tif")) return kOldNotReadable;
        OldTiffContext* raw = nullptr;
        if (int r = OpenOldTiff(path, &raw, !IsOldFileName(path)); r != 0)
            return TranslateOldTiffCode(r);
        OldTiffHolder context(raw);
        SOldFileDIB read;
        if (int r = ReadOldDirectoryDIB(context.get(), OLD_KIND_FMS_PAGE, kOldTiffPage, pageIndex,
                                        IsOldDerivedFile(path), OldMarkModule(), &read);
            r != 0)
            return r;
        dib.dib = read.dib;
        mismatch = read.mismatch;
        grey = GetDIBBitCount(read.dib) == 8;
        FillIntraoralHeader(header, read.record, read.lossy, path);
        if (int r = ReadDrawing(header, context.get(), kOldTiffPage, pageIndex, read.width,
                                read.height);
            r != 0)
            return r;
    } else {
        return kOldNotReadable;
    }

    if (pixels != nullptr)
        if (int r = CopyPixels(header, dib.dib, pixels); r != 0) return r;

    if (grey && header.GetSamplesPerPixel() == 1) header.SetChecksumMismatch(mismatch ? 1 : 0);
    if (subType2) {
        if (header.GetChecksumMismatch() != 0 && (type == 1 || type == 3 || type == 6) &&
            pixels != nullptr)
            StampIntegrityMark(header, pixels);
        header.SetChecksum(ComputePixelChecksum(header, pixels));
        header.SetChecksumMismatch(0);
    }
    return 0;
}

int ReadInformation(const char* path, CHeader& header, int pageNumber) {
    bool flag = header.GetSubType() == 2;
    SOldFileInfo info;
    if (int r = ReadOldFileInfo(path, pageNumber, &flag, &info); r != 0) {
        header.SetImageType(0);
        return r;
    }

    static constexpr std::int32_t kTypeOfKind[] = {0, 1, 11, 2, 3, 4, 5};
    std::int32_t type = info.kind >= 0 && info.kind <= 6 ? kTypeOfKind[info.kind] : 0;
    if (info.kind == OLD_KIND_PANORAMIC && !info.pixelSizes) type = 4;

    std::int64_t width = info.width, height = info.height;
    std::int32_t samples = 0;
    switch (info.depth) {
        case 6:
            width *= 2, height *= 2, samples = 1;
            break;
        case 8:
            samples = 1;
            // The pixel road enlarges half-size main images: report what it delivers.
            if (!flag && width == kHalfSizeWidth && height == kHalfSizeHeight)
                width *= 2, height *= 2;
            break;
        case 24:
            samples = 3;
            break;
        case 16:
            // 5-6-5 colour members are delivered as 24-bit pixels.
            samples = (type == 2 || type == 5) ? 3 : 0;
            break;
        default:
            samples = 0;
            break;
    }
    // What is stored is what callers size their buffers from: it must fit the 16-bit fields and
    // stay within the largest image the readers make. Whether the pixel road can read it is that
    // road's to answer.
    if (width < 1 || height < 1 || width > 65535 || height > 65535 ||
        static_cast<std::uint64_t>(width * height * std::max(samples, 1)) > kOldTiffMaxImageBytes) {
        header.SetImageType(0);
        return kOldNotReadable;
    }

    header.SetPath(path);
    if (!flag && header.GetSubType() != 4) header.SetSubType(1);
    header.SetWidth(static_cast<std::uint16_t>(width));
    header.SetHeight(static_cast<std::uint16_t>(height));
    header.SetBitsPerSample(8);
    header.SetSamplesPerPixel(samples);
    header.SetImageType(type);
    return 0;
}

}  // namespace

extern "C" {

int V5Files_IsOldQuorinFile(const char* path) {
    return Guarded([&] { return GetOldFileKind(path, true) != OLD_KIND_NONE ? 1 : 0; });
}

int V5Files_IsFMSFile(const char* path) {
    return Guarded([&] {
        if (path == nullptr || GetOldFileNameKind(path) != OLD_KIND_FMS_PAGE) return 0;
        switch (GetOldFileLetter(path)) {
            case 'B':
                return 1;
            case 'F':
                return 2;
            case 'X':
                return 3;
            case 'Y':
                return 4;
            case 'H':
                return 5;
            case 'N':
                return 6;
            default:
                return 0;
        }
    });
}

int V5Files_ReadQVImageInformation(const char* path, CHeader* header, int pageNumber) {
    return Guarded([&] {
        if (path == nullptr || header == nullptr) return kPublicNotReadable;
        return OldFilePublicCode(ReadInformation(path, *header, pageNumber));
    });
}

int V5Files_ReadImage(const char* path, CHeader* header, int pageIndex, unsigned char* pixels) {
    return Guarded([&] {
        if (path == nullptr || header == nullptr) return kPublicNotReadable;
        return OldFilePublicCode(ReadImage(path, *header, pageIndex, pixels));
    });
}

int V5Files_ReadBasicPreviewInformation(const std::string& path, SBasicPreviewInfo& info) {
    return Guarded([&] {
        const std::int32_t kind = GetOldFileNameKind(path);
        switch (kind) {
            case OLD_KIND_INTRAORAL:
            case OLD_KIND_FMS_PAGE:
            case OLD_KIND_PANORAMIC:
            case OLD_KIND_GREY_TIFF: {
                std::uint8_t record[kOldRecordBytes];
                std::int32_t width = 0, height = 0;
                if (ReadOldFileRecord(path.c_str(), record, &width, &height, nullptr) != 0)
                    return kPublicNotReadable;
                FillPreviewFromRecord(info, record, kind);
                info.nWidth = width;
                info.nHeight = height;
                break;
            }
            case OLD_KIND_VIDEO:
            case OLD_KIND_COLOUR: {
                std::uint8_t record[290];
                std::int32_t width = 0, height = 0;
                if (ReadOldColourRecord(path.c_str(), record, &width, &height) != 0)
                    return kPublicNotReadable;
                FillPreviewFromColourRecord(info, record, kind);
                info.nWidth = width;
                info.nHeight = height;
                break;
            }
            default:
                return kPublicNotReadable;
        }
        info.bDerived = IsDerivedImageFileName(path) ? 1 : 0;
        return 0;
    });
}

}  // extern "C"
