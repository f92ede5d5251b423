// The safe replacement of a file: links followed, leftovers of killed saves removed, a temporary
// file beside the target renamed over it, or the target written in place where the folder takes
// no new file from this user; saves of one target take turns on its lock, waited for within a
// bound.
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/files/file.h"
#include "platform/files/filelock.h"

namespace quorin {
namespace {

using win::DWORD;

constexpr int kMaxLinkHops = 40;  // as the system's own path walk
// Temporary files are named "." + target name + "." + process + "." + counter + ".tmp"; a target
// name is cut to this many bytes in them, so that the whole name stays a valid one.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr std::string_view kTemporaryEnd = ".tmp";
// A save that finds its target replaced once it holds the lock starts over on the new file; a
// target replaced this many times over in a row is refused as in use.
constexpr int kMaxLockRounds = 8;

using Clock = std::chrono::steady_clock;
std::atomic<std::chrono::milliseconds::rep> g_lockWaitMs{kSaveLockWait.count()};
std::atomic<std::chrono::milliseconds::rep> g_pauseMs{0};
std::atomic<replace_testing::Pause> g_pauseAt{replace_testing::Pause::none};

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

// Whether the system would follow the link `link` (its lstat) at `path`: in a sticky folder
// everybody may write, only a link of this user's or of the folder's owner is followed, so that a
// link another user planted in a shared folder leads nowhere. 0 or an errno value.
int MayFollow(const std::string& path, const struct stat& link) {
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) != 0) return errno;
    constexpr mode_t kShared = S_ISVTX | S_IWOTH;
    if ((folder.st_mode & kShared) != kShared) return 0;
    return link.st_uid == ::geteuid() || link.st_uid == folder.st_uid ? 0 : EACCES;
}

// The file a path names once every symbolic link on it is followed (the file need not exist).
// 0 or an errno value.
int FollowLinks(const std::string& native, std::string* target) {
    std::string current = native;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        if (hops == kMaxLinkHops) return ELOOP;
        if (const int err = MayFollow(current, info)) return err;
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

// What the bounded waits of one save for a lock have left: the bound runs from the first wait.
class LockWait {
  public:
    std::chrono::milliseconds Left() {
        const Clock::time_point now = Clock::now();
        if (!m_deadline) m_deadline = now + std::chrono::milliseconds(g_lockWaitMs.load());
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(*m_deadline - now),
                        std::chrono::milliseconds{0});
    }

  private:
    std::optional<Clock::time_point> m_deadline;
};

// The error code of a lock that could not be taken: a lock held past the bound is a file in use.
DWORD LockCode(int err) {
    return err == EWOULDBLOCK ? win::ERROR_SHARING_VIOLATION : CodeOf(err);
}

// A new temporary file beside the target, readable (a save that must go in place after all reads
// it back) and locked for as long as it is open. -1 with errno set.
int CreateTemporary(const std::string& folder, const std::string& name, unsigned mode,
                    std::string* path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = win::PathJoin(folder, TemporaryPrefix(name) + std::to_string(::getpid()) + "." +
                                          std::to_string(counter.fetch_add(1)) +
                                          std::string(kTemporaryEnd));
        const int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        // Nobody but a remover of leftovers, which never waits, locks a temporary file: the
        // bound only keeps a hostile holder from freezing the save.
        if (fd >= 0 && (errno = LockExclusiveWithin(fd, LockWait().Left())) != 0) {
            const int err = errno == EWOULDBLOCK ? EBUSY : errno;
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
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }

  private:
    int m_fd;
};

void PauseHere(replace_testing::Pause where) {
    if (g_pauseAt.load() == where)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_pauseMs.load()));
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the exclusive lock of the file open as `fd`, then asks whether `target` still names it
// (another save may have renamed a new file over it meanwhile): ERROR_SUCCESS with `*named` set,
// or the error code. `*named` is false too when nothing is at `target` any more.
DWORD LockNamed(int fd, const std::string& target, LockWait& wait, bool* named) {
    if (const int err = LockExclusiveWithin(fd, wait.Left())) return LockCode(err);
    struct stat held {};
    struct stat now {};
    if (::fstat(fd, &held) != 0) return CodeOf(errno);
    if (::stat(target.c_str(), &now) != 0 && errno != ENOENT) return CodeOf(errno);
    *named = now.st_nlink != 0 && SameFile(held, now);
    return win::ERROR_SUCCESS;
}

