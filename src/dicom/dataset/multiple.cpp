#include "dicom/dataset/multiple.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>

#include "dicom/dataset/personname.h"

namespace quorin {

template <class Item>
TextMultiple<Item>::TextMultiple() {
    SetVR(Item::Row().vr);
}

template <class Item>
TextMultiple<Item>::TextMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element,
                                 std::uint32_t count, std::int32_t implicit, std::int32_t byteOrder)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(Item::Row().vr);
    if (count == 0) return;  // the parser's empty elements
    try {
        m_items.assign(count, Item(type, group, element));
        m_nCount = count;
    } catch (...) {
        m_items.clear();
    }
}

template <class Item>
TextMultiple<Item>::TextMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element,
                                 win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                                 std::uint64_t start, std::uint64_t limit)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(Item::Row().vr);
    ReadFromStreamAt(start, file, limit);
}

template <class Item>
TextMultiple<Item>::TextMultiple(const CElementDICOM& unknown, const std::uint8_t* data,
                                 std::uint32_t length)
    : CElementDICOM(unknown.m_nType, unknown.m_nGroup, unknown.m_nElement, unknown.m_bImplicit,
                    unknown.m_nByteOrder) {
    SetVR(Item::Row().vr);
    TakeValueBytes(data, length);
}

template <class Item>
void TextMultiple<Item>::ClearValue() {
    m_items.clear();
    m_nCount = 0;
    m_nLength = 0;
}

template <class Item>
void TextMultiple<Item>::SetValue(const void* value) {
    if (value == nullptr) return;
    const auto* pointers = static_cast<const void* const*>(value);
    for (std::uint32_t i = 0; i < m_nCount; ++i)
        if (pointers[i] != nullptr) m_items[i].SetValue(pointers[i]);
    m_nLength = static_cast<std::uint32_t>(Joined().size());
    m_nStatus = kStatusOk;
}

template <class Item>
const Item* TextMultiple<Item>::GetItem(std::int64_t index) const {
    if (index < 0 || static_cast<std::uint64_t>(index) >= m_items.size()) return nullptr;
    return &m_items[static_cast<std::size_t>(index)];
}

template <class Item>
Item* TextMultiple<Item>::GetItem(std::int64_t index) {
    if (index < 0 || static_cast<std::uint64_t>(index) >= m_items.size()) return nullptr;
    return &m_items[static_cast<std::size_t>(index)];
}

template <class Item>
const char* TextMultiple<Item>::GetValue(std::int64_t index) const {
    const Item* item = GetItem(index);
    return item ? item->GetText() : nullptr;
}

template <class Item>
double TextMultiple<Item>::GetNumber(std::int64_t index) const {
    const char* text = GetValue(index);
    if (text == nullptr) return 0.0;
    std::string_view v(text);
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    double number = 0.0;
    if (std::from_chars(v.data(), v.data() + v.size(), number).ec != std::errc{}) return 0.0;
    return number;
}

template <class Item>
void TextMultiple<Item>::Append(std::string_view value, bool last) {
    if (m_nCount >= kMaxValues) throw std::length_error("too many values");
    m_items.emplace_back(m_nType, m_nGroup, m_nElement);
    m_items.back().SetFromField(value, last);
    ++m_nCount;
}

template <class Item>
void TextMultiple<Item>::SplitValues(const char* data, std::uint32_t length) {
    const TextRow& row = Item::Row();
    m_items.clear();
    m_nCount = 0;
    std::uint32_t scan = length;
    if (row.dropFieldTrailingSpace && scan > 0 && data[scan - 1] == ' ') --scan;
    const std::uint64_t values = 1 + std::count(data, data + scan, '\\');
    if (values > kMaxValues) {
        m_nStatus = kStatusReadError;  // refused before any item is made
        return;
    }
    try {
        m_items.reserve(static_cast<std::size_t>(values));
        // A value never grows past the limit: it is collected in place, on the stack when
        // the limit allows.
        char local[512];
        std::unique_ptr<char[]> large;
        if (row.limit > sizeof local) large = std::make_unique<char[]>(row.limit);
        char* const v = large ? large.get() : local;
        std::size_t n = 0;
        std::uint32_t spacesEnd = 0;  // end of the last run of spaces looked at
        for (std::uint32_t i = 0; i < scan; ++i) {
            const char c = data[i];
            if (c == '\\') {
                Append(std::string_view(v, n), false);
                n = 0;
                continue;
            }
            if (row.skipSpaces && c == ' ') continue;
            // "1997.04.24" is a date of eight characters: its dots are not kept.
            if (row.separator != 0 && c == row.separator) continue;
            // A byte arriving at a value that is already at the limit: the scan stops, or
            // the byte ends the value as a backslash would and is dropped. Spaces up to the
            // backslash that ends the value, or to the end of the field, pad a value of full
            // length: they begin no value of their own.
            if (n >= row.limit) {
                if (row.stopAtLimit) break;
                if (c == ' ' && i >= spacesEnd) {
                    spacesEnd = i;
                    while (spacesEnd < scan && data[spacesEnd] == ' ') ++spacesEnd;
                    if (spacesEnd == scan || data[spacesEnd] == '\\') {
                        i = spacesEnd - 1;
                        continue;
                    }
                }
                Append(std::string_view(v, n), false);
                n = 0;
                continue;
            }
            v[n++] = c;
        }
        Append(std::string_view(v, n), true);
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();
        m_items.clear();
        m_nCount = 0;
        m_nStatus = kStatusReadError;
    } catch (...) {
        m_items.clear();
        m_nCount = 0;
        m_nStatus = kStatusReadError;
    }
}

template <class Item>
void TextMultiple<Item>::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    SplitValues(reinterpret_cast<const char*>(data), length);
    m_nLength = length;
}

template <class Item>
std::string TextMultiple<Item>::Joined() const {
    const TextRow& row = Item::Row();
    std::string out;  // grows as needed: long values from a file are joined whole
    for (const Item& item : m_items) AppendJoined(out, item.JoinText(), row.trimValueSpace);
    FinishJoin(out, row.pad);
    return out;
}

template <class Item>
void TextMultiple<Item>::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    std::string out;
    try {
        out = Joined();
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();  // a value left out would be written or listed short
        m_nStatus = kStatusWriteError;
        return;
    }
    if (!CheckLengthField(out.size())) return;
    m_nLength = static_cast<std::uint32_t>(out.size());
    WriteHeader(file);
    PutLength(file, m_nLength);
    if (IsRequired() || m_nLength > 0) PutBytes(file, out.data(), m_nLength);
}

template class TextMultiple<CElementAE>;
template class TextMultiple<CElementCS>;
template class TextMultiple<CElementDA>;
template class TextMultiple<CElementDS>;
template class TextMultiple<CElementDT>;
template class TextMultiple<CElementIS>;
template class TextMultiple<CElementLO>;
template class TextMultiple<CElementSH>;
template class TextMultiple<CElementTM>;
template class TextMultiple<CElementUI>;
template class TextMultiple<CElementPN>;

}  // namespace quorin
