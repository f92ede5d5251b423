#include "dicom/dataset/dataset.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/multiple.h"
#include "dicom/dataset/personname.h"
#include "dicom/dataset/privateblocks.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dataset/text.h"
#include "dicom/dictionary/dictionary.h"
#include "dicom/dictionary/vr.h"
#include "platform/core/lasterror.h"
#include "platform/core/notify.h"

using quorin::kStatusOk;
using quorin::kStatusReadError;
using quorin::kUndefinedLength;

namespace quorin {

namespace {

template <class T, class... Args>
CElementDICOM* Make(Args&&... args) noexcept {
    try {
        return new T(std::forward<Args>(args)...);
    } catch (...) {
        return nullptr;
    }
}

// The kind of VR each class the data set holds is made for.
template <VrKind K>
struct KindIs {
    static constexpr VrKind value = K;
};
template <class T>
struct ClassKind;
template <class Item>
struct ClassKind<TextMultiple<Item>> : KindIs<VrKind::Text> {};
template <>
struct ClassKind<CElementPNMultiple> : KindIs<VrKind::PersonName> {};
template <TextVr V>
struct ClassKind<TextItem<V>> : KindIs<VrKind::SingleText> {
    static_assert(V == TextVr::AS || V == TextVr::LT || V == TextVr::ST,
                  "an item class: the data set holds its multiple class");
};
template <class T>
struct ClassKind<NumberMultiple<T>> : KindIs<VrKind::Number> {};
template <>
struct ClassKind<CElementATMultiple> : KindIs<VrKind::Tag> {};
template <>
struct ClassKind<CElementOB> : KindIs<VrKind::Binary> {};
template <>
struct ClassKind<CElementOW> : KindIs<VrKind::Binary> {};
template <>
struct ClassKind<CElementSQ> : KindIs<VrKind::Sequence> {};

using MakeEmpty = CElementDICOM* (*)(std::int32_t type, std::uint16_t group, std::uint16_t element,
                                     std::int32_t implicit, std::int32_t order);

template <class T>
CElementDICOM* MakeEmptyOf(std::int32_t type, std::uint16_t group, std::uint16_t element,
                           std::int32_t implicit, std::int32_t order) {
    // The multiple classes and OB/OW take a count of values (or bytes): none yet.
    if constexpr (std::is_constructible_v<T, std::int32_t, std::uint16_t, std::uint16_t,
                                          std::uint32_t, std::int32_t, std::int32_t>)
        return Make<T>(type, group, element, 0u, implicit, order);
    else
        return Make<T>(type, group, element, implicit, order);
}

struct VrClass {
    char code[3];
    VrKind kind;
    MakeEmpty make;
};

template <class T>
constexpr VrClass ClassFor(const char (&code)[3]) {
    return {{code[0], code[1], 0}, ClassKind<T>::value, &MakeEmptyOf<T>};
}

// The class the data set holds for each VR it models: the multiple class where there is one.
// The opaque VRs are not here: they are kept as CElementUN with their letters.
constexpr VrClass kVrClasses[] = {
    ClassFor<CElementAEMultiple>("AE"), ClassFor<CElementAS>("AS"),
    ClassFor<CElementATMultiple>("AT"), ClassFor<CElementCSMultiple>("CS"),
    ClassFor<CElementDAMultiple>("DA"), ClassFor<CElementDSMultiple>("DS"),
    ClassFor<CElementDTMultiple>("DT"), ClassFor<CElementFDMultiple>("FD"),
    ClassFor<CElementFLMultiple>("FL"), ClassFor<CElementISMultiple>("IS"),
    ClassFor<CElementLOMultiple>("LO"), ClassFor<CElementLT>("LT"),
    ClassFor<CElementOB>("OB"),         ClassFor<CElementOW>("OW"),
    ClassFor<CElementPNMultiple>("PN"), ClassFor<CElementSHMultiple>("SH"),
    ClassFor<CElementSLMultiple>("SL"), ClassFor<CElementSQ>("SQ"),
    ClassFor<CElementSSMultiple>("SS"), ClassFor<CElementST>("ST"),
    ClassFor<CElementTMMultiple>("TM"), ClassFor<CElementUIMultiple>("UI"),
    ClassFor<CElementULMultiple>("UL"), ClassFor<CElementUSMultiple>("US"),
};

// The class of each row of the VR table, by row (null for the opaque rows).
constexpr std::array<MakeEmpty, std::size(kVrRows)> kMakeOfRow = [] {
    std::array<MakeEmpty, std::size(kVrRows)> make{};
    for (std::size_t i = 0; i < std::size(kVrRows); ++i)
        for (const VrClass& c : kVrClasses)
            if (SameVr(c.code, kVrRows[i].code)) make[i] = c.make;
    return make;
}();

// Every VR the table models has exactly one class, made for the kind the table gives it, and
// every class is for a VR of the table: a row that changes kind, or a new VR, stops the build
// here instead of taking another VR's class.
static_assert([] {
    for (const VrRow& row : kVrRows) {
        int classes = 0;
        for (const VrClass& c : kVrClasses) {
            if (!SameVr(c.code, row.code)) continue;
            if (c.kind != row.kind) return false;
            ++classes;
        }
        if (classes != (row.kind == VrKind::Opaque ? 0 : 1)) return false;
    }
    for (const VrClass& c : kVrClasses) {
        bool inTable = false;
        for (const VrRow& row : kVrRows) inTable = inTable || SameVr(c.code, row.code);
        if (!inTable) return false;
    }
    return true;
}());

}  // namespace

// An empty element of the class the data set holds for `vr`, or null for letters that are not
// a VR. The 32-bit-length VRs the toolkit does not model are kept as opaque bytes.
CElementDICOM* NewEmptyElement(const char* vr, std::int32_t type, std::uint16_t group,
                               std::uint16_t element, std::int32_t implicit, std::int32_t order) {
    const VrRow* row = FindVr(vr);
    if (row == nullptr) return nullptr;
    if (row->kind == VrKind::Opaque)
        return Make<CElementUN>(type, group, element, implicit, order, row->code);
    return kMakeOfRow[static_cast<std::size_t>(row - kVrRows)](type, group, element, implicit,
                                                               order);
}

bool IsPixelMeasured(const char* vr, int pixelMode, int nested) {
    if (SameVr(vr, "OB"))
        return nested ? (pixelMode == 1 || pixelMode == 4) : (pixelMode == 2 || pixelMode == 4);
    if (SameVr(vr, "OW")) return !nested && pixelMode == 2;
    return false;
}

namespace {

struct SyntaxRow {
    const char* uid;
    std::int32_t implicit;
    std::int32_t order;
};

constexpr SyntaxRow kSyntaxes[] = {
    {"1.2.840.10008.1.2", 1, kLittleEndian},      {"1.2.840.10008.1.2.1", 0, kLittleEndian},
    {"1.2.840.10008.1.2.2", 0, kBigEndian},       {"1.2.840.10008.1.2.4.50", 0, kLittleEndian},
    {"1.2.840.10008.1.2.4.51", 0, kLittleEndian}, {"1.2.840.10008.1.2.4.57", 0, kLittleEndian},
    {"1.2.840.10008.1.2.4.70", 0, kLittleEndian}, {"1.2.840.10008.1.2.4.91", 0, kLittleEndian},
    {"1.2.840.10008.1.2.4.90", 0, kLittleEndian},
};

}  // namespace

CElementDICOM* NewElementOfVr(const char* vr, const CElementDICOM& source, const std::uint8_t* data,
                              std::uint32_t length) {
    const VrRow* row = FindVr(vr);
    if (row == nullptr || row->kind == VrKind::Sequence || row->kind == VrKind::Opaque)
        return nullptr;
    CElementDICOM* element = NewEmptyElement(vr, source.m_nType, source.m_nGroup, source.m_nElement,
                                             source.m_bImplicit, source.m_nByteOrder);
    if (element == nullptr) {
        NoteOutOfMemory();  // the VR has a class: only memory can fail
        return nullptr;
    }
    try {
        if (data != nullptr && length > 0) element->TakeValueBytes(data, length);
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        delete element;
        return nullptr;
    } catch (...) {
        delete element;
        return nullptr;
    }
    element->m_nStreamSize = source.m_nStreamSize;
    return element;
}

int ReadTransferSyntax(win::CFile* file, std::int32_t& implicit, std::int32_t& byteOrder) {
    CElementUIMultiple syntax(0, 0x0002, 0x0010, file, 0, kLittleEndian, 132);
    if (syntax.m_nStatus == kStatusReadError) return kStatusReadError;
    const char* uid = syntax.GetValue(0);
    if (syntax.m_nStatus != kStatusOk || uid == nullptr || uid[0] == 0)
        return kStatusNoTransferSyntax;
    for (const SyntaxRow& row : kSyntaxes) {
        if (std::strcmp(uid, row.uid) == 0) {
            implicit = row.implicit;
            byteOrder = row.order;
            return kStatusOk;
        }
    }
    return kStatusNotAccepted;
}

}  // namespace quorin

