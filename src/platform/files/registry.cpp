// The registry over three ".reg"-file hives. One lock guards the hives and the open handles; it
// is never held while a file lock is waited for or a file written, so reads answer from memory.
// Hives load on first use and are read again when their file has been replaced (another process
// saved settings). Every write to the current-user hive rewrites its file by the platform's safe
// replacement (temporary file in the same folder, then rename), so a crash never leaves half a
// file; changes of several processes take turns from reading the file to replacing it
// (SaveTurn), and a change starts from what the file holds once the turn is taken.
#include "platform/files/registry.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/core/confighome.h"
#include "platform/core/lasterror.h"
#include "platform/core/notify.h"
#include "platform/core/path.h"
#include "platform/files/file.h"
#include "platform/files/filelock.h"
#include "platform/files/regfile.h"

namespace win {

struct RegKey {
    int hive = 0;
    std::string path;  // normalised, relative to the hive root
    REGSAM access = 0;
};

namespace {

using quorin::JoinNative;
using quorin::Planted;
using quorin::reg::Hive;
using quorin::reg::Key;

constexpr int kHives = 3;
constexpr std::array<std::string_view, kHives> kRootNames{"HKEY_CURRENT_USER", "HKEY_USERS",
                                                          "HKEY_LOCAL_MACHINE"};
// A settings file is a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxHiveFileBytes = 16u << 20;
using Clock = std::chrono::steady_clock;

// The bound of all the waits of one change for a lock, as of every save's (tests shorten it).
std::atomic<std::chrono::milliseconds::rep> g_lockWaitMs{quorin::kSaveLockWait.count()};

// The three predefined keys; built on first use, so that static objects elsewhere may read
// settings while the program starts.
RegKey* Roots() {
    static RegKey roots[kHives] = {
        {0, "", KEY_ALL_ACCESS}, {1, "", KEY_ALL_ACCESS}, {2, "", KEY_ALL_ACCESS}};
    return roots;
}

// What a hive file looked like when it was read or written: a reader that finds it changed (as
// another process's save by rename changes it) reads it again; a change compares the content.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.mtimeNs =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

struct State {
    std::mutex mutex;
    std::array<Hive, kHives> hives;
    std::array<bool, kHives> loaded{};
    std::array<bool, kHives> fromFile{};  // false for hives seeded in memory (tests)
    std::array<std::string, kHives> paths;
    std::array<FileStamp, kHives> stamps;
    // The file held what this layer could not read (lines of it, or all of it): the first save
    // keeps a copy of it.
    std::array<bool, kHives> keepOriginal{};
    // The current-user file as this process last read or wrote it: how its read ended, and what
    // it held.
    DWORD fileCode = ERROR_FILE_NOT_FOUND;
    std::string fileBytes;
    std::unordered_set<RegKey*> open;
    bool saveFailureNoticed = false;
};

State& TheState() {
    static auto* state = new State;  // outlives static destructors that may read settings
    return *state;
}

// Notices are raised after the lock is released: a handler may read settings itself.
using Notices = std::vector<std::string>;

void Emit(const Notices& notices) {
    for (const std::string& text : notices) Notify("Registry", text);
}

std::string HiveFilePath(int which) {
    switch (which) {
        case 0:
            return registry::UserHivePath();
        case 1:
            return "/etc/quorin/default-user.reg";
        default:
            return "/etc/quorin/machine.reg";
    }
}

// True when every line was understood.
bool ParseInto(Hive& hive, int which, std::string_view bytes, const std::string& source,
               Notices& notices) {
    quorin::reg::ParseResult result = quorin::reg::ParseRegText(bytes, kRootNames[which], hive);
    if (result.malformedLines == 0) return true;
    notices.push_back(source + ": " + std::to_string(result.malformedLines) +
                      " malformed line(s) skipped, the first at line " +
                      std::to_string(result.firstMalformedLine));
    return false;
}

// Why the file at `path` failed with the library's `code`, in the system's words (strerror's); a
// lock held past the bound after a wait of `waited`.
std::string ErrorText(const std::string& path, DWORD code,
                      std::chrono::milliseconds waited = std::chrono::milliseconds(0)) {
    if (code == ERROR_SHARING_VIOLATION) return quorin::LockedText(waited);
    int err = ErrnoFromLastError(code);
    struct stat info {};
    if (err == ENOENT) {
        // One code for a missing file and for a file on its path where a folder should be.
        if (::stat(path.c_str(), &info) != 0 && errno != ENOENT) err = errno;
    } else if (err == EACCES) {
        // One code for a file the user may not touch and for a folder in its place.
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) err = EISDIR;
    } else if (err == ENODEV) {
        return "not a regular file";  // a pipe, device or socket: ENODEV's "No such device"
    }
    return std::strerror(err != 0 ? err : EIO);  // a code of no errno: a failing device
}

// The content of the regular file at the host path `native`, as ReadRegularFile reads it.
DWORD ReadNative(const std::string& native, std::string& out) {
    out.clear();
    struct stat info {};
    const int fd = quorin::OpenFileDescriptor(native, O_RDONLY, true, &info);
    if (fd < 0) return LastErrorFromErrno(errno);
    const DWORD code =
        quorin::ReadWhole(fd, static_cast<std::uint64_t>(info.st_size), kMaxHiveFileBytes, out);
    ::close(fd);
    if (code != ERROR_SUCCESS) out.clear();
    return code;
}

// Loads hive `which` from what its file `path` held: `bytes`, or the failure `code`.
void LoadFromBytes(State& state, int which, const std::string& path, DWORD code,
                   const std::string& bytes, Notices& notices) {
    Hive hive;
    state.paths[which] = path;
    state.fromFile[which] = true;
    state.keepOriginal[which] = false;
    if (which == 0) {
        state.fileCode = code;
        state.fileBytes = bytes;
    }
    if (code == ERROR_SUCCESS)
        state.keepOriginal[which] = !ParseInto(hive, which, bytes, path, notices);
    else if (code == ERROR_FILE_TOO_LARGE)
        notices.push_back(path + ": too large for a settings file, not read");
    else if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
        notices.push_back(path + ": could not be read (" + ErrorText(path, code) + ")");
    // A missing file is an empty hive; one that is there but was not read must not be replaced
    // by what little a save would put in it.
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
        state.keepOriginal[which] = true;
    state.hives[which] = std::move(hive);
    state.loaded[which] = true;
}

void LoadFromFile(State& state, int which, Notices& notices) {
    const std::string path = HiveFilePath(which);
    // Stamped before reading: a file replaced in between is simply read again next time.
    state.stamps[which] = StampOf(path);
    std::string bytes;
    const DWORD code = ReadNative(path, bytes);
    LoadFromBytes(state, which, path, code, bytes, notices);
}

Hive& LoadedHive(State& state, int which, Notices& notices) {
    if (!state.loaded[which]) {
        LoadFromFile(state, which, notices);
    } else if (state.fromFile[which]) {
        const std::string path = HiveFilePath(which);
        if (path != state.paths[which] || !(StampOf(path) == state.stamps[which]))
            LoadFromFile(state, which, notices);
    }
    return state.hives[which];
}

// The path through the process file system of `name` in the folder open as `fd`: opened there,
// a name reaches the file in that folder whatever has been renamed on the way since.
std::string Through(int fd, const std::string& name) {
    return "/proc/self/fd/" + std::to_string(fd) + "/" + name;
}

bool OwnFolder(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

std::string OthersFolderText(const std::string& folder) {
    return "the folder " + folder +
           " belongs to another user (settings are saved only in the user's own folders, unless "
           "QUORIN_CONFIG_DIR names a settings folder on purpose)";
}

// The descriptors of the lock files this process holds open. A turn is its lock file's open file
// description's, which a child forked without exec would share and keep past the parent's close,
// holding the turn for as long as it lives: the child closes them at its start. Opened and closed
// only with the mutex held, which a fork waits for, so that a child never has one it does not
// know of.
struct TurnFiles {
    std::mutex mutex;
    std::vector<int> open;
};

TurnFiles& TheTurnFiles() {
    static auto* files = [] {
        auto* made = new TurnFiles;
        (void)::pthread_atfork([] { TheTurnFiles().mutex.lock(); },
                               [] { TheTurnFiles().mutex.unlock(); },
                               [] {
                                   TurnFiles& files = TheTurnFiles();
                                   for (const int fd : files.open) ::close(fd);
                                   files.open.clear();
                                   files.mutex.unlock();
                               });
        return made;
    }();
    return *files;
}

// `open` run with the mutex held, its descriptor (or -1, errno set) kept in the list.
int OpenTurnFile(const std::function<int()>& open) {
    TurnFiles& files = TheTurnFiles();
    std::lock_guard lock(files.mutex);
    const int fd = open();
    if (fd < 0) return -1;
    try {
        files.open.push_back(fd);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        errno = ENOMEM;
        return -1;
    }
    return fd;
}

void CloseTurnFile(int fd) {
    TurnFiles& files = TheTurnFiles();
    std::lock_guard lock(files.mutex);
    files.open.erase(std::remove(files.open.begin(), files.open.end(), fd), files.open.end());
    ::close(fd);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The current-user hive's turn: a write lock (open-file-description) of the lock file that stays
// beside the file the settings' links lead to ("user.reg.lock" for a plain user.reg), so that two
// names of one file share one turn. Only a descriptor open for writing takes that lock, and the
// lock file has the settings file's write permissions as they are now, each with its read bit (a
// read lock would keep a write lock out): no user who may not write the settings can make a save
// wait, whatever else of the folder they hold. A settings file another user planted in a shared
// folder is not saved, and lends the lock file nothing. One bound, from the change's start,
// serves every wait of the change: the turn's, the copy's and the file's own. A lock file that
// cannot be made refuses the save with the reason: a save without turns could lose values it
// reports saved. The turn goes with the descriptor, and is the turn only while the lock file's
// name names the file locked: one removed (as a user removes a lock file that looks stuck) or
// replaced while its lock was waited for is given up for the one the name names then.
class SaveTurn {
  public:
    SaveTurn()
        : m_start(Clock::now()), m_held{m_start + std::chrono::milliseconds(g_lockWaitMs.load())} {}
    SaveTurn(const SaveTurn&) = delete;
    SaveTurn& operator=(const SaveTurn&) = delete;
    ~SaveTurn() {
        for (const int fd : {m_fence, m_lock})
            if (fd >= 0) CloseTurnFile(fd);
        for (const int fd : {m_target, m_folder})
            if (fd >= 0) ::close(fd);
    }

    void Take() {
        m_folder = registry::OpenUserFolder(&m_code, &m_reason);
        if (m_folder < 0) return;
        if (const int err = FollowHiveLinks()) return Fail(err);
        struct stat folder {};
        struct stat hive {};
        if (::fstat(m_target, &folder) != 0) return Fail(errno);
        const bool exists = ::fstatat(m_target, m_name.c_str(), &hive, 0) == 0;
        if (exists && Planted(folder, hive)) {
            m_reason = "it belongs to another user";
            return Fail(EACCES);
        }
        const mode_t write = exists ? hive.st_mode & 0222 : 0200;
        const Writers writers{write | (write << 1), exists ? hive.st_gid : folder.st_gid};
        for (;;) {
            if (const int err = OpenLock(folder, writers)) return Fail(err);
            if (const int err = quorin::LockForWritingUntil(m_lock, m_held.deadline))
                return Fail(err);
            if (Kept()) break;
            CloseTurnFile(std::exchange(m_lock, -1));
            if (Clock::now() >= m_held.deadline) return Fail(EWOULDBLOCK);
        }
        if (const int err = Fence()) return Fail(err);
        m_code = ERROR_SUCCESS;
    }
    // Whether the turn taken is still the turn: the lock file's name names the file locked.
    bool Kept() const {
        struct stat held {};
        struct stat named {};
        return m_lock >= 0 && ::fstat(m_lock, &held) == 0 && held.st_nlink != 0 &&
               ::fstatat(m_target, LockName().c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
               SameFile(held, named);
    }
    // Lets the turn go and takes it again, within the change's one bound.
    void TakeAgain() {
        for (int* fd : {&m_fence, &m_lock})
            if (*fd >= 0) CloseTurnFile(std::exchange(*fd, -1));
        for (int* fd : {&m_target, &m_folder})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
        m_code = ERROR_SUCCESS;
        m_reason.clear();
        Take();
    }
    // ERROR_SUCCESS while the turn is held, ERROR_SHARING_VIOLATION when another process held it
    // past the bound, or the failure; Reason() says why where the code alone does not.
    DWORD Code() const { return m_code; }
    const std::string& Reason() const { return m_reason; }
    // The settings file and its copy, reached through the folders the turn holds open.
    std::string Hive() const { return Through(m_target, m_name); }
    std::string Backup() const { return Through(m_folder, std::string(kHiveName) + ".bak"); }
    const quorin::SaveTurnHeld& Held() const { return m_held; }
    // The time the change has waited when refused on a lock: its bound, at most.
    std::chrono::milliseconds Waited() const {
        return std::min(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start),
            std::chrono::milliseconds(g_lockWaitMs.load()));
    }

  private:
    void Fail(int err) {
        m_code = err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : LastErrorFromErrno(err);
    }

    // Who may write the settings file now: its mode's write bits each with its read bit, and its
    // group.
    struct Writers {
        mode_t mode;
        gid_t group;
    };

    std::string LockName() const { return m_name + ".lock"; }

    // Opens the lock file into m_lock, made when missing (the folder's owner's, with the
    // settings' group, where root makes it: a user's named folder stays usable by that user);
    // 0 or the errno value, m_reason saying why. A lock file of the user's own that lets fewer
    // open it than may write the settings is opened to them; one that lets more (the settings'
    // mode narrowed since it was made) is removed and made afresh, for any of those may hold a
    // description of it open already.
    int OpenLock(const struct stat& folder, const Writers& writers) {
        const std::string lockName = LockName();
        // The writers' bits, those of the group only where the lock file has the settings'.
        const auto allowed = [&](const struct stat& lock) {
            return writers.mode & (lock.st_gid == writers.group ? 0666 : 0606);
        };
        for (bool widened = false;;) {
            m_lock = OpenTurnFile([&] {
                return ::openat(m_target, lockName.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                writers.mode & 0600);
            });
            const bool made = m_lock >= 0;
            struct stat lock {};
            if (made) {
                if (::fchown(m_lock, folder.st_uid, writers.group) != 0)
                    (void)::fchown(m_lock, static_cast<uid_t>(-1), writers.group);
            } else if (errno != EEXIST) {
                return LockFailure(errno, true);
            } else {
                m_lock = OpenTurnFile([&] {
                    return quorin::OpenFileDescriptorAt(m_target, lockName, O_RDWR | O_NOFOLLOW,
                                                        true);
                });
                const int err = errno;
                if (m_lock < 0 && err == ENOENT && Clock::now() < m_held.deadline)
                    continue;  // removed since it was found there
                if (m_lock < 0 && err == EACCES && !widened &&
                    ::fstatat(m_target, lockName.c_str(), &lock, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(lock.st_mode) && lock.st_uid == ::geteuid() &&
                    (allowed(lock) & ~lock.st_mode) != 0) {
                    widened =
                        ::fchmodat(m_target, lockName.c_str(),
                                   (lock.st_mode & 0777) | allowed(lock), AT_SYMLINK_NOFOLLOW) == 0;
                    if (widened) continue;
                }
                if (m_lock < 0) return LockFailure(err, false);
            }
            if (::fstat(m_lock, &lock) != 0) return LockFailure(errno, false);
            if (Planted(folder, lock)) {
                m_reason = "its lock file " + lockName + " belongs to another user";
                return EACCES;
            }
            const mode_t mode = allowed(lock);
            if (made || (lock.st_mode & 0777 & ~mode) == 0) {
                // Beyond the mask where made; opened to the writers where it let fewer.
                if ((lock.st_mode & 0777) != mode && (made || lock.st_uid == ::geteuid()))
                    (void)::fchmod(m_lock, mode);
                return 0;
            }
            struct stat named {};
            if (::fstatat(m_target, lockName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                SameFile(named, lock) && ::unlinkat(m_target, lockName.c_str(), 0) != 0) {
                m_reason = "its lock file " + lockName +
                           " lets users who may not write the settings take turns, and could "
                           "not be made afresh (" +
                           std::strerror(errno) + ")";
                return EACCES;
            }
            CloseTurnFile(std::exchange(m_lock, -1));
            if (Clock::now() >= m_held.deadline) return EWOULDBLOCK;
        }
    }

    // A change of another process whose lock file was removed while it held the turn may still
    // be under way: the turn holds a write lock of the settings file read under it (m_fence), so
    // that such a change is waited for before the file is read, its write ended. A read lock,
    // which anybody who may read the file can hold, is no change under way: then no lock is held,
    // and nothing waited for. 0 or the errno value.
    int Fence() {
        for (std::chrono::microseconds pause{100};; pause = std::min<std::chrono::microseconds>(
                                                        pause * 2, std::chrono::milliseconds{50})) {
            struct stat named {};
            struct stat held {};
            // Only a regular file is opened (opening a device may act on it).
            if (::fstatat(m_target, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(named.st_mode))
                return 0;
            const int fd = OpenTurnFile([&] {
                return ::openat(m_target, m_name.c_str(),
                                O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            });
            if (fd < 0) return 0;  // gone, or not the user's to write: the save tells
            struct flock whole {};
            whole.l_type = F_WRLCK;
            whole.l_whence = SEEK_SET;
            if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) {
                if (::fstat(fd, &held) == 0 && SameFile(held, named)) {
                    m_fence = fd;
                    return 0;
                }
                CloseTurnFile(fd);  // replaced meanwhile: the file there now
                continue;
            }
            whole.l_type = F_WRLCK;
            const bool got = ::fcntl(fd, F_OFD_GETLK, &whole) == 0;
            CloseTurnFile(fd);
            if (!got || whole.l_type == F_RDLCK) return 0;
            if (whole.l_type == F_UNLCK) continue;
            if (Clock::now() >= m_held.deadline) return EWOULDBLOCK;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(pause).count();
            const timespec span{0, static_cast<long>(ns)};
            ::nanosleep(&span, nullptr);
        }
    }

    // The failure to make or open the lock file, m_reason saying which and why (with what to do
    // where the folder takes no new file from the user); the errno value.
    int LockFailure(int err, bool making) {
        if (err == ELOOP) err = ENODEV;  // a link in its place
        m_reason = "its lock file " + LockName() +
                   (making ? " could not be made (" : " could not be opened (") +
                   (err == ENODEV ? "not a regular file" : std::strerror(err)) + ")";
        if (making && (err == EACCES || err == EPERM))
            m_reason +=
                ": have it made there, writable by those who may write the settings, or name "
                "another folder in QUORIN_CONFIG_DIR";
        return err;
    }

    // Follows the links of the settings file from the settings folder, as the system's own path
    // walk would (a link another user planted in a sticky folder is not followed), to the folder
    // (m_target) and name of the file they lead to, which need not exist. 0 or the errno value.
    int FollowHiveLinks() {
        m_target = ::fcntl(m_folder, F_DUPFD_CLOEXEC, 0);
        m_name = kHiveName;
        for (int hops = 0; m_target >= 0; ++hops) {
            struct stat link {};
            if (::fstatat(m_target, m_name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISLNK(link.st_mode))
                return 0;
            struct stat folder {};
            if (hops == kMaxLinkHops) return ELOOP;
            if (::fstat(m_target, &folder) != 0) return errno;
            if (Planted(folder, link)) return EACCES;
            std::string text(PATH_MAX, '\0');
            const ssize_t n = ::readlinkat(m_target, m_name.c_str(), text.data(), text.size());
            if (n < 0) return errno;
            if (static_cast<std::size_t>(n) >= text.size()) return ENAMETOOLONG;
            text.resize(static_cast<std::size_t>(n));
            const std::size_t slash = text.find_last_of('/');
            m_name = slash == std::string::npos ? text : text.substr(slash + 1);
            if (m_name.empty() || m_name == "." || m_name == "..") return EISDIR;
            if (slash == std::string::npos) continue;
            const std::string where = slash == 0 ? "/" : text.substr(0, slash);
            const int next = ::openat(m_target, where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(m_target);
            m_target = next;
        }
        return errno;
    }

    static constexpr const char* kHiveName = "user.reg";
    static constexpr int kMaxLinkHops = 40;  // as the system's own path walk
    Clock::time_point m_start;
    quorin::SaveTurnHeld m_held;
    int m_folder = -1;
    int m_target = -1;  // the folder of the file the settings' links lead to
    int m_lock = -1;
    int m_fence = -1;    // the settings file read under the turn, write-locked
    std::string m_name;  // that file's name there
    DWORD m_code = ERROR_SUCCESS;
    std::string m_reason;
};

void NoteSaveFailure(State& state, Notices& notices, std::string text) {
    if (state.saveFailureNoticed) return;
    state.saveFailureNoticed = true;
    notices.push_back(std::move(text));
}

bool Missing(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The current-user hive as its file holds it now, read again under the turn (`code`, `bytes`):
// whatever its times say, a file whose content differs from what this process last read or
// wrote is loaded again. One that cannot be read now, though it could be before, is not
// replaced. A hive seeded in memory (tests) stays as it is, and is saved afresh.
Hive& HiveUnderTurn(State& state, DWORD code, const std::string& bytes, Notices& notices) {
    const std::string path = HiveFilePath(0);
    if (!state.loaded[0] || (state.fromFile[0] && path != state.paths[0])) {
        LoadFromBytes(state, 0, path, code, bytes, notices);
    } else if (state.fromFile[0]) {
        const bool same = Missing(code) ? Missing(state.fileCode)
                                        : code == state.fileCode && bytes == state.fileBytes;
        if (!same && (code == ERROR_SUCCESS || Missing(code)))
            LoadFromBytes(state, 0, path, code, bytes, notices);
        else if (!same)
            state.keepOriginal[0] = true;
    }
    return state.hives[0];
}

// What a change saves, taken under the state's lock and written without it.
struct PendingSave {
    std::string text;
    bool keepOriginal = false;
    DWORD originalCode = ERROR_SUCCESS;
    std::string original;  // what the file held under the turn
    bool remade = false;   // the change made again on what another change saved meanwhile
};

// The changes of `mine` over `base` (keys made, values set: a change removes nothing), made again
// on `theirs`.
void Reapply(Hive& base, const Hive& mine, Hive& theirs) {
    for (const auto& [upper, key] : mine.keys) {
        const Key* was = quorin::reg::FindKey(base, key.path);
        if (was == nullptr) quorin::reg::EnsureKey(theirs, key.path);
        for (const auto& [name, value] : key.values) {
            const auto old = was != nullptr ? was->values.find(name) : key.values.end();
            const bool same = was != nullptr && old != was->values.end() &&
                              old->second.type == value.type && old->second.data == value.data;
            if (!same) quorin::reg::EnsureKey(theirs, key.path).values[name] = value;
        }
    }
}

// Writes `save->text` to the settings file while the turn taken is kept. A lock file removed
// while its turn was held (as a user removes one that looks stuck) lets another change begin
// meanwhile on the file as it was: where the turn is found gone before the write, or after it
// with the file no longer holding what was written, the turn is taken again and the change made
// again on what the file holds then. `save->text` is what the file holds once saved.
DWORD WriteWhileKept(const std::string& path, SaveTurn& turn, PendingSave* save,
                     std::string* failure) {
    const std::string mine = save->text;
    for (;;) {
        bool kept = true;
        DWORD code = quorin::ReplaceNativeFile(
            turn.Hive(),
            [&](CFile& file) {
                if (!(kept = turn.Kept())) return false;
                file.Write(save->text.data(), static_cast<std::uint32_t>(save->text.size()));
                return true;
            },
            0600, &turn.Held());
        if (kept && (code != ERROR_SUCCESS || turn.Kept())) {
            if (code != ERROR_SUCCESS)
                *failure = "settings could not be saved to " + path + ": " +
                           ErrorText(path, code, turn.Waited());
            return code;
        }
        turn.TakeAgain();
        std::string bytes;
        const DWORD read = turn.Code() == ERROR_SUCCESS ? ReadNative(turn.Hive(), bytes) : 0;
        if (turn.Code() != ERROR_SUCCESS || (read != ERROR_SUCCESS && !Missing(read))) {
            code = turn.Code() != ERROR_SUCCESS ? turn.Code() : read;
            *failure =
                "settings could not be saved to " + path + ": " +
                (!turn.Reason().empty() ? turn.Reason() : ErrorText(path, code, turn.Waited()));
            return code;
        }
        if (code == ERROR_SUCCESS && read == ERROR_SUCCESS && bytes == save->text)
            return ERROR_SUCCESS;  // what was written stands
        Hive base, theirs, changed;
        quorin::reg::ParseResult parsed;
        if (read == ERROR_SUCCESS) parsed = quorin::reg::ParseRegText(bytes, kRootNames[0], theirs);
        if (parsed.malformedLines != 0) {  // not rewritten without a copy
            *failure = "settings could not be saved to " + path + ": " +
                       ErrorText(path, ERROR_SHARING_VIOLATION, turn.Waited());
            return ERROR_SHARING_VIOLATION;
        }
        if (save->originalCode == ERROR_SUCCESS)
            quorin::reg::ParseRegText(save->original, kRootNames[0], base);
        quorin::reg::ParseRegText(mine, kRootNames[0], changed);
        Reapply(base, changed, theirs);
        save->text = quorin::reg::WriteRegText(theirs, kRootNames[0]);
        save->remade = true;
    }
}

// Writes the current-user hive's text to its file `path` in the turn `turn` took, its original
// copied first where it held what could not be read; the error code, ERROR_SUCCESS when the file
// is in place, and `*failure` the notice of a failed save.
DWORD WriteUserHive(const std::string& path, SaveTurn& turn, PendingSave& save,
                    std::string* failure) {
    const auto bytesOf = [](std::string_view bytes) {
        return [bytes](CFile& file) {
            file.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            return true;
        };
    };
    DWORD code = ERROR_SUCCESS;
    const std::string backup = path + ".bak";
    if (save.keepOriginal) {
        // Rewriting drops what could not be read; the user's original stays beside it, and
        // without that copy the file is not rewritten.
        if ((code = save.originalCode) != ERROR_SUCCESS) {
            *failure = "settings not saved to " + path + ": it could not be read to copy it to " +
                       backup + ": " + ErrorText(path, code, turn.Waited());
        } else if ((code = quorin::ReplaceNativeFile(turn.Backup(), bytesOf(save.original), 0600,
                                                     &turn.Held())) != ERROR_SUCCESS) {
            *failure = "settings not saved to " + path + ": its copy " + backup +
                       " could not be written: " + ErrorText(backup, code, turn.Waited());
        }
    }
    // Only the user reads the settings: a new hive file is private.
    return code == ERROR_SUCCESS ? WriteWhileKept(path, turn, &save, failure) : code;
}

// One change of the current-user hive: `change` runs, under the state's lock, on a copy of the
// hive as its file holds it once the turn is taken, and answers its status, `*save` set when the
// hive is to be saved. The copy replaces the hive only once the file holds it: a change refused
// leaves nothing that a later read or save could find. No lock of the state is held while the
// turn is waited for or the file written: another thread reads the settings meanwhile from memory.
LONG ChangeUserHive(State& state, Notices& notices,
                    const std::function<LONG(Hive&, bool*)>& change) {
    const std::string path = HiveFilePath(0);
    SaveTurn turn;
    turn.Take();
    std::string bytes;
    const DWORD read = turn.Code() == ERROR_SUCCESS ? ReadNative(turn.Hive(), bytes) : 0;
    PendingSave pending;
    Hive hive;
    {
        std::lock_guard lock(state.mutex);
        hive = turn.Code() == ERROR_SUCCESS ? HiveUnderTurn(state, read, bytes, notices)
                                            : LoadedHive(state, 0, notices);
        bool save = false;
        const LONG status = change(hive, &save);
        if (status != ERROR_SUCCESS || !save) return status;
        if (turn.Code() != ERROR_SUCCESS) {
            const std::string reason = !turn.Reason().empty()
                                           ? turn.Reason()
                                           : ErrorText(path, turn.Code(), turn.Waited());
            NoteSaveFailure(state, notices,
                            "settings could not be saved to " + path + ": " + reason);
            return static_cast<LONG>(turn.Code());
        }
        pending = {quorin::reg::WriteRegText(hive, kRootNames[0]), state.keepOriginal[0], read,
                   bytes};
    }
    std::string failure;
    const DWORD code = WriteUserHive(path, turn, pending, &failure);
    std::lock_guard lock(state.mutex);
    if (code != ERROR_SUCCESS) {
        // The file is as it was: the next save copies it again.
        NoteSaveFailure(state, notices, failure);
        return static_cast<LONG>(code);
    }
    if (state.keepOriginal[0]) {
        state.keepOriginal[0] = false;
        notices.push_back(path +
                          " is rewritten without its unreadable lines; the original is kept as " +
                          path + ".bak");
    }
    // The file now holds exactly this hive; from here on the hive follows the file.
    if (pending.remade) {  // made again on what another change saved meanwhile
        LoadFromBytes(state, 0, path, ERROR_SUCCESS, pending.text, notices);
    } else {
        state.hives[0] = std::move(hive);
        state.loaded[0] = true;
    }
    state.stamps[0] = StampOf(path);
    state.paths[0] = path;
    state.fromFile[0] = true;
    state.fileCode = ERROR_SUCCESS;
    state.fileBytes = std::move(pending.text);
    return ERROR_SUCCESS;
}

// The key behind a handle, or null for a handle that is neither a root nor open.
RegKey* Resolve(State& state, HKEY key) {
    for (int which = 0; which < kHives; ++which)
        if (key == &Roots()[which]) return key;
    return (key != nullptr && state.open.count(key) != 0) ? key : nullptr;
}

std::string ChildPath(const RegKey& base, const char* subKey) {
    std::string sub = quorin::reg::NormaliseKeyPath(subKey != nullptr ? subKey : "");
    if (base.path.empty()) return sub;
    if (sub.empty()) return base.path;
    return base.path + "\\" + sub;
}

const quorin::reg::Value* FindValue(Hive& hive, const RegKey& key, const char* name) {
    Key* found = quorin::reg::FindKey(hive, key.path);
    if (found == nullptr) return nullptr;
    auto it = found->values.find(quorin::reg::UpperKey(name != nullptr ? name : ""));
    return it == found->values.end() ? nullptr : &it->second;
}

LONG NewHandle(State& state, int hive, const Key& key, REGSAM access, HKEY* result) {
    auto* handle = new (std::nothrow) RegKey{hive, key.path, access};
    if (handle == nullptr) return static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
    state.open.insert(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

}  // namespace

HKEY RootKey(int which) {
    return (which >= 0 && which < kHives) ? &Roots()[which] : nullptr;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD /*options*/, REGSAM access, HKEY* result) {
    if (result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    State& state = TheState();
    Notices notices;
    LONG status = ERROR_SUCCESS;
    {
        std::lock_guard lock(state.mutex);
        RegKey* base = Resolve(state, key);
        if (base == nullptr) {
            status = static_cast<LONG>(ERROR_INVALID_HANDLE);
        } else {
            Key* found = quorin::reg::FindKey(LoadedHive(state, base->hive, notices),
                                              ChildPath(*base, subKey));
            status = found == nullptr ? static_cast<LONG>(ERROR_FILE_NOT_FOUND)
                                      : NewHandle(state, base->hive, *found, access, result);
        }
    }
    Emit(notices);
    return status;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD /*reserved*/, char* /*className*/,
                     DWORD /*options*/, REGSAM access, void* /*security*/, HKEY* result,
                     DWORD* disposition) {
    if (result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (subKey != nullptr && !quorin::reg::NameFits(subKey))
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    State& state = TheState();
    Notices notices;
    LONG status = ERROR_SUCCESS;
    // The handle of a key to be made, ready before the change: once the key is saved, its
    // handle is all that is left to give.
    std::unique_ptr<RegKey> made;
    // A key that exists is opened; one to make is made under the turn, on the hive as the file
    // holds it then (where the key may have appeared meanwhile).
    const auto open = [&](Hive& hive, int which, bool* save) {
        RegKey* base = Resolve(state, key);
        if (base == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
        const std::string path = ChildPath(*base, subKey);
        if (Key* found = quorin::reg::FindKey(hive, path)) {
            if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
            return NewHandle(state, which, *found, access, result);
        }
        // The shared hives are read-only here, as they are for an ordinary user.
        if (which != 0) return static_cast<LONG>(ERROR_ACCESS_DENIED);
        if (save == nullptr) return static_cast<LONG>(ERROR_MORE_DATA);  // to be made
        made->path = quorin::reg::EnsureKey(hive, path).path;
        *save = true;
        return static_cast<LONG>(ERROR_SUCCESS);
    };
    {
        std::lock_guard lock(state.mutex);
        RegKey* base = Resolve(state, key);
        status = base == nullptr
                     ? static_cast<LONG>(ERROR_INVALID_HANDLE)
                     : open(LoadedHive(state, base->hive, notices), base->hive, nullptr);
    }
    if (status == static_cast<LONG>(ERROR_MORE_DATA)) {
        made.reset(new (std::nothrow) RegKey{0, "", access});
        status = made == nullptr ? static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY)
                                 : ChangeUserHive(state, notices, [&](Hive& hive, bool* save) {
                                       return open(hive, 0, save);
                                   });
        // Made and saved; a key found made meanwhile has its handle already.
        if (status == ERROR_SUCCESS && *result == nullptr) {
            std::lock_guard lock(state.mutex);
            state.open.insert(made.get());
            *result = made.release();
            if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
        }
    }
    Emit(notices);
    return status;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
    if (reserved != nullptr || (data != nullptr && size == nullptr))
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    State& state = TheState();
    Notices notices;
    LONG status = ERROR_SUCCESS;
    {
        std::lock_guard lock(state.mutex);
        RegKey* handle = Resolve(state, key);
        if (handle == nullptr) {
            status = static_cast<LONG>(ERROR_INVALID_HANDLE);
        } else if ((handle->access & KEY_QUERY_VALUE) == 0) {
            status = static_cast<LONG>(ERROR_ACCESS_DENIED);
        } else {
            const quorin::reg::Value* value =
                FindValue(LoadedHive(state, handle->hive, notices), *handle, name);
            if (value == nullptr) {
                status = static_cast<LONG>(ERROR_FILE_NOT_FOUND);
            } else {
                const std::vector<BYTE>& bytes = value->data;
                const auto needed = static_cast<DWORD>(bytes.size());
                if (type != nullptr) *type = value->type;
                if (data != nullptr && *size < needed) {
                    status = static_cast<LONG>(ERROR_MORE_DATA);
                } else if (data != nullptr && needed > 0) {
                    std::memcpy(data, bytes.data(), needed);
                }
                if (size != nullptr) *size = needed;
            }
        }
    }
    Emit(notices);
    return status;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
    if ((data == nullptr && size > 0) || (name != nullptr && !quorin::reg::NameFits(name)))
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    State& state = TheState();
    Notices notices;
    // The handle is asked again under the turn: another thread may have closed it meanwhile.
    const auto check = [&] {
        RegKey* handle = Resolve(state, key);
        if (handle == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
        if ((handle->access & KEY_SET_VALUE) == 0 || handle->hive != 0)
            return static_cast<LONG>(ERROR_ACCESS_DENIED);
        return static_cast<LONG>(ERROR_SUCCESS);
    };
    LONG status = ERROR_SUCCESS;
    {
        std::lock_guard lock(state.mutex);
        status = check();
    }
    if (status == ERROR_SUCCESS)
        status = ChangeUserHive(state, notices, [&](Hive& hive, bool* save) {
            const LONG checked = check();
            if (checked != ERROR_SUCCESS) return checked;
            // A key that vanished with a reload comes back: the value is not lost.
            Key& target = quorin::reg::EnsureKey(hive, Resolve(state, key)->path);
            const std::string valueName = name != nullptr ? name : "";
            auto [it, inserted] = target.values.try_emplace(quorin::reg::UpperKey(valueName));
            if (inserted) it->second.name = valueName;
            it->second.type = type;
            it->second.data.assign(data, data + size);  // as given: a REG_SZ keeps or lacks its NUL
            *save = true;
            return static_cast<LONG>(ERROR_SUCCESS);
        });
    Emit(notices);
    return status;
}

LONG RegCloseKey(HKEY key) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    for (int which = 0; which < kHives; ++which)
        if (key == &Roots()[which]) return ERROR_SUCCESS;
    if (key == nullptr || state.open.erase(key) == 0)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    delete key;
    return ERROR_SUCCESS;
}

namespace registry {

void ReloadHives() {
    State& state = TheState();
    Notices notices;
    {
        std::lock_guard lock(state.mutex);
        for (int which = 0; which < kHives; ++which) LoadFromFile(state, which, notices);
        state.saveFailureNoticed = false;
    }
    Emit(notices);
}

void LoadHiveText(int which, std::string_view text) {
    if (which < 0 || which >= kHives) return;
    State& state = TheState();
    Notices notices;
    {
        std::lock_guard lock(state.mutex);
        Hive hive;
        ParseInto(hive, which, text, "settings text", notices);
        state.hives[which] = std::move(hive);
        state.loaded[which] = true;
        state.fromFile[which] = false;
        state.keepOriginal[which] = false;  // no file behind it to keep
    }
    Emit(notices);
}

void ClearHives() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    for (int which = 0; which < kHives; ++which) {
        state.hives[which] = Hive{};
        state.loaded[which] = true;
        state.fromFile[which] = false;
        state.keepOriginal[which] = false;
    }
}

void SetSaveLockWait(std::chrono::milliseconds bound) {
    g_lockWaitMs = bound.count();
    quorin::replace_testing::SetLockWait(bound);
}

std::string UserFolder() {
    const std::string named = quorin::EnvOrEmpty("QUORIN_CONFIG_DIR");
    return !named.empty() ? named : quorin::ConfigHome() + "/quorin";
}

std::string UserHivePath() {
    return JoinNative(UserFolder(), "user.reg");
}

int OpenUserFolder(DWORD* code, std::string* reason) {
    const auto fail = [&](int err, std::string why = {}) {
        *code = LastErrorFromErrno(err);
        *reason = std::move(why);
        return -1;
    };
    const std::string named = quorin::EnvOrEmpty("QUORIN_CONFIG_DIR");
    if (!named.empty()) {
        // As named, the folders missing on its way made private; a folder the user may write but
        // not list is opened as a place only.
        int made = 0;  // the first failure: the folder that could not be made stops the rest
        for (std::size_t at = named.find('/', 1);; at = named.find('/', at + 1)) {
            if (::mkdir(named.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST && made == 0)
                made = errno;
            if (at == std::string::npos) break;
        }
        const int fd = ::open(named.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        return fd >= 0 ? fd : fail(errno == ENOENT && made != 0 ? made : errno);
    }
    // The configuration home is reached by the system's path walk; from there on each folder is
    // opened through the one before it and must be the user's. A trailing "/" or "/." names the
    // folder before it (as a folder, which the walk asks anyway), so that folder is the last name
    // walked; ".." is left to the walk, which takes it after following what comes before it.
    std::string home = quorin::ConfigHome();
    while (home.size() > 1 && (home.back() == '/' || home.ends_with("/."))) home.pop_back();
    const std::size_t slash = home.find_last_of('/');
    std::string path = slash == std::string::npos ? "." : slash == 0 ? "/" : home.substr(0, slash);
    int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    const auto others = [&](const std::string& folder) {
        if (fd >= 0) ::close(fd);
        return fail(EACCES, OthersFolderText(folder));
    };
    const auto failed = [&](int err) {
        if (fd >= 0) ::close(fd);
        return fail(err);
    };
    for (const std::string& name : {home.substr(slash + 1), std::string("quorin")}) {
        struct stat info {};
        bool there = ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (!there && errno == ENOENT) {
            // Made private, and only inside a folder of the user's.
            if (!OwnFolder(fd)) return others(path);
            if (::mkdirat(fd, name.c_str(), 0700) != 0 && errno != EEXIST) return failed(errno);
            there = ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        }
        if (!there) return failed(errno);
        path = JoinNative(path, name);
        // A link is followed only when it is the user's own.
        const bool link = S_ISLNK(info.st_mode);
        if (link && info.st_uid != ::geteuid()) return others(path);
        const int next =
            ::openat(fd, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW));
        if (next < 0) return failed(errno == ELOOP ? ENOTDIR : errno);
        ::close(fd);
        fd = next;
        if (!OwnFolder(fd)) return others(path);
    }
    return fd;
}

}  // namespace registry

}  // namespace win
