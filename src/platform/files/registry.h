// The registry: three hives (current user, default user, machine) in memory, each loaded from a
// text file in the Windows ".reg" export format. Key paths and value names are case-insensitive.
// Writes go to the current-user hive and are saved at once, atomically; the changes of several
// processes take turns (on a write lock of a lock file beside the settings file, which only its
// writers may take) from reading the file to replacing it, so that none loses another's values.
//   current user: $QUORIN_CONFIG_DIR/user.reg (default ${XDG_CONFIG_HOME:-$HOME/.config}/quorin)
//   default user: /etc/quorin/default-user.reg   ([HKEY_USERS\.DEFAULT\Software\...])
//   machine:      /etc/quorin/machine.reg        ([HKEY_LOCAL_MACHINE\Software\...])
// QUORIN_CONFIG_DIR names a folder as the system does: a backslash is part of a name, "C:" no
// drive. Where it is not set, the folder the program chose is saved in (and made, private) only
// where it and the configuration home above it belong to the process's user.
#pragma once
#include <chrono>
#include <string>
#include <string_view>

#include "platform/core/lasterror.h"
#include "platform/core/types.h"

namespace win {

struct RegKey;  // opaque
using HKEY = RegKey*;
using REGSAM = DWORD;

HKEY RootKey(int which);  // 0 current user, 1 users, 2 local machine
#define HKEY_CURRENT_USER (::win::RootKey(0))
#define HKEY_USERS (::win::RootKey(1))
#define HKEY_LOCAL_MACHINE (::win::RootKey(2))

constexpr DWORD REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001, KEY_SET_VALUE = 0x0002, KEY_READ = 0x20019,
                 KEY_WRITE = 0x20006, KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1, REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
// ERROR_MORE_DATA (size set to what is needed) when the buffer is too small; data may be null
// to ask for the size. REG_SZ data is returned as stored (with or without its NUL).
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
// A change that answers a failure changes nothing; a key or value name holding a line break,
// which the settings file cannot hold, is refused (ERROR_INVALID_PARAMETER).
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegCloseKey(HKEY key);

namespace registry {
void ReloadHives();                                   // from the three files
void LoadHiveText(int which, std::string_view text);  // replaces one hive (tests)
void ClearHives();                                    // all three empty (tests)
std::string UserHivePath();
// The current user's settings folder as the environment names it (a host path).
std::string UserFolder();
// That folder, made when missing, opened (O_PATH) for what is made in it: the settings, their
// lock file and copy, the UID stamp. A folder QUORIN_CONFIG_DIR names is taken as named; the one
// the program chose only when it and the configuration home are the process user's, walked
// through descriptors (a link on the way followed only when it is the user's own) and made 0700
// only inside a folder of the user's. -1 with `*code` set and, where a folder of another user is
// the cause, `*reason` saying so.
int OpenUserFolder(DWORD* code, std::string* reason);
// Tests: the bound of all the waits of one settings change for a lock, in place of
// quorin::kSaveLockWait.
void SetSaveLockWait(std::chrono::milliseconds bound);
}  // namespace registry

}  // namespace win