// ---- list operations ----

CInfosDicomList::CInfosDicomList(const CInfosDicomList& other)
    : m_szSourcePath(other.m_szSourcePath),
      m_bImplicit(other.m_bImplicit),
      m_nByteOrder(other.m_nByteOrder),
      m_nContentLength(other.m_nContentLength),
      m_nDelimiterBytes(other.m_nDelimiterBytes),
      m_nLimit(other.m_nLimit),
      m_nDepth(other.m_nDepth),
      m_nEndPosition(other.m_nEndPosition),
      m_bUntilItemDelimiter(other.m_bUntilItemDelimiter) {
    for (const CInfosDicomNode* node = other.m_pFirst; node; node = node->m_pNext) {
        if (node->m_pElement == nullptr) continue;
        CElementDICOM* copy = node->m_pElement->Clone();
        if (copy == nullptr || !Append(copy)) {
            Clear();
            throw std::bad_alloc();  // caught by the Clone of the sequence that copies us
        }
    }
}

void CInfosDicomList::Clear() {
    CInfosDicomNode* node = m_pFirst;
    while (node) {
        CInfosDicomNode* next = node->m_pNext;
        delete node;
        node = next;
    }
    m_pFirst = m_pLast = nullptr;
    m_nCount = 0;
}

bool CInfosDicomList::Append(CElementDICOM* element) {
    if (element == nullptr) return false;
    auto* node = new (std::nothrow) CInfosDicomNode(element);
    if (node == nullptr) {
        delete element;
        return false;
    }
    if (m_pLast)
        m_pLast->m_pNext = node;
    else
        m_pFirst = node;
    m_pLast = node;
    ++m_nCount;
    return true;
}

