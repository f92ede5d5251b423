#include "dicom/dataset/element.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "dicom/dataset/privateblocks.h"
#include "dicom/dictionary/dictionary.h"
#include "dicom/dictionary/vr.h"
#include "platform/core/lasterror.h"

using quorin::kBigEndian;
using quorin::kStatusOk;
using quorin::kStatusReadError;
using quorin::kStatusWriteError;
using quorin::kUndefinedLength;

void SwapWord(void* word) {
    auto* b = static_cast<std::uint8_t*>(word);
    std::swap(b[0], b[1]);
}

void SwapDWord(void* dword) {
    auto* b = static_cast<std::uint8_t*>(dword);
    std::swap(b[0], b[3]);
    std::swap(b[1], b[2]);
}

void SwapQWord(void* qword) {
    auto* b = static_cast<std::uint8_t*>(qword);
    std::reverse(b, b + 8);
}

namespace quorin {

bool ReadExact(win::CFile* file, void* buffer, std::uint64_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 1u << 30));
        if (file->Read(out, chunk) != chunk) return false;
        out += chunk;
        count -= chunk;
    }
    return true;
}

bool ReadU16(win::CFile* file, std::uint16_t& value, bool bigEndian) {
    if (file->Read(&value, 2) != 2) return false;
    if (bigEndian) SwapWord(&value);
    return true;
}

bool ReadU32(win::CFile* file, std::uint32_t& value, bool bigEndian) {
    if (file->Read(&value, 4) != 4) return false;
    if (bigEndian) SwapDWord(&value);
    return true;
}

bool ReadItemHeader(win::CFile* file, bool bigEndian, std::uint16_t& element,
                    std::uint32_t& length) {
    std::uint8_t bytes[8];
    if (file->Read(bytes, sizeof bytes) != sizeof bytes) return false;
    std::uint16_t group;
    std::memcpy(&group, bytes, 2);
    std::memcpy(&element, bytes + 2, 2);
    std::memcpy(&length, bytes + 4, 4);
    if (bigEndian) {
        SwapWord(&group);
        SwapWord(&element);
        SwapDWord(&length);
    }
    return group == 0xFFFE;
}

namespace {

struct TagHeader {
    std::uint16_t group = 0;
    std::uint16_t element = 0;
    std::uint32_t length = 0;
};

bool ReadTagHeader(win::CFile* file, TagHeader& h, bool bigEndian) {
    return ReadU16(file, h.group, bigEndian) && ReadU16(file, h.element, bigEndian) &&
           ReadU32(file, h.length, bigEndian);
}

// Skips `count` bytes forward when they lie before `end`.
bool SkipTo(win::CFile* file, std::uint64_t target, std::uint64_t end) {
    if (target > end) return false;
    return file->Seek(static_cast<std::int64_t>(target), win::CFile::begin) ==
           static_cast<std::int64_t>(target);
}

// The elements of an undefined-length item, up to and including its item delimiter.
std::uint64_t MeasureUndefinedItem(win::CFile* file, std::uint64_t end, bool bigEndian, int depth) {
    std::uint64_t total = 0;
    for (;;) {
        TagHeader h;
        if (!ReadTagHeader(file, h, bigEndian)) return 0;
        total += 8;
        if (h.group == 0xFFFE && h.element == 0xE00D) return total;
        if (h.length == kUndefinedLength) {
            const std::uint64_t inner = MeasureUndefinedSequence(file, end, bigEndian, depth + 1);
            if (inner == 0) return 0;
            total += inner;
        } else {
            if (!SkipTo(file, file->GetPosition() + h.length, end)) return 0;
            total += h.length;
        }
    }
}

}  // namespace

std::uint64_t MeasureUndefinedSequence(win::CFile* file, std::uint64_t end, bool bigEndian,
                                       int depth) {
    if (depth > kMaxNesting) return 0;
    std::uint64_t total = 0;
    for (;;) {
        TagHeader h;
        if (!ReadTagHeader(file, h, bigEndian) || h.group != 0xFFFE) return 0;
        total += 8;
        if (h.element == 0xE0DD) return total;
        if (h.element != 0xE000) return 0;
        if (h.length == kUndefinedLength) {
            const std::uint64_t inner = MeasureUndefinedItem(file, end, bigEndian, depth);
            if (inner == 0) return 0;
            total += inner;
        } else {
            if (!SkipTo(file, file->GetPosition() + h.length, end)) return 0;
            total += h.length;
        }
    }
}

void NoteOutOfMemory() {
    win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
}

