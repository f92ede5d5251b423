#include "dicom/dataset/number.h"

#include <cstring>
#include <new>

namespace quorin {

template <class T>
void SwapNumber(T& value) {
    if constexpr (std::is_same_v<T, TagValue>) {
        SwapWord(&value.group);
        SwapWord(&value.element);
    } else if constexpr (sizeof(T) == 2) {
        SwapWord(&value);
    } else if constexpr (sizeof(T) == 4) {
        SwapDWord(&value);
    } else {
        SwapQWord(&value);
    }
}

// ---- NumberItem ----

template <class T>
NumberItem<T>::NumberItem() {
    SetVR(NumberTraits<T>::vr);
}

template <class T>
NumberItem<T>::NumberItem(std::int32_t type, std::uint16_t group, std::uint16_t element)
    : CElementDICOM(type, group, element, 0, kLittleEndian) {
    SetVR(NumberTraits<T>::vr);
}

template <class T>
void NumberItem<T>::SetValue(const void* value) {
    if (value == nullptr) return;
    if constexpr (std::is_same_v<T, TagValue>) {
        const auto* halves = static_cast<const std::uint16_t* const*>(value);
        if (halves[0] == nullptr || halves[1] == nullptr) return;
        SetNumber(TagValue{*halves[0], *halves[1]});
    } else {
        const T* number = *static_cast<const T* const*>(value);
        if (number == nullptr) return;
        SetNumber(*number);
    }
}

template <class T>
void NumberItem<T>::SetNumber(T value) {
    m_value = value;
    m_nLength = kWidth;
    m_nStatus = kStatusOk;
}

template <class T>
void NumberItem<T>::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    if (length < kWidth) {
        m_nLength = 0;
        return;
    }
    std::memcpy(&m_value, data, kWidth);
    if (IsBigEndian()) SwapNumber(m_value);
    m_nLength = kWidth;
}

template <class T>
void NumberItem<T>::SwapTag() {
    CElementDICOM::SwapTag();
    SwapValue();
}

template <class T>
void NumberItem<T>::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    WriteHeader(file);
    PutLength(file, kWidth);
    PutBytes(file, &m_value, kWidth);
}

// ---- NumberMultiple ----

template <class T>
NumberMultiple<T>::NumberMultiple() {
    SetVR(NumberTraits<T>::vr);
}

template <class T>
NumberMultiple<T>::NumberMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element,
                                  std::uint32_t count, std::int32_t implicit,
                                  std::int32_t byteOrder)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(NumberTraits<T>::vr);
    try {
        m_items.assign(count, Item(type, group, element));
        m_nCount = count;
    } catch (...) {
        m_items.clear();
    }
}

template <class T>
NumberMultiple<T>::NumberMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element,
                                  win::CFile* file, std::int32_t implicit, std::int32_t byteOrder,
                                  std::uint64_t start, std::uint64_t limit)
    : CElementDICOM(type, group, element, implicit, byteOrder) {
    SetVR(NumberTraits<T>::vr);
    ReadFromStreamAt(start, file, limit);
}

template <class T>
NumberMultiple<T>::NumberMultiple(const CElementDICOM& unknown, const std::uint8_t* data,
                                  std::uint32_t length)
    : CElementDICOM(unknown.m_nType, unknown.m_nGroup, unknown.m_nElement, unknown.m_bImplicit,
                    unknown.m_nByteOrder) {
    SetVR(NumberTraits<T>::vr);
    TakeValueBytes(data, length);
}

template <class T>
void NumberMultiple<T>::ClearValue() {
    m_items.clear();
    m_nCount = 0;
    m_nLength = 0;
}

template <class T>
void NumberMultiple<T>::SetValue(const void* value) {
    if (value == nullptr) return;
    const auto* pointers = static_cast<const void* const*>(value);
    for (std::uint32_t i = 0; i < m_nCount; ++i) {
        if (pointers[i] == nullptr) continue;
        if constexpr (std::is_same_v<T, TagValue>) {
            m_items[i].SetNumber(*static_cast<const TagValue*>(pointers[i]));
        } else {
            m_items[i].SetNumber(*static_cast<const T*>(pointers[i]));
        }
    }
    m_nLength = static_cast<std::uint32_t>(ValueBytes());
    m_nStatus = kStatusOk;
}

