// Framework files. CFile reads through a block buffer (the DICOM walk makes many small reads
// behind seeks) that starts small and doubles as a walk reads on (a header parse of a large
// image reads little of it), and writes straight through, so a failed write is reported by the
// Write that caused it, as the framework did. CMemFile has the same semantics over a byte vector.
#include "platform/files/file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

void CFile::AttachNative(int fd, const std::string& nativePath) {
    Abort();
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    m_fd = fd;
    m_path = nativePath;
    m_readOnly = false;
    m_sizeLimit = regular ? quorin::FileSizeLimit() : kNoSizeLimit;
    m_length = regular ? static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0)) : 0;
    m_pos = 0;
    m_bufStart = 0;
    m_bufLen = 0;
}

bool CFile::OpenAs(const char* path, const std::string& native, unsigned flags,
                   CFileException* error) {
    Abort();
    auto fail = [&](int err) {
        err = quorin::FolderAware(err, native);
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
        // Large reads go straight to their destination, and so does a read the buffer cannot
        // grow to take (the memory left is short): the bytes are there all the same.
        bool direct = want >= kLargestFill;
        const std::size_t fill =
            m_bufCapacity == 0
                ? std::max<std::size_t>(want, kFirstFill)
                : std::max<std::size_t>(want, std::min(kLargestFill, m_bufCapacity * 2));
        if (!direct && fill > m_bufCapacity) {
            std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[fill]);
            if (grown) {
                m_buf = std::move(grown);
                m_bufCapacity = fill;
            } else {
                direct = m_bufCapacity < want;
            }
        }
        if (direct) {
            ssize_t got = ::pread(m_fd, out + done, want, static_cast<off_t>(m_pos));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::uint32_t>(got);
            m_pos += static_cast<std::uint64_t>(got);
            continue;
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
// ---- opening and whole-file reading

namespace quorin {
namespace {

using win::DWORD;

DWORD CodeOf(int err) {
    return win::LastErrorFromErrno(err);
}

DWORD Fail(DWORD code) {
    win::SetLastError(code);
    return code;
}

}  // namespace

int FolderAware(int err, const std::string& native) {
    if (err != ENOENT || native.empty()) return err;
    const std::string folder = win::PathFolder(native);
    struct stat info {};
    return !folder.empty() && ::stat(folder.c_str(), &info) != 0 ? ENOTDIR : err;
}

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

std::uint64_t FileSizeLimit() {
    rlimit limit{};
    return ::getrlimit(RLIMIT_FSIZE, &limit) == 0 ? limit.rlim_cur : RLIM_INFINITY;
}

int OpenFileDescriptor(const std::string& nativePath, int flags, bool regularOnly,
                       struct stat* info, unsigned mode) {
    return OpenFileDescriptorAt(AT_FDCWD, nativePath, flags, regularOnly, info, mode);
}

int OpenFileDescriptorAt(int folder, const std::string& name, int flags, bool regularOnly,
                         struct stat* info, unsigned mode) {
    const int fd = ::openat(folder, name.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
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

}  // namespace quorin