bool OutOfMemoryNoted() {
    return win::GetLastError() == win::ERROR_NOT_ENOUGH_MEMORY;
}

// `read()`, a value's read; one too large for the memory left fails as a malformed one does,
// noted as such.
template <class Read>
bool ReadNotingMemory(Read&& read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        return false;
    }
}

bool SkipBytes(win::CFile* file, std::uint32_t length) {
    const std::uint64_t next = file->GetPosition() + length;
    return file->Seek(static_cast<std::int64_t>(next), win::CFile::begin) ==
           static_cast<std::int64_t>(next);
}

void WriteElement(CElementDICOM& element, win::CFile* file) {
    const bool swap = element.IsBigEndian();
    if (swap) element.SwapTag();
    element.Write(file);
    if (swap) element.SwapTag();
}

}  // namespace quorin

CElementDICOM::CElementDICOM() = default;

CElementDICOM::CElementDICOM(std::int32_t type, std::uint16_t group, std::uint16_t element,
                             std::int32_t implicit, std::int32_t byteOrder)
    : m_nType(type),
      m_nGroup(group),
      m_nElement(element),
      m_bImplicit(implicit),
      m_nByteOrder(byteOrder),
      m_nStatus(type == 0 || type == 1 ? quorin::kStatusNoValue : kStatusOk) {}

void CElementDICOM::SetVR(const char* vr) {
    m_szVR[0] = vr[0];
    m_szVR[1] = vr[1];
    m_szVR[2] = 0;
}

std::uint32_t CElementDICOM::HeaderSize() const {
    return !m_bImplicit && quorin::HasLongLength(m_szVR) ? 12 : 8;
}

void CElementDICOM::SwapTag() {
    SwapWord(&m_nGroup);
    SwapWord(&m_nElement);
}

std::uint64_t CElementDICOM::ReadLength(const char* vr, win::CFile* file, std::int32_t implicit,
                                        std::int32_t littleEndian) {
    const bool big = littleEndian == kBigEndian;
    const bool longField = !implicit && quorin::HasLongLength(vr);
    std::uint64_t header = 8;
    std::uint32_t length = 0;
    if (longField) {
        header = 12;
        std::uint16_t reserved;
        if (file->Read(&reserved, 2) != 2 || !quorin::ReadU32(file, length, big)) {
            m_nStatus = kStatusReadError;
            return 0;
        }
    } else if (implicit) {
        if (!quorin::ReadU32(file, length, big)) {
            m_nStatus = kStatusReadError;
            return 0;
        }
    } else {
        std::uint16_t short_length;
        if (!quorin::ReadU16(file, short_length, big)) {
            m_nStatus = kStatusReadError;
            return 0;
        }
        length = short_length;
    }

    if (quorin::SameVr(vr, "SQ")) return length == 0 ? header : header + 8;
    if (length != kUndefinedLength || !(longField || implicit)) return header + length;

    const std::uint64_t end = file->GetLength();
    if (!quorin::SameVr(vr, "OB") && !quorin::SameVr(vr, "OW")) {
        // Any other undefined-length value is a sequence (UN: its items are encoded with
        // implicit VR little endian; in an implicit file, the file's own encoding).
        const std::uint64_t content =
            quorin::MeasureUndefinedSequence(file, end, implicit ? big : false, 0);
        if (content == 0) {
            m_nStatus = kStatusReadError;
            return 0;
        }
        return header + content;
    }
    // Encapsulated fragments: every item, the basic offset table included, and the delimiter.
    const std::uint64_t items = quorin::WalkFragments(
        file, file->GetPosition(), end, big,
        [file](std::uint32_t length) { return quorin::SkipBytes(file, length); });
    if (items == 0) {
        m_nStatus = kStatusReadError;
        return 0;
    }
    return header + items;
}

