// Private blocks: which maker owns each block of private elements, as its creator element
// (gggg,00cc) says. In implicit VR the tag dictionary's VRs for private elements are those of
// the system's own block (kPrivateCreator): an element of another maker's block, or of a block
// without a creator, is opaque bytes (UN). The parser and the stream search both decide by this
// rule.
//
// This is the one place that says which creator is the system's (kPrivateCreator, compared by
// IsOwnCreator only), where its block is looked for, and how a block's elements are numbered.
// What a write leaves out (by tag, by group, by a private block mask, top-level elements only)
// is decided in one place too: CInfosDicomList::MarkExcluded; dataset.h says which lookups
// clear its marks.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/files/file.h"

class CElementDICOM;

namespace quorin {

// The creator value of the system's own private block.
inline constexpr char kPrivateCreator[] = "QUORIN";
// The group of the system's private block, and the creator slots (gggg,0011) to (gggg,007F)
// where its creator is looked for and placed.
inline constexpr std::uint16_t kPrivateGroup = 0x0009;
inline constexpr std::uint16_t kFirstCreatorSlot = 0x0011;
inline constexpr std::uint16_t kLastCreatorSlot = 0x007F;

// Whether `element` is a creator of the system's block: an LO whose first value is exactly
// kPrivateCreator (its tag is not looked at).
bool IsOwnCreator(const CElementDICOM& element);

// The element (gggg,ccxx) of entry `offset` (xx) of the block whose creator sits in `slot` (cc).
constexpr std::uint16_t BlockElement(std::uint16_t slot, std::uint8_t offset) {
    return static_cast<std::uint16_t>((slot << 8) | offset);
}

// The creators of one data set (the top level or one sequence item).
class PrivateBlocks {
  public:
    // Odd group, element 0001 to 00FF: a creator, owning the elements (gggg,ccxx).
    static bool IsCreator(std::uint16_t group, std::uint16_t element) {
        return (group & 1) != 0 && element != 0 && element <= 0x00FF;
    }
    // Notes a creator element (any other element is ignored); the first creator of a slot
    // decides, and one that is not IsOwnCreator is another maker's.
    void Note(const CElementDICOM& element);
    // Whether the dictionary's VR applies to the tag: every public tag and creator, and the
    // private elements of a block whose creator is the system's.
    bool IsKnown(std::uint16_t group, std::uint16_t element) const;

  private:
    std::unordered_map<std::uint32_t, bool> m_blocks;  // (group << 16 | slot): the system's
};

// The blocks in scope while a search walks a stream in file order, stepping into sequence
// items: one set per data set entered, dropped where its item ends.
class PrivateBlockScopes {
  public:
    PrivateBlockScopes();
    // The item whose header starts at `position` begins (its content runs to its length, or
    // to its item delimiter when undefined). Nothing when no item header is there.
    void EnterItemAt(win::CFile* file, std::uint64_t position, bool bigEndian);
    // Items whose content ends at or before `position` are left.
    void LeaveEnded(std::uint64_t position);
    // An item delimiter: the innermost undefined-length item ends.
    void LeaveItem();
    // Reads the creator whose tag starts at `position` (implicit VR) and notes it.
    void NoteCreatorAt(win::CFile* file, std::uint64_t position, std::uint16_t group,
                       std::uint16_t element, std::int32_t byteOrder);
    bool IsKnown(std::uint16_t group, std::uint16_t element) const {
        return m_scopes.back().blocks.IsKnown(group, element);
    }

  private:
    struct Scope {
        std::uint64_t end;
        PrivateBlocks blocks;
    };
    std::vector<Scope> m_scopes;
};

}  // namespace quorin
