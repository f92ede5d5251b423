// The maker's device libraries are loaded by name when present. None is present here: the
// loader reports "not present" for every name, and the system carries on without them.
#pragma once
#include "platform/types.h"

namespace win {

struct Module;  // opaque
using HMODULE = Module*;

HMODULE LoadLibraryA(const char* name);  // always null; GetLastError gives ERROR_MOD_NOT_FOUND
void* GetProcAddress(HMODULE module, const char* name);  // null
BOOL FreeLibrary(HMODULE module);

}  // namespace win
