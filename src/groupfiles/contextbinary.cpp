// The older binary context file: a sequence of chunks (four-character id, 32-bit little-endian
// length, data). Every length is checked against the bytes left before it is used, every search
// advances by at least one chunk header, and the object changes only once the whole file has
// been read.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "groupfiles/contextdata.h"
#include "groupfiles/xmldocument.h"
#include "platform/core/path.h"
#include "platform/files/file.h"
#include "records/dib/dib.h"
#include "records/dib/dibbuffer.h"

namespace {

constexpr std::uint32_t kNameBytes = 260;  // file names and the comment, ending zero included
constexpr std::int32_t kIconWidth = 400;
constexpr std::int32_t kIconHeight = 300;

std::atomic<std::uint64_t> g_screenSize{(std::uint64_t{1024} << 32) | 768};

// A chunk found by ChunkReader::Find.
struct Chunk {
    std::uint32_t length = 0;   // as its header says
    std::size_t available = 0;  // the part of it inside the file: less only for a last chunk
                                // that claims more than the file holds
    // Exactly `n` bytes long, all of them in the file.
    bool Is(std::uint32_t n) const { return length == n && available == n; }
};

// Walks the chunks of a file held in memory; the position never passes the end.
class ChunkReader {
  public:
    ChunkReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // Looks for the chunk `id` from the start or from the current position. Found: the position
    // is at its data. A chunk passed over whose length runs past the end ends the search. Not
    // found: false, with the position at the end.
    bool Find(const char (&id)[5], bool fromStart, Chunk* chunk) {
        if (fromStart) m_pos = 0;
        while (m_size - m_pos >= 8) {
            std::uint32_t n = 0;
            std::memcpy(&n, m_data + m_pos + 4, 4);
            const std::size_t rest = m_size - m_pos - 8;
            if (std::memcmp(m_data + m_pos, id, 4) == 0) {
                m_pos += 8;
                chunk->length = n;
                chunk->available = std::min<std::size_t>(n, rest);
                return true;
            }
            if (n > rest) break;
            m_pos += 8 + std::size_t{n};
        }
        m_pos = m_size;
        return false;
    }
    // The data of the chunk just found, leaving the position after it (whatever of it was used).
    const std::uint8_t* Take(const Chunk& chunk) {
        const std::uint8_t* at = m_data + m_pos;
        m_pos += chunk.available;  // Find kept it inside the file
        return at;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

template <class T>
T LoadLE(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A zero-ended text of at most 259 characters from a chunk of `length` bytes.
std::string ChunkText(const std::uint8_t* at, std::size_t length) {
    const std::size_t n = std::min<std::size_t>(length, kNameBytes - 1);
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(at, 0, n));
    return std::string(reinterpret_cast<const char*>(at), end != nullptr ? end - at : n);
}

// Screen fraction to pixels, truncated toward zero; values no screen can have are clamped.
std::int32_t ToPixels(std::int32_t screen, double value, double unit) {
    const double pixels = std::trunc(static_cast<double>(screen) * value / unit);
    if (std::isnan(pixels)) return 0;
    return static_cast<std::int32_t>(
        std::clamp(pixels, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                   static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

struct ScreenScale {
    std::int32_t width;
    std::int32_t height;
    std::int32_t X(double value) const { return ToPixels(width, value, 16384.0); }
    std::int32_t Y(double value) const { return ToPixels(height, value, 65536.0 / 3.0); }
    CGroupRect Rect(const std::uint8_t* at) const {
        return {X(LoadLE<double>(at)), Y(LoadLE<double>(at + 8)), X(LoadLE<double>(at + 16)),
                Y(LoadLE<double>(at + 24))};
    }
};

// Reads the 400 x 300 icon; true without an icon when the file has none, or when its chunks are
// cut short (the rest of the context stands without it).
bool ReadOldIcon(ChunkReader& file, SImage** icon) {
    *icon = nullptr;
    Chunk chunk;
    if (!file.Find("DBBP", true, &chunk)) return true;
    if (chunk.length != 2) return false;
    if (chunk.available != 2) return true;  // the file ends inside it
    const std::uint16_t bits = LoadLE<std::uint16_t>(file.Take(chunk));
    if (bits != 8 && bits != 24) return false;
    if (!file.Find("TDIB", true, &chunk)) return false;
    const std::uint64_t stride = quorin::DIBStride(kIconWidth, bits);
    // Rows missing from the chunk or from the file: no icon rather than a partial one.
    if (chunk.available < stride * kIconHeight) return true;
    const std::uint8_t* rows = file.Take(chunk);

    win::HGLOBAL dib = CreateDIB(kIconWidth, kIconHeight, bits);
    if (dib == nullptr) throw std::bad_alloc();  // of a size that always fits: only memory fails
    {
        quorin::LockedDIB locked(dib);
        if (!locked.valid() || locked.layout().stride != stride) {
            locked.unlock();
            FreeDIB(dib);
            return false;
        }
        // The file's first row is the DIB's first stored (bottom) row.
        std::memcpy(locked.bits(), rows, static_cast<std::size_t>(stride * kIconHeight));
    }
    SImage image{};
    if (!DIBToSImage(dib, &image, true)) {  // of a DIB made here: only the memory can fail
        FreeDIB(dib);
        throw std::bad_alloc();
    }
    if (image.nBitsPerSample == 8) *icon = DuplicateSImage(&image);
    FreePixelBuffer(&image.pPixels);
    if (image.nBitsPerSample == 8 && *icon == nullptr) throw std::bad_alloc();
    return true;
}

}  // namespace

namespace quorin {

void SetPrimaryScreenSize(std::int32_t width, std::int32_t height) {
    g_screenSize.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) << 32) |
                       static_cast<std::uint32_t>(height));
}

void GetPrimaryScreenSize(std::int32_t* width, std::int32_t* height) {
    const std::uint64_t packed = g_screenSize.load();
    if (width != nullptr) *width = static_cast<std::int32_t>(packed >> 32);
    if (height != nullptr) *height = static_cast<std::int32_t>(packed & 0xFFFFFFFFu);
}

}  // namespace quorin

bool CCqvDataQV5::Load(const std::string& path, bool withIcon) {
    if (CCqvData::Load(path, withIcon)) return true;
    // The older binary form. Its failures leave the XML attempt's error in place, but for want
    // of memory: that is no answer about the file.
    try {
        return LoadOldContext(path, withIcon);
    } catch (const std::bad_alloc&) {
        SetErrorFromSystem(quorin::kXmlErrorOutOfMemory);
        return false;
    }
}

bool CCqvDataQV5::LoadOldContext(const std::string& path, bool withIcon) {
    // The name as the XML attempt took it.
    const std::string trimmed = quorin::TrimGroupPath(path);
    win::CFile file;
    if (trimmed.empty() || !file.Open(trimmed.c_str(), win::CFile::modeRead)) return false;
    const std::uint64_t length = file.GetLength();
    if (length > quorin::kMaxOldContextBytes) return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (length != 0 && file.Read(bytes.data(), static_cast<std::uint32_t>(length)) != length)
        return false;
    file.Abort();

    std::int32_t width = 0, height = 0;
    quorin::GetPrimaryScreenSize(&width, &height);
    if (!ReadOldChunks(bytes.data(), bytes.size(), withIcon, width, height)) return false;

    const win::SplitPathParts parts = win::SplitPath(trimmed);
    SetIdentifier(parts.fname + parts.ext);
    SetName(parts.fname);
    struct stat info {};
    struct tm local {};
    const std::string native = win::ToNativePath(trimmed);
    if (::stat(native.c_str(), &info) == 0 && localtime_r(&info.st_mtime, &local) != nullptr) {
        // The date of the last change (the time fields are left as they are).
        char text[40];
        std::snprintf(text, sizeof text, "%02d%02d%04d", local.tm_mday, local.tm_mon + 1,
                      local.tm_year + 1900);
        CInfosDateTime date = GetCreationDate();
        date.SetDate(text, DATE_ORDER_DMY);
        SetCreationDate(date);
    }
    return true;
}

bool CCqvDataQV5::ReadOldContext(const std::uint8_t* data, std::size_t size, bool withIcon,
                                 std::int32_t screenWidth, std::int32_t screenHeight) {
    try {
        return ReadOldChunks(data, size, withIcon, screenWidth, screenHeight);
    } catch (const std::bad_alloc&) {
        SetErrorFromSystem(quorin::kXmlErrorOutOfMemory);
        return false;
    }
}

bool CCqvDataQV5::ReadOldChunks(const std::uint8_t* data, std::size_t size, bool withIcon,
                                std::int32_t screenWidth, std::int32_t screenHeight) {
    if (data == nullptr && size != 0) return false;
    ChunkReader file(data, size);
    const ScreenScale scale{screenWidth, screenHeight};
    Chunk chunk;

    // Locations (optional).
    CGroupPoint panel = GetCPanelLocation(), arcade = GetArcadeLocation();
    if (file.Find("PANN", true, &chunk) && chunk.Is(32)) {
        const CGroupRect rect = scale.Rect(file.Take(chunk));
        panel = {rect.X1, rect.Y1};
    }
    if (file.Find("ARCD", true, &chunk) && chunk.Is(32)) {
        const CGroupRect rect = scale.Rect(file.Take(chunk));
        arcade = {rect.X1, rect.Y1};
    }

    // Comment (required).
    if (!file.Find("COMM", true, &chunk)) return false;
    const std::string comment = ChunkText(file.Take(chunk), chunk.available);

    // Images: their number, then per image a name and optional position, angle and show state,
    // each searched from where the last one ended. A position or angle of another length than
    // its value's is passed over whole, so the next search starts at the next chunk.
    if (!file.Find("NBIM", true, &chunk) || !chunk.Is(2)) return false;
    const std::int16_t count = LoadLE<std::int16_t>(file.Take(chunk));
    if (!file.Find("INFI", true, &chunk) || chunk.length == 0) return false;
    std::vector<std::unique_ptr<CCqvImageData>> images;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!file.Find("NFIC", false, &chunk)) return false;
        const std::string name = ChunkText(file.Take(chunk), chunk.available);
        if (name.empty()) continue;  // still counts toward the number of images
        auto image = std::make_unique<CCqvImageData>();
        image->SetIdentifier(name);
        if (file.Find("POSI", false, &chunk)) {
            const std::uint8_t* at = file.Take(chunk);
            if (chunk.Is(32)) image->SetFrameLocation(scale.Rect(at));
        }
        std::int16_t angle = 0;
        if (file.Find("ANGL", false, &chunk)) {
            const std::uint8_t* at = file.Take(chunk);
            if (chunk.Is(2)) angle = LoadLE<std::int16_t>(at);
        }
        if (angle != 90 && angle != 180 && angle != 270) angle = 0;
        CInfosOrient orient;
        orient.SetValue(angle);
        image->SetOrientation(orient);
        std::uint8_t show = 'N';
        if (file.Find("SHOW", false, &chunk)) {
            const std::uint8_t* at = file.Take(chunk);
            if (chunk.available >= 1) show = *at;
        }
        image->SetShowState(show == 'Z'   ? CCqvImageData::SHOW_STATE_3
                            : show == 'i' ? CCqvImageData::SHOW_STATE_2
                                          : CCqvImageData::SHOW_NORMAL);
        images.push_back(std::move(image));
    }

    SImage* read = nullptr;
    if (withIcon && !ReadOldIcon(file, &read)) return false;
    // Freed unless the object takes it (a step below may find no memory).
    std::unique_ptr<SImage, void (*)(SImage*)> icon(read, [](SImage* i) { FreeSImage(i, false); });

    // Everything was read: the object takes it. (The icon first: it costs no allocation.)
    SetOldFormat(1);
    SetCPanelLocation(panel);
    SetArcadeLocation(arcade);
    if (withIcon) SetIcon(icon.release());
    if (!comment.empty()) SetComments(comment);
    DeleteAllItems();
    for (auto& image : images) AddItem(image.release());
    return true;
}
