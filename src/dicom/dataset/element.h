// The data element base of the DICOM toolkit: tag, VR, length, transfer-syntax flags and the
// status code every reader and writer reports through; the stream routines every reader rests
// on (measuring an element, finding an element from an offset); and the checked stream helpers.
//
// Status codes: 0 value present, 3 not found in the stream, 5 required element read empty,
// 9 required element without a value, 13 short read or malformed stream (or a value memory could
// not hold: see NoteOutOfMemory), 14 file exception while writing. The file-level readers and
// the parser answer in the same numbering, with three codes of their own (2, 7, 12). Elements
// never throw.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dicom/dictionary/vr.h"
#include "platform/files/file.h"

namespace quorin {

enum ElementStatus : std::int32_t {
    kStatusOk = 0,
    kStatusNoPrefix = 2,  // file and parser: no "DICM" at offset 128
    kStatusNotFound = 3,
    kStatusEmpty = 5,
    kStatusNotAccepted = 7,  // file and parser: transfer syntax, SOP class or bits stored
    kStatusNoValue = 9,
    kStatusNoTransferSyntax = 12,  // file and parser: (0002,0010) absent or empty
    kStatusReadError = 13,
    kStatusWriteError = 14,
};

constexpr std::int32_t kLittleEndian = 1;
constexpr std::int32_t kBigEndian = 0;
constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFFu;
constexpr std::uint64_t kNoLimit = UINT64_MAX;
// Sequences nested deeper than this are refused as malformed (status 13).
constexpr int kMaxNesting = 64;
// Values one multiple-valued element may hold (each value is an item object): a field with
// more is refused (status 13) rather than turned into gigabytes of items.
constexpr std::uint32_t kMaxValues = 1u << 20;

// Checked reads from a framework file. False on a short read.
bool ReadExact(win::CFile* file, void* buffer, std::uint64_t count);
bool ReadU16(win::CFile* file, std::uint16_t& value, bool bigEndian);
bool ReadU32(win::CFile* file, std::uint32_t& value, bool bigEndian);
// An item or delimiter header (FFFE,xxxx) and its 32-bit length. False on a short read or
// when the tag's group is not FFFE.
bool ReadItemHeader(win::CFile* file, bool bigEndian, std::uint16_t& element,
                    std::uint32_t& length);

// The one walk over the items of an encapsulated value (basic offset table, fragments, then
// the sequence delimiter), from `position`, where the file stands. Every item must have a
// defined length and end by `end`. `item(length)` is called with the file at each item's value
// and must leave the file after it (reading or skipping it); false from it ends the walk as
// malformed. The bytes walked, the delimiter included; 0 when the stream is malformed.
template <class Item>
std::uint64_t WalkFragments(win::CFile* file, std::uint64_t position, std::uint64_t end,
                            bool bigEndian, Item&& item) {
    const std::uint64_t start = position;
    for (;;) {
        std::uint16_t element;
        std::uint32_t length;
        if (position > end || end - position < 8 ||
            !ReadItemHeader(file, bigEndian, element, length))
            return 0;
        position += 8;
        if (element == 0xE0DD) return position - start;
        if (element != 0xE000 || length == kUndefinedLength || length > end - position ||
            !item(length))
            return 0;
        position += length;
    }
}
// Skips `length` bytes forward from the file's position; false when the seek fails.
bool SkipBytes(win::CFile* file, std::uint32_t length);

// A reader that cannot get the memory a value needs answers status 13, as for a malformed
// stream, and leaves the thread's last error as ERROR_NOT_ENOUGH_MEMORY: a caller tells a sound
// file too large for the memory left from a damaged one by it. The parser clears it first.
void NoteOutOfMemory();
// True when a reader noted that memory ran out since the mark was last cleared.
bool OutOfMemoryNoted();

// Bytes from the current position (the first item tag of an undefined-length value whose
// items hold elements, encoded with implicit VR) up to and including its sequence delimiter;
// 0 when the stream is malformed, runs past `end` or nests deeper than kMaxNesting.
std::uint64_t MeasureUndefinedSequence(win::CFile* file, std::uint64_t end, bool bigEndian,
                                       int depth);

}  // namespace quorin

// The byte-swap routines used by all the stream code.
void SwapWord(void* word);    // reverses the two bytes of a 16-bit word in place
void SwapDWord(void* dword);  // reverses the four bytes of a 32-bit word in place
void SwapQWord(void* qword);  // reverses the eight bytes of a 64-bit word in place

class CElementDICOM {
  public:
    CElementDICOM();
    CElementDICOM(std::int32_t type, std::uint16_t group, std::uint16_t element,
                  std::int32_t implicit, std::int32_t byteOrder);
    CElementDICOM(const CElementDICOM& other) = default;
    CElementDICOM& operator=(const CElementDICOM& other) = default;

