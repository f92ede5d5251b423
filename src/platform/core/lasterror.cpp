// The thread's last error code and the English texts the system gives for the codes we use.
#include "platform/core/lasterror.h"

#include <array>
#include <cerrno>

namespace win {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct ErrorText {
    DWORD code;
    const char* text;
};

// Windows' own texts for these codes, as FormatMessage gives them, line end included.
constexpr std::array kWin32Texts{
    ErrorText{0, "The operation completed successfully.\r\n"},
    ErrorText{1, "Incorrect function.\r\n"},
    ErrorText{2, "The system cannot find the file specified.\r\n"},
    ErrorText{3, "The system cannot find the path specified.\r\n"},
    ErrorText{4, "The system cannot open the file.\r\n"},
    ErrorText{5, "Access is denied.\r\n"},
    ErrorText{6, "The handle is invalid.\r\n"},
    ErrorText{8, "Not enough memory resources are available to process this command.\r\n"},
    ErrorText{14, "Not enough memory resources are available to complete this operation.\r\n"},
    ErrorText{31, "A device attached to the system is not functioning.\r\n"},
    ErrorText{32,
              "The process cannot access the file because it is being used by another "
              "process.\r\n"},
    ErrorText{38, "Reached the end of the file.\r\n"},
    ErrorText{80, "The file exists.\r\n"},
    ErrorText{87, "The parameter is incorrect.\r\n"},
    ErrorText{112, "There is not enough space on the disk.\r\n"},
    ErrorText{126, "The specified module could not be found.\r\n"},
    ErrorText{127, "The specified procedure could not be found.\r\n"},
    ErrorText{131,
              "An attempt was made to move the file pointer before the beginning of the "
              "file.\r\n"},
    ErrorText{160, "One or more arguments are not correct.\r\n"},
    ErrorText{161, "The specified path is invalid.\r\n"},
    ErrorText{183, "Cannot create a file when that file already exists.\r\n"},
    ErrorText{223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    ErrorText{234, "More data is available.\r\n"},
    ErrorText{1629, "The data supplied is of the wrong type.\r\n"},
    ErrorText{1804, "The specified datatype is invalid.\r\n"},
    ErrorText{1920, "The file cannot be accessed by the system.\r\n"},
    ErrorText{1921, "The name of the file cannot be resolved by the system.\r\n"},
};

// COM codes of their own (FACILITY_NULL); FACILITY_WIN32 codes take the Win32 text.
constexpr std::array kComTexts{
    ErrorText{0x80004001u, "Not implemented\r\n"},
    ErrorText{0x80004002u, "No such interface supported\r\n"},
    ErrorText{0x80004003u, "Invalid pointer\r\n"},
    ErrorText{0x80004004u, "Operation aborted\r\n"},
    ErrorText{0x80004005u, "Unspecified error\r\n"},
    ErrorText{0x8000FFFFu, "Catastrophic failure\r\n"},
    ErrorText{0x80040154u, "Class not registered\r\n"},
};

template <std::size_t N>
const char* Find(const std::array<ErrorText, N>& table, DWORD code) {
    for (const ErrorText& entry : table)
        if (entry.code == code) return entry.text;
    return nullptr;
}

}  // namespace

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD code) {
    t_lastError = code;
}

int ErrnoFromLastError(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_CANT_ACCESS_FILE:
            return ENODEV;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        case ERROR_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_SHARING_VIOLATION:
            return EWOULDBLOCK;
        case ERROR_GEN_FAILURE:
            return EIO;
        default:
            return 0;
    }
}

DWORD LastErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
            return ERROR_PATH_NOT_FOUND;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ENODEV:
        case ENXIO:
            return ERROR_CANT_ACCESS_FILE;
        case EINVAL:
        case EOVERFLOW:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::string FormatMessageText(DWORD code) {
    if (const char* text = Find(kWin32Texts, code)) return text;
    if (const char* text = Find(kComTexts, code)) return text;
    // HRESULT_FROM_WIN32: severity bit, facility 7, the Win32 code in the low word.
    if ((code & 0xFFFF0000u) == 0x80070000u) {
        if (const char* text = Find(kWin32Texts, code & 0xFFFFu)) return text;
    }
    return "Unknown error reason...";
}

}  // namespace win
