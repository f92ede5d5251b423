// The registry over three ".reg"-file hives. One lock guards the hives and the open handles;
// hives load on first use and are read again when their file has been replaced (another process
// saved settings), so a write does not drop what another process saved before it. Every write to
// the current-user hive rewrites its file by the platform's safe replacement (temporary file in
// the same folder, then rename), so a crash never leaves half a file; changes of several
// processes take turns from reading the file to replacing it (SaveTurn).
#include "platform/files/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <unordered_set>
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

using quorin::reg::Hive;
using quorin::reg::Key;

constexpr int kHives = 3;
constexpr std::array<std::string_view, kHives> kRootNames{"HKEY_CURRENT_USER", "HKEY_USERS",
                                                          "HKEY_LOCAL_MACHINE"};
// A settings file is a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxHiveFileBytes = 16u << 20;
// The bound of the wait for the settings folder's lock, as of every save's (tests shorten it).
std::atomic<std::chrono::milliseconds::rep> g_lockWaitMs{quorin::kSaveLockWait.count()};

// The three predefined keys; built on first use, so that static objects elsewhere may read
// settings while the program starts.
RegKey* Roots() {
    static RegKey roots[kHives] = {
        {0, "", KEY_ALL_ACCESS}, {1, "", KEY_ALL_ACCESS}, {2, "", KEY_ALL_ACCESS}};
    return roots;
}

// What a hive file looked like when it was read or written: another process that saves the
// file (always by rename) changes it, and the hive is read again before it is used.
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

