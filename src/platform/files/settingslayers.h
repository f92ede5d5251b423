// The three layers of the system's settings: a setting may be given per user, for the default
// user or machine-wide, and readers ask the layers in that order:
//   1. HKEY_CURRENT_USER  "Software\" + key
//   2. HKEY_USERS         ".DEFAULT\Software\" + key
//   3. HKEY_LOCAL_MACHINE "Software\Classes\" + key
// with the primitives every settings reader shares.
#pragma once
#include <cstddef>

#include "platform/files/registry.h"

namespace quorin {

constexpr int kSettingsLayers = 3;

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
