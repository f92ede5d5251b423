// The data set of the toolkit: a singly linked list of nodes, each owning one element, with
// the source path and transfer-syntax properties of the file it came from. Inserting copies in
// tag order, finding (and marking) by tag, the maker's private creator, removing marked
// elements, loading values left in the source file, swapping for big-endian output, parsing a
// stream into the list and writing the list.
//
// What a write leaves out, for whoever changes the writer:
// - A node's mark (CInfosDicomNode::kMarked) leaves its element out of every later Write and
//   out of the list at RemoveFlagged. Write sets marks (MarkExcluded) and never clears them:
//   they stay after the call and still apply to the next Write of the same list.
// - Find stores its flag in the node it finds, so a lookup with 0 clears that node's mark.
//   The creator lookups (FindPrivateCreator, GetPrivateCreatorSlot) look up with 0: they clear
//   the marks of the creators from (gggg,0011) up to the slot they answer (to (gggg,007F) when
//   they answer 0). Look the creator up before marking, never between marking and writing.
//   Insert of a tag already present puts an unmarked node in its place.
// - Find walks in tag order and stops at the first higher tag, and marks the first of equal
//   tags only: on a parsed list out of tag order an exclusion by tag can miss its element.
// - Exclusions and the mask reach the elements of this list's top level only. The elements
//   inside sequence items are written whatever their tags (WriteElements: every element but
//   the group lengths outside the meta group).
#pragma once
#include <cstdint>
#include <string>

#include "dicom/dataset/element.h"
#include "dicom/dataset/number.h"

struct CInfosDicomNode {
    CInfosDicomNode() = default;
    // Takes ownership of `element`.
    explicit CInfosDicomNode(CElementDICOM* element) : m_pElement(element) {}
    ~CInfosDicomNode() { delete m_pElement; }
    CInfosDicomNode(const CInfosDicomNode&) = delete;
    CInfosDicomNode& operator=(const CInfosDicomNode&) = delete;

    // The flag of a node marked for removal or exclusion.
    static constexpr std::uint32_t kMarked = 1;

    CElementDICOM* m_pElement = nullptr;  // owned
    CInfosDicomNode* m_pNext = nullptr;
    std::uint32_t m_nFlag = 0;  // kMarked, or 0
};

class CInfosDicomList {
  public:
    CInfosDicomList() = default;
    // A deep copy: every node's element is copied.
    CInfosDicomList(const CInfosDicomList& other);
    CInfosDicomList& operator=(const CInfosDicomList&) = delete;
    virtual ~CInfosDicomList() { Clear(); }

    // Writes the data set: the preamble and "DICM" when asked, then every element not
    // excluded (MarkExcluded) and not marked before, the meta group length recomputed, values
    // left in the source file loaded first. 1 on success, 0 when a write failed or a source
    // file could not be opened. The excluded elements stay marked (kMarked) after the call, so
    // that the caller can remove them (RemoveFlagged). Exclusions and the mask reach the top
    // level only; sequence items are written whole.
    virtual int Write(win::CFile* file, int writePreamble,
                      const quorin::TagValue* const* exclusions, int exclusionCount,
                      const quorin::TagValue* mask);
    // Swaps (SwapTag) every big-endian element in place.
    virtual void SwapAll();

