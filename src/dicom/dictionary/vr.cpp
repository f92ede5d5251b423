#include "dicom/dictionary/vr.h"

#include <iterator>

namespace quorin {
namespace {

constexpr VrRow kRows[] = {
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

constexpr int kLetters = 26;

// Row index + 1 of every pair of capital letters (0: not a VR): a VR is looked up for every
// element parsed, so the letters index the table instead of a scan.
struct VrIndex {
    std::uint8_t slot[kLetters * kLetters] = {};
    constexpr VrIndex() {
        for (std::size_t i = 0; i < std::size(kRows); ++i)
            slot[(kRows[i].code[0] - 'A') * kLetters + (kRows[i].code[1] - 'A')] =
                static_cast<std::uint8_t>(i + 1);
    }
};

constexpr VrIndex kIndex;

}  // namespace

const VrRow* FindVr(const char* code) {
    if (code == nullptr) return nullptr;
    const unsigned first = static_cast<unsigned char>(code[0]) - 'A';
    if (first >= kLetters) return nullptr;
    const unsigned second = static_cast<unsigned char>(code[1]) - 'A';
    if (second >= kLetters) return nullptr;
    const unsigned slot = kIndex.slot[first * kLetters + second];
    return slot == 0 ? nullptr : &kRows[slot - 1];
}

bool HasLongLength(const char* code) {
    const VrRow* row = FindVr(code);
    return row != nullptr && row->longLength;
}

}  // namespace quorin
