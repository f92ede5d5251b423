// V5Files_ReadImage over arbitrary files named by the naming rule: every type road without a
// buffer, then the buffer sized from V5Files_ReadQVImageInformation as callers do.
#include <vector>

#include "../v5files_info/v5files_input.h"
#include "quorin/v5files.h"
#include "records/headerkinds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = v5fuzz::WriteInput(data, size);
    if (path.empty()) return 0;
    for (int type : {1, 2, 3, 4, 5, 11}) {
        CHeaderPano header;
        header.SetImageType(type);
        header.SetSubType((data[0] & 0x20) ? 2 : 0);
        V5Files_ReadImage(path.c_str(), &header, data[0] & 1, nullptr);
    }
    CHeaderZel header;
    header.SetSubType((data[0] & 0x20) ? 2 : 0);
    if (V5Files_ReadQVImageInformation(path.c_str(), &header, data[0] & 1) != 0) return 0;
    const std::size_t bytes = std::size_t{header.GetWidth()} * header.GetHeight() *
                              static_cast<std::size_t>(std::max(header.GetSamplesPerPixel(), 0));
    if (bytes > (std::size_t{1} << 26)) return 0;
    std::vector<unsigned char> pixels(bytes);
    V5Files_ReadImage(path.c_str(), &header, data[0] & 1, pixels.data());
    return 0;
}
