// qvdump over older image files: information, header records, preview record, pixels as BMP.
#include "oldfiles.h"

#include <fcntl.h>
#include <quorin/basicpreview.h>
#include <quorin/v5files.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "errors.h"
#include "names.h"
#include "oldtiff/oldtiff.h"
#include "platform/core/lasterror.h"
#include "platform/files/file.h"
#include "platform/system/bitmap.h"
#include "records/headers/headerkinds.h"
#include "signals.h"

namespace qvdump {
namespace {

// The exports' result for want of memory.
constexpr int kResultNoMemory = 8;

// The header class that the SDK builds for an image type.
std::unique_ptr<CHeader> MakeHeader(std::int32_t type) {
    switch (type) {
        case 1:
            return std::make_unique<CHeaderZel>();
        case 2:
            return std::make_unique<CHeaderWlk>();
        case 3:
            return std::make_unique<CHeaderPano>();
        case 4:
        case 5:
            return std::make_unique<CHeaderSC>();
        default:
            return std::make_unique<CHeader>();
    }
}

std::string DateText(const CInfosDateTime& date) {
    std::string text;
    date.GetDate(text, DATE_ORDER_YMD);
    return text.empty() ? "(none)" : Shown(text);
}

std::string TeethText(const CAnatTeethList& teeth) {
    std::string text;
    for (int i = 0; i < teeth.GetCount(); ++i) text += " " + teeth.GetAt(i)->GetNumber();
    return text.empty() ? " (none)" : Shown(text);
}

void PrintLUT(const CInfosLUTGray& lut, const CInfosDisplay& display) {
    std::int32_t b = 0, c = 0, g = 0;
    std::uint8_t inversion = 0;
    lut.GetSettings(&b, &c, &g, &inversion, nullptr);
    std::printf("  grey LUT: brightness %d contrast %d gamma %d inverted %u; display mode %d\n", b,
                c, g, unsigned{inversion}, display.GetColorLUT());
}

void PrintHeader(CHeader& h) {
    std::printf("header:\n");
    std::printf("  size %u x %u, %d bits x %d samples, type %d, sub-type %d\n", h.GetWidth(),
                h.GetHeight(), h.GetBitsPerSample(), h.GetSamplesPerPixel(), h.GetImageType(),
                h.GetSubType());
    std::printf("  path \"%s\", patient folder \"%s\"\n", Shown(h.GetPath()).c_str(),
                Shown(h.Patient().GetFolder()).c_str());
    const CInfosImage& info = h.ImageInfo();
    std::printf("  acquired %s, lossy %d, comments \"%s\"\n", DateText(info.DateTime1()).c_str(),
                info.GetLossyCompression(nullptr), Shown(info.GetImageComments()).c_str());
    std::printf("  teeth:%s\n", TeethText(h.TeethList()).c_str());
    std::int32_t filter = 0, parameter = 0;
    h.Filter().GetFilter(&filter, &parameter);
    std::printf("  mirrored %u, filter %d parameter %d\n", unsigned{h.Orient().GetMirror()}, filter,
                parameter);
    const CEquipment& e = h.Equipment();
    std::printf("  equipment: manufacturer \"%s\" model \"%s\" software \"%s\"\n",
                Shown(e.GetManufacturer()).c_str(), Shown(e.GetModelName()).c_str(),
                Shown(e.GetSoftwareVersions()).c_str());
    std::printf("  pixel size %.5f x %.5f mm\n", h.PixelSize(0).GetX(), h.PixelSize(0).GetY());
    std::printf("  checksum mismatch %d, checksum %u, drawings %u bytes\n", h.GetChecksumMismatch(),
                h.GetChecksum(), h.GetDrawingDataSize());
    if (auto* dx = dynamic_cast<CHeaderDX*>(&h)) {
        PrintLUT(dx->LUTGray(), dx->Display());
        const CInfosExp& x = dx->Exposure();
        std::printf("  exposure %u %u %u\n", unsigned{x.GetVoltage()}, unsigned{x.GetCurrent()},
                    unsigned{x.GetTime()});
    } else if (auto* sc = dynamic_cast<CHeaderSC*>(&h)) {
        PrintLUT(sc->LUTGray(), sc->Display());
    }
    if (auto* zel = dynamic_cast<CHeaderZel*>(&h))
        std::printf("  sensor filter level %d\n", zel->InfosZel().GetFilterLevel());
    if (auto* pano = dynamic_cast<CHeaderPano*>(&h)) {
        std::printf("  panoramic program %u, points:", unsigned{pano->InfosPano().GetProgram()});
        for (std::uint32_t p : pano->InfosPano().Points())
            std::printf(" (%u,%u)", p & 0xFFFFu, p >> 16);
        std::printf("\n");
    }
}

// False when the preview record could not be read for want of memory (refused on `name`'s
// behalf): any other result is the record's own answer.
bool PrintPreview(const char* name, const std::string& path) {
    SBasicPreviewInfo p;
    const int result = V5Files_ReadBasicPreviewInformation(path, p);
    if (result == kResultNoMemory) {
        Refuse(name, "preview: %s", std::strerror(ENOMEM));
        return false;
    }
    std::printf("preview: result %d\n", result);
    if (result != 0) return true;
    std::printf("  type %d, %d bits x %d samples, size %d x %d, category %d\n", p.nImageType,
                p.nBitsPerSample, p.nSamplesPerPixel, p.nWidth, p.nHeight, p.nCategory);
    std::printf("  radiograph %u, derived %u, mirrored %u\n", unsigned{p.bRadiograph},
                unsigned{p.bDerived}, unsigned{p.bMirrored});
    std::printf("  acquired %s, comments \"%s\"\n", DateText(p.infosImage.DateTime1()).c_str(),
                Shown(p.infosImage.GetImageComments()).c_str());
    std::printf("  teeth:%s\n", TeethText(p.teeth).c_str());
    return true;
}

// A descriptor closed when it goes.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Rows top-down (grey, or red-green-blue) as a bottom-up BMP file. Written through the file
// replacement: a refused or interrupted write leaves no partial BMP, and an old one whole.
// ERROR_SUCCESS or the library's error code.
win::DWORD WriteBmp(const char* path, const std::uint8_t* pixels, int width, int height,
                    int samples) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * samples + 3) & ~3u;
    const std::uint32_t palette = samples == 1 ? 1024 : 0;
    const std::uint32_t offset = 14 + 40 + palette;
    win::BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfSize = offset + stride * static_cast<std::uint32_t>(height);
    file.bfOffBits = offset;
    win::BITMAPINFOHEADER info{};
    info.biSize = 40;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = static_cast<win::WORD>(8 * samples);
    info.biSizeImage = stride * static_cast<std::uint32_t>(height);
    // A save through a new file writes a temporary file beside the target (the writer's file
    // has its path): an ending signal removes it, the target untouched. The signals are held
    // from before the save makes that file until the writer knows its name, so that none ends
    // qvdump in between. A save in place gets a memory file (no path) and writes the target once
    // the writer is done: the replacement itself keeps the ending signals from cutting that
    // write, and until it begins (the wait for the file's lock) they end qvdump at once, the
    // target untouched.
    // The temporary file is removed through a descriptor of its folder, opened through the
    // save's own (the name the writer gets leads through it): the folder the file was made in,
    // wherever it has gone since, however long its whole path.
    Descriptor temporaryFolder;
    std::optional<TemporaryRemover> remover;
    HeldSignals held;
    return quorin::ReplaceNativeFile(path, [&](win::CFile& out) {
        if (const std::string& temporary = out.GetFilePath(); !temporary.empty()) {
            const std::string folder = NativeFolderPart(temporary);
            temporaryFolder.fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            remover.emplace(Made{temporaryFolder.fd, NativeLeaf(temporary), -1, {}});
        }
        held.Release();
        // Write throws on any failure; the replacement reports it.
        out.Write(&file, sizeof file);
        out.Write(&info, 40);
        for (std::uint32_t i = 0; i < palette / 4; ++i) {
            const std::uint8_t entry[4] = {static_cast<std::uint8_t>(i),
                                           static_cast<std::uint8_t>(i),
                                           static_cast<std::uint8_t>(i), 0};
            out.Write(entry, 4);
        }
        std::vector<std::uint8_t> row(stride, 0);
        const std::size_t rowBytes = static_cast<std::size_t>(width) * samples;
        for (int y = height - 1; y >= 0; --y) {
            const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * rowBytes;
            for (std::size_t x = 0; x < rowBytes; x += samples) {
                if (samples == 3) {
                    row[x] = in[x + 2], row[x + 1] = in[x + 1], row[x + 2] = in[x];
                } else {
                    row[x] = in[x];
                }
            }
            out.Write(row.data(), stride);
        }
        return true;
    });
}