bool CInfosDicomList::Insert(const CElementDICOM* element) {
    if (element == nullptr) return false;
    CElementDICOM* copy = element->Clone();
    if (copy == nullptr) return false;
    if (copy->m_nByteOrder != m_nByteOrder && copy->m_nGroup != 0x0002)
        copy->SetByteOrder(m_nByteOrder);
    auto* node = new (std::nothrow) CInfosDicomNode(copy);
    if (node == nullptr) {
        delete copy;
        return false;
    }
    const std::uint32_t key = (std::uint32_t{copy->m_nGroup} << 16) | copy->m_nElement;
    CInfosDicomNode* previous = nullptr;
    CInfosDicomNode* current = m_pFirst;
    while (current) {
        const CElementDICOM* e = current->m_pElement;
        const std::uint32_t k = (std::uint32_t{e->m_nGroup} << 16) | e->m_nElement;
        if (k >= key) break;
        previous = current;
        current = current->m_pNext;
    }
    const bool replace = current != nullptr && current->m_pElement->m_nGroup == copy->m_nGroup &&
                         current->m_pElement->m_nElement == copy->m_nElement;
    node->m_pNext = replace ? current->m_pNext : current;
    if (previous)
        previous->m_pNext = node;
    else
        m_pFirst = node;
    if (node->m_pNext == nullptr) m_pLast = node;
    if (replace)
        delete current;
    else
        ++m_nCount;
    return true;
}

