// Device libraries are never present here: every load answers "module not found".
#include "platform/devicelib.h"

#include "platform/lasterror.h"

namespace win {

HMODULE LoadLibraryA(const char* /*name*/) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void* GetProcAddress(HMODULE /*module*/, const char* /*name*/) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return 1;
}

}  // namespace win
