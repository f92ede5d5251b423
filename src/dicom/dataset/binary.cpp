#include "dicom/dataset/binary.h"

#include <algorithm>
#include <cstring>

using quorin::kStatusOk;
using quorin::kStatusReadError;
using quorin::kUndefinedLength;

namespace quorin {

bool BinaryElement::Allocate(std::uint64_t length) {
    try {
        m_value.assign(static_cast<std::size_t>(length + (length & 1)), 0);
        return true;
    } catch (...) {
        m_value.clear();
        return false;
    }
}

void BinaryElement::ClearValue() {
    m_value.clear();
    m_value.shrink_to_fit();
    m_nLength = 0;
}

bool BinaryElement::SetBytes(const void* data, std::uint32_t length) {
    if (length == kUndefinedLength) return false;
    if (length > 0 && data == nullptr) return false;
    Bytes copy;
    try {
        copy.assign(length + static_cast<std::size_t>(length & 1), 0);
    } catch (...) {
        return false;
    }
    if (length > 0) std::memcpy(copy.data(), data, length);
    m_value.swap(copy);
    m_nLength = length;
    m_nValuePosition = 0;
    m_nStatus = kStatusOk;
    return true;
}

bool BinaryElement::ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t) {
    try {
        m_value.resize(std::size_t{length} + (length & 1));  // not zeroed: read over at once
    } catch (...) {
        m_value.clear();
        NoteOutOfMemory();
        return false;
    }
    if (length & 1) m_value.back() = 0;
    if (!ReadExact(file, m_value.data(), length)) return false;
    m_nLength = length;
    return true;
}

void BinaryElement::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0 || !Allocate(length)) {
        m_value.clear();
        m_nLength = 0;
        return;
    }
    std::memcpy(m_value.data(), data, length);
    m_nLength = length;
}

bool BinaryElement::ReadLengthAt(win::CFile* file, std::uint64_t position, std::uint32_t& length) {
    const std::uint64_t at = position + (m_bImplicit ? 4 : 8);
    if (file->Seek(static_cast<std::int64_t>(at), win::CFile::begin) < 0 ||
        !ReadU32(file, length, IsBigEndian())) {
        m_nStatus = kStatusReadError;
        return false;
    }
    return true;
}

std::uint64_t BinaryElement::MeasureDefined(win::CFile* file, std::uint64_t position,
                                            std::uint32_t length) {
    const std::uint64_t size = HeaderSize() + static_cast<std::uint64_t>(length);
    if (size > file->GetLength() - std::min(position, file->GetLength())) {
        m_nStatus = kStatusReadError;
        return 0;
    }
    if (file->Seek(static_cast<std::int64_t>(position + size), win::CFile::begin) < 0) {
        m_nStatus = kStatusReadError;
        return 0;
    }
    m_nLength = length;
    m_nStatus = kStatusOk;
    m_nStreamSize = size;
    return size;
}

void BinaryElement::LoadFromFile(win::CFile* file) {
    if (HasValue() || m_nLength == 0 || m_nValuePosition == 0) return;
    const std::uint64_t fileLength = file->GetLength();
    if (m_nValuePosition > fileLength || m_nLength > fileLength - m_nValuePosition ||
        file->Seek(static_cast<std::int64_t>(m_nValuePosition), win::CFile::begin) < 0) {
        m_nStatus = kStatusReadError;
        return;
    }
    const std::uint32_t length = m_nLength;
    if (!ReadValue(file, length, fileLength)) {
        m_value.clear();
        m_nLength = length;
        m_nStatus = kStatusReadError;
        return;
    }
    m_nValuePosition = 0;
}

}  // namespace quorin

// ---- OB ----

CElementOB::CElementOB() {
    SetVR("OB");
}

CElementOB::CElementOB(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       std::uint32_t length, std::int32_t implicit, std::int32_t byteOrder)
    : BinaryElement(type, group, element, implicit, byteOrder) {
    SetVR("OB");
    if (length != kUndefinedLength && Allocate(length)) m_nLength = length;
}