CInfosDicomNode* CInfosDicomList::Find(std::uint16_t group, std::uint16_t element,
                                       std::uint32_t flag) {
    for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext) {
        const CElementDICOM* e = node->m_pElement;
        if (e->m_nGroup > group || (e->m_nGroup == group && e->m_nElement > element)) break;
        if (e->m_nGroup == group && e->m_nElement == element) {
            node->m_nFlag = flag;
            return node;
        }
    }
    return nullptr;
}

std::uint16_t CInfosDicomList::FindPrivateCreator(std::uint16_t group) {
    for (std::uint16_t slot = quorin::kFirstCreatorSlot; slot <= quorin::kLastCreatorSlot; ++slot) {
        const CInfosDicomNode* node = Find(group, slot, 0);
        if (node && quorin::IsOwnCreator(*node->m_pElement)) return slot;
    }
    return 0;
}

std::uint16_t CInfosDicomList::GetPrivateCreatorSlot(std::uint16_t group) {
    for (std::uint16_t slot = quorin::kFirstCreatorSlot; slot <= quorin::kLastCreatorSlot; ++slot) {
        const CInfosDicomNode* node = Find(group, slot, 0);
        if (node == nullptr || quorin::IsOwnCreator(*node->m_pElement)) return slot;
    }
    return 0;
}

void CInfosDicomList::RemoveFlagged() {
    CInfosDicomNode* previous = nullptr;
    CInfosDicomNode* node = m_pFirst;
    while (node) {
        CInfosDicomNode* next = node->m_pNext;
        if (node->m_nFlag == CInfosDicomNode::kMarked) {
            if (previous)
                previous->m_pNext = next;
            else
                m_pFirst = next;
            delete node;
            if (m_nCount > 0) --m_nCount;
        } else {
            previous = node;
        }
        node = next;
    }
    m_pLast = previous;
}

void CInfosDicomList::LoadValuesFromFile(win::CFile* file) {
    for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext) {
        if (auto* binary = dynamic_cast<quorin::BinaryElement*>(node->m_pElement)) {
            if (binary->m_nValuePosition != 0) binary->LoadFromFile(file);
        } else if (auto* text = dynamic_cast<CElementLT*>(node->m_pElement)) {
            if (text->m_nValuePosition != 0) text->LoadFromFile(file);
        }
    }
}

void CInfosDicomList::SwapAll() {
    for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext)
        if (node->m_pElement->IsBigEndian()) node->m_pElement->SwapTag();
}

// ---- writing ----

bool CInfosDicomList::WriteElements(win::CFile* file) {
    for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext) {
        if (node->m_pElement == nullptr) continue;
        // Group lengths are retired outside the meta group (and held 0 once parsed).
        if (node->m_pElement->m_nElement == 0 && node->m_pElement->m_nGroup != 0x0002) continue;
        quorin::WriteElement(*node->m_pElement, file);
        if (node->m_pElement->m_nStatus == quorin::kStatusWriteError) return false;
    }
    return true;
}

// The one place that decides what a write leaves out.
void CInfosDicomList::MarkExcluded(const quorin::TagValue* const* exclusions, int exclusionCount,
                                   const quorin::TagValue* mask) {
    if (exclusions != nullptr && m_pFirst != nullptr && exclusionCount > 0) {
        for (int i = 0; i < exclusionCount; ++i) {
            const quorin::TagValue* tag = exclusions[i];
            if (tag == nullptr) continue;
            if (tag->element != 0) {
                Find(tag->group, tag->element, CInfosDicomNode::kMarked);
                continue;
            }
            for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext)
                if (node->m_pElement->m_nGroup == tag->group)
                    node->m_nFlag = CInfosDicomNode::kMarked;
        }
    }
    if (mask != nullptr && m_pFirst != nullptr) {
        const std::uint16_t bits = mask->element & 0xFF00;
        for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext) {
            const CElementDICOM* e = node->m_pElement;
            const bool masked = e->m_nGroup == mask->group &&
                                ((e->m_nElement & bits) == bits || e->m_nElement == mask->element);
            const bool groupLength = e->m_nElement == 0 && e->m_nGroup != 0x0002;
            if (masked || groupLength) node->m_nFlag = CInfosDicomNode::kMarked;
        }
    }
}

