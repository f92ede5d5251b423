// Single-valued character-string elements: one template over a row of rules per VR (capacity,
// character cleaning, odd-length rule, and the splitting and joining rules their multiple
// class uses), the date-time item with its three parts, and the opaque-bytes element UN.
//
// AE CS DA DS IS LO SH TM UI are item classes: the data set holds their multiple classes.
// AS LT ST are stand-alone: read, held and written by themselves.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/dataset/element.h"

namespace quorin {

enum class TextVr : std::uint8_t { AE, AS, CS, DA, DS, DT, IS, LO, LT, SH, ST, TM, UI, PN };

enum class CharRule : std::uint8_t { AE, AS, CS, DA, DS, IS, LO, Keep, TM, UI };

struct TextRow {
    char vr[3];
    std::uint32_t capacity;  // characters one value keeps
    CharRule chars;
    bool padOnSet;  // SetValue appends a space to an odd value cut short of the capacity
    bool trim;      // SetValue drops leading and trailing spaces first (numbers)
    bool standAlone;
    // Splitting a multiple field: a value reaching `limit` ends the scan (stop) or is ended
    // by the next byte, which is dropped (cut); spaces skipped; the field's last space dropped.
    std::uint32_t limit;
    bool stopAtLimit;
    bool skipSpaces;
    bool dropFieldTrailingSpace;
    char separator;  // a character SetValue skips (DA ".", TM ":"): not counted to the limit
    // Joining: one trailing space of each value left out; pad byte of an odd join.
    bool trimValueSpace;
    char pad;
};

const TextRow& GetTextRow(TextVr vr);
// Cleans a text by the VR's rules (characters up to the capacity) into `out` (its storage
// reused), from a text that ends where the view ends.
void CleanTextInto(const TextRow& row, std::string_view text, std::string& out);
// Joins values with backslashes and pads an odd result with the row's pad byte.
void AppendJoined(std::string& out, std::string_view value, bool trimSpace);
void FinishJoin(std::string& out, char pad);

// One text value of a VR.
template <TextVr V>
class TextItem : public CElementDICOM {
  public:
    static const TextRow& Row() { return GetTextRow(V); }

    TextItem();
    // Explicit VR little endian for the items; LT takes the flags.
    TextItem(std::int32_t type, std::uint16_t group, std::uint16_t element,
             std::int32_t implicit = 0, std::int32_t byteOrder = kLittleEndian);
    // Stand-alone classes: finds the element from `start` and reads it.
    TextItem(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
             std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
             std::uint64_t limit = kNoLimit);
    // Stand-alone classes: from an element read as UN and its value bytes.
    TextItem(const CElementDICOM& unknown, const std::uint8_t* data, std::uint32_t length);

