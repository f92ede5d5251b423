// INI files read with GetPrivateProfileString semantics: case-insensitive section and key, value
// trimmed and unquoted, cut to the buffer, the default when missing; re-read on each call.
#pragma once
#include "platform/core/types.h"

namespace win {

// Characters copied (without the NUL). `path` may be a Windows path (see ToNativePath).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                               char* buffer, DWORD size, const char* path);
// Leading decimal number of the value (locale-independent), the default when missing.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* path);
// The C function atof as it reads in the "C" locale whatever the process locale: leading blanks,
// the longest number that fits, 0.0 when there is none. For values read from INI files.
double AtofClassic(const char* text);

}  // namespace win
