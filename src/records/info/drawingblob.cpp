// Reading and writing the drawing blob: the little-endian drawing list (the only form written),
// the style section, and the older big-endian form. Every read is checked against the bytes
// left; a drawing-list or style blob that ends early is refused as a whole.
#include <quorin/drawingstore.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "records/info/drawingstore.h"

namespace {

// A read cursor over the blob. A read past the end fails, and the cursor stays failed.
class BlobReader {
  public:
    BlobReader(const std::uint8_t* data, std::size_t size, std::size_t start = 0)
        : m_data(data), m_size(size), m_pos(start <= size ? start : size), m_ok(start <= size) {}

    bool ok() const { return m_ok; }
    std::size_t pos() const { return m_pos; }
    std::size_t left() const { return m_size - m_pos; }
    bool Has(std::uint64_t bytes) const { return m_ok && bytes <= left(); }

    bool Bytes(void* out, std::uint64_t bytes) {
        if (!Has(bytes)) return Fail();
        if (bytes > 0) std::memcpy(out, m_data + m_pos, std::size_t(bytes));
        m_pos += std::size_t(bytes);
        return true;
    }
    bool Skip(std::uint64_t bytes) {
        if (!Has(bytes)) return Fail();
        m_pos += std::size_t(bytes);
        return true;
    }
    std::uint8_t U8() {
        std::uint8_t v = 0;
        Bytes(&v, 1);
        return v;
    }
    // Little-endian values (the host is little-endian).
    template <typename T>
    T LE() {
        T v{};
        Bytes(&v, sizeof v);
        return v;
    }
    std::uint16_t U16BE() {
        std::uint8_t b[2] = {};
        Bytes(b, 2);
        return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    }

  private:
    bool Fail() {
        m_ok = false;
        return false;
    }
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos;
    bool m_ok;
};

class BlobWriter {
  public:
    explicit BlobWriter(std::uint8_t* data) : m_data(data) {}
    template <typename T>
    void LE(T v) {
        Bytes(&v, sizeof v);
    }
    void Bytes(const void* source, std::size_t bytes) {
        if (source != nullptr)
            std::memcpy(m_data + m_pos, source, bytes);
        else
            std::memset(m_data + m_pos, 0, bytes);
        m_pos += bytes;
    }

  private:
    std::uint8_t* m_data;
    std::size_t m_pos = 0;
};

// Drawings parsed but not yet handed to the store; freed unless released.
struct PendingDrawings {
    std::vector<SOMUDrawingItem> items;
    ~PendingDrawings() {
        for (SOMUDrawingItem& item : items) FreeDrawingItem(&item);
    }
};

template <typename T>
T* NewBlock(std::size_t count) {
    return new (std::nothrow) T[count]();
}

// A coordinate of the old form scaled to the store's image: v x s + 0.5, truncated.
double ScaleRounded(double v, double s) {
    return std::trunc(v * s + 0.5);
}

// An old-form coordinate given as an integer part and thousandths.
double OldFraction(std::uint16_t integer, std::uint16_t thousandths) {
    const double t = thousandths / 1000.0;
    return t < 0.5 ? integer + t : integer - 1 + t;
}

// Body bytes of an old drawing after its control byte, before its 4-byte tail.
std::uint64_t OldBodySize(int oldType, std::uint32_t entries) {
    switch (oldType) {
        case 1:
        case 2:
        case 3:
        case 5:
            return 4ull * entries;
        case 4:
            return entries == 0 ? 0 : 4 + 6ull * (entries - 1);
        case 6:
            return 8ull * entries;
        default:
            return 4;  // old type 7: one point
    }
}

constexpr std::int32_t kOldToNewType[8] = {0, 12, 13, 10, 9, 8, 7, 11};

}  // namespace

// ---- version rules --------------------------------------------------------------------------

bool CDrawingStore::HasText() const {
    return !m_versionApplies || quorin::CompareVersionText(m_version.c_str(), "1.599990") > 0;
}

bool CDrawingStore::HasSecondValue() const {
    return !m_versionApplies || quorin::CompareVersionText(m_version.c_str(), "1.8.0.0") >= 0;
}

bool CDrawingStore::HasPointTexts() const {
    return !m_versionApplies || quorin::CompareVersionText(m_version.c_str(), "1.8.1.0") >= 0;
}

// ---- parsing --------------------------------------------------------------------------------

