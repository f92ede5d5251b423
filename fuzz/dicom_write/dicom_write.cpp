// Parse, then write to memory (in the file's own encoding), then parse what was written: the
// writer must take whatever the parser accepts. The last byte chooses the pixel mode.
#include <cstddef>
#include <cstdint>

#include "dicom/dataset/dataset.h"
#include "platform/core/notify.h"
#include "platform/files/file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        win::SetNotifyHandler([](std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    if (size < 1) return 0;
    const int pixelMode = data[size - 1] % 5;
    win::CMemFile input(data, size - 1);
    CInfosDicomList list;
    if (list.ReadFromStream(&input, 1, 0, 0, pixelMode, 0) != 0) return 0;
    win::CMemFile output;
    output.SetWriteLimit(size * 4 + 4096);
    if (list.Write(&output, 1, nullptr, 0, nullptr) != 1) return 0;
    win::CMemFile again(output.Data().data(), output.Data().size());
    CInfosDicomList reparsed;
    reparsed.ReadFromStream(&again, 1, 0, 0, 0, 0);
    return 0;
}
