// Multiple-valued character-string elements: the classes the parser creates, the data set
// holds and the writers build. One template over the item class splits a value field at the
// backslashes by the VR's row of rules, holds the items, and joins them back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "dicom/dataset/element.h"
#include "dicom/dataset/text.h"

namespace quorin {

template <class ItemT>
class TextMultiple : public CElementDICOM {
  public:
    using Item = ItemT;

    TextMultiple();
    // `count` empty items.
    TextMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element, std::uint32_t count,
                 std::int32_t implicit, std::int32_t byteOrder);
    // Finds the element from `start` and reads its values; status 0, 3, 5 or 13.
    TextMultiple(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
                 std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
                 std::uint64_t limit = kNoLimit);
    // From an element read as UN and its value bytes.
    TextMultiple(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length);

    // `value` is an array of pointers, one per item in order, each given to the item's
    // SetValue (a text; for DT an array of three part texts); null leaves the item. Status 0.
    void SetValue(const void* value) override;
    // The i-th value as text without one trailing space; null when out of range.
    const char* GetValue(std::int64_t index) const;
    // DS: the i-th value as a number ("C" locale); 0.0 when out of range.
    double GetNumber(std::int64_t index) const;
    Item* GetItem(std::int64_t index);
    const Item* GetItem(std::int64_t index) const;
    // Builds the items from a value field.
    void SplitValues(const char* data, std::uint32_t length);
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override { return Joined().size() + 8; }
    CElementDICOM* Clone() const override { return CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // The value field as written: values joined by backslashes, padded to even length.
    std::string Joined() const;

    std::uint32_t m_nCount = 0;  // counts in 32 bits: a field may hold more than 65,535 values
    std::vector<Item> m_items;

  protected:
    void ClearValue() override;
    void Append(std::string_view value, bool last);
};

}  // namespace quorin

using CElementAEMultiple = quorin::TextMultiple<CElementAE>;
using CElementCSMultiple = quorin::TextMultiple<CElementCS>;
using CElementDAMultiple = quorin::TextMultiple<CElementDA>;
using CElementDSMultiple = quorin::TextMultiple<CElementDS>;
using CElementDTMultiple = quorin::TextMultiple<CElementDT>;
using CElementISMultiple = quorin::TextMultiple<CElementIS>;
using CElementLOMultiple = quorin::TextMultiple<CElementLO>;
using CElementSHMultiple = quorin::TextMultiple<CElementSH>;
using CElementTMMultiple = quorin::TextMultiple<CElementTM>;
using CElementUIMultiple = quorin::TextMultiple<CElementUI>;

namespace quorin {
extern template class TextMultiple<CElementAE>;
extern template class TextMultiple<CElementCS>;
extern template class TextMultiple<CElementDA>;
extern template class TextMultiple<CElementDS>;
extern template class TextMultiple<CElementDT>;
extern template class TextMultiple<CElementIS>;
extern template class TextMultiple<CElementLO>;
extern template class TextMultiple<CElementSH>;
extern template class TextMultiple<CElementTM>;
extern template class TextMultiple<CElementUI>;
}  // namespace quorin
