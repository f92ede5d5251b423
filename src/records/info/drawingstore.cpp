// The drawing store's tables, its drawing list and the geometry of mirroring and rotating. The
// blob forms are read and written in drawingblob.cpp.
#include "records/info/drawingstore.h"

#include <quorin/drawingstore.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <utility>

namespace quorin {

int CompareVersionText(const char* a, const char* b) {
    if (a == nullptr) a = "";
    if (b == nullptr) b = "";
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

void ApplyTransform3x3(const double matrix[3][3], double* outX, double* outY,
                       const SOMUDrawingPoint& point) {
    const double x = matrix[0][0] * point.x + matrix[0][1] * point.y + matrix[0][2];
    const double y = matrix[1][0] * point.x + matrix[1][1] * point.y + matrix[1][2];
    if (outX != nullptr) *outX = x;
    if (outY != nullptr) *outY = y;
}

}  // namespace quorin

namespace {

constexpr double kPi = std::numbers::pi;

// Brings an angle into (-pi, pi] by adding or subtracting whole turns. Angles far outside are
// first reduced in one step, so a hostile value cannot make the loop run for ever.
double NormalizeAngle(double angle) {
    if (!std::isfinite(angle)) return angle;
    if (std::fabs(angle) > 8 * kPi) angle = std::remainder(angle, 2 * kPi);
    while (angle > kPi) angle -= 2 * kPi;
    while (angle <= -kPi) angle += 2 * kPi;
    return angle;
}

// Counter slot of a drawing type for NextDrawingId; -1 for types without a counter.
int CounterSlot(std::int32_t type) {
    switch (type) {
        case 1:
        case 4:
            return 0;
        case 11:
        case 20:
            return 9;
        case 2:
        case 3:
            return type - 1;
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
            return type - 2;
        case 12:
        case 13:
        case 14:
            return type - 2;
        case 18:
            return 13;
        case 21:
            return 14;
        default:
            return -1;
    }
}

// Whether an item can be written into a blob and read back.
bool IsStorable(const SOMUDrawingItem& item) {
    if (item.nPointCount < 1 || item.pPoints == nullptr) return false;
    if (item.nType == 6 && (item.nDataLength < 1 || item.nDataLength > kDrawingDataMaxLength))
        return false;
    return true;
}

}  // namespace

CDrawingStore::CDrawingStore() = default;

CDrawingStore::~CDrawingStore() {
    Clear();
}

CDrawingStore::CDrawingStore(const CDrawingStore& other) {
    CopyFrom(other);
}

CDrawingStore& CDrawingStore::operator=(const CDrawingStore& other) {
    if (this != &other) {
        Clear();
        CopyFrom(other);
    }
    return *this;
}

void CDrawingStore::CopyFrom(const CDrawingStore& other) {
    try {
        m_changed = other.m_changed;
        m_flag2 = other.m_flag2;
        m_colors = other.m_colors;
        m_fonts = other.m_fonts;
        m_styleItemCount = other.m_styleItemCount;
        m_styleItems = other.m_styleItems;
        m_blob = other.m_blob;
        std::memcpy(m_counters, other.m_counters, sizeof m_counters);
        m_width = other.m_width;
        m_height = other.m_height;
        m_drawingFlag = other.m_drawingFlag;
        m_version = other.m_version;
        m_versionApplies = other.m_versionApplies;
        m_hasList = other.m_hasList;
        m_drawings.reserve(other.m_drawings.size());
        for (const SOMUDrawingItem& source : other.m_drawings) {
            SOMUDrawingItem copy{};
            if (!CopyDrawingRecord(&copy, &source)) throw std::bad_alloc();
            m_drawings.push_back(copy);
        }
    } catch (...) {
        Clear();
    }
}

void CDrawingStore::ClearDrawings() {
    for (SOMUDrawingItem& item : m_drawings) FreeDrawingItem(&item);
    m_drawings.clear();
    m_hasList = false;
}

void CDrawingStore::ClearStyle() {
    m_colors.clear();
    m_fonts.clear();
    m_styleItemCount = 0;
    m_styleItems.clear();
}

void CDrawingStore::Clear() {
    m_blob.clear();
    ClearStyle();
    ClearDrawings();
}

void CDrawingStore::Reset() {
    Clear();
    std::memset(m_counters, 0, sizeof m_counters);
}

const SOMUDrawingItem* CDrawingStore::GetDrawing(int index) const {
    if (index < 0 || std::size_t(index) >= m_drawings.size()) return nullptr;
    return &m_drawings[std::size_t(index)];
}

const std::uint8_t* CDrawingStore::GetColor(int index) const {
    if (index < 0 || index >= GetColorCount()) return nullptr;
    return &m_colors[std::size_t(index) * 3];
}

const SDrawingFont* CDrawingStore::GetFont(int index) {
    try {
        if (m_fonts.empty()) m_fonts.push_back(SDrawingFont{655, 500, "Arial"});
    } catch (...) {
        return nullptr;
    }
    if (index < 0 || std::size_t(index) >= m_fonts.size()) return nullptr;
    return &m_fonts[std::size_t(index)];
}

std::int32_t CDrawingStore::NextDrawingId(std::int32_t type) {
    const std::uint32_t high = static_cast<std::uint32_t>(type) << 16;
    const int slot = CounterSlot(type);
    if (slot < 0) return static_cast<std::int32_t>(high);
    m_counters[slot] = (m_counters[slot] + 1) & 0xFFFF;
    return static_cast<std::int32_t>(high | static_cast<std::uint32_t>(m_counters[slot]));
}

// Keeps the counters ahead of the ids already in the list, so that a new drawing never takes
// the id of one read from a blob (drawings are matched by id).
void CDrawingStore::NoteDrawingId(std::int32_t id) {
    const std::uint32_t bits = static_cast<std::uint32_t>(id);
    const int slot = CounterSlot(static_cast<std::int32_t>(bits >> 16));
    if (slot >= 0) m_counters[slot] = std::max(m_counters[slot], std::int32_t(bits & 0xFFFF));
}

int CDrawingStore::FindDrawing(std::int32_t id) const {
    for (std::size_t i = 0; i < m_drawings.size(); ++i)
        if (m_drawings[i].nDrawingId == id) return static_cast<int>(i);
    return -1;
}

bool CDrawingStore::AddDrawing(int mode, const SOMUDrawingItem* item, int position) {
    if (item == nullptr || mode < kAppend || mode > kInsertAt) return false;
    if (mode != kRemove && mode != kMove && !IsStorable(*item)) return false;
    if (mode != kAppend && mode != kInsertAt && !m_hasList) return false;
    try {
        SOMUDrawingItem copy{};
        if (mode == kAppend || mode == kReplace || mode == kInsertAt) {
            if (!CopyDrawingRecord(&copy, item)) return false;
        }
        const int found = FindDrawing(item->nDrawingId);
        switch (mode) {
            case kAppend:
            case kInsertAt: {
                std::size_t at = m_drawings.size();
                if (mode == kInsertAt && position >= 0 && std::size_t(position) < at)
                    at = std::size_t(position);
                try {
                    m_drawings.insert(m_drawings.begin() + std::ptrdiff_t(at), copy);
                } catch (...) {
                    FreeDrawingItem(&copy);
                    return false;
                }
                m_hasList = true;
                NoteDrawingId(copy.nDrawingId);
                break;
            }
            case kReplace:
                if (found < 0) {
                    FreeDrawingItem(&copy);
                    return false;
                }
                FreeDrawingItem(&m_drawings[std::size_t(found)]);
                m_drawings[std::size_t(found)] = copy;
                NoteDrawingId(copy.nDrawingId);
                break;
            case kRemove:
                if (found < 0) return false;
                FreeDrawingItem(&m_drawings[std::size_t(found)]);
                m_drawings.erase(m_drawings.begin() + found);
                break;
            case kMove: {
                if (found < 0) return false;
                std::size_t to = m_drawings.size() - 1;
                if (position >= 0 && std::size_t(position) < to) to = std::size_t(position);
                const SOMUDrawingItem moved = m_drawings[std::size_t(found)];
                m_drawings.erase(m_drawings.begin() + found);
                m_drawings.insert(m_drawings.begin() + std::ptrdiff_t(to), moved);  // no growth
                break;
            }
        }
    } catch (...) {
        return false;
    }
    m_changed = 1;
    return true;
}

bool CDrawingStore::SetDrawingList(const SOMUDrawingList& list) {
    if (list.nCount < 0 || (list.nCount > 0 && list.pItems == nullptr)) return false;
    for (std::int32_t i = 0; i < list.nCount; ++i)
        if (!IsStorable(list.pItems[i])) return false;

    // The new list is built aside, so that a failure leaves the store as it was.
    CDrawingStore next;
    next.m_version = m_version;
    next.m_versionApplies = m_versionApplies;
    next.m_width = list.nWidth;
    next.m_height = list.nHeight;
    next.m_hasList = true;
    for (std::int32_t i = 0; i < list.nCount; ++i)
        if (!next.AddDrawing(kAppend, &list.pItems[i])) return false;
    if (m_hasList) {
        // The list is written and read back, so that it holds exactly what the blob holds.
        std::uint32_t size = 0;
        if (next.WriteBlob(&size) == nullptr || !next.Parse()) return false;
        std::swap(m_blob, next.m_blob);
        m_version = next.m_version;
    }
    std::swap(m_drawings, next.m_drawings);  // `next` frees the old drawings
    m_hasList = true;
    for (const SOMUDrawingItem& item : m_drawings) NoteDrawingId(item.nDrawingId);
    m_width = list.nWidth;
    m_height = list.nHeight;
    m_changed = 1;
    return true;
}

bool CDrawingStore::GetDrawingList(SOMUDrawingList* list) const {
    if (list == nullptr) return false;
    FreeDrawingList(list);
    list->nWidth = m_width;
    list->nHeight = m_height;
    if (m_drawings.empty()) return true;
    SOMUDrawingItem* items = new (std::nothrow) SOMUDrawingItem[m_drawings.size()]();
    if (items == nullptr) return false;
    for (std::size_t i = 0; i < m_drawings.size(); ++i) {
        if (!CopyDrawingRecord(&items[i], &m_drawings[i])) {
            SOMUDrawingList partial{static_cast<std::int32_t>(i), 0, 0, items};
            FreeDrawingList(&partial);
            return false;
        }
    }
    list->pItems = items;
    list->nCount = static_cast<std::int32_t>(m_drawings.size());
    return true;
}

void CDrawingStore::Mirror(bool tenfold) {
    const double c = (tenfold ? 10.0 : 1.0) * (m_width / 2.0);
    for (SOMUDrawingItem& item : m_drawings) {
        for (std::int32_t i = 0; i < item.nPointCount; ++i)
            item.pPoints[i].x = 2 * c - item.pPoints[i].x;
        if (item.nType == 5) item.adShape[2] = NormalizeAngle(-item.adShape[2]);
        if (item.nType == 6 && item.bFlipped == 0) item.bMirrored = !item.bMirrored;
    }
}

void CDrawingStore::Rotate(std::int32_t width, std::int32_t height, double angle) {
    const bool quarter = std::fabs(angle - kPi / 2) < 1e-9;
    const bool half = std::fabs(angle - kPi) < 1e-9;
    double matrix[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (quarter) {
        const double m[3][3] = {{0, -1, double(width)}, {1, 0, 0}, {0, 0, 1}};
        std::memcpy(matrix, m, sizeof matrix);
    } else if (half) {
        const double m[3][3] = {{-1, 0, double(width)}, {0, -1, double(height)}, {0, 0, 1}};
        std::memcpy(matrix, m, sizeof matrix);
    }
    for (SOMUDrawingItem& item : m_drawings) {
        for (std::int32_t i = 0; i < item.nPointCount; ++i) {
            SOMUDrawingPoint& p = item.pPoints[i];
            quorin::ApplyTransform3x3(matrix, &p.x, &p.y, SOMUDrawingPoint{p.x, p.y});
        }
        if (item.nType == 5 && (quarter || half))
            item.adShape[2] = NormalizeAngle(item.adShape[2] + (quarter ? -kPi / 2 : kPi));
        if (item.nType == 6) {
            if (half) {
                item.bMirrored = !item.bMirrored;
            } else if (quarter) {
                if (item.bFlipped == 0) item.bMirrored = !item.bMirrored;
                item.bFlipped = !item.bFlipped;
            }
        }
    }
    m_width = width;
    m_height = height;
}
