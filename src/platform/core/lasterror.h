// Thread-local last error code and the error texts of FormatMessageA.
#pragma once
#include <string>

#include "platform/core/types.h"

namespace win {

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;  // also what S_FALSE reads as
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_BAD_ARGUMENTS = 160;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
constexpr DWORD ERROR_DATATYPE_MISMATCH = 1629;
constexpr DWORD ERROR_INVALID_DATATYPE = 1804;
constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;       // a pipe, a device or a socket, not a file
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;  // links that lead round in a loop

DWORD GetLastError();
void SetLastError(DWORD code);
DWORD LastErrorFromErrno(int err);  // maps a POSIX errno to the nearest code above
// The POSIX errno a file operation's code stands for (ERROR_PATH_NOT_FOUND as ENOENT, a lock held
// past a wait as EWOULDBLOCK), so that the system's words can be given for it; 0 for a code that
// stands for none. ERROR_ACCESS_DENIED, which folds several, reads as EACCES.
int ErrnoFromLastError(DWORD code);

// The system's text for a Windows or COM error code; "Unknown error reason..." otherwise.
std::string FormatMessageText(DWORD code);

}  // namespace win
