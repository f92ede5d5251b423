// Framework files. CFile reads through a block buffer (the DICOM walk makes many small reads
// behind seeks) that starts small and doubles as a walk reads on (a header parse of a large
// image reads little of it), and writes straight through, so a failed write is reported by the
// Write that caused it, as the framework did. CMemFile has the same semantics over a byte vector.
#include "platform/files/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"

namespace win {
namespace {

constexpr std::size_t kFirstFill = 4 * 1024;
constexpr std::size_t kLargestFill = 64 * 1024;
constexpr std::uint64_t kMaxPosition =
    static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
// A memory file never grows past what a 32-bit count addresses (no request for a hostile size).
constexpr std::uint64_t kMaxMemFileBytes = 0xFFFFFFFFu;

int CauseFromErrno(int err) {
    switch (err) {
        case ENOENT:
            return CFileException::fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return CFileException::badPath;
        case EMFILE:
        case ENFILE:
            return CFileException::tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return CFileException::accessDenied;
        case ENOSPC:
        case EDQUOT:
            return CFileException::diskFull;
        case EBUSY:
        case ETXTBSY:
            return CFileException::sharingViolation;
        case EIO:
            return CFileException::hardIO;
        default:
            return CFileException::genericException;
    }
}

// The errno value of a failed open or create of `native`, ENOTDIR for an ENOENT whose folder is
// missing: Windows tells a missing folder (path not found) from a missing file.
int FolderAware(int err, const std::string& native) {
    if (err != ENOENT || native.empty()) return err;
    const std::string folder = PathFolder(native);
    struct stat info {};
    return !folder.empty() && ::stat(folder.c_str(), &info) != 0 ? ENOTDIR : err;
}

// Moves `position` by a seek from the start, the position or the end (`length`): the new
// position, or -1 (position unchanged) for a target before the start or beyond what a file can
// hold.
std::int64_t MoveTo(std::uint64_t& position, std::uint64_t length, std::int64_t offset,
                    CFile::SeekPosition from) {
    std::int64_t base = 0;
    switch (from) {
        case CFile::begin:
            break;
        case CFile::current:
            base = static_cast<std::int64_t>(position);
            break;
        case CFile::end:
            base = static_cast<std::int64_t>(length);
            break;
        default:
            return -1;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0 ||
        static_cast<std::uint64_t>(target) > kMaxPosition) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return -1;
    }
    position = static_cast<std::uint64_t>(target);
    return target;
}

}  // namespace

