#include "errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/files/file.h"

namespace qvdump {
namespace {

// A pipe, device or socket: strerror(ENODEV) would say "No such device".
constexpr const char* kNotRegular = "not a regular file";

std::string ErrnoText(int err) {
    return err == ENODEV ? kNotRegular : std::strerror(err);
}

bool IsFolder(const char* path) {
    struct stat info {};
    return ::stat(win::ToNativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void Refuse(const char* path, const char* format, ...) {
    // Both streams may go to one file or terminal: what was dumped comes first.
    std::fflush(stdout);
    std::fprintf(stderr, "qvdump: %s: ", path);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::string ReadProblem(const char* path) {
    // Opened as the readers open it: never blocking on a pipe, and only a regular file.
    const int fd = quorin::OpenFileDescriptor(win::ToNativePath(path), O_RDONLY, true);
    if (fd < 0) return ErrnoText(errno);
    ::close(fd);
    return {};
}

std::string CodeText(const char* path, win::DWORD code) {
    // The library answers one code for a folder and for a file the user may not write.
    if (code == win::ERROR_ACCESS_DENIED) return ErrnoText(IsFolder(path) ? EISDIR : EACCES);
    static constexpr struct {
        win::DWORD code;
        int err;
    } kErrnos[] = {
        {win::ERROR_FILE_NOT_FOUND, ENOENT},      {win::ERROR_PATH_NOT_FOUND, ENOENT},
        {win::ERROR_DISK_FULL, ENOSPC},           {win::ERROR_FILE_TOO_LARGE, EFBIG},
        {win::ERROR_CANT_ACCESS_FILE, ENODEV},    {win::ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
        {win::ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {win::ERROR_GEN_FAILURE, EIO},
    };
    for (const auto& e : kErrnos)
        if (e.code == code) return ErrnoText(e.err);
    std::string text = win::FormatMessageText(code);
    text.erase(text.find_last_not_of("\r\n") + 1);
    return text;
}

}  // namespace qvdump