    // `value` is a NUL-terminated text.
    void SetValue(const void* value) override { SetText(static_cast<const char*>(value)); }
    void SetText(const char* text);
    // The value as a NUL-terminated text without one trailing space; "" when empty. The
    // pointer stays valid until the value changes or GetText is called again.
    const char* GetText() const;
    // The stored value (m_nLength bytes, pad included).
    const std::string& Value() const { return m_value; }
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override;
    CElementDICOM* Clone() const override { return CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // One value of a multiple field (as collected by the multiple class).
    void SetFromField(std::string_view value, bool last);
    // The text the multiple class joins for this value.
    std::string_view JoinText() const;
    // LT: loads a text left in the source file (value position not 0); status 13 on a short
    // read.
    void LoadFromFile(win::CFile* file);

    std::uint64_t m_nValuePosition = 0;  // LT: offset of a text still in the source file

  protected:
    void ClearValue() override;

  private:
    std::string m_value;
    mutable std::string m_text;
};

extern template class TextItem<TextVr::AE>;
extern template class TextItem<TextVr::AS>;
extern template class TextItem<TextVr::CS>;
extern template class TextItem<TextVr::DA>;
extern template class TextItem<TextVr::DS>;
extern template class TextItem<TextVr::IS>;
extern template class TextItem<TextVr::LO>;
extern template class TextItem<TextVr::LT>;
extern template class TextItem<TextVr::SH>;
extern template class TextItem<TextVr::ST>;
extern template class TextItem<TextVr::TM>;
extern template class TextItem<TextVr::UI>;

}  // namespace quorin

using CElementAE = quorin::TextItem<quorin::TextVr::AE>;
using CElementAS = quorin::TextItem<quorin::TextVr::AS>;
using CElementCS = quorin::TextItem<quorin::TextVr::CS>;
using CElementDA = quorin::TextItem<quorin::TextVr::DA>;
using CElementDS = quorin::TextItem<quorin::TextVr::DS>;
using CElementIS = quorin::TextItem<quorin::TextVr::IS>;
using CElementLO = quorin::TextItem<quorin::TextVr::LO>;
using CElementLT = quorin::TextItem<quorin::TextVr::LT>;
using CElementSH = quorin::TextItem<quorin::TextVr::SH>;
using CElementST = quorin::TextItem<quorin::TextVr::ST>;
using CElementTM = quorin::TextItem<quorin::TextVr::TM>;
using CElementUI = quorin::TextItem<quorin::TextVr::UI>;

// A date-time value held as its date (8), time (16) and offset (5) parts.
class CElementDT : public CElementDICOM {
  public:
    static const quorin::TextRow& Row() { return quorin::GetTextRow(quorin::TextVr::DT); }

    CElementDT();
    CElementDT(std::int32_t type, std::uint16_t group, std::uint16_t element);

    // `value` is an array of three texts (date, time, offset); any may be null.
    void SetValue(const void* value) override;
    void SetParts(const char* date, const char* time, const char* offset);
    const char* GetText() const;
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override;
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // Splits one value into its parts: date, time up to a sign, the offset with its sign.
    void SetFromField(std::string_view value, bool last);
    std::string_view JoinText() const { return m_joined; }

    std::string m_szDate, m_szTime, m_szOffset;

  private:
    std::string m_joined;
    mutable std::string m_text;
};

// Uninterpreted bytes: VR UN, and the 32-bit-length VRs the toolkit does not model (UT UC UR
// OD OF OL OV SV UV), whose letters it keeps. Values stay in stream byte order.
class CElementUN : public CElementDICOM {
  public:
    CElementUN();
    // An empty element; `vr` keeps the letters of an opaque VR other than UN.
    CElementUN(std::int32_t type, std::uint16_t group, std::uint16_t element, std::int32_t implicit,
               std::int32_t byteOrder, const char* vr = "UN");
    // Finds the element of these letters from `start` and keeps its value bytes as stored; with
    // the letters of a 16-bit-length VR it gives a reader that VR's value unsplit and uncleaned.
    CElementUN(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
               std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
               std::uint64_t limit = quorin::kNoLimit, const char* vr = "UN");

    // `value` points to m_nLength bytes; the buffer must hold them already.
    void SetValue(const void* value) override;
    bool SetBytes(const void* data, std::uint32_t length);
    const std::uint8_t* GetValue() const { return m_value.empty() ? nullptr : m_value.data(); }
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override {
        return m_nLength + std::uint64_t{m_nLength & 1} + HeaderSize();
    }
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // The element of the VR the dictionary gives for this tag, holding this value; null when
    // the dictionary VR is SQ, UN or has no class, or cannot carry this value (too long for its
    // length field, more values than an element holds). The new element belongs to the caller.
    // False, with null and memory noted, when the memory left cannot hold the conversion: the
    // element read as UN would be another reading of the file.
    bool ConvertByDictionary(CElementDICOM** result) const;

  protected:
    void ClearValue() override;
    bool ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end) override;
    bool ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) override;

  private:
    std::vector<std::uint8_t> m_value;
};