CFileException::CFileException(int cause, int osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

const char* CFileException::what() const noexcept {
    switch (m_cause) {
        case none:
            return "No error occurred.";
        case fileNotFound:
            return "The file could not be located.";
        case badPath:
            return "All or part of the path is invalid.";
        case tooManyOpenFiles:
            return "The permitted number of open files was exceeded.";
        case accessDenied:
            return "The file could not be accessed.";
        case invalidFile:
            return "There was an attempt to use an invalid file handle.";
        case removeCurrentDir:
            return "The current working directory cannot be removed.";
        case directoryFull:
            return "There are no more directory entries.";
        case badSeek:
            return "There was an error trying to set the file pointer.";
        case hardIO:
            return "There was a hardware error.";
        case sharingViolation:
            return "The file is in use by another process.";
        case lockViolation:
            return "There was an attempt to lock a region that was already locked.";
        case diskFull:
            return "The disk is full.";
        case endOfFile:
            return "The end of file was reached.";
        default:
            return "An unspecified error occurred.";
    }
}

CFile::CFile() = default;

CFile::~CFile() {
    Abort();
}

bool CFile::Open(const char* path, unsigned flags, CFileException* error) {
    return OpenAs(path, path != nullptr ? ToNativePath(path) : std::string(), flags, error);
}

bool CFile::OpenNative(const std::string& nativePath, unsigned flags, CFileException* error) {
    return OpenAs(nativePath.c_str(), nativePath, flags, error);
}

bool CFile::OpenAs(const char* path, const std::string& native, unsigned flags,
                   CFileException* error) {
    Abort();
    auto fail = [&](int err) {
        err = FolderAware(err, native);
        DWORD code = LastErrorFromErrno(err);
        SetLastError(code);
        if (error != nullptr) {
            error->m_cause = CauseFromErrno(err);
            error->m_lOsError = static_cast<int>(code);
            error->m_strFileName = path != nullptr ? path : "";
        }
        return false;
    };
    if (path == nullptr || *path == '\0') return fail(ENOENT);
    int oflags = O_CLOEXEC;
    switch (flags & 0x3) {
        case modeWrite:
            oflags |= O_WRONLY;
            break;
        case modeReadWrite:
            oflags |= O_RDWR;
            break;
        default:
            oflags |= O_RDONLY;
            break;
    }
    if (flags & modeCreate) oflags |= O_CREAT;
    // Truncated only once known to be a regular file: opening never harms anything else.
    const bool truncate = (flags & modeCreate) && !(flags & modeNoTruncate);
    const bool reading = (flags & 0x3) != modeWrite;
    struct stat info {};
    int fd = quorin::OpenFileDescriptor(native, oflags, reading, &info);
    if (fd < 0) return fail(errno);
    if (truncate && S_ISREG(info.st_mode) && info.st_size != 0) {
        if (::ftruncate(fd, 0) != 0) {
            const int err = errno;
            ::close(fd);
            return fail(err);
        }
        info.st_size = 0;
    }
    m_fd = fd;
    m_path = path;
    // Nothing written through this object can change a read-only file's length: asking the
    // system at every element of a walk costs more than the walk.
    m_readOnly = (flags & 0x3) == modeRead;
    // Taken once: asking the system at every write would double the calls of a many-element save.
    m_sizeLimit = S_ISREG(info.st_mode) ? quorin::FileSizeLimit() : kNoSizeLimit;
    m_length = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    m_pos = 0;
    m_bufStart = 0;
    m_bufLen = 0;
    SetLastError(ERROR_SUCCESS);
    return true;
}

std::uint32_t CFile::Read(void* buffer, std::uint32_t count) {
    if (m_fd < 0 || buffer == nullptr || count == 0) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        const std::uint32_t want = count - done;
        if (m_bufLen > 0 && m_pos >= m_bufStart && m_pos < m_bufStart + m_bufLen) {
            const std::size_t offset = static_cast<std::size_t>(m_pos - m_bufStart);
            const std::size_t take = std::min<std::size_t>(want, m_bufLen - offset);
            std::memcpy(out + done, m_buf.get() + offset, take);
            done += static_cast<std::uint32_t>(take);
            m_pos += take;
            continue;
        }
        if (m_pos >= kMaxPosition) break;
        if (want >= kLargestFill) {  // large reads go straight to their destination
            ssize_t got = ::pread(m_fd, out + done, want, static_cast<off_t>(m_pos));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::uint32_t>(got);
            m_pos += static_cast<std::uint64_t>(got);
            continue;
        }
        const std::size_t fill =
            m_bufCapacity == 0
                ? std::max<std::size_t>(want, kFirstFill)
                : std::max<std::size_t>(want, std::min(kLargestFill, m_bufCapacity * 2));
        if (fill > m_bufCapacity) {
            std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[fill]);
            if (!grown) break;  // Read never throws: the caller sees a short count
            m_buf = std::move(grown);
            m_bufCapacity = fill;
        }
        m_bufLen = 0;
        ssize_t got = ::pread(m_fd, m_buf.get(), m_bufCapacity, static_cast<off_t>(m_pos));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        m_bufStart = m_pos;
        m_bufLen = static_cast<std::size_t>(got);
    }
    return done;
}

void CFile::Write(const void* buffer, std::uint32_t count) {
    if (m_fd < 0) throw CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_path);
    if (count == 0) return;
    if (buffer == nullptr)
        throw CFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, m_path);
    // Past the file-size limit the system would end the process mid-write (SIGXFSZ): such a
    // write fails whole before any of it reaches the file, as a full disk fails one.
    if (m_pos > kMaxPosition - count || m_pos + count > m_sizeLimit) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        throw CFileException(CFileException::genericException, ERROR_FILE_TOO_LARGE, m_path);
    }
    const auto* in = static_cast<const unsigned char*>(buffer);
    const std::uint64_t start = m_pos;
    std::uint32_t done = 0;
    int err = 0;
    while (done < count) {
        ssize_t put = ::pwrite(m_fd, in + done, count - done, static_cast<off_t>(m_pos));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            err = put < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::uint32_t>(put);
        m_pos += static_cast<std::uint64_t>(put);
    }
    // Keep the read buffer coherent with what reached the file.
    if (m_bufLen > 0 && done > 0) {
        const std::uint64_t bufEnd = m_bufStart + m_bufLen;
        const std::uint64_t lo = std::max(start, m_bufStart);
        const std::uint64_t hi = std::min(start + done, bufEnd);
        if (lo < hi)
            std::memcpy(m_buf.get() + (lo - m_bufStart), in + (lo - start),
                        static_cast<std::size_t>(hi - lo));
    }
    if (done < count) {
        DWORD code = LastErrorFromErrno(err);
        SetLastError(code);
        throw CFileException(CauseFromErrno(err), static_cast<int>(code), m_path);
    }
}