// What a public result of the exports means.
std::string ResultText(int result) {
    switch (result) {
        case 0:
            return "";
        case 1:
            return " (cannot open the file)";
        case 2:
            return " (a read failed)";
        case 5:
            return " (no image of the wanted kind)";
        case 7:
            return " (refused: not a readable older file)";
        default:
            return " (refused)";
    }
}

// A step of the exports refused: its result and what that means, or for want of memory the
// system's words alone, as every other reader's shortage is told.
void RefuseStep(const char* name, const char* step, int result) {
    if (result == kResultNoMemory)
        Refuse(name, "%s: %s", step, std::strerror(ENOMEM));
    else
        Refuse(name, "%s: result %d%s", step, result, ResultText(result).c_str());
}

// Zero-filled pages from calloc: the memory a read costs is what it writes, so a file whose
// pixels are refused costs next to nothing whatever size it answered.
using Pixels = std::unique_ptr<std::uint8_t, decltype(&std::free)>;

// The caller's pixel buffer, sized from the information answer only after checking it: sides of
// 1 to 65,535, 0, 1 or 3 samples, and no more bytes than the readers ever deliver. 0, EINVAL for
// an image the readers never make, or ENOMEM when the memory left cannot hold it.
int AllocatePixels(const CHeader& header, Pixels& pixels) {
    const std::uint64_t width = header.GetWidth(), height = header.GetHeight();
    const std::int32_t samples = header.GetSamplesPerPixel();
    if (width < 1 || height < 1 || (samples != 0 && samples != 1 && samples != 3)) return EINVAL;
    const std::uint64_t bytes = width * height * static_cast<std::uint64_t>(samples);
    if (bytes > kOldTiffMaxImageBytes) return EINVAL;
    if (bytes == 0) return 0;
    pixels.reset(static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1)));
    return pixels != nullptr ? 0 : ENOMEM;
}

}  // namespace