    // Size in bytes, from its tag, of the element whose tag (and VR when explicit) was just
    // read; 0 with status 13 on a short read or a malformed undefined-length value. A sequence
    // measures as its header plus one item header, so that a search walks into it.
    virtual std::uint64_t ReadLength(const char* vr, win::CFile* file, std::int32_t implicit,
                                     std::int32_t littleEndian);
    virtual ~CElementDICOM() = default;
    // Sets the value from a pointer whose meaning each class documents; status 0.
    virtual void SetValue(const void* value) = 0;
    // Writes the element; a file exception sets status 14. Nothing when the status is not 0.
    virtual void Write(win::CFile* file);
    // Bytes of the element in the stream, header included, from the current length.
    virtual std::uint64_t EncodedLength() const { return 0; }
    // Swaps the tag in place; the number classes swap their values too.
    virtual void SwapTag();
    virtual void SwapValue() {}
    virtual void SetByteOrder(std::int32_t order) { m_nByteOrder = order; }
    // A new copy of the element of the same class, or null when memory runs out. Owned by
    // the caller.
    virtual CElementDICOM* Clone() const = 0;

    bool IsRequired() const { return m_nType == 0 || m_nType == 1; }
    bool IsBigEndian() const { return m_nByteOrder == quorin::kBigEndian; }
    // Stream offset of the first element at or after `start` whose tag and VR are this
    // element's; 0 when there is none or on a read error (status 13 then).
    std::uint64_t FindInStream(std::uint64_t start, win::CFile* file);
    // Reads the element whose tag starts at `position`; nothing it reads may end past `limit`
    // or the end of the file (status 13). Status 0, 5 or 13.
    void ReadAt(win::CFile* file, std::uint64_t position, std::uint64_t limit = quorin::kNoLimit);
    // The same, given the first `headBytes` bytes of the element as the caller read them: the
    // length field is taken from them when they hold it.
    void ReadAt(win::CFile* file, std::uint64_t position, std::uint64_t limit,
                const std::uint8_t* head, std::uint32_t headBytes);
    // Writes group and element as they stand in memory and, when explicit, the VR letters.
    void WriteHeader(win::CFile* file);
    // Bytes the element occupied in the stream it was read from (0 when built in memory).
    std::uint64_t StreamSize() const { return m_nStreamSize; }
    // Header bytes before the value: 8, or 12 for the 32-bit-length VRs in explicit VR.
    std::uint32_t HeaderSize() const;
    // Whether a value of `length` bytes (padded to even) fits this element's length field:
    // 16 bits in explicit VR for the short VRs, else 32 bits (0xFFFFFFFF being "undefined").
    bool FitsLengthField(std::uint64_t length) const;

    // Takes raw value bytes as they stand in a stream (or in a UN element) in the element's
    // byte order, and sets the value and m_nLength from them. Does not change the status.
    virtual void TakeValueBytes(const std::uint8_t* data, std::uint32_t length) = 0;

    std::int32_t m_nType = 4;
    std::uint16_t m_nGroup = 0;
    std::uint16_t m_nElement = 0;
    char m_szVR[3] = {0, 0, 0};
    std::uint32_t m_nLength = 0;
    std::int32_t m_bImplicit = 0;
    std::int32_t m_nByteOrder = quorin::kLittleEndian;
    std::int32_t m_nStatus = quorin::kStatusNoValue;
    std::uint64_t m_nStreamSize = 0;
    // Nesting depth of the data set holding the element (sequences refuse to nest deeper).
    std::int32_t m_nDepth = 0;

  protected:
    void SetVR(const char* vr);
    // Finds the element from `start` and reads it (the stream constructors' common body).
    void ReadFromStreamAt(std::uint64_t start, win::CFile* file, std::uint64_t limit);
    // Reads `length` value bytes at the file's position (all present: the caller checked).
    // The default reads them into a scratch buffer and hands them to TakeValueBytes.
    virtual bool ReadValue(win::CFile* file, std::uint32_t length, std::uint64_t end);
    // An undefined length (0xFFFFFFFF) at `valuePosition`; the default refuses it.
    virtual bool ReadUndefined(win::CFile* file, std::uint64_t valuePosition, std::uint64_t end);
    // Empties the value (length 0 in the stream).
    virtual void ClearValue() { m_nLength = 0; }

    // Guarded writes: a file exception sets status 14 and the next write goes on.
    void PutBytes(win::CFile* file, const void* data, std::uint32_t count);
    // An item or delimiter header: (FFFE,element) and a 32-bit length.
    void PutItemHeader(win::CFile* file, bool bigEndian, std::uint16_t element,
                       std::uint32_t length);
    // The length field: 16 bits (explicit, short VR), 2 reserved bytes and 32 bits (explicit,
    // long VR) or 32 bits (implicit), reversed for big endian.
    void PutLength(win::CFile* file, std::uint32_t length);
    // False (status 14, nothing written) when `length` does not fit this element's length
    // field.
    bool CheckLengthField(std::uint64_t length);
    // Writes a plain value of m_nLength bytes padded to even length (OB, OW, UN): header,
    // length, and the value when required or not empty. `value` holds `held` bytes; status
    // 14 and nothing written when fewer than the padded length are held (a value still in its
    // file is loaded first) or the length does not fit the length field.
    void WritePadded(win::CFile* file, const std::uint8_t* value, std::size_t held);
};

namespace quorin {
// Writes an element in its byte order: a big-endian element is swapped (tag, and the values of
// the number classes) for the write and swapped back afterwards, so it stays usable.
void WriteElement(CElementDICOM& element, win::CFile* file);
}  // namespace quorin

namespace quorin {
// A new copy of an element (null when memory runs out): the body of every Clone.
template <class T>
CElementDICOM* CloneOf(const T& element) noexcept {
    try {
        return new T(element);
    } catch (...) {
        return nullptr;
    }
}
}  // namespace quorin
