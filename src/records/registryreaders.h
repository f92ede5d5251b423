// Readers of the system's settings under Software\QUORIN. A setting may be given per user, for
// the default user or machine-wide; every reader asks the three layers in that order:
//   1. HKEY_CURRENT_USER  "Software\" + key
//   2. HKEY_USERS         ".DEFAULT\Software\" + key
//   3. HKEY_LOCAL_MACHINE "Software\Classes\" + key
// Nothing is cached: every call reads the registry anew.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/registry.h"

namespace quorin {

constexpr int kSettingsLayers = 3;
// The minimum or maximum that means "no bound" (exactly this value).
constexpr std::int32_t kNoRegistryBound = -100000;

// Opens one layer (0, 1, 2) of a key for reading. False when the key does not exist there, or
// when its full path does not fit the 256-character path buffer (never a shortened path).
bool OpenSettingsLayer(int layer, const char* key, win::HKEY* result);

// Reads a REG_SZ value of an open key into `buffer` as a NUL-terminated text of at most
// `bufferSize` - 1 characters; the value may be stored with or without its NUL. False (the
// buffer's content then undefined) when the value is missing, of another type, or too long;
// `wrongType` (may be null) then tells whether the value was read but is not REG_SZ.
bool QueryRegistryText(win::HKEY key, const char* valueName, char* buffer, std::size_t bufferSize,
                       bool* wrongType = nullptr);

// Copies `text` (null reads as "") into `buffer`, cut to `bufferSize` - 1 characters and
// always terminated; nothing when the buffer has no room at all.
void CopyBoundedText(char* buffer, std::size_t bufferSize, const char* text);

}  // namespace quorin

// Reads a whole-number setting (REG_DWORD): the value of the first layer holding one, else
// `defaultValue`, then bounded by `minimum` and `maximum` (each -100000 for none; the minimum is
// applied first). `*value` always receives the result. True when a layer held the value.
bool GetRegistryDword(const char* key, const char* valueName, std::int32_t* value,
                      std::int32_t defaultValue, std::int32_t minimum = quorin::kNoRegistryBound,
                      std::int32_t maximum = quorin::kNoRegistryBound);

// A key of the settings opened for the few calls of its owner: in read mode over every layer
// that exists, in write mode for the current user (created when missing). Closed on destruction.
class CRegistryKey {
  public:
    enum Mode : std::uint32_t { kUnusable = 0, kRead = 1, kWrite = 2 };

    CRegistryKey(const char* key, std::uint32_t mode);
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // The text of the first layer whose value of that name can be read into the buffer, when it
    // is REG_SZ; otherwise the default text (cut to the buffer) and false. A value of another
    // type ends the search there: later layers are not asked. Always NUL-terminated.
    bool QueryString(const char* valueName, char* buffer, std::size_t bufferSize,
                     const char* defaultText);
    // Stores the text with its terminating NUL as REG_SZ; false unless opened for writing.
    bool SetString(const char* valueName, const char* text);
    // Closes the open keys, each handle once.
    void Close();

    std::uint32_t GetMode() const { return m_mode; }

  private:
    win::HKEY m_keys[quorin::kSettingsLayers] = {};
    std::uint32_t m_mode = kUnusable;
};