bool CDrawingStore::SetDrawingData(const void* data, std::size_t size, std::int32_t width,
                                   std::int32_t height, std::uint8_t flag) {
    Clear();
    m_width = width;
    m_height = height;
    m_drawingFlag = flag;
    if (data == nullptr || size == 0) return false;
    try {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_blob.assign(bytes, bytes + size);
    } catch (...) {
        return false;
    }
    return Parse();
}

bool CDrawingStore::Parse() {
    ClearStyle();
    ClearDrawings();
    const std::uint8_t* data = m_blob.data();
    const std::size_t size = m_blob.size();
    if (size >= 6) {
        const std::uint16_t magic = static_cast<std::uint16_t>(data[4] | data[5] << 8);
        if (magic == kDrawingListMagic) return ParseDrawingList(data, size);
        if (magic == kStyleSectionMagic) return ParseStyleSection(data, size);
    }
    if (size >= 2 && data[0] == 0xDC && data[1] == 0xBA) return ParseOldForm(data, size);
    return false;
}

bool CDrawingStore::ParseDrawingList(const std::uint8_t* data, std::size_t size) {
    BlobReader in(data, size, 8);
    const std::int32_t count = in.LE<std::int32_t>();
    // Each drawing needs at least its 22-byte head and one point.
    if (!in.ok() || count < 0 || std::uint64_t(count) * 38 > in.left()) return false;

    const bool hasText = HasText();
    const bool hasSecond = HasSecondValue();
    const bool hasPointTexts = HasPointTexts();
    PendingDrawings parsed;
    try {
        parsed.items.reserve(std::size_t(count));
    } catch (...) {
        return false;
    }
    for (std::int32_t d = 0; d < count; ++d) {
        parsed.items.push_back(SOMUDrawingItem{});  // capacity reserved: no throw
        SOMUDrawingItem& item = parsed.items.back();
        item.nType = in.LE<std::int32_t>();
        item.nDrawingId = in.LE<std::int32_t>();
        item.nAttribute2 = in.LE<std::int16_t>();
        item.nAttribute3 = in.LE<std::int32_t>();
        item.nAttribute4 = in.LE<std::int32_t>();
        const std::int32_t n = in.LE<std::int32_t>();
        if (!in.ok() || n < 1 || !in.Has(16ull * std::uint32_t(n))) return false;
        const std::size_t points = std::size_t(n);
        item.pPoints = NewBlock<SOMUDrawingPoint>(points);
        if (item.pPoints == nullptr) return false;
        item.nPointCount = n;
        for (std::size_t i = 0; i < points; ++i) {
            item.pPoints[i].x = in.LE<double>();
            item.pPoints[i].y = in.LE<double>();
        }
        if (hasText) {
            in.Bytes(item.szText, kDrawingTextSize);
            in.Bytes(item.abyTextAttributes, 2);
        }
        switch (item.nType) {
            case 5:
                for (double& v : item.adShape) v = in.LE<double>();
                break;
            case 6: {
                item.byDataLead = in.U8();
                const std::int32_t length = in.LE<std::int32_t>();
                if (!in.ok() || length < 1 || length > kDrawingDataMaxLength) return false;
                if (!in.Has(std::uint64_t(length))) return false;
                item.pData = NewBlock<std::uint8_t>(std::size_t(length));
                if (item.pData == nullptr) return false;
                item.nDataLength = length;
                in.Bytes(item.pData, std::size_t(length));
                item.bMirrored = in.U8();
                item.bFlipped = in.U8();
                break;
            }
            case 9:
                item.dValue = in.LE<double>();
                item.bHasValue = in.U8();
                break;
            case 14:
                if (!in.Has(4ull * points)) return false;
                item.pPointValues = NewBlock<std::int32_t>(points);
                item.pPointTexts = NewBlock<char>(points * kDrawingTextSize);
                if (item.pPointValues == nullptr || item.pPointTexts == nullptr) return false;
                in.Bytes(item.pPointValues, 4ull * points);
                if (hasPointTexts)
                    in.Bytes(item.pPointTexts, std::uint64_t(kDrawingTextSize) * points);
                break;
            case 11:
            case 20:
                item.anValues[0] = in.LE<std::int32_t>();
                if (hasSecond) item.anValues[1] = in.LE<std::int32_t>();
                break;
            default:
                break;
        }
        if (!in.ok()) return false;
    }
    std::swap(m_drawings, parsed.items);
    m_hasList = true;
    for (const SOMUDrawingItem& item : m_drawings) NoteDrawingId(item.nDrawingId);
    return true;
}

