#include "dicom/dictionary/vr.h"

#include <iterator>

namespace quorin {
namespace {

constexpr int kLetters = 26;

// Row index + 1 of every pair of capital letters (0: not a VR): a VR is looked up for every
// element parsed, so the letters index the table instead of a scan.
struct VrIndex {
    std::uint8_t slot[kLetters * kLetters] = {};
    constexpr VrIndex() {
        for (std::size_t i = 0; i < std::size(kVrRows); ++i)
            slot[(kVrRows[i].code[0] - 'A') * kLetters + (kVrRows[i].code[1] - 'A')] =
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
    return slot == 0 ? nullptr : &kVrRows[slot - 1];
}

bool HasLongLength(const char* code) {
    const VrRow* row = FindVr(code);
    return row != nullptr && row->longLength;
}

}  // namespace quorin
