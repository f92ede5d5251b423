// Device libraries through the dynamic loader, found only on the device-library search path.
#include "platform/system/devicelib.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "platform/core/confighome.h"
#include "platform/core/lasterror.h"
#include "platform/core/path.h"
#include "platform/files/registry.h"

namespace win {
namespace {

constexpr const char* kPathVariable = "QUORIN_DEVICE_LIBRARY_PATH";
constexpr const char* kSettingsKeys[] = {"Software\\QUORIN\\Devices",
                                         ".DEFAULT\\Software\\QUORIN\\Devices",
                                         "Software\\Classes\\QUORIN\\Devices"};

// The search path: the environment first, then the first settings layer that gives one.
std::string SearchPath() {
    std::string path = quorin::EnvOrEmpty(kPathVariable);
    if (!path.empty()) return path;
    for (int layer = 0; layer < 3; ++layer) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(RootKey(layer), kSettingsKeys[layer], 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        char text[4096] = {};
        DWORD type = REG_NONE;
        DWORD size = sizeof text - 1;
        const LONG status = RegQueryValueExA(key, "LibraryPath", nullptr, &type,
                                             reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_SZ && text[0] != '\0') return text;
    }
    return {};
}

// "Sensix.dll" -> "libSensix.so"; empty for a name without a stem.
std::string SharedObjectName(std::string_view name) {
    const std::size_t slash = name.find_last_of("/\\:");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && EqualsNoCase(name.substr(dot), ".dll"))
        name.remove_suffix(name.size() - dot);
    if (name.empty()) return {};
    return "lib" + std::string(name) + ".so";
}

// The library at `path` opened to be loaded, or -1: a regular file that belongs to this user or
// to root and that no other user may write. Loading runs the library's code as this user: one
// that another user may change (a library beside someone else's settings read under their HOME,
// or in a folder everybody may write) would run that user's code instead. Loaded through this
// descriptor, what was checked is what runs.
int OpenTrustedLibrary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    const uid_t self = ::geteuid();
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_uid == self || info.st_uid == 0) && (info.st_mode & S_IWOTH) == 0 &&
        ((info.st_mode & S_IWGRP) == 0 || info.st_gid == ::getegid() || info.st_gid == 0))
        return fd;
    ::close(fd);
    return -1;
}

}  // namespace

HMODULE LoadLibraryA(const char* name) {
    const std::string file = name != nullptr ? SharedObjectName(name) : std::string();
    if (!file.empty()) {
        const std::string folders = SearchPath();
        std::size_t start = 0;
        while (start <= folders.size()) {
            std::size_t end = folders.find_first_of(":;", start);
            if (end == std::string::npos) end = folders.size();
            const std::string folder = folders.substr(start, end - start);
            start = end + 1;
            // Only absolute folders: a relative one would depend on the working directory.
            if (folder.empty() || folder.front() != '/') continue;
            const std::string candidate = PathJoin(folder, file);
            const int fd = OpenTrustedLibrary(candidate);
            if (fd < 0) continue;
            void* handle =
                ::dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
            ::close(fd);  // the loader keeps its own mapping
            if (handle != nullptr) return static_cast<HMODULE>(handle);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

void* GetProcAddress(HMODULE module, const char* name) {
    void* symbol = module != nullptr && name != nullptr ? ::dlsym(module, name) : nullptr;
    if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return symbol;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return 1;
}

}  // namespace win
