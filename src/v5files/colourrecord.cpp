// Header records of the colour and video members.
#include "v5files/colourrecord.h"

#include <algorithm>
#include <cstring>

void ConvertOldColourRecord(const std::uint8_t* record, std::uint8_t* out) {
    using namespace colour_record;
    std::uint8_t r[kColourRecordBytes] = {};
    std::memcpy(r, record, 288);
    r[kLayout] = kColourLayout5403 & 0xFF;
    r[kLayout + 1] = kColourLayout5403 >> 8;
    r[kMirror] = 0;
    // "dd/mm/yy" -> "yyyymmdd". The century follows the grey records' rule, not a fixed "19".
    const std::uint8_t* d = record + kDate;
    if (d[0] != 0) {
        const char century[2] = {d[6] == '8' || d[6] == '9' ? '1' : '2',
                                 d[6] == '8' || d[6] == '9' ? '9' : '0'};
        const std::uint8_t date[8] = {static_cast<std::uint8_t>(century[0]),
                                      static_cast<std::uint8_t>(century[1]),
                                      d[6],
                                      d[7],
                                      d[3],
                                      d[4],
                                      d[0],
                                      d[1]};
        std::memcpy(r + kDate, date, 8);
    }
    std::memcpy(out, r, kColourRecordBytes);
}

void ConvertShortColourRecord(const std::uint8_t* shortRecord, std::uint8_t* out) {
    using namespace colour_record;
    std::uint8_t r[kColourRecordBytes] = {};
    std::memcpy(r + kUnsettled, shortRecord, 14);
    std::memcpy(r + kDate, shortRecord + 14, 8);
    std::memcpy(r + kTeeth, shortRecord + 22, 2);
    std::memcpy(r + kComments, shortRecord + 24, 32);
    ConvertOldColourRecord(r, out);
}

void ConvertStoredColourRecord(const std::uint8_t* stored, std::uint32_t size, std::uint8_t* out) {
    std::uint8_t r[kColourRecordBytes] = {};
    std::memcpy(r, stored, std::min<std::uint32_t>(size, kColourRecordBytes));
    const std::uint16_t layout = static_cast<std::uint16_t>(r[0] | (r[1] << 8));
    if (size >= 2 && layout == kColourLayout5403)
        std::memcpy(out, r, kColourRecordBytes);
    else if (size >= 2 && layout == kColourLayout5402)
        ConvertOldColourRecord(r, out);
    else
        ConvertShortColourRecord(r, out);
}
