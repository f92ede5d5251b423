// The maker's device libraries, loaded by name when present. A Windows library name
// ("Sensix.dll", a folder before it is ignored) stands for the shared object "libSensix.so",
// looked up only in the folders of the device-library search path: the environment variable
// QUORIN_DEVICE_LIBRARY_PATH, or else the setting "LibraryPath" (REG_SZ) of the key
// Software\QUORIN\Devices (current user, then default user, then machine), folders separated
// by ":" or ";". Only a regular file of this user's or root's that no other user may write is
// loaded (its group may write it only where that group is this user's own or root's): its code
// runs as this user. Without a search path, or when no folder holds such a library, the load
// reports "module not found" and the system carries on without it.
#pragma once
#include "platform/core/types.h"

namespace win {

struct Module;  // opaque
using HMODULE = Module*;

HMODULE LoadLibraryA(const char* name);  // null and ERROR_MOD_NOT_FOUND when not found
void* GetProcAddress(HMODULE module, const char* name);  // null and ERROR_PROC_NOT_FOUND
BOOL FreeLibrary(HMODULE module);

}  // namespace win