// Why the file at `path` failed with the library's `code`, in the system's words (strerror's).
std::string ErrorText(const std::string& path, DWORD code) {
    if (code == ERROR_SHARING_VIOLATION)
        return quorin::LockedText(std::chrono::milliseconds(g_lockWaitMs.load()));
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

void LoadFromFile(State& state, int which, Notices& notices) {
    Hive hive;
    const std::string path = HiveFilePath(which);
    // Stamped before reading: a file replaced in between is simply read again next time.
    state.stamps[which] = StampOf(path);
    state.paths[which] = path;
    state.fromFile[which] = true;
    state.keepOriginal[which] = false;
    std::string bytes;
    const DWORD code = quorin::ReadRegularFile(path, kMaxHiveFileBytes, bytes);
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

// Changes to the current-user hive take turns with other processes' from reading its file to
// replacing it, on an exclusive flock of the settings folder: a change made to a hive read before
// another process's save would drop that save's values while both report success. The folder,
// not the hive file: the save locks the file it replaces through a descriptor of its own (a
// caller holding that lock must not save it), and it puts a new file in the old one's place,
// which a lock on the old one does not reach; nor does a lock file stay behind in the folder. A
// folder that cannot be opened to be locked (one the user may write but not read) refuses the
// save with the reason: a save without turns could lose values it reports saved. The turn goes
// with the descriptor.
class SaveTurn {
  public:
    SaveTurn() = default;
    SaveTurn(const SaveTurn&) = delete;
    SaveTurn& operator=(const SaveTurn&) = delete;
    ~SaveTurn() {
        if (m_fd >= 0) ::close(m_fd);
    }

    // Takes the turn of the folder of the hive file `path`, made first when it is missing,
    // waiting at most the bound for another process's turn to end.
    void Take(const std::string& path) {
        m_asked = true;
        std::string folder = ToNativePath(PathFolder(path));
        if (folder.empty()) folder = ".";
        std::error_code made;
        std::filesystem::create_directories(folder, made);
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int err = m_fd < 0 ? errno
                           : quorin::LockExclusiveWithin(
                                 m_fd, std::chrono::milliseconds(g_lockWaitMs.load()));
        if (err == ENOENT && made) err = made.value();  // why the folder is missing
        m_code = err == 0             ? ERROR_SUCCESS
                 : err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
                                      : LastErrorFromErrno(err);
    }
    bool Asked() const { return m_asked; }
    // ERROR_SUCCESS while the turn is held, ERROR_SHARING_VIOLATION when another process held it
    // past the bound, or the failure.
    DWORD Code() const { return m_code; }

  private:
    int m_fd = -1;
    bool m_asked = false;
    DWORD m_code = ERROR_SUCCESS;
};

void NoteSaveFailure(State& state, Notices& notices, std::string text) {
    if (state.saveFailureNoticed) return;
    state.saveFailureNoticed = true;
    notices.push_back(std::move(text));
}

// Writes the whole current-user hive to its file `path` in the turn `turn` took; the error code,
// ERROR_SUCCESS when the file is in place.
DWORD SaveUserHive(State& state, const std::string& path, const SaveTurn& turn, Notices& notices) {
    if (turn.Code() != ERROR_SUCCESS) {
        NoteSaveFailure(
            state, notices,
            "settings could not be saved to " + path + ": " + ErrorText(path, turn.Code()));
        return turn.Code();
    }
    const std::string text = quorin::reg::WriteRegText(state.hives[0], kRootNames[0]);
    DWORD code = ERROR_SUCCESS;
    std::string failure;  // the notice of a failed save
    const std::string backup = path + ".bak";
    if (state.keepOriginal[0]) {
        // Rewriting drops what could not be read; the user's original stays beside it, and
        // without that copy the file is not rewritten.
        std::string original;
        code = quorin::ReadRegularFile(path, kMaxHiveFileBytes, original);
        if (code != ERROR_SUCCESS) {
            failure = "settings not saved to " + path + ": it could not be read to copy it to " +
                      backup + ": " + ErrorText(path, code);
        } else if ((code = quorin::ReplaceFileBytes(backup, original, 0600)) != ERROR_SUCCESS) {
            failure = "settings not saved to " + path + ": its copy " + backup +
                      " could not be written: " + ErrorText(backup, code);
        }
    }
    // Only the user reads the settings: a new hive file is private.
    if (code == ERROR_SUCCESS &&
        (code = quorin::ReplaceFileBytes(path, text, 0600)) != ERROR_SUCCESS)
        failure = "settings could not be saved to " + path + ": " + ErrorText(path, code);
    if (code != ERROR_SUCCESS) {
        // The file is as it was: the next save copies it again.
        NoteSaveFailure(state, notices, failure);
        return code;
    }
    if (state.keepOriginal[0]) {
        state.keepOriginal[0] = false;
        notices.push_back(
            path + " is rewritten without its unreadable lines; the original is kept as " + backup);
    }
    // The file now holds exactly this hive; from here on the hive follows the file.
    state.stamps[0] = StampOf(path);
    state.paths[0] = path;
    state.fromFile[0] = true;
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
    State& state = TheState();
    Notices notices;
    LONG status = ERROR_SUCCESS;
    const std::string file = registry::UserHivePath();
    SaveTurn turn;
    // True when the key is to be made and saved: the turn is taken, then the hive asked again.
    const auto attempt = [&] {
        std::lock_guard lock(state.mutex);
        RegKey* base = Resolve(state, key);
        if (base == nullptr) {
            status = static_cast<LONG>(ERROR_INVALID_HANDLE);
            return false;
        }
        Hive& hive = LoadedHive(state, base->hive, notices);
        const std::string path = ChildPath(*base, subKey);
        if (Key* found = quorin::reg::FindKey(hive, path)) {
            if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
            status = NewHandle(state, base->hive, *found, access, result);
        } else if (base->hive != 0) {
            // The shared hives are read-only here, as they are for an ordinary user.
            status = static_cast<LONG>(ERROR_ACCESS_DENIED);
        } else if (!turn.Asked()) {
            return true;
        } else {
            Key& created = quorin::reg::EnsureKey(hive, path);
            status = NewHandle(state, 0, created, access, result);
            if (status == ERROR_SUCCESS) {
                if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
                status = static_cast<LONG>(SaveUserHive(state, file, turn, notices));
            }
        }
        return false;
    };
    if (attempt()) {
        turn.Take(file);
        attempt();
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
    if (data == nullptr && size > 0) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    State& state = TheState();
    Notices notices;
    LONG status = ERROR_SUCCESS;
    const std::string file = registry::UserHivePath();
    SaveTurn turn;
    // True when the value may be set: the turn is taken, then the hive read again and changed.
    const auto attempt = [&] {
        std::lock_guard lock(state.mutex);
        RegKey* handle = Resolve(state, key);
        if (handle == nullptr) {
            status = static_cast<LONG>(ERROR_INVALID_HANDLE);
        } else if ((handle->access & KEY_SET_VALUE) == 0 || handle->hive != 0) {
            status = static_cast<LONG>(ERROR_ACCESS_DENIED);
        } else if (!turn.Asked()) {
            return true;
        } else {
            // A key that vanished with a reload comes back: the value is not lost.
            Key& target = quorin::reg::EnsureKey(LoadedHive(state, 0, notices), handle->path);
            const std::string valueName = name != nullptr ? name : "";
            auto [it, inserted] = target.values.try_emplace(quorin::reg::UpperKey(valueName));
            if (inserted) it->second.name = valueName;
            it->second.type = type;
            it->second.data.assign(data, data + size);  // as given: a REG_SZ keeps or lacks its NUL
            status = static_cast<LONG>(SaveUserHive(state, file, turn, notices));
        }
        return false;
    };
    if (attempt()) {
        turn.Take(file);
        attempt();
    }
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

std::string UserHivePath() {
    std::string folder = quorin::EnvOrEmpty("QUORIN_CONFIG_DIR");
    if (folder.empty()) folder = quorin::ConfigHome() + "/quorin";
    return PathJoin(folder, "user.reg");
}

}  // namespace registry

}  // namespace win