std::int64_t CFile::Seek(std::int64_t offset, SeekPosition from) {
    if (m_fd < 0) return -1;
    return MoveTo(m_pos, from == end ? GetLength() : 0, offset, from);  // no fstat unless needed
}

std::uint64_t CFile::GetPosition() const {
    return m_pos;
}

std::uint64_t CFile::GetLength() const {
    if (m_fd >= 0 && m_readOnly) return m_length;
    struct stat info {};
    if (m_fd < 0 || fstat(m_fd, &info) != 0 || info.st_size < 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

void CFile::Flush() {
    // Writes go straight to the descriptor: nothing is ever pending.
    if (m_fd < 0) throw CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_path);
}

void CFile::Close() {
    if (m_fd < 0) return;
    int fd = m_fd;
    m_fd = -1;
    m_bufLen = 0;
    m_pos = 0;
    // A failing close may report a write the kernel could not complete (network file systems).
    if (::close(fd) != 0 && errno != EINTR) {
        int err = errno;
        throw CFileException(CauseFromErrno(err), static_cast<int>(LastErrorFromErrno(err)),
                             m_path);
    }
}

void CFile::Abort() noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_bufLen = 0;
    m_pos = 0;
}

// CMemFile

CMemFile::CMemFile(const void* bytes, std::size_t size)
    : m_data(static_cast<const unsigned char*>(bytes),
             static_cast<const unsigned char*>(bytes) + (bytes != nullptr ? size : 0)) {}

std::uint32_t CMemFile::Read(void* buffer, std::uint32_t count) {
    if (buffer == nullptr || m_pos >= m_data.size()) return 0;
    const std::size_t take = std::min<std::uint64_t>(count, m_data.size() - m_pos);
    std::memcpy(buffer, m_data.data() + m_pos, take);
    m_pos += take;
    return static_cast<std::uint32_t>(take);
}

void CMemFile::Write(const void* buffer, std::uint32_t count) {
    if (count == 0) return;
    if (buffer == nullptr)
        throw CFileException(CFileException::genericException, ERROR_INVALID_PARAMETER);
    const auto* in = static_cast<const unsigned char*>(buffer);
    // Bytes that fit under the limit are written, the rest is a full disk, as on a real file.
    const std::uint64_t limit = std::min<std::uint64_t>(m_writeLimit, kMaxMemFileBytes);
    const std::uint64_t room = m_pos < limit ? limit - m_pos : 0;
    const std::size_t fits = static_cast<std::size_t>(std::min<std::uint64_t>(count, room));
    if (fits > 0) {
        try {
            const std::uint64_t end = m_pos + fits;
            if (end > m_data.size()) m_data.resize(static_cast<std::size_t>(end));
        } catch (const std::exception&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            throw CFileException(CFileException::diskFull, ERROR_NOT_ENOUGH_MEMORY);
        }
        std::memcpy(m_data.data() + m_pos, in, fits);
        m_pos += fits;
    }
    if (fits < count) {
        SetLastError(ERROR_DISK_FULL);
        throw CFileException(CFileException::diskFull, ERROR_DISK_FULL);
    }
}

std::int64_t CMemFile::Seek(std::int64_t offset, SeekPosition from) {
    return MoveTo(m_pos, m_data.size(), offset, from);
}

}  // namespace win

// ---- opening, whole-file reading and safe replacement

namespace quorin {
namespace {

using win::DWORD;

constexpr int kMaxLinkHops = 40;  // as the system's own path walk
// Temporary files are named "." + target name + "." + process + "." + counter + ".tmp"; a target
// name is cut to this many bytes in them, so that the whole name stays a valid one.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr std::string_view kTemporaryEnd = ".tmp";

DWORD CodeOf(int err) {
    return win::LastErrorFromErrno(err);
}

DWORD Fail(DWORD code) {
    win::SetLastError(code);
    return code;
}

bool IsDenied(int err) {
    return err == EACCES || err == EPERM || err == EROFS;
}

std::string FolderOf(const std::string& native) {
    const std::string folder = win::PathFolder(native);
    if (!folder.empty()) return folder;
    return !native.empty() && native[0] == '/' ? "/" : ".";
}

// The file a path names once every symbolic link on it is followed (the file need not exist).
// 0 or an errno value.
int FollowLinks(const std::string& native, std::string* target) {
    std::string current = native;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        if (hops == kMaxLinkHops) return ELOOP;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) == link.size()) return ENAMETOOLONG;  // changed meanwhile
        link.resize(static_cast<std::size_t>(n));
        current = !link.empty() && link[0] == '/' ? link : win::PathJoin(FolderOf(current), link);
    }
    *target = current;
    return 0;
}

