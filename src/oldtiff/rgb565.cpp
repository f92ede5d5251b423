// Reader of the 5-6-5 colour members.
#include "oldtiff/rgb565.h"

#include <cstring>
#include <new>
#include <vector>

#include "oldtiff/oldtiff.h"
#include "records/dib/dib.h"

namespace {

// The first 22 bytes every such file starts with: header, entry count, two zero bytes, and
// the first entry (NewSubfileType, LONG, count 1).
constexpr std::uint8_t kTemplate[22] = {'I', 'I',  42, 0, 8, 0, 0, 0, 15, 0, 0,
                                        0,   0xFE, 0,  4, 0, 1, 0, 0, 0,  0, 0};
// Compared only through its first 22 bytes: the template's entry value bytes are not part.
constexpr int kTemplateBytes = 22;

constexpr int kWidthAt = 32;
constexpr int kHeightAt = 44;
constexpr int kSamplesAt = 116;
constexpr int kBitsAt = 212;
constexpr int kDescriptionAt = 218;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool ReadExactly(win::HANDLE file, void* buffer, win::DWORD count) {
    win::DWORD read = 0;
    return win::ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

// Closes the handle on every path.
struct FileHolder {
    win::HANDLE file;
    explicit FileHolder(const char* path)
        : file(path == nullptr
                   ? win::INVALID_HANDLE_VALUE
                   : win::CreateFileA(path, win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                      win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~FileHolder() {
        if (ok()) win::CloseHandle(file);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool ok() const { return file != win::INVALID_HANDLE_VALUE; }
};

}  // namespace

int ReadRgb565Header(win::HANDLE file, std::int32_t* width, std::int32_t* height,
                     std::int32_t* depth, std::uint8_t* description) {
    std::uint8_t head[kRgb565HeaderBytes];
    if (win::SetFilePointer(file, 0, nullptr, win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER)
        return kOldTiffReadFailed;
    if (!ReadExactly(file, head, kTemplateBytes)) return kOldTiffReadFailed;
    if (std::memcmp(head, kTemplate, kTemplateBytes) != 0) return kOldTiffUnsupported;
    if (win::SetFilePointer(file, 0, nullptr, win::FILE_BEGIN) == win::INVALID_SET_FILE_POINTER)
        return kOldTiffReadFailed;
    if (!ReadExactly(file, head, kRgb565HeaderBytes)) return kOldTiffReadFailed;
    if (Le16(head + kSamplesAt) != 3 || Le16(head + kBitsAt) != 5 ||
        Le16(head + kBitsAt + 2) != 6 || Le16(head + kBitsAt + 4) != 5)
        return kOldTiffUnsupported;
    const std::uint32_t w = Le32(head + kWidthAt), h = Le32(head + kHeightAt);
    if (w < 1 || h < 1 || w > 65535 || h > 65535) return kOldTiffUnsupported;
    // The pixel rows must all be there before anyone allocates for them.
    win::DWORD high = 0;
    const win::DWORD low = win::GetFileSize(file, &high);
    const std::uint64_t fileSize = (std::uint64_t{high} << 32) | low;
    if (fileSize < kRgb565HeaderBytes + std::uint64_t{w} * h * 2) return kOldTiffReadFailed;
    if (width) *width = static_cast<std::int32_t>(w);
    if (height) *height = static_cast<std::int32_t>(h);
    if (depth) *depth = 16;
    if (description) std::memcpy(description, head + kDescriptionAt, kRgb565DescriptionBytes);
    return 0;
}

int ReadRgb565Header(const char* path, std::int32_t* width, std::int32_t* height,
                     std::int32_t* depth, std::uint8_t* description) {
    FileHolder f(path);
    if (!f.ok()) return kOldTiffCannotOpen;
    return ReadRgb565Header(f.file, width, height, depth, description);
}

int ReadRgb565Pixels(win::HGLOBAL dib, const char* path, std::int32_t width, std::int32_t height,
                     std::int32_t depth) {
    if (depth != 16) return kOldTiffUnsupported;
    FileHolder f(path);
    if (!f.ok()) return kOldTiffCannotOpen;
    std::int32_t fileWidth = 0, fileHeight = 0;
    if (int r = ReadRgb565Header(f.file, &fileWidth, &fileHeight, nullptr, nullptr); r != 0)
        return r;
    if (fileWidth != width || fileHeight != height) return kOldTiffUnsupported;

    quorin::LockedDIB locked(dib);
    if (!locked.valid() || locked.layout().bitCount != 24 || locked.layout().width != width ||
        locked.layout().height != height)
        return kOldTiffUnsupported;
    // The file is positioned at the first pixel row, right after the header.
    std::vector<std::uint8_t> row;
    try {
        row.resize(static_cast<std::size_t>(width) * 2);
    } catch (const std::bad_alloc&) {
        return kOldTiffUnsupported;
    }
    for (std::int32_t r = 0; r < height; ++r) {
        if (!ReadExactly(f.file, row.data(), static_cast<win::DWORD>(row.size())))
            return kOldTiffReadFailed;
        std::uint8_t* out = locked.row(height - 1 - r);
        for (std::int32_t x = 0; x < width; ++x) Rgb565ToBgr(Le16(&row[2 * x]), out + 3 * x);
    }
    return 0;
}
