// The safe replacement of a file: links followed, leftovers of killed saves removed, a temporary
// file beside the target renamed over it, or the target written in place where the folder takes
// no new file from this user; saves of one target take turns on its lock, waited for within a
// bound.
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/endingsignals.h"
#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/files/file.h"
#include "platform/files/filelock.h"

namespace quorin {

std::string JoinNative(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool Planted(const struct stat& folder, const struct stat& file) {
    constexpr mode_t kShared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & kShared) == kShared && file.st_uid != ::geteuid() &&
           file.st_uid != folder.st_uid;
}

namespace {

using win::DWORD;

constexpr int kMaxLinkHops = 40;  // as the system's own path walk
// Temporary files are named "." + target name + "." + process + "." + random number + ".tmp"; a
// target name is cut to this many bytes in them, so that the whole name stays a valid one.
constexpr std::size_t kMaxNameInTemporary = 200;
constexpr std::string_view kTemporaryEnd = ".tmp";

using Clock = std::chrono::steady_clock;
std::atomic<std::chrono::milliseconds::rep> g_lockWaitMs{kSaveLockWait.count()};
std::atomic<std::chrono::milliseconds::rep> g_pauseMs{0};
std::atomic<replace_testing::Pause> g_pauseAt{replace_testing::Pause::none};
std::mutex g_stepsMutex;
std::string g_steps;  // the last steps taken, for the tests

void Note(char step) {
    const std::lock_guard<std::mutex> guard(g_stepsMutex);
    if (g_steps.size() >= 64) g_steps.erase(0, 32);
    g_steps += step;
}

// Syncs the file or folder open as `fd`, noting the step; 0 or the errno value.
int Synced(int fd, char step) {
    if (::fsync(fd) != 0) return errno;
    Note(step);
    return 0;
}

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

// A native path splits at '/' only: a backslash is part of a name, as the system reads it.
std::string FolderOf(const std::string& native) {
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) return ".";
    const std::size_t end = native.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : native.substr(0, end + 1);
}

std::string NameOf(const std::string& native) {
    const std::size_t slash = native.find_last_of('/');
    return slash == std::string::npos ? native : native.substr(slash + 1);
}

// Whether the system would follow the link `link` (its lstat) at `path`; 0 or an errno value.
int MayFollow(const std::string& path, const struct stat& link) {
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) != 0) return errno;
    return Planted(folder, link) ? EACCES : 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A link of the process file system (/proc/self/fd/N, and /dev/fd/N through it) leads to an open
// file whatever its text says: the text is followed only where it names that same file. A
// removed file ("name (deleted)") is no file of that name: ENOENT, never a file made under the
// text; ENODEV for what is no regular file (a pipe's "pipe:[N]"). 0 for any other link.
int CheckProcessLink(const std::string& link, const std::string& text) {
    struct statfs where {};
    if (::statfs(FolderOf(link).c_str(), &where) != 0) return errno;
    if (where.f_type != PROC_SUPER_MAGIC) return 0;
    struct stat through {};
    struct stat named {};
    if (::stat(link.c_str(), &through) != 0) return errno;
    if (::stat(text.c_str(), &named) == 0 && SameFile(through, named)) return 0;
    return S_ISREG(through.st_mode) ? ENOENT : ENODEV;
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
        // A link's size may not be its text's (the process file system gives 64 for every one):
        // read into a larger buffer until the text fits.
        std::string link;
        for (std::size_t size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 255)) + 1;;
             size *= 2) {
            if (size > 65536) return ENAMETOOLONG;
            link.assign(size, '\0');
            const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
            if (n < 0) return errno;
            if (static_cast<std::size_t>(n) < link.size()) {
                link.resize(static_cast<std::size_t>(n));
                break;
            }
        }
        std::string next =
            !link.empty() && link[0] == '/' ? link : JoinNative(FolderOf(current), link);
        if (const int err = CheckProcessLink(current, next)) return err;
        current = std::move(next);
    }
    *target = current;
    return 0;
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
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd;
};

// The target's folder, held open from the start of a save: the temporary file is made, renamed
// and removed through it, so that a folder moved away meanwhile keeps nothing of the save, and
// the rename goes into the folder whose file the save locked. Opened for reading, so that it can
// be synced, where the user may list it; else (a folder of mode 0300) only as a place in the
// tree, and not synced.
struct Folder {
    std::string path;
    Descriptor fd;
    bool syncable = true;
    struct stat info {};
};

// 0 or the errno value (ENOTDIR for a missing folder, a path not found).
int OpenFolder(const std::string& path, Folder* folder) {
    folder->path = path;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        folder->syncable = false;
    }
    if (fd < 0) return errno == ENOENT ? ENOTDIR : errno;
    folder->fd = Descriptor(fd);
    return ::fstat(fd, &folder->info) == 0 ? 0 : errno;
}