std::string TemporaryPrefix(const std::string& name) {
    return "." + name.substr(0, kMaxNameInTemporary) + ".";
}

// Removes the temporary files of earlier replacements of `name` whose process has gone: only
// those of a process that no longer runs and whose lock nobody holds (a live replacement keeps
// its temporary file locked).
void RemoveLeftovers(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const std::string prefix = TemporaryPrefix(name);
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName.size() <= prefix.size() + kTemporaryEnd.size() ||
            entryName.substr(0, prefix.size()) != prefix ||
            entryName.substr(entryName.size() - kTemporaryEnd.size()) != kTemporaryEnd)
            continue;
        // "<process>.<counter>" between them, both decimal.
        const std::string_view middle = entryName.substr(
            prefix.size(), entryName.size() - prefix.size() - kTemporaryEnd.size());
        const std::size_t dot = middle.find('.');
        if (dot == 0 || dot == std::string_view::npos || dot > 9 || dot + 1 == middle.size() ||
            middle.find_first_not_of("0123456789.") != std::string_view::npos ||
            middle.find('.', dot + 1) != std::string_view::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(middle.substr(0, dot))));
        if (pid == self || ::kill(pid, 0) == 0 || errno == EPERM) continue;  // may still run
        // flock takes a descriptor opened either way: a leftover that already has a write-only
        // target's mode is opened for writing.
        const int flags = O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | flags);
        if (fd < 0 && errno == EACCES) fd = ::openat(::dirfd(dir), entry->d_name, O_WRONLY | flags);
        if (fd < 0) continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// A new temporary file beside the target, locked for as long as it is open. -1 with errno set.
