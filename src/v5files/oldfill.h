// How the header records of the older files become the records of the header model and of the
// preview record: one filling per image kind for the 356-byte grey record, one for the 290-byte
// colour record. Records a header class does not have (the grey look-up table of a plain
// CHeader) are skipped.
#pragma once
#include <cstdint>
#include <string_view>

class CHeader;
struct SBasicPreviewInfo;

// `lossy` is the pixel road's compression indicator (1 for old-style JPEG strips, the 6-bit
// half-size form and ".jpg" files). `path` serves the pixel size of intra-oral images without
// one (the file's size when the header's sub-type is not 1).
void FillIntraoralHeader(CHeader& header, const std::uint8_t* record, std::int32_t lossy,
                         std::string_view path);
void FillPageHeader(CHeader& header, const std::uint8_t* record);
void FillPanoramicHeader(CHeader& header, const std::uint8_t* record, std::int32_t lossy);
void FillScannedHeader(CHeader& header, const std::uint8_t* record, std::int32_t lossy);
void FillColourHeader(CHeader& header, const std::uint8_t* colourRecord);

// The preview record from a grey record of an old-file kind (1, 2, 4 or 5) or a colour record
// (kind 3 or 6); the size is the image's.
void FillPreviewFromRecord(SBasicPreviewInfo& info, const std::uint8_t* record, std::int32_t kind);
void FillPreviewFromColourRecord(SBasicPreviewInfo& info, const std::uint8_t* colourRecord,
                                 std::int32_t kind);