std::string TemporaryPrefix(const std::string& name) {
    return "." + name.substr(0, kMaxNameInTemporary) + ".";
}

// Whether `capability` is in this process's effective set.
bool HasCapability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(capability)].effective & CAP_TO_MASK(capability)) != 0;
}

// Removes the temporary files of earlier replacements of `name` whose process has gone: of a
// process that no longer runs, whose lock nobody holds (a live replacement keeps its temporary
// file locked), and this user's, or, for a saver that may give a file any owner (CAP_CHOWN, as
// the killed save may have given it the target's), the owner's of the target (`target`, its
// status, where it exists).
void RemoveLeftovers(const Folder& folder, const std::string& name, const struct stat* target) {
    const uid_t targetOwner =
        target != nullptr && HasCapability(CAP_CHOWN) ? target->st_uid : ::geteuid();
    const int listed = ::openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return;
    DIR* dir = ::fdopendir(listed);
    if (dir == nullptr) {
        ::close(listed);
        return;
    }
    const std::string prefix = TemporaryPrefix(name);
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName.size() <= prefix.size() + kTemporaryEnd.size() ||
            entryName.substr(0, prefix.size()) != prefix ||
            entryName.substr(entryName.size() - kTemporaryEnd.size()) != kTemporaryEnd)
            continue;
        // "<process>.<random number>" between them, both decimal.
        const std::string_view middle = entryName.substr(
            prefix.size(), entryName.size() - prefix.size() - kTemporaryEnd.size());
        const std::size_t dot = middle.find('.');
        if (dot == 0 || dot == std::string_view::npos || dot > 9 || dot + 1 == middle.size() ||
            middle.find_first_not_of("0123456789.") != std::string_view::npos ||
            middle.find('.', dot + 1) != std::string_view::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(middle.substr(0, dot))));
        if (pid == self || ::kill(pid, 0) == 0 || errno == EPERM) continue;  // may still run
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        // flock takes a descriptor opened either way: a leftover that already has a write-only
        // target's mode is opened for writing.
        const int flags = O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | flags);
        if (fd < 0 && errno == EACCES) fd = ::openat(::dirfd(dir), entry->d_name, O_WRONLY | flags);
        if (fd < 0) continue;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            (info.st_uid == ::geteuid() || info.st_uid == targetOwner) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// What the bounded waits of one save for a lock have left: the bound runs from the first wait.
class LockWait {
  public:
    LockWait() = default;
    // The caller's turn: its deadline, and the target's lock only tried.
    explicit LockWait(const SaveTurnHeld* turn) {
        if (turn != nullptr) m_deadline = turn->deadline;
        m_tryOnly = turn != nullptr;
    }
    bool TryOnly() const { return m_tryOnly; }
    std::chrono::milliseconds Left() {
        const Clock::time_point now = Clock::now();
        if (!m_deadline) m_deadline = now + std::chrono::milliseconds(g_lockWaitMs.load());
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(*m_deadline - now),
                        std::chrono::milliseconds{0});
    }
    // Whether a save that has to start over again has no time left.
    bool Over() { return Left().count() == 0; }

  private:
    std::optional<Clock::time_point> m_deadline;
    bool m_tryOnly = false;
};

// The error code of a lock that could not be taken: a lock held past the bound is a file in use.
DWORD LockCode(int err) {
    return err == EWOULDBLOCK ? win::ERROR_SHARING_VIOLATION : CodeOf(err);
}

void PauseHere(replace_testing::Pause where) {
    if (g_pauseAt.load() == where)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_pauseMs.load()));
}

// A number nobody can foresee, as mkstemp's names hold: a user who knows the saver's process
// number cannot take every name its temporary file may get.
std::string Unforeseeable() {
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        static std::atomic<std::uint64_t> counter{0};
        value = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) * 2654435761u +
                counter.fetch_add(1);
    }
    return std::to_string(value);
}