int CInfosDicomList::Write(win::CFile* file, int writePreamble,
                           const quorin::TagValue* const* exclusions, int exclusionCount,
                           const quorin::TagValue* mask) {
    if (writePreamble == 1) {
        const std::uint8_t preamble[132] = {};
        try {
            file->Write(preamble, 128);
            file->Write("DICM", 4);
        } catch (...) {
            return 0;
        }
    }
    MarkExcluded(exclusions, exclusionCount, mask);
    // The meta group length is the number of bytes written after it in group 0002: the
    // elements that are written, rendered once to count them.
    std::uint64_t metaLength = 0;
    try {
        win::CMemFile meta;
        for (CInfosDicomNode* node = m_pFirst; node && node->m_pElement->m_nGroup == 0x0002;
             node = node->m_pNext)
            if (node->m_pElement->m_nElement != 0 && node->m_nFlag == 0)
                quorin::WriteElement(*node->m_pElement, &meta);
        metaLength = meta.GetLength();
    } catch (...) {
        return 0;
    }

    for (CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext) {
        if (node->m_nFlag != 0) continue;
        CElementDICOM* e = node->m_pElement;
        // Group lengths are retired outside the meta group (and held 0 once parsed).
        if (e->m_nElement == 0 && e->m_nGroup != 0x0002) continue;
        if (e->m_nGroup == 0x0002 && e->m_nElement == 0) {
            if (auto* groupLength = dynamic_cast<CElementULMultiple*>(e)) {
                const auto value = static_cast<std::uint32_t>(metaLength);
                if (!groupLength->SetNumbers(&value, 1)) {
                    quorin::NoteOutOfMemory();  // the length would be written wrong
                    return 0;
                }
            }
        }
        auto* binary = dynamic_cast<quorin::BinaryElement*>(e);
        auto* text = dynamic_cast<CElementLT*>(e);
        const bool inSource = (binary && binary->m_nValuePosition != 0 && !binary->HasValue()) ||
                              (text && text->m_nValuePosition != 0);
        if (inSource) {
            win::CFile source;
            if (!source.Open(m_szSourcePath.c_str(), win::CFile::modeRead)) {
                const char* message =
                    quorin::SameVr(e->m_szVR, "OB")
                        ? "Erreur à l'ouverture du fichier référençant un éléméent OB"
                    : quorin::SameVr(e->m_szVR, "OW")
                        ? "Erreur à l'ouverture du fichier référençant un éléméent OW"
                        : "Erreur à l'ouverture du fichier référençant un éléméent LT";
                win::Notify("Error", message);
                return 0;
            }
            if (binary)
                binary->LoadFromFile(&source);
            else
                text->LoadFromFile(&source);
            source.Abort();
            // A value that could not be reloaded would be written as nothing: a failure.
            if (e->m_nStatus != kStatusOk) return 0;
        }
        quorin::WriteElement(*e, file);
        if (e->m_nStatus == quorin::kStatusWriteError) return 0;
    }
    return 1;
}

// ---- parsing ----

int CInfosDicomList::ReadFromStream(win::CFile* file, int hasPreamble, std::uint64_t start,
                                    std::uint32_t length, int pixelMode, int nested) {
    // Memory that ran out before this parse says nothing about this file.
    if (!nested) win::SetLastError(win::ERROR_SUCCESS);
    try {
        return ReadStream(file, hasPreamble, start, length, pixelMode, nested);
    } catch (const std::bad_alloc&) {  // a step short of memory that throws (a copied text...)
        quorin::NoteOutOfMemory();
        return kStatusReadError;
    }
}

