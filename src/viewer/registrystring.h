// The viewer's reader of text settings (REG_SZ) over the three settings layers: current user,
// default user, machine-wide (see platform/files/settingslayers.h).
#pragma once
#include <cstddef>

// The text of the first layer holding a REG_SZ value of that name that fits the buffer, and
// true; otherwise the default text (null reads as ""), cut to the buffer, and false. The buffer
// always ends up NUL-terminated (at most bufferSize - 1 characters) unless its size is 0.
bool GetRegistryString(const char* key, const char* valueName, char* buffer, std::size_t bufferSize,
                       const char* defaultText);