template <class T>
bool NumberMultiple<T>::SetNumbers(const T* values, std::uint32_t count) {
    std::vector<Item> items;
    try {
        items.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            items.emplace_back(m_nType, m_nGroup, m_nElement);
            items.back().SetNumber(values[i]);
        }
    } catch (...) {
        return false;
    }
    m_items.swap(items);
    m_nCount = count;
    m_nLength = static_cast<std::uint32_t>(ValueBytes());
    m_nStatus = kStatusOk;
    return true;
}

template <class T>
typename NumberMultiple<T>::Result NumberMultiple<T>::GetValue(std::int64_t index) const {
    if (index < 0 || static_cast<std::uint64_t>(index) >= m_items.size()) return Result{};
    return static_cast<Result>(m_items[static_cast<std::size_t>(index)].GetNumber());
}

template <class T>
void NumberMultiple<T>::SplitValues(const std::uint8_t* data, std::uint32_t length) {
    m_items.clear();
    m_nCount = 0;
    const std::uint32_t count = length / kWidth;  // a final incomplete chunk is ignored
    if (count > kMaxValues) {
        m_nStatus = kStatusReadError;
        return;
    }
    try {
        m_items.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            T value;
            std::memcpy(&value, data + std::size_t{i} * kWidth, kWidth);
            if (IsBigEndian()) SwapNumber(value);
            m_items.emplace_back(m_nType, m_nGroup, m_nElement);
            m_items.back().SetNumber(value);
        }
    } catch (...) {  // the count was checked: only memory can fail
        m_items.clear();
        NoteOutOfMemory();
        m_nStatus = kStatusReadError;
        return;
    }
    m_nCount = count;
}

template <class T>
void NumberMultiple<T>::TakeValueBytes(const std::uint8_t* data, std::uint32_t length) {
    SplitValues(data, length);
    m_nLength = length;
}

template <class T>
void NumberMultiple<T>::SwapTag() {
    CElementDICOM::SwapTag();
    for (Item& item : m_items) item.SwapValue();
}

template <class T>
void NumberMultiple<T>::Write(win::CFile* file) {
    if (m_nStatus != kStatusOk) return;
    // Every held value and nothing more: count x width bytes, whatever length was read.
    const std::uint64_t bytes = ValueBytes();
    if (!CheckLengthField(bytes)) return;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        NoteOutOfMemory();  // a value left out would be written or listed short
        m_nStatus = kStatusWriteError;
        return;
    }
    for (std::uint32_t i = 0; i < m_nCount; ++i) {
        const T value = m_items[i].GetNumber();
        std::memcpy(buffer.data() + std::size_t{i} * kWidth, &value, kWidth);
    }
    m_nLength = static_cast<std::uint32_t>(bytes);
    WriteHeader(file);
    PutLength(file, m_nLength);
    if (IsRequired() || m_nLength > 0) PutBytes(file, buffer.data(), m_nLength);
}

template void SwapNumber(std::int16_t&);
template void SwapNumber(std::uint16_t&);
template void SwapNumber(std::int32_t&);
template void SwapNumber(std::uint32_t&);
template void SwapNumber(float&);
template void SwapNumber(double&);
template void SwapNumber(TagValue&);
template class NumberItem<std::int16_t>;
template class NumberItem<std::uint16_t>;
template class NumberItem<std::int32_t>;
template class NumberItem<std::uint32_t>;
template class NumberItem<float>;
template class NumberItem<double>;
template class NumberItem<TagValue>;
template class NumberMultiple<std::int16_t>;
template class NumberMultiple<std::uint16_t>;
template class NumberMultiple<std::int32_t>;
template class NumberMultiple<std::uint32_t>;
template class NumberMultiple<float>;
template class NumberMultiple<double>;
template class NumberMultiple<TagValue>;

}  // namespace quorin
