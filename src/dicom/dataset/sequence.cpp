#include "dicom/dataset/sequence.h"

#include <new>

using quorin::kStatusOk;
using quorin::kStatusReadError;
using quorin::kUndefinedLength;

int CElementSequence::ReadFromStream(win::CFile* file, std::uint64_t itemOffset, int pixelMode) {
    const bool big = m_nByteOrder == quorin::kBigEndian;
    std::uint16_t element;
    std::uint32_t length;
    if (m_nLimit < itemOffset || m_nLimit - itemOffset < 8 ||
        file->Seek(static_cast<std::int64_t>(itemOffset), win::CFile::begin) < 0 ||
        !quorin::ReadItemHeader(file, big, element, length) || element != 0xE000)
        return quorin::kStatusReadError;
    m_nItemElement = element;
    m_bUndefinedLength = length == kUndefinedLength;
    m_bUntilItemDelimiter = m_bUndefinedLength;
    const std::uint64_t contentStart = itemOffset + 8;
    if (!m_bUndefinedLength) {
        // An item said to run past its parent (or the file) ends where its parent ends.
        if (length > m_nLimit - contentStart)
            length = static_cast<std::uint32_t>(m_nLimit - contentStart);
        m_nLimit = contentStart + length;
        if (length == 0) {
            m_nEndPosition = contentStart;
            m_nStreamSize = 8;
            return kStatusOk;
        }
    }
    const int result = CInfosDicomList::ReadFromStream(
        file, 1, contentStart, m_bUndefinedLength ? 0 : length, pixelMode, 1);
    if (result != kStatusOk) return result;
    m_nStreamSize = m_nEndPosition - itemOffset;
    return kStatusOk;
}

CElementSQ::CElementSQ() {
    SetVR("SQ");
}

CElementSQ::CElementSQ(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       std::int32_t implicit, std::int32_t byteOrder)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR("SQ");
}

CElementSQ::CElementSQ(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                       std::uint64_t start, int pixelMode, std::uint64_t limit, const char* vr)
    : CElementDICOM(type, group, element, implicit, byteOrder), m_nPixelMode(pixelMode) {
    SetVR("SQ");
    if (vr != nullptr && quorin::SameVr(vr, "UN")) SetUnknownSequence();
    ReadFromStreamAt(start, file, limit);
}

CElementSQ::CElementSQ(const CElementSQ& other)
    : CElementDICOM(other),
      m_nItemCount(0),
      m_bUndefinedLength(other.m_bUndefinedLength),
      m_nPixelMode(other.m_nPixelMode),
      m_bUnknownSequence(other.m_bUnknownSequence) {
    m_items.reserve(other.m_items.size());
    for (const auto& item : other.m_items) {
        m_items.push_back(std::make_unique<CElementSequence>(*item));
        ++m_nItemCount;
    }
}

void CElementSQ::ClearValue() {
    m_items.clear();
    m_nItemCount = 0;
    m_nLength = 0;
    m_bUndefinedLength = false;
}

bool CElementSQ::AddItem(CElementSequence* item) {
    std::unique_ptr<CElementSequence> owned(item);
    if (!item) return false;
    try {
        m_items.push_back(std::move(owned));
    } catch (...) {
        return false;
    }
    ++m_nItemCount;
    m_nStatus = kStatusOk;
    return true;
}

CElementSequence* CElementSQ::GetItem(std::int64_t index) {
    if (index < 0 || static_cast<std::uint64_t>(index) >= m_items.size()) return nullptr;
    return m_items[static_cast<std::size_t>(index)].get();
}

void CElementSQ::SetByteOrder(std::int32_t order) {
    m_nByteOrder = order;
    if (m_bUnknownSequence) return;  // its items stay implicit VR little endian
    for (auto& item : m_items) {
        item->m_nByteOrder = order;
        for (CInfosDicomNode* node = item->m_pFirst; node; node = node->m_pNext)
            if (node->m_pElement && node->m_pElement->m_nGroup != 0x0002)
                node->m_pElement->SetByteOrder(order);
    }
}

