// Person names: one name split into its five components (family, given, middle, prefix,
// suffix), and the multiple class that splits a field at "\" and joins names back with "^".
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "dicom/dataset/multiple.h"

class CElementPN : public CElementDICOM {
  public:
    static const quorin::TextRow& Row() { return quorin::GetTextRow(quorin::TextVr::PN); }
    static constexpr std::size_t kComponentCapacity = 64;

    CElementPN();
    CElementPN(std::int32_t type, std::uint16_t group, std::uint16_t element);

    // `value` is an array of five texts. Only part 0 given: a whole name cut at "^"; any of
    // parts 1 to 4 given: one text per component. Status 0.
    void SetValue(const void* value) override;
    // The full name: components joined by "^" while the running total stays within 64.
    void ComposeFullName();
    const char* GetText() const { return m_szFullName.c_str(); }
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override;
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // One name of a field: cut into components at "^" (a longer component's characters past
    // the 64th begin the next one); trailing spaces and "^" of the components removed.
    void SetFromField(std::string_view value, bool last);
    // The name as written: components joined by "^", trailing "^" and spaces removed, at most
    // 64 characters.
    std::string JoinText() const;

    std::string m_szFamily, m_szGiven, m_szMiddle, m_szPrefix, m_szSuffix;
    std::string m_szFullName;
    std::int16_t m_nLengths[5] = {0, 0, 0, 0, 0};

  private:
    std::string* Component(int i);
};

class CElementPNMultiple : public quorin::TextMultiple<CElementPN> {
  public:
    using TextMultiple::TextMultiple;
    // Names are filled through SetComponents.
    void SetValue(const void*) override {}
    // Gives the index-th name its five components (each up to 64 characters); status 0.
    void SetComponents(std::int64_t index, const char* family, const char* given,
                       const char* middle, const char* prefix, const char* suffix);
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
};

namespace quorin {
extern template class TextMultiple<CElementPN>;
}