    void Clear();
    // Inserts a copy of `element` in tag order, replacing an element of the same tag; the
    // caller keeps its element. False (nothing inserted) for null or without memory.
    bool Insert(const CElementDICOM* element);
    // Appends `element` at the end, in file order; the list takes ownership (also on failure).
    bool Append(CElementDICOM* element);
    // The node of (group, element), its flag set to `flag` (0 clears a mark, kMarked sets
    // one); null when absent. Stops at the first higher tag: meant for lists in tag order.
    CInfosDicomNode* Find(std::uint16_t group, std::uint16_t element, std::uint32_t flag);
    // The slot (kFirstCreatorSlot to kLastCreatorSlot) of the system's creator in `group`
    // (quorin::IsOwnCreator), or 0. Clears the marks of the creators it looks at (Find with 0).
    std::uint16_t FindPrivateCreator(std::uint16_t group);
    // The first slot from kFirstCreatorSlot to kLastCreatorSlot that is free or holds the
    // system's creator, or 0. Clears the marks of the creators it looks at (Find with 0).
    std::uint16_t GetPrivateCreatorSlot(std::uint16_t group);
    void RemoveFlagged();
    // Loads every OB, OW and LT value still in the source file from `file`.
    void LoadValuesFromFile(win::CFile* file);
    // Parses a stream into the list (appending in file order). `start` 0: after the preamble
    // and prefix ("DICM" checked when `hasPreamble` is 1) or at 20 without; `length` 0: to
    // the end, 0xFFFFFFFF: one element. Results (quorin::ElementStatus): kStatusOk parsed,
    // kStatusNoPrefix no "DICM", kStatusNotAccepted transfer syntax not accepted,
    // kStatusNoTransferSyntax none in the meta group, kStatusReadError malformed (or, with the
    // thread's last error ERROR_NOT_ENOUGH_MEMORY, short of memory).
    int ReadFromStream(win::CFile* file, int hasPreamble, std::uint64_t start, std::uint32_t length,
                       int pixelMode, int nested);
    // Writes the elements in list order without preamble, exclusions or marks (a sequence
    // item), group lengths outside the meta group left out.
    bool WriteElements(win::CFile* file);

    CInfosDicomNode* m_pFirst = nullptr;
    CInfosDicomNode* m_pLast = nullptr;
    std::int32_t m_nCount = 0;
    std::string m_szSourcePath;
    std::int32_t m_bImplicit = 0;
    std::int32_t m_nByteOrder = quorin::kLittleEndian;
    std::uint32_t m_nContentLength = 0;
    std::uint32_t m_nDelimiterBytes = 0;

    // Parse bounds of a nested list: the end of the enclosing item (or sequence), the nesting
    // depth, and where the last parse stopped.
    std::uint64_t m_nLimit = quorin::kNoLimit;
    std::int32_t m_nDepth = 0;
    std::uint64_t m_nEndPosition = 0;

  protected:
    // Set for the content of an undefined-length item: the parse must end at its delimiter.
    bool m_bUntilItemDelimiter = false;

  private:
    // Marks (kMarked) the elements a write leaves out: each tag of `exclusions` (element 0: its
    // whole group), and with a `mask`, the elements of its group whose element number holds
    // all the bits of its high byte (a private block) or equals it, and every group length
    // outside the meta group. The one place that decides what a write drops. Top-level
    // elements only; marks are set, never cleared.
    void MarkExcluded(const quorin::TagValue* const* exclusions, int exclusionCount,
                      const quorin::TagValue* mask);
    // ReadFromStream's steps; std::bad_alloc for want of memory.
    int ReadStream(win::CFile* file, int hasPreamble, std::uint64_t start, std::uint32_t length,
                   int pixelMode, int nested);
    int Parse(win::CFile* file, std::uint64_t position, std::uint64_t end, std::uint64_t limit,
              int pixelMode, int nested);
};

namespace quorin {

// Reads the transfer syntax (0002,0010) from offset 132: kStatusOk accepted (flags set),
// kStatusNotAccepted, kStatusNoTransferSyntax absent or empty, kStatusReadError.
int ReadTransferSyntax(win::CFile* file, std::int32_t& implicit, std::int32_t& byteOrder);

// An empty element of the class the data set holds for `vr` (for SQ a sequence, for the
// 32-bit-length VRs not modelled a CElementUN keeping the letters); null for letters that are
// not a VR or without memory. Owned by the caller.
CElementDICOM* NewEmptyElement(const char* vr, std::int32_t type, std::uint16_t group,
                               std::uint16_t element, std::int32_t implicit, std::int32_t order);

// Whether the parser measures the pixel data of this VR instead of reading it.
bool IsPixelMeasured(const char* vr, int pixelMode, int nested);

// An element of the class the data set holds for `vr` (the multiple class where there is one)
// with the tag, type and flags of `source` and the given raw value bytes; null for a VR
// outside AE AS AT CS DA DS DT FD FL IS LO LT OB OW PN SH SL SS ST TM UI UL US, or without
// memory. Owned by the caller.
CElementDICOM* NewElementOfVr(const char* vr, const CElementDICOM& source, const std::uint8_t* data,
                              std::uint32_t length);

}  // namespace quorin