bool CElementSQ::ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t) {
    const std::uint64_t start = file->GetPosition();
    return ReadItems(file, start, start + length, false);
}

bool CElementSQ::ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) {
    return ReadItems(file, valuePosition, end, true);
}

bool CElementSQ::ReadItems(win::CFile* file, std::uint64_t position, std::uint64_t end,
                           bool undefined) {
    ClearValue();
    if (m_nDepth >= quorin::kMaxNesting) return false;
    m_bUndefinedLength = undefined;
    const std::int32_t order = ItemsByteOrder();
    const bool big = order == quorin::kBigEndian;
    const std::uint64_t valuePosition = position;
    std::uint64_t content = 0;  // item headers and contents, delimiters excluded
    bool delimited = false;
    while (undefined || position < end) {
        std::uint16_t element;
        std::uint32_t length;
        if (end - position < 8 ||
            file->Seek(static_cast<std::int64_t>(position), win::CFile::begin) < 0 ||
            !quorin::ReadItemHeader(file, big, element, length))
            return false;
        if (element == 0xE0DD) {
            position += 8;
            delimited = true;
            break;
        }
        if (element != 0xE000) return false;
        auto item = std::unique_ptr<CElementSequence>(new (std::nothrow) CElementSequence);
        if (!item) {
            quorin::NoteOutOfMemory();
            return false;
        }
        item->m_bImplicit = ItemsImplicit();
        item->m_nByteOrder = order;
        item->m_nDepth = m_nDepth + 1;
        item->m_nLimit = end;
        if (item->ReadFromStream(file, position, m_nPixelMode) != kStatusOk) return false;
        const std::uint64_t size = item->m_nStreamSize;
        if (size < 8 || size > end - position) return false;
        position += size;
        content += size - (item->m_bUndefinedLength ? 8 : 0);
        try {
            m_items.push_back(std::move(item));
        } catch (...) {
            quorin::NoteOutOfMemory();
            return false;
        }
        ++m_nItemCount;
    }
    if (undefined && !delimited) return false;
    if (content > 0xFFFFFFFEu) return false;
    m_nLength = static_cast<std::uint32_t>(content);
    m_nStreamSize = HeaderSize() + (position - valuePosition);
    m_nStatus = kStatusOk;
    return true;
}

void CElementSQ::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    // Each item is rendered first: a defined length must be known before it is written.
    std::vector<std::unique_ptr<win::CMemFile>> rendered;
    std::uint64_t total = 0;
    try {
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            rendered.push_back(std::make_unique<win::CMemFile>());
            if (!m_items[i]->WriteElements(rendered[i].get())) {
                m_nStatus = quorin::kStatusWriteError;
                return;
            }
            total += 8 + rendered[i]->GetLength() + (m_items[i]->m_bUndefinedLength ? 8 : 0);
        }
    } catch (const std::bad_alloc&) {
        quorin::NoteOutOfMemory();
        m_nStatus = quorin::kStatusWriteError;
        return;
    } catch (...) {
        m_nStatus = quorin::kStatusWriteError;
        return;
    }
    if (!m_bUndefinedLength && !CheckLengthField(total)) return;
    WriteHeader(file);
    PutLength(file, m_bUndefinedLength ? kUndefinedLength : static_cast<std::uint32_t>(total));
    const bool big = ItemsByteOrder() == quorin::kBigEndian;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        const auto& data = rendered[i]->Data();
        const bool undefined = m_items[i]->m_bUndefinedLength;
        PutItemHeader(file, big, 0xE000,
                      undefined ? kUndefinedLength : static_cast<std::uint32_t>(data.size()));
        PutBytes(file, data.data(), static_cast<std::uint32_t>(data.size()));
        if (undefined) PutItemHeader(file, big, 0xE00D, 0);
    }
    if (m_bUndefinedLength) PutItemHeader(file, big, 0xE0DD, 0);
    if (!m_bUndefinedLength) m_nLength = static_cast<std::uint32_t>(total);
}