bool CDrawingStore::ParseStyleSection(const std::uint8_t* data, std::size_t size) {
    BlobReader in(data, size, 6);
    std::vector<std::uint8_t> colors;
    std::vector<SDrawingFont> fonts;
    std::vector<std::uint8_t> items;
    try {
        const std::uint16_t colorCount = in.LE<std::uint16_t>();
        if (!in.Has(3ull * colorCount)) return false;
        colors.resize(3u * colorCount);
        in.Bytes(colors.data(), colors.size());
        const std::uint16_t fontCount = in.LE<std::uint16_t>();
        if (!in.Has(5ull * fontCount)) return false;
        fonts.resize(fontCount);
        for (SDrawingFont& font : fonts) {
            font.nValue1 = in.LE<std::uint16_t>();
            font.nValue2 = in.LE<std::uint16_t>();
            const std::uint8_t length = in.U8();
            char face[256];
            if (!in.Bytes(face, length)) return false;
            font.faceName.assign(face, length);
        }
        const std::uint16_t itemCount = in.LE<std::uint16_t>();
        if (!in.ok()) return false;
        // The data after each item's type byte are not delimited; the items are kept as read.
        if (itemCount > 0) {
            if (!in.Has(1)) return false;
            const std::uint8_t firstType = data[in.pos()];
            if (firstType < 1 || firstType > 8) return false;
            items.assign(data + in.pos(), data + size);
        }
        m_styleItemCount = itemCount;
    } catch (...) {
        return false;
    }
    m_colors = std::move(colors);
    m_fonts = std::move(fonts);
    m_styleItems = std::move(items);
    return true;
}

bool CDrawingStore::ParseOldForm(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 4 || data[0] != 0xDC || data[1] != 0xBA) return false;
    BlobReader in(data, size, 2);
    const std::uint16_t count = in.U16BE();
    PendingDrawings parsed;
    for (std::uint32_t d = 0; d < count; ++d) {
        const std::uint8_t oldType = in.U8();
        const std::uint16_t refWidth = in.U16BE();
        const std::uint16_t refHeight = in.U16BE();
        const std::uint32_t entries = in.U16BE() >> 2;
        if (!in.ok()) break;                       // the blob ends: the drawings read so far stand
        if (oldType < 1 || oldType > 7) continue;  // unknown type: next head right after this one

        const std::uint8_t control = in.U8();
        if (!in.ok()) break;
        if (oldType != 7 && control != 0xFF) continue;  // marker broken: resume after it
        const std::uint64_t rest = OldBodySize(oldType, entries) + 4;
        if (!in.Has(rest)) break;
        // Old type 7 names an earlier drawing (0 to 254) that must be an angle (type 13).
        bool drop = oldType == 7 && (control == 0xFF || control >= parsed.items.size() ||
                                     parsed.items[control].nType != 13);
        // No scale without a reference size; no drawing without points.
        drop = drop || refWidth == 0 || refHeight == 0 || (oldType != 7 && entries == 0);
        if (drop) {
            in.Skip(rest);
            continue;
        }
        const double sx = double(m_width) / refWidth;
        const double sy = double(m_height) / refHeight;

        SOMUDrawingItem item{};
        item.nType = kOldToNewType[oldType];
        const std::uint32_t points = (oldType == 4 || oldType == 7) ? 1 : entries;
        item.pPoints = NewBlock<SOMUDrawingPoint>(points);
        if (item.pPoints == nullptr) return false;
        item.nPointCount = static_cast<std::int32_t>(points);
        if (oldType == 4) {
            item.pPoints[0].x = in.U16BE() * sx;
            item.pPoints[0].y = in.U16BE() * sy;
            for (std::uint32_t e = 1; e < entries; ++e) {
                const std::uint16_t integer = in.U16BE();
                const std::uint16_t thousandths = in.U16BE();
                in.Skip(2);
                item.dValue = integer + thousandths / 1000.0;
            }
            item.bHasValue = entries > 1 ? 1 : 0;
            item.nAttribute4 = 1;
        } else if (oldType == 6) {
            for (std::uint32_t i = 0; i < points; ++i) {
                const std::uint16_t xi = in.U16BE(), xt = in.U16BE();
                const std::uint16_t yi = in.U16BE(), yt = in.U16BE();
                item.pPoints[i].x = ScaleRounded(OldFraction(xi, xt), sx);
                item.pPoints[i].y = ScaleRounded(OldFraction(yi, yt), sy);
            }
        } else {
            for (std::uint32_t i = 0; i < points; ++i) {
                item.pPoints[i].x = ScaleRounded(in.U16BE(), sx);
                item.pPoints[i].y = ScaleRounded(in.U16BE(), sy);
            }
            if (oldType == 7) item.anValues[0] = control;
        }
        item.nAttribute2 = in.U8();
        const std::uint8_t c1 = in.U8(), c2 = in.U8(), c3 = in.U8();
        item.nAttribute3 = c1 + 256 * c2 + 65536 * c3;
        item.nDrawingId = NextDrawingId(item.nType);
        try {
            parsed.items.push_back(item);
        } catch (...) {
            FreeDrawingItem(&item);
            return false;
        }
    }
    ClearDrawings();
    std::swap(m_drawings, parsed.items);
    m_hasList = true;
    for (const SOMUDrawingItem& item : m_drawings) NoteDrawingId(item.nDrawingId);
    return true;
}

