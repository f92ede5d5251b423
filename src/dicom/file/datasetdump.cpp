// Readable and canonical listings of a data set.
#include "dicom/file/datasetdump.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "dicom/dataset/binary.h"
#include "dicom/dataset/dataset.h"
#include "dicom/dataset/sequence.h"
#include "dicom/dictionary/dictionary.h"
#include "dicom/dictionary/vr.h"
#include "dicom/file/dicomfile.h"
#include "platform/core/lasterror.h"

namespace quorin {

namespace {

// The value bytes of ElementValueBytes in `value`; false when the memory left cannot hold the
// copies they are taken from (the copy of the element, the bytes it writes, the value).
bool ValueBytes(const CElementDICOM& element, std::vector<std::uint8_t>& value,
                std::int32_t* writeStatus) {
    value.clear();
    if (writeStatus) *writeStatus = element.m_nStatus;
    if (SameVr(element.m_szVR, "SQ") || dynamic_cast<const CElementSQ*>(&element) != nullptr)
        return true;
    try {
        std::unique_ptr<CElementDICOM> copy(element.Clone());
        if (!copy) return false;  // a copy fails only for want of memory
        copy->SetByteOrder(kLittleEndian);
        win::CMemFile memory;
        // A memory file that cannot grow is a failed write, as a full disk would be: the
        // thread's last error tells the two apart.
        win::SetLastError(win::ERROR_SUCCESS);
        copy->Write(&memory);
        if (copy->m_nStatus == kStatusWriteError && OutOfMemoryNoted()) return false;
        if (writeStatus) *writeStatus = copy->m_nStatus;
        const auto& data = memory.Data();
        const std::size_t header = copy->HeaderSize();
        if (data.size() <= header) return true;
        value.assign(data.begin() + static_cast<std::ptrdiff_t>(header), data.end());
        // An encapsulated value: the items as written, without the sequence delimiter.
        const auto* ob = dynamic_cast<const CElementOB*>(&element);
        if (ob != nullptr && ob->m_bEncapsulated && value.size() >= 8)
            value.resize(value.size() - 8);
        return true;
    } catch (const std::bad_alloc&) {
        value.clear();
        return false;
    } catch (...) {
        value.clear();
        return true;
    }
}

// CanonicalValue in `out`; false for want of memory.
bool CanonicalBytes(const CElementDICOM& element, std::vector<std::uint8_t>& out) {
    out.clear();
    std::vector<std::uint8_t> bytes;
    if (!ValueBytes(element, bytes, nullptr)) return false;
    static constexpr const char* kText[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO", "LT",
                                            "PN", "SH", "ST", "TM", "UI", "UC", "UR", "UT"};
    bool text = false;
    for (const char* vr : kText) text = text || SameVr(vr, element.m_szVR);
    if (!text) {
        out.swap(bytes);
        return true;
    }
    try {
        std::size_t begin = 0;
        for (std::size_t i = 0; i <= bytes.size(); ++i) {
            if (i < bytes.size() && bytes[i] != '\\') continue;
            std::size_t a = begin, b = i;
            while (a < b && (bytes[a] == ' ' || bytes[a] == 0)) ++a;
            while (b > a && (bytes[b - 1] == ' ' || bytes[b - 1] == 0)) --b;
            if (begin > 0) out.push_back('\\');
            out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(a),
                       bytes.begin() + static_cast<std::ptrdiff_t>(b));
            begin = i + 1;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> ElementValueBytes(const CElementDICOM& element,
                                            std::int32_t* writeStatus) {
    std::vector<std::uint8_t> value;
    if (!ValueBytes(element, value, writeStatus)) NoteOutOfMemory();
    return value;
}

std::uint64_t HashBytes(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

namespace {

void Indent(std::string& out, int depth) {
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

void AppendFormat(std::string& out, const char* format, auto... args) {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    if (n > 0) out.append(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

template <class T>
T Load(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Up to a few values of a binary number VR, decoded from little-endian bytes.
std::string NumbersText(const char* vr, const std::vector<std::uint8_t>& bytes) {
    std::string out;
    std::size_t width = 0;
    if (SameVr(vr, "US") || SameVr(vr, "SS")) width = 2;
    if (SameVr(vr, "UL") || SameVr(vr, "SL") || SameVr(vr, "FL") || SameVr(vr, "AT")) width = 4;
    if (SameVr(vr, "FD")) width = 8;
    if (width == 0) return out;
    const std::size_t count = bytes.size() / width;
    for (std::size_t i = 0; i < count && i < 8; ++i) {
        if (i > 0) out += '\\';
        const std::uint8_t* p = bytes.data() + i * width;
        if (SameVr(vr, "US")) AppendFormat(out, "%u", unsigned{Load<std::uint16_t>(p)});
        if (SameVr(vr, "SS")) AppendFormat(out, "%d", int{Load<std::int16_t>(p)});
        if (SameVr(vr, "UL")) AppendFormat(out, "%" PRIu32, Load<std::uint32_t>(p));
        if (SameVr(vr, "SL")) AppendFormat(out, "%" PRId32, Load<std::int32_t>(p));
        if (SameVr(vr, "FL")) AppendFormat(out, "%g", double{Load<float>(p)});
        if (SameVr(vr, "FD")) AppendFormat(out, "%g", Load<double>(p));
        if (SameVr(vr, "AT"))
            AppendFormat(out, "(%04X,%04X)", unsigned{Load<std::uint16_t>(p)},
                         unsigned{Load<std::uint16_t>(p + 2)});
    }
    if (count > 8) AppendFormat(out, "\\... (%zu values)", count);
    return out;
}

std::string ValueText(const CElementDICOM& element, const std::vector<std::uint8_t>& bytes) {
    const VrRow* row = FindVr(element.m_szVR);
    const VrKind kind = row ? row->kind : VrKind::Opaque;
    if (kind == VrKind::Number || kind == VrKind::Tag) return NumbersText(element.m_szVR, bytes);
    if (kind == VrKind::Text || kind == VrKind::SingleText || kind == VrKind::PersonName) {
        // A UI value is padded to even length with a NUL: not part of the text.
        std::size_t end = bytes.size();
        if (end > 0 && bytes[end - 1] == 0) --end;
        std::string text = "[";
        for (std::size_t i = 0; i < end && i < 64; ++i)
            text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
        if (end > 64) text += "...";
        return text + "]";
    }
    std::string hex;
    for (std::size_t i = 0; i < bytes.size() && i < 16; ++i) AppendFormat(hex, "%02x", bytes[i]);
    if (bytes.size() > 16) hex += "...";
    return hex;
}

}  // namespace

std::vector<std::uint8_t> CanonicalValue(const CElementDICOM& element) {
    std::vector<std::uint8_t> out;
    if (!CanonicalBytes(element, out)) NoteOutOfMemory();
    return out;
}

namespace {

// The listings of DumpDataSet and DumpCanonical; std::bad_alloc when the memory left cannot hold
// a value's bytes or the text.
void ListDataSet(const CInfosDicomList& list, std::string& out, int depth) {
    for (const CInfosDicomNode* node = list.m_pFirst; node; node = node->m_pNext) {
        const CElementDICOM* element = node->m_pElement;
        if (element == nullptr) continue;
        const char* keyword = DicomDictionaryKeyword(element->m_nGroup, element->m_nElement);
        Indent(out, depth);
        AppendFormat(out, "(%04X,%04X) %-2.2s %10" PRIu32 "  ", unsigned{element->m_nGroup},
                     unsigned{element->m_nElement}, element->m_szVR, element->m_nLength);
        if (const auto* sequence = dynamic_cast<const CElementSQ*>(element)) {
            AppendFormat(out, "%zu item(s)%s", sequence->m_items.size(),
                         sequence->m_bUndefinedLength ? ", undefined length" : "");
            AppendFormat(out, "  %s\n", keyword ? keyword : "");
            int index = 0;
            for (const auto& item : sequence->m_items) {
                Indent(out, depth + 1);
                AppendFormat(out, "item %d%s\n", ++index,
                             item->m_bUndefinedLength ? " (undefined length)" : "");
                ListDataSet(*item, out, depth + 2);
            }
            continue;
        }
        const bool pixels = element->m_nGroup == 0x7FE0 && element->m_nElement == 0x0010;
        const auto* binary = dynamic_cast<const BinaryElement*>(element);
        if (element->m_nStatus != kStatusOk) {
            AppendFormat(out, "(status %d: %s)", element->m_nStatus,
                         DicomResultText(element->m_nStatus));
        } else if (pixels && binary != nullptr) {
            const auto* ob = dynamic_cast<const CElementOB*>(element);
            if (!binary->HasValue())
                out += "pixel data, measured, not loaded";
            else if (ob != nullptr && ob->m_bEncapsulated)
                AppendFormat(out, "pixel data, encapsulated: %zu fragment(s), %" PRIu32 " bytes",
                             ob->m_fragments.size(), element->m_nLength);
            else
                AppendFormat(out, "pixel data, %" PRIu32 " bytes", element->m_nLength);
        } else {
            std::int32_t written = kStatusOk;
            std::vector<std::uint8_t> bytes;
            if (!ValueBytes(*element, bytes, &written)) throw std::bad_alloc();
            if (written == kStatusOk)
                out += ValueText(*element, bytes);
            else
                AppendFormat(out, "(status %d: value cannot be written)", written);
        }
        if (element->m_nElement == 0) out += " (group length: held 0, computed when written)";
        AppendFormat(out, "  %s\n", keyword ? keyword : "");
    }
}

void ListCanonical(const CInfosDicomList& list, std::string& out, int depth) {
    for (const CInfosDicomNode* node = list.m_pFirst; node; node = node->m_pNext) {
        const CElementDICOM* element = node->m_pElement;
        if (element == nullptr) continue;
        if (const auto* sequence = dynamic_cast<const CElementSQ*>(element)) {
            AppendFormat(out, "%d %04x,%04x SQ %zu\n", depth, unsigned{element->m_nGroup},
                         unsigned{element->m_nElement}, sequence->m_items.size());
            for (const auto& item : sequence->m_items) {
                AppendFormat(out, "%d item\n", depth + 1);
                ListCanonical(*item, out, depth + 1);
            }
            continue;
        }
        std::vector<std::uint8_t> bytes;
        if (!CanonicalBytes(*element, bytes)) throw std::bad_alloc();
        AppendFormat(out, "%d %04x,%04x %-2.2s %zu %016" PRIx64 "\n", depth,
                     unsigned{element->m_nGroup}, unsigned{element->m_nElement}, element->m_szVR,
                     bytes.size(), HashBytes(bytes.data(), bytes.size()));
    }
}

// A listing made by `list`, or false with the memory noted where the memory left cannot hold it.
bool Listed(void (*list)(const CInfosDicomList&, std::string&, int), const CInfosDicomList& data,
            std::string& out, int depth) {
    try {
        list(data, out, depth);
        return true;
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        return false;
    }
}

}  // namespace

bool DumpDataSet(const CInfosDicomList& list, std::string& out, int depth) {
    return Listed(ListDataSet, list, out, depth);
}

bool DumpCanonical(const CInfosDicomList& list, std::string& out, int depth) {
    return Listed(ListCanonical, list, out, depth);
}

}  // namespace quorin
