#include "dicom/dataset/privateblocks.h"

#include <cstring>

#include "dicom/dataset/element.h"
#include "dicom/dataset/multiple.h"

namespace quorin {

bool IsOwnCreator(const CElementDICOM& element) {
    const auto* lo = dynamic_cast<const CElementLOMultiple*>(&element);
    const char* value = lo ? lo->GetValue(0) : nullptr;
    return value != nullptr && std::strcmp(value, kPrivateCreator) == 0;
}

void PrivateBlocks::Note(const CElementDICOM& element) {
    if (!IsCreator(element.m_nGroup, element.m_nElement)) return;
    const std::uint32_t key = (std::uint32_t{element.m_nGroup} << 16) | element.m_nElement;
    if (m_blocks.count(key) != 0) return;  // the first creator of a slot decides
    try {
        m_blocks.emplace(key, IsOwnCreator(element));
    } catch (const std::bad_alloc&) {
        // Without memory the block is taken as another maker's: its elements stay opaque.
    }
}

bool PrivateBlocks::IsKnown(std::uint16_t group, std::uint16_t element) const {
    if ((group & 1) == 0 || element < 0x0100) return true;
    const auto found = m_blocks.find((std::uint32_t{group} << 16) | (element >> 8));
    return found != m_blocks.end() && found->second;
}

PrivateBlockScopes::PrivateBlockScopes() : m_scopes(1, Scope{kNoLimit, {}}) {}

void PrivateBlockScopes::EnterItemAt(win::CFile* file, std::uint64_t position, bool bigEndian) {
    std::uint16_t element = 0;
    std::uint32_t length = 0;
    if (file->Seek(static_cast<std::int64_t>(position), win::CFile::begin) < 0 ||
        !ReadItemHeader(file, bigEndian, element, length) || element != 0xE000)
        return;
    const std::uint64_t end = length == kUndefinedLength ? kNoLimit : position + 8 + length;
    // Deeper than any data set the parser accepts, items share the innermost set.
    if (m_scopes.size() > static_cast<std::size_t>(kMaxNesting)) return;
    try {
        m_scopes.push_back(Scope{end, {}});
    } catch (const std::bad_alloc&) {
    }
}

void PrivateBlockScopes::LeaveEnded(std::uint64_t position) {
    while (m_scopes.size() > 1 && m_scopes.back().end <= position) m_scopes.pop_back();
}

void PrivateBlockScopes::LeaveItem() {
    if (m_scopes.size() > 1) m_scopes.pop_back();
}

void PrivateBlockScopes::NoteCreatorAt(win::CFile* file, std::uint64_t position,
                                       std::uint16_t group, std::uint16_t element,
                                       std::int32_t byteOrder) {
    if (!PrivateBlocks::IsCreator(group, element)) return;
    CElementLOMultiple creator(4, group, element, 0u, 1, byteOrder);
    creator.ReadAt(file, position);
    m_scopes.back().blocks.Note(creator);
}

}  // namespace quorin
