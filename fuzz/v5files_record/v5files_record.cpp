// The conversion of stored header records of any layout (grey and colour) over arbitrary bytes:
// kind and image size from the first bytes, the record from the rest. A converted record is
// always of the current layout; a refused one is all zeros.
#include <quorin/anatomy.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "v5files/colourrecord.h"
#include "v5files/oldheader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const std::int32_t kind = data[0] % 7;
    const std::int32_t width = data[1] | (data[2] << 8), height = data[3] | (data[4] << 8);
    data += 5;
    size -= 5;
    std::uint8_t out[kOldRecordBytes];
    std::int32_t rotation = -1;
    if (ConvertOldHeaderRecord(data, size, kind, width, height, &rotation, out)) {
        if (OldRecordWord(out, 0) != kOldLayoutCurrent) std::abort();
        if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) std::abort();
        CAnatTeethList teeth;
        ReadOldToothFields(out + old_record::kTeeth, old_record::kToothFields, teeth, kind & 1);
        std::uint32_t points[old_record::kPointCount];
        ReadOldPanoramicPoints(out, points);
        OldRecordPixelSize(out, old_record::kPixelSizeX);
        OldSensorModelText(OldRecordPixelSize(out, old_record::kPixelSizeX),
                           OldRecordPixelSize(out, old_record::kPixelSizeY), 0, 0);
    } else {
        for (std::uint8_t b : out)
            if (b != 0) std::abort();
    }
    std::uint8_t colour[kColourRecordBytes];
    ConvertStoredColourRecord(data, static_cast<std::uint32_t>(std::min<std::size_t>(size, 290)),
                              colour);
    return 0;
}