int CInfosDicomList::ReadStream(win::CFile* file, int hasPreamble, std::uint64_t start,
                                std::uint32_t length, int pixelMode, int nested) {
    const std::uint64_t fileLength = file->GetLength();
    m_szSourcePath = file->GetFilePath();
    if (!nested) {
        if (start == 0 && hasPreamble == 1) {
            char prefix[4];
            if (file->Seek(128, win::CFile::begin) < 0 || file->Read(prefix, 4) != 4)
                return kStatusReadError;
            if (std::memcmp(prefix, "DICM", 4) != 0) return quorin::kStatusNoPrefix;
        }
        const int syntax = quorin::ReadTransferSyntax(file, m_bImplicit, m_nByteOrder);
        if (syntax != kStatusOk) return syntax;
    }
    const std::uint64_t position = start != 0 ? start : (hasPreamble == 1 ? 132 : 20);
    const std::uint64_t limit = std::min(m_nLimit, fileLength);
    std::uint64_t end;
    if (length == 0) {
        // A trailing fragment shorter than a header is not an element.
        const std::uint64_t tail = m_bImplicit ? 4 : 6;
        end = nested ? limit : (fileLength > tail ? fileLength - tail : 0);
    } else if (length == kUndefinedLength) {
        end = position + 1;
    } else {
        end = position + length;
        if (end > limit) return kStatusReadError;
    }
    return Parse(file, position, end, limit, pixelMode, nested);
}