// ---- writing --------------------------------------------------------------------------------

std::uint64_t CDrawingStore::DrawingListSize() const {
    const bool hasText = HasText();
    std::uint64_t size = 12;
    for (const SOMUDrawingItem& item : m_drawings) {
        const std::uint64_t n = std::uint32_t(item.nPointCount);
        size += 22 + 16 * n + (hasText ? 66 : 0);
        switch (item.nType) {
            case 5:
                size += 24;
                break;
            case 6:
                size += std::uint32_t(item.nDataLength) + 7;
                break;
            case 9:
                size += 9;
                break;
            case 11:
            case 20:
                size += HasSecondValue() ? 8 : 4;
                break;
            case 14:
                size += 68 * n;  // the per-point texts are counted whatever the version
                break;
            default:
                break;
        }
    }
    return size;
}

std::uint32_t CDrawingStore::ComputeBlobSize() {
    if (!m_hasList) return GetBlobSize();
    if (m_version.empty()) m_version = kNewestVersion;
    const std::uint64_t size = DrawingListSize();
    return size <= std::numeric_limits<std::uint32_t>::max() ? std::uint32_t(size) : 0;
}

const std::uint8_t* CDrawingStore::WriteBlob(std::uint32_t* size) {
    if (size != nullptr) *size = 0;
    if (m_hasList) {
        std::vector<std::uint8_t> blob;
        if (!WriteDrawingList(&blob)) return nullptr;
        m_blob.swap(blob);
    }
    if (size != nullptr) *size = GetBlobSize();
    return GetBlob();
}

bool CDrawingStore::WriteDrawingList(std::vector<std::uint8_t>* blob) {
    const std::uint32_t total = ComputeBlobSize();
    if (total == 0) return false;
    try {
        blob->assign(total, 0);
    } catch (...) {
        return false;
    }
    const bool hasText = HasText();
    const bool hasSecond = HasSecondValue();
    const bool hasPointTexts = HasPointTexts();
    BlobWriter out(blob->data());
    out.LE<std::uint32_t>(total);
    out.LE<std::uint16_t>(kDrawingListMagic);
    out.LE<std::uint16_t>(0);
    out.LE<std::int32_t>(static_cast<std::int32_t>(m_drawings.size()));
    for (const SOMUDrawingItem& item : m_drawings) {
        const std::size_t n = std::uint32_t(item.nPointCount);
        out.LE(item.nType);
        out.LE(item.nDrawingId);
        out.LE(item.nAttribute2);
        out.LE(item.nAttribute3);
        out.LE(item.nAttribute4);
        out.LE(item.nPointCount);
        for (std::size_t i = 0; i < n; ++i) {
            out.LE(item.pPoints[i].x);
            out.LE(item.pPoints[i].y);
        }
        if (hasText) {
            out.Bytes(item.szText, kDrawingTextSize);
            out.Bytes(item.abyTextAttributes, 2);
        }
        switch (item.nType) {
            case 5:
                for (double v : item.adShape) out.LE(v);
                break;
            case 6:
                out.LE(item.byDataLead);
                out.LE(item.nDataLength);
                out.Bytes(item.pData, std::uint32_t(item.nDataLength));
                out.LE(item.bMirrored);
                out.LE(item.bFlipped);
                break;
            case 9:
                out.LE(item.dValue);
                out.LE(item.bHasValue);
                break;
            case 14:
                out.Bytes(item.pPointValues, 4 * n);
                if (hasPointTexts) out.Bytes(item.pPointTexts, kDrawingTextSize * n);
                break;
            case 11:
            case 20:
                out.LE(item.anValues[0]);
                if (hasSecond) out.LE(item.anValues[1]);
                break;
            default:
                break;
        }
    }
    return true;
}
