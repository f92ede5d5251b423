// The older TIFF container over arbitrary files: open, info, drawing data and rows of every
// kind of directory, and the colour member road over the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "nativefiles/colourmember.h"
#include "nativefiles/oldtiff.h"
#include "platform/notify.h"
#include "records/dib.h"

namespace {

std::string TempPath() {
    return "/tmp/fuzz_tiff_container_" + std::to_string(getpid()) + ".tif";
}

void Row(void* context, std::int32_t row, const std::uint8_t* bytes) {
    auto* sum = static_cast<std::uint32_t*>(context);
    *sum += static_cast<std::uint32_t>(row) + bytes[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        win::SetNotifyHandler([](std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    static const std::string path = TempPath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }

    OldTiffContext* raw = nullptr;
    if (OpenOldTiff(path.c_str(), &raw) == 0) {
        OldTiffHolder c(raw);
        for (int type = 0; type <= 2; ++type) {
            std::int32_t w, h, compression, depth;
            std::uint8_t description[356];
            std::uint32_t descriptionSize = sizeof description;
            ReadOldTiffInfo(c.get(), type, 0, &w, &h, &compression, &depth, description,
                            &descriptionSize);
            std::uint32_t drawingSize = 0;
            if (GetOldTiffDrawingSize(c.get(), type, &drawingSize) == 0 &&
                drawingSize < (1u << 20)) {
                std::string drawing(drawingSize, '\0');
                ReadOldTiffDrawing(c.get(), type, drawing.data(), &drawingSize);
            }
            std::uint32_t rows = 0, sum = 0;
            ReadOldTiffRows(c.get(), type, 0, Row, &rows, &sum);
        }
    }
    CColourMember member;
    if (ReadColourMember(path.c_str(), &member, true) == 0) FreeDIB(member.dib);
    return 0;
}