std::uint64_t CElementDICOM::FindInStream(std::uint64_t start, win::CFile* file) {
    const std::uint64_t fileLength = file->GetLength();
    if (start >= fileLength || fileLength < 6) return 0;
    const std::uint64_t limit = fileLength - 6;
    const bool searchingMeta = m_nGroup == 0x0002;
    // Implicit VR: the dictionary's VRs of private elements hold only in the system's own
    // blocks, as when parsing; the walk keeps the creators of each data set it steps into.
    std::optional<quorin::PrivateBlockScopes> blocks;
    std::uint64_t position = start;
    while (position < limit) {
        if (file->Seek(static_cast<std::int64_t>(position), win::CFile::begin) < 0) break;
        std::uint16_t group, element;
        if (file->Read(&group, 2) != 2 || file->Read(&element, 2) != 2) {
            m_nStatus = kStatusReadError;
            return 0;
        }
        const bool meta = group == 0x0002;
        if (!meta && IsBigEndian()) {
            SwapWord(&group);
            SwapWord(&element);
        }
        // The meta group comes first: past it, a meta element is not there.
        if (searchingMeta && !meta) return 0;
        const std::int32_t implicit = meta ? 0 : m_bImplicit;
        const std::int32_t order = meta ? quorin::kLittleEndian : m_nByteOrder;
        if (implicit && !blocks) {
            try {
                blocks.emplace();
            } catch (const std::bad_alloc&) {
                quorin::NoteOutOfMemory();
                m_nStatus = kStatusReadError;
                return 0;
            }
        }
        if (blocks) blocks->LeaveEnded(position);
        if (group == 0xFFFE && (element == 0xE000 || element == 0xE00D || element == 0xE0DD)) {
            if (blocks && element == 0xE000) blocks->EnterItemAt(file, position, IsBigEndian());
            if (blocks && element == 0xE00D) blocks->LeaveItem();
            position += 8;  // step into items: their elements are searched too
            continue;
        }
        char vr[3] = {0, 0, 0};
        if (implicit) {
            DicomDictionaryLookup(group, element, vr);
            if (!blocks->IsKnown(group, element)) std::memcpy(vr, "UN", 3);
        } else if (file->Read(vr, 2) != 2) {
            m_nStatus = kStatusReadError;
            return 0;
        }
        if (group == m_nGroup && element == m_nElement && quorin::SameVr(vr, m_szVR))
            return position;
        const std::uint64_t size = ReadLength(vr, file, implicit, order);
        if (size == 0 || size > fileLength - position) {
            m_nStatus = kStatusReadError;
            return 0;
        }
        if (implicit) {
            // A sequence measures as its header and first item header: that item begins.
            if (quorin::SameVr(vr, "SQ") && size == 16)
                blocks->EnterItemAt(file, position + 8, IsBigEndian());
            blocks->NoteCreatorAt(file, position, group, element, order);
        }
        position += size;
    }
    return 0;
}

void CElementDICOM::ReadFromStreamAt(std::uint64_t start, win::CFile* file, std::uint64_t limit) {
    const std::uint64_t position = FindInStream(start, file);
    if (position == 0) {
        if (m_nStatus != kStatusReadError) m_nStatus = quorin::kStatusNotFound;
        return;
    }
    ReadAt(file, position, limit);
}

void CElementDICOM::ReadAt(win::CFile* file, std::uint64_t position, std::uint64_t limit) {
    ReadAt(file, position, limit, nullptr, 0);
}

void CElementDICOM::ReadAt(win::CFile* file, std::uint64_t position, std::uint64_t limit,
                           const std::uint8_t* head, std::uint32_t headBytes) {
    if (m_nGroup == 0x0002) {  // the meta group is explicit VR little endian in every file
        m_bImplicit = 0;
        m_nByteOrder = quorin::kLittleEndian;
    }
    const std::uint64_t end = std::min(limit, file->GetLength());
    const bool longField = !m_bImplicit && quorin::HasLongLength(m_szVR);
    const std::uint64_t header = longField ? 12 : 8;
    const std::uint64_t lengthAt = position + (m_bImplicit ? 4 : (longField ? 8 : 6));
    ClearValue();
    m_nStreamSize = 0;
    m_nStatus = kStatusOk;
    if (position > end || end - position < header) {
        m_nStatus = kStatusReadError;
        return;
    }
    const std::uint32_t fieldAt = static_cast<std::uint32_t>(lengthAt - position);
    const bool wideField = longField || m_bImplicit;
    std::uint32_t length = 0;
    if (head != nullptr && headBytes >= fieldAt + (wideField ? 4 : 2)) {
        // The caller read the length field with the tag.
        if (wideField) {
            std::memcpy(&length, head + fieldAt, 4);
            if (IsBigEndian()) SwapDWord(&length);
        } else {
            std::uint16_t short_length;
            std::memcpy(&short_length, head + fieldAt, 2);
            if (IsBigEndian()) SwapWord(&short_length);
            length = short_length;
        }
        if (file->Seek(static_cast<std::int64_t>(position + header), win::CFile::begin) < 0) {
            m_nStatus = kStatusReadError;
            return;
        }
    } else if (file->Seek(static_cast<std::int64_t>(lengthAt), win::CFile::begin) < 0) {
        m_nStatus = kStatusReadError;
        return;
    } else if (wideField) {
        if (!quorin::ReadU32(file, length, IsBigEndian())) {
            m_nStatus = kStatusReadError;
            return;
        }
    } else {
        std::uint16_t short_length;
        if (!quorin::ReadU16(file, short_length, IsBigEndian())) {
            m_nStatus = kStatusReadError;
            return;
        }
        length = short_length;
    }
    const std::uint64_t valuePosition = position + header;
    if (length == kUndefinedLength) {
        if (!quorin::ReadNotingMemory([&] { return ReadUndefined(file, valuePosition, end); })) {
            ClearValue();
            m_nStatus = kStatusReadError;
        }
        return;
    }
    // The value must lie inside the file and the enclosing item before anything is allocated.
    if (length > end - valuePosition) {
        m_nStatus = kStatusReadError;
        return;
    }
    m_nStreamSize = header + length;
    if (length == 0) {
        m_nStatus = IsRequired() ? quorin::kStatusEmpty : kStatusOk;
        return;
    }
    if (!quorin::ReadNotingMemory([&] { return ReadValue(file, length, end); })) {
        ClearValue();
        m_nStatus = kStatusReadError;
        return;
    }
    m_nStatus = kStatusOk;
}