CElementOB::CElementOB(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                       std::uint64_t start, std::uint64_t limit)
    : BinaryElement(type, group, element, implicit, byteOrder) {
    SetVR("OB");
    ReadFromStreamAt(start, file, limit);
}

CElementOB::CElementOB(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length)
    : BinaryElement(unknown.m_nType, unknown.m_nGroup, unknown.m_nElement, unknown.m_bImplicit,
                    unknown.m_nByteOrder) {
    SetVR("OB");
    TakeValueBytes(data, length);
}

void CElementOB::ClearValue() {
    BinaryElement::ClearValue();
    m_bEncapsulated = 0;
    m_nItemHeaderBytes = 0;
    m_offsetTable.clear();
    m_fragments.clear();
}

void CElementOB::SetValue(const void* value) {
    const auto* bytes = value ? *static_cast<const std::uint8_t* const*>(value) : nullptr;
    if (SetBytes(bytes, bytes ? m_nLength : 0)) m_fragments.clear();
}

bool CElementOB::ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) {
    ClearValue();
    m_bEncapsulated = 1;
    if (file->Seek(static_cast<std::int64_t>(valuePosition), win::CFile::begin) < 0) return false;
    std::uint64_t total = 0;
    bool first = true;
    const auto readItem = [&](std::uint32_t length) {
        if (first) {
            // The basic offset table: kept as read, written back as it was.
            try {
                m_offsetTable.resize(length);
            } catch (...) {
                quorin::NoteOutOfMemory();
                return false;
            }
            first = false;
            return quorin::ReadExact(file, m_offsetTable.data(), length);
        }
        if (total + length > 0xFFFFFFFEu) return false;
        try {
            m_value.resize(static_cast<std::size_t>(total + length));
            m_fragments.push_back(length);
        } catch (...) {
            quorin::NoteOutOfMemory();
            return false;
        }
        if (!quorin::ReadExact(file, m_value.data() + total, length)) return false;
        total += length;
        return true;
    };
    const std::uint64_t items =
        quorin::WalkFragments(file, valuePosition, end, IsBigEndian(), readItem);
    if (items == 0) return false;
    if (total & 1) m_value.push_back(0);
    m_nItemHeaderBytes = static_cast<std::uint32_t>(items - total - m_offsetTable.size());
    m_nLength = static_cast<std::uint32_t>(total);
    m_nStreamSize = items + HeaderSize();
    m_nStatus = kStatusOk;
    return true;
}

void CElementOB::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    if (!m_bEncapsulated) {
        WritePadded(file, m_value.data(), m_value.size());
        return;
    }
    const std::uint64_t even = m_nLength + static_cast<std::uint64_t>(m_nLength & 1);
    if (m_value.size() < even) {
        m_nStatus = quorin::kStatusWriteError;  // a value still in its file is loaded first
        return;
    }
    WriteHeader(file);
    PutLength(file, kUndefinedLength);
    PutItemHeader(file, IsBigEndian(), 0xE000, static_cast<std::uint32_t>(m_offsetTable.size()));
    PutBytes(file, m_offsetTable.data(), static_cast<std::uint32_t>(m_offsetTable.size()));
    std::uint64_t sum = 0;
    for (std::uint32_t f : m_fragments) sum += f;
    if (!m_fragments.empty() && sum == m_nLength) {
        // Frame boundaries of multi-frame data are kept: each fragment as it was read.
        std::uint64_t offset = 0;
        const std::uint8_t zero = 0;
        for (std::uint32_t f : m_fragments) {
            PutItemHeader(file, IsBigEndian(), 0xE000, f + (f & 1));
            PutBytes(file, m_value.data() + offset, f);
            if (f & 1) PutBytes(file, &zero, 1);
            offset += f;
        }
    } else if (m_nLength > 0) {
        PutItemHeader(file, IsBigEndian(), 0xE000, static_cast<std::uint32_t>(even));
        PutBytes(file, m_value.data(), static_cast<std::uint32_t>(even));
    }
    PutItemHeader(file, IsBigEndian(), 0xE0DD, 0);
}

