// The 5-6-5 colour member reader over arbitrary files: header, then pixels into a DIB.
#include <cstdint>
#include <cstdio>
#include <string>

#include "../common/scratch.h"
#include "oldtiff/rgb565.h"
#include "records/dib/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzscratch::Folder folder;
    const std::string path = folder.Write("c.tif", data, size);
    if (path.empty()) return 0;
    std::int32_t w = 0, h = 0, depth = 0;
    std::uint8_t description[kRgb565DescriptionBytes];
    if (ReadRgb565Header(path.c_str(), &w, &h, &depth, description) != 0) return 0;
    if (static_cast<long long>(w) * h > (1 << 22)) return 0;
    win::HGLOBAL dib = CreateDIB(w, h, 24);
    if (dib == nullptr) return 0;
    ReadRgb565Pixels(dib, path.c_str(), w, h, depth);
    FreeDIB(dib);
    return 0;
}