// A new temporary file beside the target, made through the folder, readable (a save that must
// go in place after all reads it back) and locked for as long as it is open; `*name` receives
// its name. A peer's clean-up may remove it between its making and its lock (a save in another
// process namespace, to which this process looks gone): once locked, a file its name no longer
// names is given up for one of another name. -1 with errno set.
int CreateTemporary(const Folder& folder, const std::string& target, unsigned mode,
                    std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = TemporaryPrefix(target) + std::to_string(::getpid()) + "." + Unforeseeable() +
                std::string(kTemporaryEnd);
        Descriptor made(
            ::openat(folder.fd.get(), name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (made.get() < 0 && errno == EEXIST) continue;
        if (made.get() < 0) return -1;
        PauseHere(replace_testing::Pause::beforeTemporaryLock);
        // Nobody but a remover of leftovers, which never waits, locks a temporary file: the
        // bound only keeps a hostile holder from freezing the save.
        if (const int err = LockExclusiveWithin(made.get(), LockWait().Left())) {
            ::unlinkat(folder.fd.get(), name->c_str(), 0);
            errno = err == EWOULDBLOCK ? EBUSY : err;
            return -1;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(made.get(), &held) != 0) return -1;
        if (::fstatat(folder.fd.get(), name->c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameFile(held, named))
            continue;
        return made.release();
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

// Runs the writer on the temporary file open as `fd` (through a descriptor of its own, which the
// writer's CFile closes; the lock stays with `fd`), its writes stopping at the file-size limit;
// the error code of a failed write or close.
DWORD WriteThrough(int fd, const std::string& path, const std::function<bool(win::CFile&)>& write) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return CodeOf(errno);
    win::CFile file;
    file.AttachNative(own, path);
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

// The room a rewrite of the file open as `fd` may take: the free space of a file system that
// writes every block anew (the old blocks are freed only once the new ones stand), no bound on
// any other, where a rewritten block takes no new one and the bytes past the old end are written
// first.
std::uint64_t FreeBytes(int fd) {
    constexpr long kZfsMagic = 0x2fc12fc1;
    struct statfs where {};
    if (::fstatfs(fd, &where) != 0 ||
        (where.f_type != BTRFS_SUPER_MAGIC && where.f_type != kZfsMagic))
        return UINT64_MAX;
    const auto block =
        static_cast<std::uint64_t>(where.f_frsize != 0 ? where.f_frsize : where.f_bsize);
    return static_cast<std::uint64_t>(where.f_bavail) * block;
}

std::atomic<replace_testing::Step> g_failingStep{replace_testing::Step::none};
std::atomic<int> g_failingErrno{0};  // a refused rename's or link's, in place of its usual one

// True, once, for the step the test hook names.
bool FailsHere(replace_testing::Step step) {
    replace_testing::Step named = step;
    return g_failingStep.compare_exchange_strong(named, replace_testing::Step::none);
}

// Takes the exclusive lock of the file open as `fd`, then asks whether `name` in the folder still
// names it (another save may have renamed a new file over it meanwhile): ERROR_SUCCESS with
// `*named` set, or the error code. `*named` is false too when nothing is there any more.
DWORD LockNamed(int fd, const Folder& folder, const std::string& name, LockWait& wait,
                bool* named) {
    const int err =
        LockExclusiveWithin(fd, wait.TryOnly() ? std::chrono::milliseconds{0} : wait.Left());
    if (err != 0 && !(err == EWOULDBLOCK && wait.TryOnly())) return LockCode(err);
    struct stat held {};
    struct stat now {};
    if (::fstat(fd, &held) != 0) return CodeOf(errno);
    if (::fstatat(folder.fd.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        return CodeOf(errno);
    *named = now.st_nlink != 0 && SameFile(held, now);
    return win::ERROR_SUCCESS;
}

// The code of a target found to be no regular file: a folder, or anything else (a link put there
// meanwhile included).
DWORD NotAFile(const struct stat& info) {
    return CodeOf(S_ISDIR(info.st_mode) ? EISDIR : ENODEV);
}

// The lock that a save through a new file holds on the file it replaces, from before its rename
// to after it, so that it never replaces a file an in-place save is writing: whatever file `name`
// names is opened as it is (a link put there is not followed) and locked, whether or not one was
// there when the save began; `*held` keeps it and `*info` receives its status. Nothing is held
// when no file is there. A save that finds the file replaced once it holds the lock starts over
// on the new one, for as long as the bound of its waits allows.
DWORD LockReplaced(const Folder& folder, const std::string& name, LockWait& wait, Descriptor* held,
                   struct stat* info) {
    for (int round = 0;; ++round) {
        if (round > 0 && wait.Over()) return win::ERROR_SHARING_VIOLATION;
        // Nothing but a regular file is opened (opening a device may act on it).
        if (::fstatat(folder.fd.get(), name.c_str(), info, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? win::ERROR_SUCCESS : CodeOf(errno);
        if (!S_ISREG(info->st_mode)) return NotAFile(*info);
        // flock takes a descriptor opened either way: a target the user may write but not read
        // is opened for writing, never truncated.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::openat(folder.fd.get(), name.c_str(), O_RDONLY | flags);
        if (fd < 0 && errno == EACCES)
            fd = ::openat(folder.fd.get(), name.c_str(), O_WRONLY | flags);
        if (fd < 0 && errno == ENOENT) continue;
        if (fd < 0) return CodeOf(errno == ELOOP ? ENODEV : errno);
        Descriptor file(fd);
        if (::fstat(fd, info) != 0) return CodeOf(errno);
        if (!S_ISREG(info->st_mode)) return NotAFile(*info);
        bool named = false;
        if (const DWORD code = LockNamed(fd, folder, name, wait, &named);
            code != win::ERROR_SUCCESS)
            return code;
        if (named) {
            *held = std::move(file);
            return win::ERROR_SUCCESS;
        }
    }
}

int ResizeTo(int fd, std::size_t size) {
    while (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

// Every signal whose default ends the process is held back while an in-place target is written:
// once its first byte is written, its write (or the write-back of the old content) and sync are
// never cut by one (a fault of the thread's own, a bad address..., still ends it at once: no mask
// holds the system's signal for it back). The caller's mask comes back at the end, and with it a
// signal that came meanwhile.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld() { ::pthread_sigmask(SIG_BLOCK, &EndingSignalSet(), &m_before); }
    ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  private:
    sigset_t m_before;
};

// The target of a folder that takes no new file, written where it is with `next`, made in memory
// first (a writer that gives up never touches the target). Neither the new content nor the old,
// which a write-back may have to put back whole, may reach past the file-size limit: that is
// refused before any write. The old content is held in memory, and written back when the target
// cannot take the new one (a full disk, a failing device). The bytes past the old end go first,
// so that a file that cannot grow fails before any old byte is overwritten (where every block is
// written anew, a content the free space cannot hold is refused before them). Another save of the
// target waits for this one to be synced (or written back) before it reads the old content or
// renames a new file over it, so each leaves a whole one; a save that finds, once it holds the
// lock, that a new file was renamed over the one it opened starts over on the new one, for as
// long as the bound of its waits allows.
DWORD WriteInPlace(const Folder& folder, const std::string& name, std::string_view next,
                   std::uint64_t limit, LockWait& wait) {
    Descriptor file;
    struct stat info {};
    for (int round = 0;; ++round) {
        if (round > 0 && wait.Over()) return win::ERROR_SHARING_VIOLATION;
        // Reading it too: a file the user may write but not read cannot be kept, and is refused.
        file = Descriptor(
            OpenFileDescriptorAt(folder.fd.get(), name, O_RDWR | O_NOFOLLOW, true, &info));
        if (file.get() < 0) return CodeOf(errno == ELOOP ? ENODEV : errno);
        // A file planted in a shared folder meanwhile is not written either.
        if (Planted(folder.info, info)) return win::ERROR_ACCESS_DENIED;
        PauseHere(replace_testing::Pause::beforeLock);
        bool named = false;
        if (const DWORD code = LockNamed(file.get(), folder, name, wait, &named);
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

    // A file system that writes every block anew needs room for the whole new content, though
    // the file only takes its old blocks' place: without it, the write would fail part-way.
    if (next.size() > FreeBytes(fd)) return CodeOf(ENOSPC);

    const EndingSignalsHeld held;
    const auto* bytes = reinterpret_cast<const unsigned char*>(next.data());
    const std::size_t head = std::min(old.size(), next.size());
    std::size_t overwritten = 0;
    int err = 0;
    if (next.size() > old.size()) err = WriteAt(fd, bytes + head, next.size() - head, head);
    PauseHere(replace_testing::Pause::whileWriting);
    const bool full = FailsHere(replace_testing::Step::full);
    if (err == 0 && full) {
        (void)WriteAt(fd, bytes, head / 2, 0, &overwritten);
        err = ENOSPC;
    }
    if (err == 0) err = WriteAt(fd, bytes, head, 0, &overwritten);
    if (err == 0 && next.size() < old.size())
        err = FailsHere(replace_testing::Step::cut) ? EIO : ResizeTo(fd, next.size());
    // A write clears the file's set-ID bits; its owner gives them back (nobody else may).
    const auto keepSetId = [&] {
        if (info.st_mode & (S_ISUID | S_ISGID)) (void)::fchmod(fd, info.st_mode & 07777);
    };
    if (err == 0) keepSetId();
    if (err == 0) err = FailsHere(replace_testing::Step::sync) ? EIO : Synced(fd, 'p');
    if (err != 0) {
        // Back to the old content: the bytes overwritten (all of them once the new content was
        // written whole, as a shorter one may have been cut), then the old length.
        const auto* oldBytes = reinterpret_cast<const unsigned char*>(old.data());
        const std::size_t back = overwritten == head ? old.size() : overwritten;
        const int backErr = full ? ENOSPC : WriteAt(fd, oldBytes, back, 0);
        // Out of room for the rewritten blocks (each takes a free one where the file system
        // writes every block anew, and the failed write took the last): the file is emptied and
        // the file system synced, which frees its blocks, then given the old content whole.
        if ((backErr == ENOSPC || backErr == EDQUOT) && ResizeTo(fd, 0) == 0) {
            (void)::syncfs(fd);
            (void)WriteAt(fd, oldBytes, old.size(), 0);
        }
        (void)ResizeTo(fd, old.size());
        keepSetId();
        (void)::fsync(fd);
    }
    return err == 0 ? win::ERROR_SUCCESS : CodeOf(err);
}

// Makes `name` an empty file of `mode` for a save that then writes it in place, where nothing is
// there: 0, EEXIST where a file is (which the save writes in its turn), or the errno value.
int MadeEmpty(const Folder& folder, const std::string& name, unsigned mode) {
    const int fd = ::openat(folder.fd.get(), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

// Whether this process may hold any file as its owner would (CAP_FOWNER): rename over another
// user's file in a sticky folder among others.
bool MayActAsAnyOwner() {
    return HasCapability(CAP_FOWNER);
}

// Whether the sticky bit of the target's folder keeps this user from replacing the target with a
// new file: there only the target's owner, the folder's owner or a process that may act as any
// owner renames over it, though others may be allowed to write the file.
bool StickyKeepsOut(const Folder& folder, const struct stat& target) {
    if (!(folder.info.st_mode & S_ISVTX)) return false;
    const uid_t self = ::geteuid();
    return target.st_uid != self && folder.info.st_uid != self && !MayActAsAnyOwner();
}

// What became of a property the new file takes from the one it replaces: given, not to be given
// here (the save goes in place, which keeps it), or a failure (errno set).
enum class Kept { yes, inPlace, failed };

// The owner and group of the old file (its status `old`). A new file that cannot take both would
// pass the rights they carry to the saver's (its group's members read what the old group did not,
// the old owner no longer may): the save goes in place, which keeps them.
Kept KeepOwnerAndGroup(int fd, const struct stat& old) {
    return ::fchown(fd, old.st_uid, old.st_gid) == 0 ? Kept::yes : Kept::inPlace;
}

// The permissions of the old file, set-ID bits included, once its owner and group are the file's
// (a change of owner clears those bits) and its ACL too (which sets the group bits to its mask).
Kept KeepMode(int fd, const struct stat& old) {
    return ::fchmod(fd, old.st_mode & 07777) == 0 ? Kept::yes : Kept::failed;
}

// The names or the value of an extended attribute of the file open as `fd` (`name` null: the
// names); false with errno set.
bool ReadAttribute(int fd, const char* name, std::vector<char>* out) {
    for (;;) {
        const ssize_t size =
            name != nullptr ? ::fgetxattr(fd, name, nullptr, 0) : ::flistxattr(fd, nullptr, 0);
        if (size < 0) return false;
        out->resize(static_cast<std::size_t>(size));
        const ssize_t got = name != nullptr ? ::fgetxattr(fd, name, out->data(), out->size())
                                            : ::flistxattr(fd, out->data(), out->size());
        if (got >= 0) {
            out->resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // grown meanwhile: asked again
    }
}

constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr char kCapability[] = "security.capability";

// The POSIX access ACL of the old file (open as `from`, or -1 where it went meanwhile: none) given
// to the new one (`to`) and read back. Where the old file has none, the new one has none either:
// the ACL a folder's default ACL gave it goes, before the mode would open its mask to users the
// old file kept out. Where the old ACL cannot be read or given, or the inherited one removed, the
// save goes in place rather than let the new file be read by users the old one keeps out.
Kept KeepAccessAcl(int from, int to) {
    std::vector<char> value;
    if (from < 0 || !ReadAttribute(from, kAccessAcl, &value)) {
        if (from >= 0 && errno != ENODATA && errno != ENOTSUP) return Kept::inPlace;
        const bool none =
            ::fremovexattr(to, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
        return none ? Kept::yes : Kept::inPlace;
    }
    std::vector<char> given;
    const bool set = !FailsHere(replace_testing::Step::acl) &&
                     ::fsetxattr(to, kAccessAcl, value.data(), value.size(), 0) == 0;
    return set && ReadAttribute(to, kAccessAcl, &given) && given == value ? Kept::yes
                                                                          : Kept::inPlace;
}

// Whether a failure to read or give an attribute (its errno value) is the user's want of the
// right, or the attribute gone meanwhile: anything else (no room for it, a failing device) would
// lose it.
bool LeftOutByRight(int err) {
    return err == EPERM || err == EACCES || err == ENODATA;
}

// The old file's user.* and security.* attributes, as `cp -p` gives them. Those the user may not
// read or set (security.* for anyone but root) are left out; other kinds (trusted.*) are not
// copied, nor a file capability, which the system drops on any write of the file. One that cannot
// be given for any other reason (no room for it) gets the save in place, which keeps it.
Kept KeepAttributes(int from, int to) {
    std::vector<char> names;
    if (!ReadAttribute(from, nullptr, &names))
        return errno == ENOTSUP || LeftOutByRight(errno) ? Kept::yes : Kept::inPlace;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        if (name.rfind("user.", 0) != 0 && name.rfind("security.", 0) != 0) continue;
        if (name == kCapability) continue;
        std::vector<char> value;
        if (!ReadAttribute(from, name.c_str(), &value)) {
            if (LeftOutByRight(errno)) continue;
            return Kept::inPlace;
        }
        if (FailsHere(replace_testing::Step::attribute)) {
            errno = ENOSPC;
        } else if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) == 0) {
            continue;
        }
        if (!LeftOutByRight(errno)) return Kept::inPlace;
    }
    return Kept::yes;
}

// The new file open as `fd` takes after the file it replaces (its status `old`; open as
// `replaced`, or -1 where it went meanwhile and only its status is known), in this order: owner
// and group, access ACL, mode, other attributes.
Kept TakeAfter(int fd, int replaced, const struct stat& old) {
    Kept kept = KeepOwnerAndGroup(fd, old);
    if (kept == Kept::yes) kept = KeepAccessAcl(replaced, fd);
    PauseHere(replace_testing::Pause::beforeMode);
    if (kept == Kept::yes) kept = KeepMode(fd, old);
    if (kept == Kept::yes && replaced >= 0) kept = KeepAttributes(replaced, fd);
    return kept;
}

// Renames the temporary file over whatever `name` names, noting the step; 0 or the errno value.
int RenamedOver(const Folder& folder, const std::string& temporary, const std::string& name) {
    if (::renameat(folder.fd.get(), temporary.c_str(), folder.fd.get(), name.c_str()) != 0)
        return errno;
    Note('r');
    return 0;
}

// What RenamedWhereNone answers on a file system that can neither refuse a rename over a file
// nor link a file to a second name (several FUSE ones): the save then goes in place, into a file
// made empty for it, where that refuses to replace one too.
constexpr int kNoLinks = -1;

// Renames the temporary file to `name` where nothing is there, noting the step; EEXIST where a
// file appeared meanwhile, kNoLinks, else 0 or the errno value. A file system that cannot refuse a
// rename over a file (NFS, CIFS) refuses a link over one: the temporary file is linked to the
// name, then its own name removed.
int RenamedWhereNone(const Folder& folder, const std::string& temporary, const std::string& name) {
    const bool noLinks = FailsHere(replace_testing::Step::noLinks);
    const bool refused = noLinks || FailsHere(replace_testing::Step::noReplace);
    const int given = refused ? g_failingErrno.exchange(0) : 0;
    if (refused) errno = given != 0 && !noLinks ? given : EINVAL;
    if (!refused && ::renameat2(folder.fd.get(), temporary.c_str(), folder.fd.get(), name.c_str(),
                                RENAME_NOREPLACE) == 0) {
        Note('r');
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (noLinks) errno = given != 0 ? given : EPERM;
    if (noLinks || ::linkat(folder.fd.get(), temporary.c_str(), folder.fd.get(), name.c_str(), 0))
        return errno == EPERM || errno == EOPNOTSUPP ? kNoLinks : errno;
    Note('r');
    (void)::unlinkat(folder.fd.get(), temporary.c_str(), 0);
    return 0;
}

// One save: what it found at its start, which its steps share.
struct Save {
    std::string target;  // the file the path names once every link is followed
    std::string name;    // its name in its folder
    Folder folder;
    bool exists = false;
    struct stat info {};  // the target's status at the start, where it exists
    std::uint64_t limit = 0;
    LockWait wait;
};

// Follows the links, opens the folder and checks the target there, if any: a regular file the
// user may write, and none another user planted in a shared folder.
DWORD Begin(const std::string& native, Save* save) {
    if (native.empty()) return win::ERROR_PATH_NOT_FOUND;
    if (const int err = FollowLinks(native, &save->target)) return CodeOf(err);
    save->name = NameOf(save->target);
    if (save->name.empty()) return CodeOf(EISDIR);
    if (const int err = OpenFolder(FolderOf(save->target), &save->folder)) return CodeOf(err);
    const Folder& folder = save->folder;
    save->exists = ::fstatat(folder.fd.get(), save->name.c_str(), &save->info, 0) == 0;
    if (!save->exists && errno != ENOENT) return CodeOf(errno);
    save->limit = FileSizeLimit();
    if (!save->exists) return win::ERROR_SUCCESS;
    if (S_ISDIR(save->info.st_mode)) return CodeOf(EISDIR);
    if (!S_ISREG(save->info.st_mode)) return CodeOf(ENODEV);
    // Another user's file in a shared folder is not saved, by either road.
    if (Planted(folder.info, save->info)) return win::ERROR_ACCESS_DENIED;
    // Renaming over a file needs only the folder's permission: the file's own is asked here.
    if (::faccessat(folder.fd.get(), save->name.c_str(), W_OK, AT_EACCESS) != 0)
        return CodeOf(errno);
    return win::ERROR_SUCCESS;
}

// Whether no entry of the folder can be removed or renamed (append-only or immutable, as chattr
// +a or +i makes it): a temporary file made there would stay for good, and could never take the
// target's place. Told by the folder's flags, through its descriptor (or its status, for a folder
// open only as a place in the tree).
bool EntriesStay(const Folder& folder) {
    constexpr unsigned kStay = FS_APPEND_FL | FS_IMMUTABLE_FL;
    int flags = 0;
    if (::ioctl(folder.fd.get(), FS_IOC_GETFLAGS, &flags) == 0)
        return (static_cast<unsigned>(flags) & kStay) != 0;
    struct statx status {};
    return errno == EBADF &&
           ::statx(folder.fd.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS, &status) == 0 &&
           (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
}

// Whether the save goes in place from the start, with no temporary file: the folder keeps every
// entry, or its sticky bit keeps the user from renaming over the target.
bool InPlaceFromTheStart(const Save& save) {
    return EntriesStay(save.folder) || (save.exists && StickyKeepsOut(save.folder, save.info));
}

// The writer's content made in memory, then written in place: into the target, or where there
// is none, into an empty file of `newFileMode` made for it once the content is whole.
DWORD MakeAndWriteInPlace(Save& save, const std::function<bool(win::CFile&)>& write,
                          unsigned newFileMode) {
    win::CMemFile made;
    if (const DWORD code = RunWriter(made, write); code != win::ERROR_SUCCESS) return code;
    const std::vector<unsigned char>& next = made.Data();
    if (!save.exists && next.size() > save.limit) return win::ERROR_FILE_TOO_LARGE;
    if (!save.exists)
        if (const int err = MadeEmpty(save.folder, save.name, newFileMode); err && err != EEXIST)
            return CodeOf(FolderAware(err, save.target));
    return WriteInPlace(save.folder, save.name,
                        {reinterpret_cast<const char*>(next.data()), next.size()}, save.limit,
                        save.wait);
}

// Puts the written and synced temporary file (open as `fd`) in the target's place: locks the file
// it replaces, takes after it, syncs and renames. A rename where no file was refuses to replace
// one that appeared meanwhile, which is then locked in its turn. `*inPlace` is set where the save
// has to go in place after all, with what was written, and `*makeTarget` too where no file was
// there and the file system can give the new one no name of its own.
DWORD TakeThePlace(Save& save, int fd, const std::string& temporary, bool* inPlace,
                   bool* makeTarget) {
    for (;;) {
        Descriptor replaced;
        struct stat old {};
        if (const DWORD code = LockReplaced(save.folder, save.name, save.wait, &replaced, &old);
            code != win::ERROR_SUCCESS)
            return code;
        const bool held = replaced.get() >= 0;
        if (held && Planted(save.folder.info, old)) return win::ERROR_ACCESS_DENIED;
        // The file replaced is the one the new file takes after: the one there at the start,
        // unless another took its place (or it went: then what it was).
        if (held || save.exists) {
            const Kept kept = TakeAfter(fd, replaced.get(), held ? old : save.info);
            if (kept == Kept::failed) return CodeOf(errno);
            if (kept == Kept::inPlace) {
                *inPlace = true;
                return win::ERROR_SUCCESS;
            }
        }
        if (const int err = Synced(fd, 'f')) return CodeOf(err);
        if (!held) PauseHere(replace_testing::Pause::beforeNewName);
        const int err = held ? RenamedOver(save.folder, temporary, save.name)
                             : RenamedWhereNone(save.folder, temporary, save.name);
        if (err == EEXIST && !held) {
            if (save.wait.Over()) return win::ERROR_SHARING_VIOLATION;
            continue;
        }
        if (err == kNoLinks) {
            *inPlace = *makeTarget = true;
            return win::ERROR_SUCCESS;
        }
        // The sticky bit's refusal where it could not be foreseen: in place, with what was
        // written (the writer is not run twice).
        *inPlace = err == EPERM && held;
        return CodeOf(err);
    }  // the replaced file's lock is released once the new one stands in its place
}

// The rename lasts only once the folder is on the disk too. Some file systems cannot sync a
// folder, and a folder the user may not list cannot be opened to be synced; neither is a failure
// of the replacement.
DWORD SyncFolder(const Folder& folder) {
    if (!folder.syncable) return win::ERROR_SUCCESS;
    const int err = Synced(folder.fd.get(), 'd');
    return err == 0 || err == EINVAL || err == EROFS ? win::ERROR_SUCCESS : CodeOf(err);
}

// The save through a temporary file beside the target: made, written and synced, then put in the
// target's place, the folder synced after. Where the folder takes no new file from the user, or
// the new file cannot keep what the old one has, the target is written in place.
DWORD ThroughNewFile(Save& save, const std::function<bool(win::CFile&)>& write,
                     unsigned newFileMode) {
    std::string temporary;
    const Descriptor made(
        CreateTemporary(save.folder, save.name, save.exists ? 0600 : newFileMode, &temporary));
    const int fd = made.get();
    if (fd < 0) {
        const int err = errno;
        if (save.exists && IsDenied(err)) return MakeAndWriteInPlace(save, write, newFileMode);
        return CodeOf(FolderAware(err, save.target));
    }
    const auto removeTemporary = [&] { ::unlinkat(save.folder.fd.get(), temporary.c_str(), 0); };
    // Named through the folder's descriptor: a writer that opens its folder by this name opens
    // the very folder the file was made in, wherever it has been moved since.
    DWORD code = WriteThrough(
        fd, "/proc/self/fd/" + std::to_string(save.folder.fd.get()) + "/" + temporary, write);
    // The content is synced before the lock is waited for; what the file takes of the one it
    // replaces once that one is held, and synced again before the rename.
    if (code == win::ERROR_SUCCESS) code = CodeOf(Synced(fd, 'f'));
    bool inPlace = false;
    bool makeTarget = false;
    if (code == win::ERROR_SUCCESS) code = TakeThePlace(save, fd, temporary, &inPlace, &makeTarget);
    if (inPlace) {
        struct stat status {};
        std::string next;
        code = ::fstat(fd, &status) != 0
                   ? CodeOf(errno)
                   : ReadWhole(fd, static_cast<std::uint64_t>(status.st_size), save.limit, next);
        removeTemporary();
        if (code == win::ERROR_SUCCESS && makeTarget)
            if (const int err = MadeEmpty(save.folder, save.name, newFileMode);
                err && err != EEXIST)
                code = CodeOf(err);
        return code == win::ERROR_SUCCESS
                   ? WriteInPlace(save.folder, save.name, next, save.limit, save.wait)
                   : code;
    }
    if (code != win::ERROR_SUCCESS) {
        removeTemporary();
        return code;
    }
    return SyncFolder(save.folder);
}

}  // namespace

DWORD ReplaceFile(const std::string& path, const std::function<bool(win::CFile&)>& write,
                  unsigned newFileMode) {
    return ReplaceNativeFile(win::ToNativePath(path), write, newFileMode);
}

DWORD ReplaceNativeFile(const std::string& native, const std::function<bool(win::CFile&)>& write,
                        unsigned newFileMode, const SaveTurnHeld* turn) {
    Save save;
    save.wait = LockWait(turn);
    if (const DWORD code = Begin(native, &save); code != win::ERROR_SUCCESS) return Fail(code);
    RemoveLeftovers(save.folder, save.name, save.exists ? &save.info : nullptr);
    if (InPlaceFromTheStart(save)) return Fail(MakeAndWriteInPlace(save, write, newFileMode));
    return Fail(ThroughNewFile(save, write, newFileMode));
}

std::string LockedText(std::chrono::milliseconds waited) {
    const auto ms = waited.count();
    return "locked by another process (waited " +
           (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s)" : std::to_string(ms) + " ms)");
}

void replace_testing::FailNext(Step step, int err) {
    g_failingErrno = err;
    g_failingStep = step;
}

void replace_testing::SetLockWait(std::chrono::milliseconds bound) {
    g_lockWaitMs = bound.count();
}

void replace_testing::PauseAt(Pause where, std::chrono::milliseconds span) {
    g_pauseMs = span.count();
    g_pauseAt = where;
}

std::string replace_testing::Steps() {
    const std::lock_guard<std::mutex> guard(g_stepsMutex);
    std::string steps;
    steps.swap(g_steps);
    return steps;
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
