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

// One row per VR, in the order of the letters. Visible to the compiler so that what is built
// per VR (the data set's element factory) can be checked against it as it compiles.
inline constexpr VrRow kVrRows[] = {
    {"AE", VrKind::Text, 1, false, ' ', 16},       {"AS", VrKind::SingleText, 1, false, ' ', 4},
    {"AT", VrKind::Tag, 4, false, 0, 0},           {"CS", VrKind::Text, 1, false, ' ', 16},
    {"DA", VrKind::Text, 1, false, ' ', 8},        {"DS", VrKind::Text, 1, false, ' ', 16},
    {"DT", VrKind::Text, 1, false, ' ', 29},       {"FD", VrKind::Number, 8, false, 0, 0},
    {"FL", VrKind::Number, 4, false, 0, 0},        {"IS", VrKind::Text, 1, false, ' ', 12},
    {"LO", VrKind::Text, 1, false, ' ', 64},       {"LT", VrKind::SingleText, 1, false, ' ', 10240},
    {"OB", VrKind::Binary, 1, true, 0, 0},         {"OD", VrKind::Opaque, 8, true, 0, 0},
    {"OF", VrKind::Opaque, 4, true, 0, 0},         {"OL", VrKind::Opaque, 4, true, 0, 0},
    {"OV", VrKind::Opaque, 8, true, 0, 0},         {"OW", VrKind::Binary, 2, true, 0, 0},
    {"PN", VrKind::PersonName, 1, false, ' ', 64}, {"SH", VrKind::Text, 1, false, ' ', 16},
    {"SL", VrKind::Number, 4, false, 0, 0},        {"SQ", VrKind::Sequence, 1, true, 0, 0},
    {"SS", VrKind::Number, 2, false, 0, 0},        {"ST", VrKind::SingleText, 1, false, ' ', 1024},
    {"SV", VrKind::Opaque, 8, true, 0, 0},         {"TM", VrKind::Text, 1, false, ' ', 16},
    {"UC", VrKind::Opaque, 1, true, ' ', 0},       {"UI", VrKind::Text, 1, false, '\0', 64},
    {"UL", VrKind::Number, 4, false, 0, 0},        {"UN", VrKind::Opaque, 1, true, 0, 0},
    {"UR", VrKind::Opaque, 1, true, ' ', 0},       {"US", VrKind::Number, 2, false, 0, 0},
    {"UT", VrKind::Opaque, 1, true, ' ', 0},       {"UV", VrKind::Opaque, 8, true, 0, 0},
};

// The row of a two-letter VR, or null for letters that are not a VR.
const VrRow* FindVr(const char* code);

// True for the VRs whose explicit encoding has a 32-bit length (OB OD OF OL OV OW SQ SV UC UN
// UR UT UV). Unknown letters count as 16-bit.
bool HasLongLength(const char* code);

constexpr bool SameVr(const char* a, const char* b) {
    return a[0] == b[0] && a[1] == b[1];
}

}  // namespace quorin