int CreateTemporary(const std::string& folder, const std::string& name, unsigned mode,
                    std::string* path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = win::PathJoin(folder, TemporaryPrefix(name) + std::to_string(::getpid()) + "." +
                                          std::to_string(counter.fetch_add(1)) +
                                          std::string(kTemporaryEnd));
        const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
            const int err = errno;
            ::unlink(path->c_str());
            ::close(fd);
            errno = err;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

// Runs the writer on `file`, closing it after a write that succeeded; the error code of a failed
// write or close (the file is then left open for the caller to abort).
DWORD RunWriter(win::CFile& file, const std::function<bool(win::CFile&)>& write) {
    win::SetLastError(win::ERROR_SUCCESS);
    bool ok = false;
    try {
        ok = write(file);
        if (ok) file.Close();
    } catch (const win::CFileException& error) {
        win::SetLastError(static_cast<DWORD>(error.m_lOsError));
        ok = false;
    } catch (...) {
        win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
        ok = false;
    }
    if (ok) return win::ERROR_SUCCESS;
    const DWORD code = win::GetLastError();
    return code != win::ERROR_SUCCESS ? code : win::ERROR_GEN_FAILURE;
}

// Runs the writer on `path` opened for writing (truncated), its writes stopping at the file-size
// limit; the error code of a failed write or close.
DWORD WriteThrough(const std::string& path, const std::function<bool(win::CFile&)>& write) {
    win::CFile file;
    if (!file.OpenNative(path, win::CFile::modeWrite | win::CFile::modeCreate))
        return win::GetLastError();
    const DWORD code = RunWriter(file, write);
    if (code != win::ERROR_SUCCESS) file.Abort();
    return code;
}

// The content of an open file of `size` bytes (as its status gave it), read from its start into
// `out`, which ends as long as what was there (shorter when the file shrank while read):
// ERROR_SUCCESS, ERROR_FILE_TOO_LARGE for a size past `cap` (nothing read), or the failure.
DWORD ReadWhole(int fd, std::uint64_t size, std::uint64_t cap, std::string& out) {
    if (size > cap) return win::ERROR_FILE_TOO_LARGE;
    try {
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::exception&) {
        return win::ERROR_NOT_ENOUGH_MEMORY;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return CodeOf(errno);
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return win::ERROR_SUCCESS;
}

// Writes `size` bytes at `offset`, adding to `*done` (when given) what was written; 0 or the
// errno value.
int WriteAt(int fd, const unsigned char* data, std::size_t size, std::uint64_t offset,
            std::size_t* done = nullptr) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, std::min<std::size_t>(size, std::size_t{1} << 30),
                                   static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
        if (done != nullptr) *done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::atomic<replace_testing::Step> g_failingStep{replace_testing::Step::none};

// True, once, for the step the test hook names.
bool FailsHere(replace_testing::Step step) {
    replace_testing::Step named = step;
    return g_failingStep.compare_exchange_strong(named, replace_testing::Step::none);
}

// An open descriptor, closed when it goes, which also releases a lock taken through it.
class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// Waits for the file's exclusive lock; 0 or the errno value.
int LockFile(int fd) {
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

int ResizeTo(int fd, std::size_t size) {
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

// The target of a folder that takes no new file, written where it is. No temporary file can
// stand beside it, so the new content is made in memory first: a writer that gives up never
// touches the target. Neither the new content nor the old, which a write-back may have to put
// back whole, may reach past the file-size limit: that is refused before any write. The old
// content is held in memory, and written back when the target cannot take the new one (a full
// disk, a failing device). The bytes past the old end go first, so that a file that cannot grow
// fails before any old byte is overwritten. Another save of the target in place waits for this one
// to be synced (or written back) before it reads the old content, so each leaves a whole one.
DWORD WriteInPlace(const std::string& target, const std::function<bool(win::CFile&)>& write,
                   std::uint64_t limit) {
    win::CMemFile made;
    if (const DWORD code = RunWriter(made, write); code != win::ERROR_SUCCESS) return code;
    const std::vector<unsigned char>& next = made.Data();

    // Reading it too: a file the user may write but not read cannot be kept, and is refused.
    const Descriptor file(OpenFileDescriptor(target, O_RDWR, true));
    const int fd = file.get();
    if (fd < 0) return CodeOf(errno);
    if (const int err = LockFile(fd)) return CodeOf(err);
    // The length once the lock is held: a save that held it before may have changed it.
    struct stat info {};
    if (::fstat(fd, &info) != 0) return CodeOf(errno);
    const auto oldSize = static_cast<std::uint64_t>(info.st_size);
    std::string old;
    DWORD code =
        next.size() > limit ? win::ERROR_FILE_TOO_LARGE : ReadWhole(fd, oldSize, limit, old);
    if (code == win::ERROR_SUCCESS && old.size() < oldSize)
        code = CodeOf(EIO);  // shrank while read: its content is not known
    if (code != win::ERROR_SUCCESS) return code;

    const std::size_t head = std::min(old.size(), next.size());
    std::size_t overwritten = 0;
    int err = 0;
    if (next.size() > old.size()) err = WriteAt(fd, next.data() + head, next.size() - head, head);
    if (err == 0) err = WriteAt(fd, next.data(), head, 0, &overwritten);
    if (err == 0 && next.size() < old.size())
        err = FailsHere(replace_testing::Step::cut) ? EIO : ResizeTo(fd, next.size());
    // A write clears the file's set-ID bits; its owner gives them back (nobody else may).
    const auto keepSetId = [&] {
        if (info.st_mode & (S_ISUID | S_ISGID)) (void)::fchmod(fd, info.st_mode & 07777);
    };
    if (err == 0) keepSetId();
    if (err == 0)
        err = FailsHere(replace_testing::Step::sync) ? EIO : (::fsync(fd) == 0 ? 0 : errno);
    if (err != 0) {
        // Back to the old content: the bytes overwritten (all of them once the new content was
        // written whole, as a shorter one may have been cut), then the old length.
        const auto* bytes = reinterpret_cast<const unsigned char*>(old.data());
        (void)WriteAt(fd, bytes, overwritten == head ? old.size() : overwritten, 0);
        (void)ResizeTo(fd, old.size());
        keepSetId();
        (void)::fsync(fd);
    }
    return err == 0 ? win::ERROR_SUCCESS : CodeOf(err);
}

int SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

}  // namespace

std::uint64_t FileSizeLimit() {
    rlimit limit{};
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}

int OpenFileDescriptor(const std::string& nativePath, int flags, bool regularOnly,
                       struct stat* info, unsigned mode) {
    const int fd = ::open(nativePath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat status {};
    int err = 0;
    if (::fstat(fd, &status) != 0)
        err = errno;
    else if (S_ISDIR(status.st_mode))
        err = EISDIR;
    else if (regularOnly && !S_ISREG(status.st_mode))
        err = ENODEV;
    else if (!(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    if (info != nullptr) *info = status;
    return fd;
}

DWORD ReadRegularFile(const std::string& path, std::uint64_t cap, std::string& out) {
    out.clear();
    struct stat info {};
    const int fd = OpenFileDescriptor(win::ToNativePath(path), O_RDONLY, true, &info);
    if (fd < 0) return Fail(CodeOf(errno));
    // A file that shrank while read gives what is there.
    const DWORD code = ReadWhole(fd, static_cast<std::uint64_t>(info.st_size), cap, out);
    ::close(fd);
    if (code != win::ERROR_SUCCESS) out.clear();
    return Fail(code);
}

DWORD ReplaceFile(const std::string& path, const std::function<bool(win::CFile&)>& write,
                  unsigned newFileMode) {
    if (path.empty()) return Fail(win::ERROR_PATH_NOT_FOUND);
    std::string target;
    if (const int err = FollowLinks(win::ToNativePath(path), &target)) return Fail(CodeOf(err));
    const std::string name = win::PathFileName(target);
    if (name.empty()) return Fail(CodeOf(EISDIR));
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) return Fail(CodeOf(errno));
    if (exists) {
        if (S_ISDIR(info.st_mode)) return Fail(CodeOf(EISDIR));
        if (!S_ISREG(info.st_mode)) return Fail(CodeOf(ENODEV));
        // Renaming over a file needs only the folder's permission: the file's own is asked here.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return Fail(CodeOf(errno));
    }
    const std::string folder = FolderOf(target);
    RemoveLeftovers(folder, name);
    const std::uint64_t limit = FileSizeLimit();

    std::string temporary;
    const int fd = CreateTemporary(folder, name, exists ? 0600 : newFileMode, &temporary);
    if (fd < 0) {
        const int err = errno;
        // A folder that takes no new file: the target itself is written, where it may be.
        if (exists && IsDenied(err)) return Fail(WriteInPlace(target, write, limit));
        return Fail(CodeOf(win::FolderAware(err, target)));
    }
    DWORD code = WriteThrough(temporary, write);
    if (code == win::ERROR_SUCCESS && exists) {
        // The new file takes the old one's owner and group, where the user may give them, then
        // its permissions: a change of owner clears the set-user-ID and set-group-ID bits. Where
        // the owner or group could not be kept, its set-ID bit is not given to the saver's.
        if (::fchown(fd, info.st_uid, info.st_gid) != 0) (void)::fchown(fd, -1, info.st_gid);
        mode_t mode = info.st_mode & 07777;
        struct stat made {};
        if (::fstat(fd, &made) != 0) code = CodeOf(errno);
        if (made.st_uid != info.st_uid) mode &= ~S_ISUID;
        if (made.st_gid != info.st_gid) mode &= ~S_ISGID;
        if (code == win::ERROR_SUCCESS && ::fchmod(fd, mode) != 0) code = CodeOf(errno);
    }
    if (code == win::ERROR_SUCCESS && ::fsync(fd) != 0) code = CodeOf(errno);
    if (code == win::ERROR_SUCCESS && ::rename(temporary.c_str(), target.c_str()) != 0)
        code = CodeOf(errno);
    if (code != win::ERROR_SUCCESS) ::unlink(temporary.c_str());
    ::close(fd);  // releases the lock
    if (code != win::ERROR_SUCCESS) return Fail(code);
    // The rename lasts only once the folder is on the disk too. Some file systems cannot sync a
    // folder; that is no failure of the replacement.
    const int err = SyncPath(folder, O_RDONLY | O_DIRECTORY);
    return Fail(err == 0 || err == EINVAL || err == EROFS ? win::ERROR_SUCCESS : CodeOf(err));
}

void replace_testing::FailNext(Step step) {
    g_failingStep = step;
}

DWORD ReplaceFileBytes(const std::string& path, std::string_view bytes, unsigned newFileMode) {
    return ReplaceFile(
        path,
        [bytes](win::CFile& file) {
            for (std::size_t done = 0; done < bytes.size();) {
                const auto chunk = static_cast<std::uint32_t>(
                    std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
                file.Write(bytes.data() + done, chunk);  // throws on failure
                done += chunk;
            }
            return true;
        },
        newFileMode);
}

}  // namespace quorin
