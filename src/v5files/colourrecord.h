// Header records of the colour and video members: the 290-byte colour record (layouts 0x5402
// and 0x5403) and the 56-byte short record that 5-6-5 and ".jpg" members carry, and their
// conversion up to layout 0x5403.
#pragma once
#include <cstdint>

constexpr int kColourRecordBytes = 290;
constexpr int kShortColourRecordBytes = 56;
constexpr std::uint16_t kColourLayout5402 = 0x5402;
constexpr std::uint16_t kColourLayout5403 = 0x5403;

// Offsets of the 290-byte colour record.
namespace colour_record {
constexpr int kLayout = 0;     // 16-bit layout word
constexpr int kUnsettled = 2;  // 14 bytes carried without use
constexpr int kDate = 16;      // 8 characters: year-month-day (0x5402: day/month/year)
constexpr int kTeeth = 24;     // four tooth fields of two characters
constexpr int kComments = 32;  // 256 bytes
constexpr int kMirror = 288;
}  // namespace colour_record

// Layout 0x5402 to 0x5403: the first 288 bytes kept, the layout word 0x5403, the mirror flag
// 0, and the date "dd/mm/yy" turned into "yyyymmdd" (years beginning 8 or 9 are 19xx, others
// 20xx; an empty date stays empty). `record` and `out` may be the same.
void ConvertOldColourRecord(const std::uint8_t* record, std::uint8_t* out);

// The short record (14 unsettled bytes, date, one tooth field, 32 comment bytes) into a
// layout-0x5403 colour record.
void ConvertShortColourRecord(const std::uint8_t* shortRecord, std::uint8_t* out);

// A stored colour record of `size` bytes (a ".tif" member's image description): 0x5403 as
// stored, 0x5402 converted, anything else read as a short record.
void ConvertStoredColourRecord(const std::uint8_t* stored, std::uint32_t size, std::uint8_t* out);