bool CElementDICOM::ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t) {
    // Most values are short: they are read on the stack, not through an allocation.
    std::uint8_t local[256];
    std::unique_ptr<std::uint8_t[]> scratch;
    std::uint8_t* bytes = local;
    if (length > sizeof local) {
        scratch.reset(new (std::nothrow) std::uint8_t[length]);
        bytes = scratch.get();
        if (bytes == nullptr) {
            quorin::NoteOutOfMemory();
            return false;
        }
    }
    if (!quorin::ReadExact(file, bytes, length)) return false;
    TakeValueBytes(bytes, length);
    return m_nStatus != kStatusReadError;  // the value could not be held
}

bool CElementDICOM::ReadUndefined(win::CFile*, std::uint64_t, std::uint64_t) {
    return false;
}

void CElementDICOM::Write(win::CFile* file) {
    WriteHeader(file);
}

void CElementDICOM::WriteHeader(win::CFile* file) {
    PutBytes(file, &m_nGroup, 2);
    PutBytes(file, &m_nElement, 2);
    if (!m_bImplicit) PutBytes(file, m_szVR, 2);
}

void CElementDICOM::PutBytes(win::CFile* file, const void* data, std::uint32_t count) {
    if (count == 0) return;
    try {
        file->Write(data, count);
    } catch (...) {
        m_nStatus = kStatusWriteError;
    }
}

void CElementDICOM::PutItemHeader(win::CFile* file, bool bigEndian, std::uint16_t element,
                                  std::uint32_t length) {
    std::uint16_t group = 0xFFFE;
    if (bigEndian) {
        SwapWord(&group);
        SwapWord(&element);
        SwapDWord(&length);
    }
    PutBytes(file, &group, 2);
    PutBytes(file, &element, 2);
    PutBytes(file, &length, 4);
}

void CElementDICOM::PutLength(win::CFile* file, std::uint32_t length) {
    const bool longField = !m_bImplicit && quorin::HasLongLength(m_szVR);
    if (longField || m_bImplicit) {
        if (longField) {
            const std::uint16_t reserved = 0;
            PutBytes(file, &reserved, 2);
        }
        if (IsBigEndian()) SwapDWord(&length);
        PutBytes(file, &length, 4);
    } else {
        auto short_length = static_cast<std::uint16_t>(length);
        if (IsBigEndian()) SwapWord(&short_length);
        PutBytes(file, &short_length, 2);
    }
}

bool CElementDICOM::FitsLengthField(std::uint64_t length) const {
    const bool shortField = !m_bImplicit && !quorin::HasLongLength(m_szVR);
    return length <= (shortField ? 0xFFFEu : 0xFFFFFFFEu);
}

bool CElementDICOM::CheckLengthField(std::uint64_t length) {
    if (FitsLengthField(length)) return true;
    m_nStatus = kStatusWriteError;
    return false;
}

void CElementDICOM::WritePadded(win::CFile* file, const std::uint8_t* value, std::size_t held) {
    const std::uint64_t even = m_nLength + static_cast<std::uint64_t>(m_nLength & 1);
    if ((held < even && m_nLength > 0) || !CheckLengthField(even)) {
        m_nStatus = kStatusWriteError;
        return;
    }
    WriteHeader(file);
    PutLength(file, static_cast<std::uint32_t>(even));  // swapped for big endian like the rest
    if (IsRequired() || m_nLength > 0) PutBytes(file, value, static_cast<std::uint32_t>(even));
}