bool IsOldFile(const char* path) {
    return V5Files_IsOldQuorinFile(path) != 0;
}

bool DumpOldFile(const char* name, const char* path, const OldFileOptions& options) {
    std::printf("== %s (older file)\n", Shown(name).c_str());
    const int series = V5Files_IsFMSFile(path);
    std::printf("full-mouth-series layout: %d\n", series);
    // The type chooses the header class, as the SDK does.
    CHeader probe;
    probe.SetSubType(options.reduced ? 2 : 0);
    int result = V5Files_ReadQVImageInformation(path, &probe, options.page);
    std::unique_ptr<CHeader> header = MakeHeader(probe.GetImageType());
    header->SetSubType(options.reduced ? 2 : 0);
    // The readers answer the one image there is for any page of a file that is no series page
    // file, and for any page of a reduced image, and the main image where there is no reduced
    // one (sub-type 1): what was asked for is not there.
    const char* missing = nullptr;
    if (result == 0 && options.page != 0 && (series == 0 || options.reduced))
        missing = options.reduced ? "the reduced image is one image, page 0"
                                  : "the file holds one image, page 0";
    else if (result == 0 && options.reduced && probe.GetSubType() != 2)
        missing = "the file holds its main image only";
    if (result == 0 && missing == nullptr)
        result = V5Files_ReadQVImageInformation(path, header.get(), options.page);
    bool ok = result == 0 && missing == nullptr;
    if (ok)
        std::printf("information: result 0\n");
    else if (missing != nullptr)
        Refuse(name, "information: no %s%s: %s", options.page != 0 ? "page " : "reduced image",
               options.page != 0 ? std::to_string(options.page).c_str() : "", missing);
    else
        RefuseStep(name, "information", result);
    const int samples = header->GetSamplesPerPixel();
    Pixels pixels(nullptr, &std::free);
    if (const int err = ok ? AllocatePixels(*header, pixels) : 0; err == ENOMEM) {
        Refuse(name, "image: %s", std::strerror(ENOMEM));
        ok = false;
    } else if (err != 0) {
        Refuse(name, "image: refused: %u x %u pixels of %d samples is no image the readers make",
               header->GetWidth(), header->GetHeight(), samples);
        ok = false;
    }
    if (ok) {
        result = V5Files_ReadImage(path, header.get(), options.page, pixels.get());
        ok = result == 0;
        if (ok)
            std::printf("image: result 0\n");
        else
            RefuseStep(name, "image", result);
        // The header names the file as the user did (the library was given its own path).
        // (SetFolder drops one trailing '/' and keeps what it had for "": "/" sets none.)
        header->SetPath(name);
        const std::string folder = NativeFolderPart(name);
        header->Patient().SetFolder(folder.empty() ? "/" : folder);
        PrintHeader(*header);
        if (ok && options.bmpPath != nullptr) {
            if (samples != 1 && samples != 3) {
                Refuse(name, "bmp: no pixels of %d samples to write", samples);
                ok = false;
            } else if (const win::DWORD code =
                           WriteBmp(options.bmpPath, pixels.get(), header->GetWidth(),
                                    header->GetHeight(), samples);
                       code != win::ERROR_SUCCESS) {
                Refuse(options.bmpPath, "cannot write the BMP: %s",
                       SaveFailureText(options.bmpPath, code).c_str());
                ok = false;
            } else {
                std::printf("bmp: %s\n", Shown(options.bmpPath).c_str());
            }
        }
    }
    return PrintPreview(name, path) && ok;
}

}  // namespace qvdump