// The lock that a save through a new file holds on the file it replaces, from before its rename
// to after it, so that it never replaces a file an in-place save is writing: the file `target`
// names is opened as it is (a link put there meanwhile is not followed) and locked; `*held` keeps
// it. Nothing is held when no file is there any more.
DWORD LockReplaced(const std::string& target, LockWait& wait, Descriptor* held) {
    for (int round = 0; round < kMaxLockRounds; ++round) {
        // flock takes a descriptor opened either way: a target the user may write but not read
        // is opened for writing, never truncated.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::open(target.c_str(), O_RDONLY | flags);
        if (fd < 0 && errno == EACCES) fd = ::open(target.c_str(), O_WRONLY | flags);
        if (fd < 0) return errno == ENOENT ? win::ERROR_SUCCESS : CodeOf(errno);
        Descriptor file(fd);
        bool named = false;
        if (const DWORD code = LockNamed(fd, target, wait, &named); code != win::ERROR_SUCCESS)
            return code;
        if (named) {
            *held = std::move(file);
            return win::ERROR_SUCCESS;
        }
    }
    return win::ERROR_SHARING_VIOLATION;
}

int ResizeTo(int fd, std::size_t size) {
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

// The target of a folder that takes no new file, written where it is with `next`, made in memory
// first (a writer that gives up never touches the target). Neither the new content nor the old,
// which a write-back may have to put back whole, may reach past the file-size limit: that is
// refused before any write. The old content is held in memory, and written back when the target
// cannot take the new one (a full disk, a failing device). The bytes past the old end go first,
// so that a file that cannot grow fails before any old byte is overwritten. Another save of the
// target waits for this one to be synced (or written back) before it reads the old content or
// renames a new file over it, so each leaves a whole one; a save that finds, once it holds the
// lock, that a new file was renamed over the one it opened starts over on the new one.
DWORD WriteInPlace(const std::string& target, std::string_view next, std::uint64_t limit,
                   LockWait& wait) {
    Descriptor file;
    struct stat info {};
    for (int round = 0;; ++round) {
        if (round == kMaxLockRounds) return win::ERROR_SHARING_VIOLATION;
        // Reading it too: a file the user may write but not read cannot be kept, and is refused.
        file = Descriptor(OpenFileDescriptor(target, O_RDWR | O_NOFOLLOW, true));
        if (file.get() < 0) return CodeOf(errno);
        PauseHere(replace_testing::Pause::beforeLock);
        bool named = false;
        if (const DWORD code = LockNamed(file.get(), target, wait, &named);
            code != win::ERROR_SUCCESS)
            return code;
        // The length once the lock is held: a save that held it before may have changed it.
        if (::fstat(file.get(), &info) != 0) return CodeOf(errno);
        if (named) break;
    }
    PauseHere(replace_testing::Pause::afterCheck);
    const int fd = file.get();
    const auto oldSize = static_cast<std::uint64_t>(info.st_size);
    std::string old;
    DWORD code =
        next.size() > limit ? win::ERROR_FILE_TOO_LARGE : ReadWhole(fd, oldSize, limit, old);
    if (code == win::ERROR_SUCCESS && old.size() < oldSize)
        code = CodeOf(EIO);  // shrank while read: its content is not known
    if (code != win::ERROR_SUCCESS) return code;

    const auto* bytes = reinterpret_cast<const unsigned char*>(next.data());
    const std::size_t head = std::min(old.size(), next.size());
    std::size_t overwritten = 0;
    int err = 0;
    if (next.size() > old.size()) err = WriteAt(fd, bytes + head, next.size() - head, head);
    if (err == 0) err = WriteAt(fd, bytes, head, 0, &overwritten);
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
        const auto* oldBytes = reinterpret_cast<const unsigned char*>(old.data());
        (void)WriteAt(fd, oldBytes, overwritten == head ? old.size() : overwritten, 0);
        (void)ResizeTo(fd, old.size());
        keepSetId();
        (void)::fsync(fd);
    }
    return err == 0 ? win::ERROR_SUCCESS : CodeOf(err);
}

// The writer's content made in memory, then written in place.
DWORD MakeAndWriteInPlace(const std::string& target, const std::function<bool(win::CFile&)>& write,
                          std::uint64_t limit, LockWait& wait) {
    win::CMemFile made;
    if (const DWORD code = RunWriter(made, write); code != win::ERROR_SUCCESS) return code;
    const std::vector<unsigned char>& next = made.Data();
    return WriteInPlace(target, {reinterpret_cast<const char*>(next.data()), next.size()}, limit,
                        wait);
}

// Whether this process may hold any file as its owner would (CAP_FOWNER): rename over another
// user's file in a sticky folder among others.
bool MayActAsAnyOwner() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
}

