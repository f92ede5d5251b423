// Parse, write to memory (in the file's own encoding), and parse what was written: the second
// parse must succeed and give the same elements as the first, in the same order, or the write
// must refuse (0) for a documented cause. Anything else aborts the run. The last byte chooses
// the pixel mode of the first parse.
//
// "The same elements": tag, VR, class and status; each value as written and compared by the
// canonical listing (the numbers, the bytes and fragments; the texts without the spaces and
// NULs around each value, which are padding; date-times without any space; person names also
// without the spaces that end a component and without empty components at their end), and
// the number of values of a text element; sequences item by item, the undefined lengths
// kept. Two differences are the writer's on purpose: a group length outside the meta group is
// not written, and the meta group length is computed by the writer (the parser holds every
// group length at 0). An empty value field counts as no value. Values are compared as
// written, so a cut the writer itself makes (a person name longer than 64 characters) is not
// a difference.
//
// A documented refusal: an element of the top level with status 14 (a file exception: the
// output reached its limit, a value does not fit its length field, an item could not be
// written), or one whose value is still in its source file (measured pixel data), which a
// memory stream has no path to reload from.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/dataset.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dictionary/vr.h"
#include "dicom/file/datasetdump.h"
#include "platform/core/notify.h"
#include "platform/files/file.h"

namespace {

[[noreturn]] void Fail(const char* what, const CElementDICOM* element) {
    std::fprintf(stderr, "dicom_write: %s at (%04X,%04X)\n", what,
                 element ? unsigned{element->m_nGroup} : 0u,
                 element ? unsigned{element->m_nElement} : 0u);
    std::abort();
}

bool Retired(const CElementDICOM& e) {
    return e.m_nElement == 0 && e.m_nGroup != 0x0002;
}

// The number of values of a text element (a join that a split would not give back shows
// here, not in the bytes); -1 for the other classes.
template <class... Multiple>
std::int64_t CountOf(const CElementDICOM& e) {
    std::int64_t count = -1;
    ((count < 0 && dynamic_cast<const Multiple*>(&e) != nullptr
          ? count = static_cast<const Multiple&>(e).m_nCount
          : 0),
     ...);
    return count;
}

std::int64_t TextCount(const CElementDICOM& e) {
    return CountOf<CElementAEMultiple, CElementCSMultiple, CElementDAMultiple, CElementDSMultiple,
                   CElementDTMultiple, CElementISMultiple, CElementLOMultiple, CElementSHMultiple,
                   CElementTMMultiple, CElementUIMultiple, CElementPNMultiple>(e);
}

// The value as compared: the canonical value; a date-time without any space (a space in it
// only pads one of its parts, and a malformed value whose date part is short has its parts
// padded again where they fall when it is read back); a person name by its components,
// without the spaces that end one (the reader drops one of them each time) and without empty
// components at its end (a name cut at 64 characters may end with "^").
std::vector<std::uint8_t> Compared(const CElementDICOM& e) {
    std::vector<std::uint8_t> value = quorin::CanonicalValue(e);
    if (quorin::SameVr(e.m_szVR, "DT")) std::erase(value, std::uint8_t{' '});
    if (!quorin::SameVr(e.m_szVR, "PN")) return value;
    std::vector<std::uint8_t> out;
    auto endComponent = [&out] {
        while (!out.empty() && out.back() == ' ') out.pop_back();
    };
    auto endName = [&] {
        endComponent();
        while (!out.empty() && out.back() == '^') {
            out.pop_back();
            endComponent();
        }
    };
    for (std::uint8_t c : value) {
        if (c == '^') endComponent();
        if (c == '\\') endName();
        out.push_back(c);
    }
    endName();
    return out;
}

void CompareLists(CInfosDicomList& first, CInfosDicomList& second);

void CompareElements(CElementDICOM& a, CElementDICOM& b) {
    if (a.m_nGroup != b.m_nGroup || a.m_nElement != b.m_nElement) Fail("another tag", &a);
    if (std::memcmp(a.m_szVR, b.m_szVR, 2) != 0) Fail("another VR", &a);
    if (typeid(a) != typeid(b)) Fail("another class", &a);
    if (a.m_nStatus != b.m_nStatus) Fail("another status", &a);
    if (auto* sa = dynamic_cast<CElementSQ*>(&a)) {
        auto& sb = static_cast<CElementSQ&>(b);
        if (sa->m_items.size() != sb.m_items.size()) Fail("another item count", &a);
        if (sa->m_bUndefinedLength != sb.m_bUndefinedLength) Fail("another sequence length", &a);
        for (std::size_t i = 0; i < sa->m_items.size(); ++i) {
            if (sa->m_items[i]->m_bUndefinedLength != sb.m_items[i]->m_bUndefinedLength)
                Fail("another item length", &a);
            CompareLists(*sa->m_items[i], *sb.m_items[i]);
        }
        return;
    }
    if (a.m_nElement == 0) return;  // the meta group length: computed by the writer
    const std::vector<std::uint8_t> value = Compared(a);
    if (value != Compared(b)) Fail("another value", &a);
    // An empty value field holds no value, whether it was read as none (length 0) or as one
    // empty value (a field of padding only).
    if (!value.empty() && TextCount(a) != TextCount(b)) Fail("another number of values", &a);
}

void CompareLists(CInfosDicomList& first, CInfosDicomList& second) {
    CInfosDicomNode* other = second.m_pFirst;
    for (CInfosDicomNode* node = first.m_pFirst; node; node = node->m_pNext) {
        if (Retired(*node->m_pElement)) continue;
        if (other == nullptr) Fail("element lost", node->m_pElement);
        CompareElements(*node->m_pElement, *other->m_pElement);
        other = other->m_pNext;
    }
    if (other != nullptr) Fail("element added", other->m_pElement);
}

bool RefusalDocumented(const CInfosDicomList& list) {
    for (const CInfosDicomNode* node = list.m_pFirst; node; node = node->m_pNext) {
        const CElementDICOM* e = node->m_pElement;
        if (e->m_nStatus == quorin::kStatusWriteError) return true;
        const auto* binary = dynamic_cast<const quorin::BinaryElement*>(e);
        if (binary && binary->m_nValuePosition != 0 && !binary->HasValue()) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        win::SetNotifyHandler([](std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    if (size < 1) return 0;
    const int pixelMode = data[size - 1] % 5;
    win::CMemFile input(data, size - 1);
    CInfosDicomList list;
    if (list.ReadFromStream(&input, 1, 0, 0, pixelMode, 0) != 0) return 0;
    win::CMemFile output;
    output.SetWriteLimit(size * 4 + 4096);
    if (list.Write(&output, 1, nullptr, 0, nullptr) != 1) {
        if (!RefusalDocumented(list)) Fail("write refused without a documented cause", nullptr);
        return 0;
    }
    win::CMemFile again(output.Data().data(), output.Data().size());
    CInfosDicomList reparsed;
    if (reparsed.ReadFromStream(&again, 1, 0, 0, 0, 0) != 0)
        Fail("what was written does not parse", nullptr);
    if (reparsed.m_bImplicit != list.m_bImplicit || reparsed.m_nByteOrder != list.m_nByteOrder)
        Fail("another transfer syntax", nullptr);
    CompareLists(list, reparsed);
    return 0;
}
