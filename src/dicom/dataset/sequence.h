// Sequences: the SQ element holding its items, each item a data set of its own. Items of
// undefined length and sequences of undefined length are written back as they were read.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dicom/dataset/dataset.h"

// One item of a sequence.
class CElementSequence : public CInfosDicomList {
  public:
    CElementSequence() = default;
    CElementSequence(const CElementSequence& other) = default;

    // Reads the item whose header is at `itemOffset` and parses its elements (nested); the
    // parse stays inside m_nLimit. 0 or a parse result (13 when malformed).
    int ReadFromStream(win::CFile* file, std::uint64_t itemOffset, int pixelMode);
    // Bytes of the item in a stream: header, elements and item delimiter when undefined.
    std::uint64_t m_nStreamSize = 0;

    std::uint16_t m_nItemElement = 0xE000;
    bool m_bUndefinedLength = false;
};

class CElementSQ : public CElementDICOM {
  public:
    CElementSQ();
    CElementSQ(std::int32_t type, std::uint16_t group, std::uint16_t element, std::int32_t implicit,
               std::int32_t byteOrder);
    // Finds the sequence from `start` and reads its items; status 0, 3 or 13. `vr` "UN": an
    // undefined-length UN, whose items are implicit VR little endian.
    CElementSQ(std::int32_t type, std::uint16_t group, std::uint16_t element, win::CFile* file,
               std::int32_t implicit, std::int32_t byteOrder, std::uint64_t start,
               int pixelMode = 0, std::uint64_t limit = quorin::kNoLimit, const char* vr = "SQ");
    CElementSQ(const CElementSQ& other);
    CElementSQ& operator=(const CElementSQ&) = delete;

    void SetValue(const void*) override {}
    void Write(win::CFile* file) override;
    std::uint64_t EncodedLength() const override { return m_nLength + HeaderSize(); }
    void SetByteOrder(std::int32_t order) override;
    CElementDICOM* Clone() const override { return quorin::CloneOf(*this); }
    void TakeValueBytes(const std::uint8_t*, std::uint32_t) override {}

    // Appends an item; the sequence takes ownership (also on failure). False without memory.
    bool AddItem(CElementSequence* item);
    CElementSequence* GetItem(std::int64_t index);
    // Makes this an undefined-length UN sequence (items implicit VR little endian) before a
    // read: what the parser does for such an element.
    void SetUnknownSequence() {
        m_bUnknownSequence = true;
        SetVR("UN");
    }

    std::uint32_t m_nItemCount = 0;
    std::vector<std::unique_ptr<CElementSequence>> m_items;  // every item, in order
    bool m_bUndefinedLength = false;
    std::int32_t m_nPixelMode = 0;

  protected:
    void ClearValue() override;
    bool ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end) override;
    bool ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end) override;

  private:
    bool ReadItems(win::CFile* file, std::uint64_t position, std::uint64_t end, bool undefined);
    std::int32_t ItemsImplicit() const { return m_bUnknownSequence ? 1 : m_bImplicit; }
    std::int32_t ItemsByteOrder() const {
        return m_bUnknownSequence && !m_bImplicit ? quorin::kLittleEndian : m_nByteOrder;
    }

    bool m_bUnknownSequence = false;
};
