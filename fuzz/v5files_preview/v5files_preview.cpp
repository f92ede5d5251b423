// V5Files_ReadBasicPreviewInformation over arbitrary files named by the naming rule.
#include <quorin/basicpreview.h>
#include <quorin/v5files.h>

#include "../v5files_info/v5files_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzscratch::Folder folder;
    const std::string path = v5fuzz::WriteInput(folder, data, size);
    if (path.empty()) return 0;
    SBasicPreviewInfo info;
    V5Files_ReadBasicPreviewInformation(path, info);
    return 0;
}