std::uint64_t CElementOB::MeasureAt(win::CFile* file, std::uint64_t position) {
    std::uint32_t length;
    if (!ReadLengthAt(file, position, length)) return 0;
    if (length != kUndefinedLength) return MeasureDefined(file, position, length);
    // Walk the items without loading them; the element stays empty.
    m_bEncapsulated = 1;
    m_nItemHeaderBytes = 0;
    std::uint64_t values = 0;
    const std::uint64_t items = quorin::WalkFragments(
        file, position + HeaderSize(), file->GetLength(), IsBigEndian(), [&](std::uint32_t length) {
            values += length;
            return quorin::SkipBytes(file, length);
        });
    if (items == 0) {
        m_nStatus = kStatusReadError;
        return 0;
    }
    m_nItemHeaderBytes = static_cast<std::uint32_t>(items - values);
    m_nLength = values > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<std::uint32_t>(values);
    m_nStatus = kStatusOk;
    m_nStreamSize = items + HeaderSize();
    return m_nStreamSize;
}

// ---- OW ----

CElementOW::CElementOW() {
    SetVR("OW");
}

CElementOW::CElementOW(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       std::uint32_t wordCount, std::int32_t implicit, std::int32_t byteOrder)
    : BinaryElement(type, group, element, implicit, byteOrder) {
    SetVR("OW");
    if (wordCount < 0x80000000u && Allocate(std::uint64_t{wordCount} * 2))
        m_nLength = wordCount * 2;
}

CElementOW::CElementOW(std::int32_t type, std::uint16_t group, std::uint16_t element,
                       win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                       std::uint64_t start, std::uint64_t limit)
    : BinaryElement(type, group, element, implicit, byteOrder) {
    SetVR("OW");
    ReadFromStreamAt(start, file, limit);
}

CElementOW::CElementOW(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length)
    : BinaryElement(unknown.m_nType, unknown.m_nGroup, unknown.m_nElement, unknown.m_bImplicit,
                    unknown.m_nByteOrder) {
    SetVR("OW");
    TakeValueBytes(data, length);
}

void CElementOW::SetValue(const void* value) {
    const auto* bytes = value ? *static_cast<const std::uint8_t* const*>(value) : nullptr;
    SetBytes(bytes, bytes ? m_nLength : 0);
}

bool CElementOW::ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end) {
    if (!BinaryElement::ReadValue(file, length, end)) return false;
    if (IsBigEndian()) SwapValue();  // words in machine order
    return true;
}

void CElementOW::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    BinaryElement::TakeValueBytes(data, length);
    if (IsBigEndian()) SwapValue();
}

void CElementOW::SwapTag() {
    CElementDICOM::SwapTag();
    // The value as it is written: an odd value goes out padded to whole words, so its last
    // byte and the pad are swapped as one word too, and a big-endian write reads back as the
    // value is held.
    SwapWords(m_value.size() / 2);
}

void CElementOW::SwapValue() {
    SwapWords(std::min<std::size_t>(m_nLength / 2, m_value.size() / 2));
}

void CElementOW::SwapWords(std::size_t words) {
    for (std::size_t i = 0; i < words; ++i) std::swap(m_value[2 * i], m_value[2 * i + 1]);
}

std::uint16_t CElementOW::GetWord(std::uint32_t index) const {
    if (index >= m_nLength / 2 || std::size_t{index} * 2 + 1 >= m_value.size()) return 0;
    std::uint16_t word;
    std::memcpy(&word, m_value.data() + std::size_t{index} * 2, 2);
    return word;
}

void CElementOW::Write(win::CFile* file) {
    if (m_nStatus == kStatusOk) WritePadded(file, m_value.data(), m_value.size());
}

std::uint64_t CElementOW::MeasureAt(win::CFile* file, std::uint64_t position) {
    std::uint32_t length;
    if (!ReadLengthAt(file, position, length)) return 0;
    if (length == kUndefinedLength) {  // OW is never encapsulated
        m_nStatus = kStatusReadError;
        return 0;
    }
    return MeasureDefined(file, position, length);
}
