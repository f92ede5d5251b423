// The tag dictionary: a sorted table of the standard's tags searched by bisection, then the
// repeating tags (overlays, curves, ...), then the rules for tags nobody registered.
#include "dicom/dictionary/dictionary.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "dicom/dictionary/dictionary_table.inc"

namespace {

namespace table = quorin::dictionary_table;

static_assert(sizeof(table::kVrs) == 2 * table::kCount + 1, "one VR per tag");

// Index of (group, element) in the sorted table, or -1.
std::ptrdiff_t FindExact(std::uint16_t group, std::uint16_t element) {
    const std::uint32_t key = (std::uint32_t{group} << 16) | element;
    const std::uint32_t* end = table::kTags + table::kCount;
    const std::uint32_t* it = std::lower_bound(table::kTags, end, key);
    return (it != end && *it == key) ? it - table::kTags : -1;
}

const table::RepeatingTag* FindRepeating(std::uint16_t group, std::uint16_t element) {
    // Element 0000 is always the group length, whatever range would cover it.
    if (element == 0) {
        return nullptr;
    }
    const unsigned high = group >> 8;
    for (unsigned i = table::kRepeatingStart[high]; i < table::kRepeatingStart[high + 1]; ++i) {
        const table::RepeatingTag& entry = table::kRepeating[i];
        if ((group & entry.groupMask) == entry.groupValue &&
            (element & entry.elementMask) == entry.elementValue) {
            return &entry;
        }
    }
    return nullptr;
}

void CopyVr(const char* vr, char* vrOut) {
    vrOut[0] = vr[0];
    vrOut[1] = vr[1];
    vrOut[2] = '\0';
}

}  // namespace

void DicomDictionaryLookup(std::uint16_t group, std::uint16_t element, char* vrOut) {
    if (vrOut == nullptr) {
        return;
    }
    if (const std::ptrdiff_t index = FindExact(group, element); index >= 0) {
        CopyVr(table::kVrs + 2 * index, vrOut);
        return;
    }
    if (const table::RepeatingTag* entry = FindRepeating(group, element)) {
        CopyVr(entry->vr, vrOut);
        return;
    }
    if (element == 0x0000) {
        CopyVr("UL", vrOut);  // group length
    } else if ((group & 1) != 0 && element < 0x0100) {
        CopyVr("LO", vrOut);  // private creator
    } else {
        CopyVr("UN", vrOut);
    }
}

const char* DicomDictionaryKeyword(std::uint16_t group, std::uint16_t element) {
    if (const std::ptrdiff_t index = FindExact(group, element); index >= 0) {
        return table::kKeywords + table::kKeywordOffsets[index];
    }
    if (const table::RepeatingTag* entry = FindRepeating(group, element)) {
        return entry->keyword;
    }
    return nullptr;
}
