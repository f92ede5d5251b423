// What V5Files_ReadQVImageInformation answers for each file named on standard input, one line
// per file and question: the file, the sub-type asked (0 or 2), the page, the result, then the
// header's image type, sub-type, width, height, bits and samples, and whether the path was set.
// With --image the pixel road follows each answer of 0 into a buffer sized from it, as callers
// do: its result and the size the header holds afterwards.
//
// Built against the library of any revision (compare.sh): it uses the exports only.
#if __has_include(<quorin/header.h>)
#include <quorin/header.h>
#include <quorin/v5files.h>
#else
#include "quorin/v5files.h"
#include "records/header.h"
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

// A buffer larger than this is not allocated; the line says "big" instead.
constexpr std::uint64_t kLargestBuffer = std::uint64_t{1} << 29;

void Ask(const std::string& path, int subType, int page, bool image) {
    CHeader header;
    header.SetSubType(subType);
    const int info = V5Files_ReadQVImageInformation(path.c_str(), &header, page);
    std::printf("%s %d %d info %d type %d sub %d size %ux%u bits %d samples %d path %d",
                path.c_str(), subType, page, info, header.GetImageType(), header.GetSubType(),
                header.GetWidth(), header.GetHeight(), header.GetBitsPerSample(),
                header.GetSamplesPerPixel(), header.GetPath() == path ? 1 : 0);
    if (image && info == 0) {
        const int samples = header.GetSamplesPerPixel() > 0 ? header.GetSamplesPerPixel() : 0;
        const std::uint64_t bytes =
            std::uint64_t{header.GetWidth()} * header.GetHeight() * std::uint64_t(samples);
        if (bytes > kLargestBuffer) {
            std::printf(" image big");
        } else {
            std::vector<unsigned char> pixels(static_cast<std::size_t>(bytes) + 1);
            const int r = V5Files_ReadImage(path.c_str(), &header, page, pixels.data());
            std::printf(" image %d %ux%u", r, header.GetWidth(), header.GetHeight());
        }
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const bool image = argc > 1 && std::strcmp(argv[1], "--image") == 0;
    std::string path;
    while (std::getline(std::cin, path)) {
        if (path.empty()) continue;
        Ask(path, 0, 0, image);
        Ask(path, 2, 0, image);
        Ask(path, 0, 1, image);
        std::fflush(stdout);
    }
    return 0;
}
