// Whole-file parsing of any bytes: the last byte chooses the pixel mode (0 to 4) and whether the
// stream has a preamble; the parsed data set is listed as the dump tool lists it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dicom/dataset/dataset.h"
#include "dicom/file/datasetdump.h"
#include "platform/files/file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t options = data[size - 1];
    const int pixelMode = options % 5;
    const int hasPreamble = (options & 0x80) ? 0 : 1;
    win::CMemFile file(data, size - 1);
    CInfosDicomList list;
    list.ReadFromStream(&file, hasPreamble, 0, 0, pixelMode, 0);
    std::string text;
    quorin::DumpDataSet(list, text);
    quorin::DumpCanonical(list, text);
    return 0;
}
