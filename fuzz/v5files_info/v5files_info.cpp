// V5Files_IsOldQuorinFile, V5Files_IsFMSFile and V5Files_ReadQVImageInformation over arbitrary
// files named by the naming rule, and over the same bytes under a name that is not.
#include <quorin/v5files.h>

#include <cstdio>

#include "records/headers/headerkinds.h"
#include "v5files_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzscratch::Folder folder;
    const std::string path = v5fuzz::WriteInput(folder, data, size);
    if (path.empty()) return 0;
    V5Files_IsOldQuorinFile(path.c_str());
    V5Files_IsFMSFile(path.c_str());
    for (int subType : {0, 2}) {
        CHeaderZel header;
        header.SetSubType(subType);
        V5Files_ReadQVImageInformation(path.c_str(), &header, data[0] & 3);
    }
    // Named otherwise, the file is probed.
    const std::string other = folder.file("probe.tif");
    std::rename(path.c_str(), other.c_str());
    V5Files_IsOldQuorinFile(other.c_str());
    CHeader header;
    V5Files_ReadQVImageInformation(other.c_str(), &header, 0);
    return 0;
}
