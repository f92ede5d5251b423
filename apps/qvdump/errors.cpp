#include "errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "names.h"
#include "platform/core/lasterror.h"
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
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The length of the UTF-8 character of a printable code point (U+00A0 and up, no surrogate)
// at the start of `text`, or 0.
std::size_t PrintableUtf8(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF8   ? 0
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC0 ? 2
                                              : 0;
    if (length == 0 || text.size() < length) return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter forms are void
    if (code < kLeast[length] || code < 0xA0 || (code >= 0xD800 && code <= 0xDFFF) ||
        code > 0x10FFFF)
        return 0;
    return length;
}

// The folder that takes the file at `native`.
std::string FolderOf(const std::string& native) {
    std::string folder = NativeFolderPart(native);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder.empty() ? "." : folder;
}

// The errno that tells why a save at `native` was refused, or 0 when nothing on the path does.
int SaveErrno(const std::string& native) {
    struct stat info {};
    if (::stat(native.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) return S_ISDIR(info.st_mode) ? EISDIR : ENODEV;
        // EROFS on a read-only mount, EACCES for a file the user may not write.
        if (::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) return errno;
        return 0;
    }
    // ELOOP, ENOTDIR, ENAMETOOLONG, EACCES: the path itself is the reason.
    if (errno != ENOENT) return errno;
    // A new file: its folder must exist and take it.
    const std::string folder = FolderOf(native);
    if (::stat(folder.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

// Runs before the static objects of every part of qvdump are built (the command line parser's
// among them): an allocation that fails while they are built ends the process with an abort,
// not a message. A memory limit that leaves less room than they take is told as it is.
__attribute__((constructor(101))) void CheckRoomToStart() {
    constexpr std::size_t kRoomToStart = std::size_t{64} << 10;
    void* room = std::malloc(kRoomToStart);
    if (room == nullptr) {
        static constexpr char kText[] = "qvdump: Cannot allocate memory\n";
        [[maybe_unused]] const ssize_t written = ::write(2, kText, sizeof kText - 1);
        ::_exit(1);
    }
    std::free(room);
}

}  // namespace

std::string Shown(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        std::size_t length = c >= 0x20 && c < 0x7F ? 1 : PrintableUtf8(text);
        if (length == 0) {
            shown += '.';
            length = 1;
        } else {
            shown.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return shown;
}

void Refuse(const char* path, const char* format, ...) {
    // Both streams may go to one file or terminal: what was dumped comes first.
    std::fflush(stdout);
    // An empty name is shown as the empty quotes a user could type it as.
    std::fprintf(stderr, "qvdump: %s: ", *path == '\0' ? "''" : Shown(path).c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::string ReadProblem(const char* path) {
    // Opened as the readers open it: never blocking on a pipe, and only a regular file.
    const int fd = quorin::OpenFileDescriptor(path, O_RDONLY, true);
    if (fd < 0) return ErrnoText(errno);
    ::close(fd);
    return {};
}

std::string CodeText(const char* path, win::DWORD code) {
    // A COM result that carries a Windows error (the group readers' E_OUTOFMEMORY) is that
    // error.
    if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
    // The library answers one code for a folder and for a file the user may not write.
    if (code == win::ERROR_ACCESS_DENIED) return ErrnoText(IsFolder(path) ? EISDIR : EACCES);
    // A save waits a while for a peer's lock on the file, then gives up.
    if (code == win::ERROR_SHARING_VIOLATION) return quorin::LockedText(quorin::kSaveLockWait);
    if (const int err = win::ErrnoFromLastError(code)) return ErrnoText(err);
    std::string text = win::FormatMessageText(code);
    text.erase(text.find_last_not_of("\r\n") + 1);
    return text;
}

std::string SaveFailureText(const char* path, win::DWORD code) {
    // A loop of links answers its own code, which CodeText tells as ELOOP.
    if (code == win::ERROR_FILE_NOT_FOUND || code == win::ERROR_PATH_NOT_FOUND ||
        code == win::ERROR_ACCESS_DENIED) {
        if (const int err = SaveErrno(path)) return ErrnoText(err);
        // A link under /proc or /dev/fd to a file that was deleted: the file is there for this
        // process but has no name a save could put its content under.
        struct stat info {};
        if (code == win::ERROR_FILE_NOT_FOUND && ::stat(path, &info) == 0 && info.st_nlink == 0)
            return ErrnoText(ENOENT) + " (the file it names was deleted)";
    }
    return CodeText(path, code);
}

}  // namespace qvdump
