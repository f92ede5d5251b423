// V5Files_ReadImage over arbitrary files named by the naming rule: every type road without a
// buffer, then the buffer allocated from V5Files_ReadQVImageInformation as callers do. The
// answer must be one the readers make (the harness allocates it whatever it is, so an answer
// too large is caught), and peak global memory of each read stays within a few images of it.
#include <quorin/v5files.h>

#include <algorithm>
#include <vector>

#include "../v5files_info/v5files_input.h"
#include "oldtiff/lzw.h"
#include "oldtiff/oldtiff.h"
#include "platform/core/globalmem.h"
#include "records/headers/headerkinds.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Global memory one input may hold at its peak: a DIB, a strip's rows and what the strips are
// read into, for the largest image its bytes can expand to (LZW's bound is the largest), plus
// the JPEG decoder's band for the widest row.
std::uint64_t PeakCap(std::size_t inputBytes) {
    const std::uint64_t image = std::min<std::uint64_t>(
        kOldTiffMaxImageBytes, kLzwMaxExpansion * static_cast<std::uint64_t>(inputBytes));
    return 3 * image + (std::uint64_t{8} << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzscratch::Folder folder;
    const std::string path = v5fuzz::WriteInput(folder, data, size);
    if (path.empty()) return 0;
    const win::SIZE_T liveBefore = win::globalmem_testing::LiveBytes();
    win::globalmem_testing::ResetPeakBytes();
    for (int type : {1, 2, 3, 4, 5, 11}) {
        CHeaderPano header;
        header.SetImageType(type);
        header.SetSubType((data[0] & 0x20) ? 2 : 0);
        V5Files_ReadImage(path.c_str(), &header, data[0] & 1, nullptr);
    }
    CHeaderZel header;
    header.SetSubType((data[0] & 0x20) ? 2 : 0);
    if (V5Files_ReadQVImageInformation(path.c_str(), &header, data[0] & 1) == 0) {
        const std::uint64_t bytes = std::uint64_t{header.GetWidth()} * header.GetHeight() *
                                    static_cast<std::uint64_t>(header.GetSamplesPerPixel());
        Check(header.GetSamplesPerPixel() >= 0 && bytes <= kOldTiffMaxImageBytes);
        std::vector<unsigned char> pixels(static_cast<std::size_t>(bytes) + 1);
        const std::uint16_t width = header.GetWidth(), height = header.GetHeight();
        if (V5Files_ReadImage(path.c_str(), &header, data[0] & 1, pixels.data()) == 0)
            Check(header.GetWidth() == width && header.GetHeight() == height);
    }
    Check(win::globalmem_testing::PeakBytes() - liveBefore <= PeakCap(size));
    return 0;
}
