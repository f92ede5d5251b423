// Other-byte and other-word values (OB, OW): above all the pixel data and the meta information
// version. OB also holds encapsulated pixel data (offset table and fragments, kept as read);
// both can be measured in a stream without being loaded, and keep their value in the source
// file until it is needed.
#pragma once
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "dicom/dataset/element.h"

namespace quorin {

// What OB and OW share: an owned byte buffer (rounded up to even, the pad byte 0) and the
// offset of a value still waiting in the source file.
class BinaryElement : public CElementDICOM {
  public:
    using CElementDICOM::CElementDICOM;
    // What Write puts out for a plain value: header and value padded to even length.
    std::uint64_t EncodedLength() const override {
        return m_nLength + std::uint64_t{m_nLength & 1} + HeaderSize();
    }
    // The value bytes (m_nLength of them, then the pad byte when odd); null when none is held.
    const std::uint8_t* GetValue() const { return m_value.empty() ? nullptr : m_value.data(); }
    std::uint8_t* GetValue() { return m_value.empty() ? nullptr : m_value.data(); }
    bool HasValue() const { return !m_value.empty(); }
    // Copies `length` bytes as the value; status 0. False (nothing changed) without memory.
    bool SetBytes(const void* data, std::uint32_t length);
    // Loads a value left in the source file (value position not 0); status 13 when it cannot.
    void LoadFromFile(win::CFile* file);

    // Offset of the value's first byte in the source file while not loaded; 0 when in memory.
    std::uint64_t m_nValuePosition = 0;

  protected:
    bool Allocate(std::uint64_t length);
    void ClearValue() override;
    bool ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end) override;
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;
    // Measures a defined-length value at `position` (tag start) and skips it.
    std::uint64_t MeasureDefined(win::CFile* file, std::uint64_t position, std::uint32_t length);
    bool ReadLengthAt(win::CFile* file, std::uint64_t position, std::uint32_t& length);

    // Bytes about to be overwritten by a read are not zeroed first (pixel data is large).
    template <class T>
    struct UninitializedAllocator : std::allocator<T> {
        template <class U>
        struct rebind {
            using other = UninitializedAllocator<U>;
        };
        using std::allocator<T>::allocator;
        template <class U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <class U, class... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };
    using Bytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;
    Bytes m_value;
};

}  // namespace quorin

class CElementOB : public quorin::BinaryElement {
  public:
    CElementOB();
    // An empty value of `length` bytes (plus a zero pad byte when odd).
    CElementOB(std::int32_t type, std::uint16_t group, std::uint16_t element, std::uint32_t length,
               std::int32_t implicit, std::int32_t byteOrder);
    // Finds the element from `start` and reads it; status 0, 3, 5 or 13.
    CElementOB(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
               std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
               std::uint64_t limit = quorin::kNoLimit);
    // From an element read as UN: its tag, flags and value bytes.
    explicit CElementOB(const CElementDICOM& unknown, const std::uint8_t* data,
                        std::uint32_t length);

    // `value` points to a pointer to m_nLength bytes.
    void SetValue(const void* value) override;
    void Write(win::CFile* file) override;
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    // Measures the element whose tag starts at `position` without loading it and leaves the
    // file after it; the size in bytes, or 0 with status 13.
    std::uint64_t MeasureAt(win::CFile* file, std::uint64_t position);

    // Encapsulation: the basic offset table and the length of each fragment as read (their sum
    // is m_nLength); an encapsulated value set in memory is written as one fragment.
    std::uint8_t m_bEncapsulated = 0;
    std::uint32_t m_nItemHeaderBytes = 0;  // 8 per item header and delimiter read
    std::vector<std::uint8_t> m_offsetTable;
    std::vector<std::uint32_t> m_fragments;

  protected:
    void ClearValue() override;
    bool ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) override;
};

class CElementOW : public quorin::BinaryElement {
  public:
    CElementOW();
    // An empty value of `wordCount` words.
    CElementOW(std::int32_t type, std::uint16_t group, std::uint16_t element,
               std::uint32_t wordCount, std::int32_t implicit, std::int32_t byteOrder);
    CElementOW(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
               std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
               std::uint64_t limit = quorin::kNoLimit);
    explicit CElementOW(const CElementDICOM& unknown, const std::uint8_t* data,
                        std::uint32_t length);

    // `value` points to a pointer to m_nLength bytes of words in machine order.
    void SetValue(const void* value) override;
    void Write(win::CFile* file) override;
    void SwapTag() override;
    void SwapValue() override;
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    std::uint64_t MeasureAt(win::CFile* file, std::uint64_t position);
    // The i-th word, 0 when out of range.
    std::uint16_t GetWord(std::uint32_t index) const;

  protected:
    bool ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end) override;
    void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) override;

  private:
    // Swaps the two bytes of the first `words` words of the value in place.
    void SwapWords(std::size_t words);
};
