// The header record of the older grey image files (356 bytes, layout word 0x5409) and the
// conversion of every earlier layout that earlier software wrote into the image description:
// the textual form (45 or 46 bytes, no layout word) and layouts 0x5401 to 0x5408. Also the
// bounded readers of the record's fixed-width fields.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CAnatTeethList;

constexpr std::size_t kOldRecordBytes = 356;
constexpr std::uint16_t kOldLayoutCurrent = 0x5409;

// Offsets of the current record.
namespace old_record {
constexpr int kLayout = 0;          // 16-bit layout word
constexpr int kDate = 2;            // 8 characters: year (4), month (2), day (2)
constexpr int kComments = 10;       // 256 bytes, zero-padded
constexpr int kTeeth = 266;         // four tooth fields of two characters
constexpr int kUnsettled = 274;     // "P" in panoramic records converted from 0x5402 or older
constexpr int kProgram = 275;       // panoramic program code
constexpr int kExposure = 276;      // three 16-bit exposure words
constexpr int kExposureGate = 282;  // three 16-bit words; exposure used only when all are 0
constexpr int kPoints = 290;        // ten points of two 16-bit values
constexpr int kBrightness = 330;
constexpr int kContrast = 331;
constexpr int kDisplay = 332;  // bit 0 mode 1, bit 1 inverted, bit 2 mode 2, bits 3-4 filter level
constexpr int kGamma = 333;
constexpr int kMode1 = 334;  // acquisition-mode words
constexpr int kMode2 = 336;
constexpr int kMirror = 338;
constexpr int kFilterKind = 339;
constexpr int kPixelSizeX = 340;  // 32-bit floats, millimetres
constexpr int kPixelSizeY = 344;
constexpr int kFilterParameter = 348;
constexpr int kIntegritySum = 352;  // byte sum of the strip data as written; 0 none
constexpr int kPointCount = 10;
constexpr int kToothFields = 4;
constexpr int kCommentBytes = 256;
}  // namespace old_record

// Brings a stored record of `size` bytes up to the current layout in `out` (356 bytes, cleared
// first). `kind` is the old-file kind of the file, `width` and `height` its image size;
// `rotation` (may be null) receives the rotation in degrees that layouts 0x5404 and older kept
// in their display flags. False (out cleared) for an unknown layout, or a record shorter than
// its layout needs.
// `dated` (may be null) tells whether the record counts as dated for the integrity check: its
// date text is not empty, or it was rewritten from the day-month-year form of layouts 0x5405
// and older, which always yields a century. An undated record of those layouts keeps an empty
// date text (no made-up date reaches the image information) but still counts as dated.
bool ConvertOldHeaderRecord(const std::uint8_t* stored, std::size_t size, std::int32_t kind,
                            std::int32_t width, std::int32_t height, std::int32_t* rotation,
                            std::uint8_t* out, bool* dated = nullptr);

// Little-endian field readers.
std::uint16_t OldRecordWord(const std::uint8_t* record, int offset);
std::uint32_t OldRecordLong(const std::uint8_t* record, int offset);
// A float pixel size; 0 when it is NaN, infinite or not above 0 (unset).
double OldRecordPixelSize(const std::uint8_t* record, int offset);

// A fixed-width text field: its bytes up to the first zero, never beyond `width`.
std::string OldRecordText(const std::uint8_t* field, std::size_t width);

// Reads `count` tooth fields of two characters into the list (in the given notation): a blank
// second character is dropped, a blank or "0" first character gives way to the second ("0"
// becoming empty), empty teeth are skipped. Returns the number of teeth added.
int ReadOldToothFields(const std::uint8_t* fields, int count, CAnatTeethList& list, bool universal);

// The sensor model text that the pixel sizes and acquisition-mode words of an intra-oral
// record tell ("ZEL 3", "ZEL 4", "ZEL 5 HS", "ZEL 5 HR").
const char* OldSensorModelText(double x, double y, std::uint16_t mode1, std::uint16_t mode2);

// The pixel size of an intra-oral image from its size alone (0, 0 for other sizes).
void OldIntraoralPixelSize(std::int32_t width, std::int32_t height, double* x, double* y);

// The panoramic points of a record: pairs of 16-bit values (first in the low half of each
// 32-bit entry) up to the first whose second value is 0, at most ten.
int ReadOldPanoramicPoints(const std::uint8_t* record, std::uint32_t* points);
