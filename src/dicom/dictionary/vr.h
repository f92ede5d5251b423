// Value representations: one row per VR with what the factory, the readers, the writers and
// the validation need to know (value width, padding, value capacity, length-field width, kind).
#pragma once
#include <cstdint>

namespace quorin {

enum class VrKind : std::uint8_t {
    Text,        // character strings with several values: an item class and a multiple class
    SingleText,  // AS, LT, ST: one text, no multiple class
    PersonName,  // PN
    Number,      // SS US SL UL FL FD
    Tag,         // AT
    Binary,      // OB OW
    Sequence,    // SQ
    Opaque,      // UN, and the 32-bit-length VRs the toolkit keeps as uninterpreted bytes
};

struct VrRow {
    char code[3];
    VrKind kind;
    std::uint8_t width;      // bytes of one binary value (numbers, AT, OW); 1 otherwise
    bool longLength;         // explicit VR: 2 reserved bytes and a 32-bit length field
    char pad;                // pad byte of an odd-length value
    std::uint32_t capacity;  // characters one value keeps (text kinds); 0 = unbounded
};

// The row of a two-letter VR, or null for letters that are not a VR.
const VrRow* FindVr(const char* code);

// True for the VRs whose explicit encoding has a 32-bit length (OB OD OF OL OV OW SQ SV UC UN
// UR UT UV). Unknown letters count as 16-bit.
bool HasLongLength(const char* code);

inline bool SameVr(const char* a, const char* b) {
    return a[0] == b[0] && a[1] == b[1];
}

}  // namespace quorin