int CInfosDicomList::Parse(win::CFile* file, std::uint64_t position, std::uint64_t end,
                           std::uint64_t limit, int pixelMode, int nested) {
    const std::uint64_t start = position;
    const bool undefinedItem = nested && m_bUntilItemDelimiter;
    bool delimited = false;
    quorin::PrivateBlocks creators;
    for (const CInfosDicomNode* node = m_pFirst; node; node = node->m_pNext)
        creators.Note(*node->m_pElement);
    while (position < end) {
        // Tag, VR and length field in one read (fewer at the end of the file); every step
        // after this one seeks again.
        std::uint8_t header[12];
        std::uint32_t got = 0;
        if (file->Seek(static_cast<std::int64_t>(position), win::CFile::begin) < 0 ||
            limit - position < 4 || (got = file->Read(header, sizeof header)) < 4)
            return kStatusReadError;
        std::uint16_t group, element;
        std::memcpy(&group, header, 2);
        std::memcpy(&element, header + 2, 2);
        const bool big = m_nByteOrder == quorin::kBigEndian;
        if (big && group != 0x0002) SwapWord(&group);
        if (big && group != 0x0002) SwapWord(&element);
        const bool meta = group == 0x0002;
        const std::int32_t implicit = meta ? 0 : m_bImplicit;
        const std::int32_t order = meta ? quorin::kLittleEndian : m_nByteOrder;

        if (group == 0xFFFE) {
            if (element == 0xE00D && nested) {  // end of an undefined-length item
                m_nDelimiterBytes += 8;
                position += 8;
                delimited = true;
                break;
            }
            if (element == 0xE0DD && !nested) {  // a stray sequence delimiter ends the parse
                m_nDelimiterBytes += 8;
                break;
            }
            return kStatusReadError;  // an item or delimiter out of place
        }
        char vr[3] = {0, 0, 0};
        if (implicit) {
            DicomDictionaryLookup(group, element, vr);
        } else if (got < 6) {
            return kStatusReadError;
        } else {
            vr[0] = static_cast<char>(header[4]);
            vr[1] = static_cast<char>(header[5]);
        }
        // The 32-bit length field at `offset` from the tag, from the header read when it holds
        // it, else from the file; false on a short read.
        auto peekLength = [&](std::uint32_t offset, std::uint32_t& value) {
            if (got >= offset + 4) {
                std::memcpy(&value, header + offset, 4);
                if (order == quorin::kBigEndian) SwapDWord(&value);
                return true;
            }
            return file->Seek(static_cast<std::int64_t>(position + offset), win::CFile::begin) >=
                       0 &&
                   quorin::ReadU32(file, value, order == quorin::kBigEndian);
        };
        // In implicit VR the dictionary's private VRs are those of the maker's own block: the
        // elements of another maker's block stay opaque bytes.
        if (implicit && !creators.IsKnown(group, element)) std::memcpy(vr, "UN", 3);
        // An undefined length where no sequence is expected (UN, or an implicit VR that is not
        // OB/OW) marks a sequence: it is read as one.
        bool unknownSequence = false;
        if (!implicit && quorin::SameVr(vr, "OW")) {
            // Encapsulated pixel data labelled OW (some encoders do) is read as the OB it is.
            std::uint32_t peek = 0;
            if (peekLength(8, peek) && peek == kUndefinedLength) vr[1] = 'B';
        }
        if (implicit || quorin::SameVr(vr, "UN")) {
            std::uint32_t peek = 0;
            if (!peekLength(implicit ? 4 : 8, peek)) return kStatusReadError;
            unknownSequence = peek == kUndefinedLength && !quorin::SameVr(vr, "SQ") &&
                              !quorin::SameVr(vr, "OB") && !quorin::SameVr(vr, "OW");
        }
        std::unique_ptr<CElementDICOM> item;
        if (unknownSequence) {
            auto* sequence = new (std::nothrow) CElementSQ(4, group, element, implicit, order);
            if (sequence) {
                sequence->SetUnknownSequence();
                sequence->m_nPixelMode = pixelMode;
            }
            item.reset(sequence);
        } else {
            item.reset(quorin::NewEmptyElement(vr, 4, group, element, implicit, order));
            // The class follows from the VR: no type test per element.
            if (item && quorin::SameVr(vr, "SQ"))
                static_cast<CElementSQ*>(item.get())->m_nPixelMode = pixelMode;
        }
        if (!item) {
            // Letters that are no VR are malformed; any other element failed for want of memory.
            if (unknownSequence || quorin::FindVr(vr) != nullptr) quorin::NoteOutOfMemory();
            return kStatusReadError;
        }
        item->m_nDepth = m_nDepth;
        if (group == 0x7FE0 && element == 0x0010 &&
            quorin::IsPixelMeasured(vr, pixelMode, nested)) {
            const std::uint64_t size =
                quorin::SameVr(vr, "OB")
                    ? static_cast<CElementOB*>(item.get())->MeasureAt(file, position)
                    : static_cast<CElementOW*>(item.get())->MeasureAt(file, position);
            if (size == 0 || size > limit - position) return kStatusReadError;
        } else {
            item->ReadAt(file, position, limit, header, got);
        }
        if (item->m_nStatus == kStatusReadError || item->StreamSize() < 8) return kStatusReadError;
        const std::uint64_t size = item->StreamSize();
        if (!unknownSequence && quorin::SameVr(vr, "UN") && creators.IsKnown(group, element)) {
            CElementDICOM* converted = nullptr;
            if (!static_cast<CElementUN*>(item.get())->ConvertByDictionary(&converted))
                return kStatusReadError;
            if (converted) item.reset(converted);
        }
        if (element == 0x0000) {
            // A group length read from a file is recomputed by the writer.
            if (auto* groupLength = dynamic_cast<CElementULMultiple*>(item.get())) {
                const std::uint32_t zero = 0;
                if (groupLength->m_nCount > 0 && !groupLength->SetNumbers(&zero, 1)) {
                    quorin::NoteOutOfMemory();  // the value the file gave would stand
                    return kStatusReadError;
                }
            }
        }
        position += size;
        if (!Append(item.release())) {
            quorin::NoteOutOfMemory();
            return kStatusReadError;
        }
        creators.Note(*m_pLast->m_pElement);
    }
    if (undefinedItem && !delimited)
        return kStatusReadError;  // an undefined-length item never closed
    m_nEndPosition = position;
    m_nContentLength = static_cast<std::uint32_t>(position - start - m_nDelimiterBytes);
    return kStatusOk;
}
