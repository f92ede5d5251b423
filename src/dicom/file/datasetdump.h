// Text views of a parsed data set: the readable listing of the dump tool (tag, VR, length,
// value, keyword, nested items indented, pixel data summarised) and a canonical listing (tag,
// VR, value length and a hash of the little-endian value bytes) that tests compare with other
// toolkits' reading of the same file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CElementDICOM;
class CInfosDicomList;

namespace quorin {

// The value bytes of an element as it writes them, in little-endian order, pad byte included;
// empty for a sequence or an element without a value, and empty with the thread's last error
// ERROR_NOT_ENOUGH_MEMORY when the memory left cannot hold the copies they are taken from.
// `writeStatus`, when given, receives the status of that write (14 for a value that cannot be
// written).
std::vector<std::uint8_t> ElementValueBytes(const CElementDICOM& element,
                                            std::int32_t* writeStatus = nullptr);

// The value of an element as the canonical listing compares it: the value bytes
// (ElementValueBytes), for the text VRs without the spaces and NULs around each value, which
// are padding; empty with the thread's last error ERROR_NOT_ENOUGH_MEMORY for want of memory.
std::vector<std::uint8_t> CanonicalValue(const CElementDICOM& element);

// 64-bit FNV-1a of a byte range (the canonical listing's value hash).
std::uint64_t HashBytes(const std::uint8_t* data, std::size_t size);

// Appends the readable listing of `list` to `out`, indented by `depth` levels. An element
// whose value could not be read, or cannot be written, shows its status instead of a value.
// False, with the thread's last error ERROR_NOT_ENOUGH_MEMORY and `out` holding part of the
// listing, when the memory left cannot hold a value's bytes or the text.
bool DumpDataSet(const CInfosDicomList& list, std::string& out, int depth = 0);

// Appends the canonical listing: one line per element "depth gggg,eeee VR length hash", one
// line "depth item" before each sequence item's elements. False as DumpDataSet.
bool DumpCanonical(const CInfosDicomList& list, std::string& out, int depth = 0);

}  // namespace quorin
