// Binary number and tag elements: one item template over the value type (SS US SL UL FL FD,
// and AT's pair of 16-bit halves) and one multiple template that splits a value field into
// items of the value width, swaps them for big endian and writes them back.
#pragma once
#include <cstdint>
#include <vector>

#include "dicom/dataset/element.h"

namespace quorin {

// An attribute tag value: group, then element.
struct TagValue {
    std::uint16_t group = 0;
    std::uint16_t element = 0;
    bool operator==(const TagValue&) const = default;
};

template <class T>
struct NumberTraits;
template <>
struct NumberTraits<std::int16_t> {
    static constexpr char vr[3] = "SS";
    using Result = std::uint16_t;
};
template <>
struct NumberTraits<std::uint16_t> {
    static constexpr char vr[3] = "US";
    using Result = std::uint16_t;
};
template <>
struct NumberTraits<std::int32_t> {
    static constexpr char vr[3] = "SL";
    using Result = std::int32_t;
};
template <>
struct NumberTraits<std::uint32_t> {
    static constexpr char vr[3] = "UL";
    using Result = std::uint32_t;
};
template <>
struct NumberTraits<float> {
    static constexpr char vr[3] = "FL";
    using Result = float;
};
template <>
struct NumberTraits<double> {
    static constexpr char vr[3] = "FD";
    using Result = double;
};
template <>
struct NumberTraits<TagValue> {
    static constexpr char vr[3] = "AT";
    using Result = TagValue;
};

// Reverses the bytes of a value in place (AT: each 16-bit half).
template <class T>
void SwapNumber(T& value);

// One number (or tag) value.
template <class T>
class NumberItem : public CElementDICOM {
  public:
    static constexpr std::uint32_t kWidth = sizeof(T);

    NumberItem();
    NumberItem(std::int32_t type, std::uint16_t group, std::uint16_t element);

    // `value` points to a pointer to the number (AT: to two pointers, group and element).
    void SetValue(const void* value) override;
    void SetNumber(T value);
    T GetNumber() const { return m_value; }
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override { return kWidth + 8; }
    // The item's tag, then its value.
    void SwapTag() override;
    void SwapValue() override { SwapNumber(m_value); }
    CElementDICOM* Clone() const override { return CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;

  private:
    T m_value{};
};

// The values of a binary number or tag element.
template <class T>
class NumberMultiple : public CElementDICOM {
  public:
    using Item = NumberItem<T>;
    using Result = typename NumberTraits<T>::Result;
    static constexpr std::uint32_t kWidth = sizeof(T);

    NumberMultiple();
    // `count` items of value 0.
    NumberMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element,
                   std::uint32_t count, std::int32_t implicit, std::int32_t byteOrder);
    NumberMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
                   std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
                   std::uint64_t limit = kNoLimit);
    NumberMultiple(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length);

    // `value` is an array of pointers to numbers, one per item (null leaves the item).
    void SetValue(const void* value) override;
    // Replaces the values (our own convenience for builders and tests).
    bool SetNumbers(const T* values, std::uint32_t count);
    // The i-th value in machine order; 0 when out of range.
    Result GetValue(std::int64_t index) const;
    void SplitValues(const std::uint8_t* data, std::uint32_t length);
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override { return ValueBytes() + 8; }
    // Swaps the tag and every value (AT values too, so a big-endian output holds them right).
    void SwapTag() override;
    CElementDICOM* Clone() const override { return CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;

    std::uint32_t m_nCount = 0;
    std::vector<Item> m_items;

  protected:
    void ClearValue() override;

  private:
    std::uint64_t ValueBytes() const { return std::uint64_t{m_nCount} * kWidth; }
};

extern template class NumberItem<std::int16_t>;
extern template class NumberItem<std::uint16_t>;
extern template class NumberItem<std::int32_t>;
extern template class NumberItem<std::uint32_t>;
extern template class NumberItem<float>;
extern template class NumberItem<double>;
extern template class NumberItem<TagValue>;
extern template class NumberMultiple<std::int16_t>;
extern template class NumberMultiple<std::uint16_t>;
extern template class NumberMultiple<std::int32_t>;
extern template class NumberMultiple<std::uint32_t>;
extern template class NumberMultiple<float>;
extern template class NumberMultiple<double>;
extern template class NumberMultiple<TagValue>;

}  // namespace quorin

using CElementSS = quorin::NumberItem<std::int16_t>;
using CElementUS = quorin::NumberItem<std::uint16_t>;
using CElementSL = quorin::NumberItem<std::int32_t>;
using CElementUL = quorin::NumberItem<std::uint32_t>;
using CElementFL = quorin::NumberItem<float>;
using CElementFD = quorin::NumberItem<double>;
using CElementAT = quorin::NumberItem<quorin::TagValue>;
using CElementSSMultiple = quorin::NumberMultiple<std::int16_t>;
using CElementUSMultiple = quorin::NumberMultiple<std::uint16_t>;
using CElementSLMultiple = quorin::NumberMultiple<std::int32_t>;
using CElementULMultiple = quorin::NumberMultiple<std::uint32_t>;
using CElementFLMultiple = quorin::NumberMultiple<float>;
using CElementFDMultiple = quorin::NumberMultiple<double>;
using CElementATMultiple = quorin::NumberMultiple<quorin::TagValue>;
