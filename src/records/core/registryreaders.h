// Readers of the system's settings under Software\QUORIN. A setting may be given per user, for
// the default user or machine-wide; every reader asks the three layers in that order (see
// platform/files/settingslayers.h). Nothing is cached: every call reads the registry anew.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/files/registry.h"
#include "platform/files/settingslayers.h"

namespace quorin {

// The minimum or maximum that means "no bound" (exactly this value).
constexpr std::int32_t kNoRegistryBound = -100000;

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