// Whether the sticky bit of the target's folder keeps this user from replacing the target with a
// new file: there only the target's owner, the folder's owner or a process that may act as any
// owner renames over it, though others may be allowed to write the file.
bool StickyKeepsOut(const std::string& folder, const struct stat& target) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !(info.st_mode & S_ISVTX)) return false;
    const uid_t self = ::geteuid();
    return target.st_uid != self && info.st_uid != self && !MayActAsAnyOwner();
}

int SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

}  // namespace

DWORD ReplaceFile(const std::string& path, const std::function<bool(win::CFile&)>& write,
                  unsigned newFileMode) {
    return ReplaceNativeFile(win::ToNativePath(path), write, newFileMode);
}

DWORD ReplaceNativeFile(const std::string& native, const std::function<bool(win::CFile&)>& write,
                        unsigned newFileMode) {
    if (native.empty()) return Fail(win::ERROR_PATH_NOT_FOUND);
    std::string target;
    if (const int err = FollowLinks(native, &target)) return Fail(CodeOf(err));
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
    LockWait wait;
    // A folder that takes no new file, or keeps the user from renaming over this one: the target
    // itself is written, where it may be.
    if (exists && StickyKeepsOut(folder, info))
        return Fail(MakeAndWriteInPlace(target, write, limit, wait));

    std::string temporary;
    const Descriptor made(CreateTemporary(folder, name, exists ? 0600 : newFileMode, &temporary));
    const int fd = made.get();
    if (fd < 0) {
        const int err = errno;
        if (exists && IsDenied(err)) return Fail(MakeAndWriteInPlace(target, write, limit, wait));
        return Fail(CodeOf(FolderAware(err, target)));
    }
    DWORD code = WriteThrough(temporary, write);
    if (code == win::ERROR_SUCCESS && exists) {
        // The new file takes the old one's owner and group, where the user may give them, then
        // its permissions: a change of owner clears the set-user-ID and set-group-ID bits. Where
        // the owner or group could not be kept, its set-ID bit is not given to the saver's.
        if (::fchown(fd, info.st_uid, info.st_gid) != 0) (void)::fchown(fd, -1, info.st_gid);
        mode_t mode = info.st_mode & 07777;
        struct stat status {};
        if (::fstat(fd, &status) != 0) code = CodeOf(errno);
        if (status.st_uid != info.st_uid) mode &= ~S_ISUID;
        if (status.st_gid != info.st_gid) mode &= ~S_ISGID;
        if (code == win::ERROR_SUCCESS && ::fchmod(fd, mode) != 0) code = CodeOf(errno);
    }
    if (code == win::ERROR_SUCCESS && ::fsync(fd) != 0) code = CodeOf(errno);
    bool inPlace = false;
    if (code == win::ERROR_SUCCESS) {
        Descriptor replaced;
        if (exists) code = LockReplaced(target, wait, &replaced);
        if (code == win::ERROR_SUCCESS && ::rename(temporary.c_str(), target.c_str()) != 0) {
            // The sticky bit's refusal where it could not be foreseen: in place, with what was
            // written (the writer is not run twice).
            inPlace = exists && errno == EPERM;
            code = CodeOf(errno);
        }
    }  // the replaced file's lock is released once the new one stands in its place
    if (inPlace) {
        struct stat status {};
        std::string next;
        code = ::fstat(fd, &status) != 0
                   ? CodeOf(errno)
                   : ReadWhole(fd, static_cast<std::uint64_t>(status.st_size), limit, next);
        ::unlink(temporary.c_str());
        return Fail(code == win::ERROR_SUCCESS ? WriteInPlace(target, next, limit, wait) : code);
    }
    if (code != win::ERROR_SUCCESS) {
        ::unlink(temporary.c_str());
        return Fail(code);
    }
    // The rename lasts only once the folder is on the disk too. Some file systems cannot sync a
    // folder; that is no failure of the replacement.
    const int err = SyncPath(folder, O_RDONLY | O_DIRECTORY);
    return Fail(err == 0 || err == EINVAL || err == EROFS ? win::ERROR_SUCCESS : CodeOf(err));
}

void replace_testing::FailNext(Step step) {
    g_failingStep = step;
}

void replace_testing::SetLockWait(std::chrono::milliseconds bound) {
    g_lockWaitMs = bound.count();
}

void replace_testing::PauseAt(Pause where, std::chrono::milliseconds span) {
    g_pauseMs = span.count();
    g_pauseAt = where;
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
