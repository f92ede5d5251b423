#include "platform/files/settingslayers.h"

#include <cstring>
#include <string>

using namespace win;

namespace quorin {

namespace {

constexpr std::size_t kPathBuffer = 256;  // characters, the terminating NUL included

HKEY LayerRoot(int layer) {
    switch (layer) {
        case 0:
            return HKEY_CURRENT_USER;
        case 1:
            return HKEY_USERS;
        default:
            return HKEY_LOCAL_MACHINE;
    }
}

constexpr const char* kLayerPrefix[kSettingsLayers] = {"Software\\", ".DEFAULT\\Software\\",
                                                       "Software\\Classes\\"};

}  // namespace

bool OpenSettingsLayer(int layer, const char* key, HKEY* result) {
    if (result == nullptr) return false;
    *result = nullptr;
    if (key == nullptr || layer < 0 || layer >= kSettingsLayers) return false;
    const std::size_t prefix = std::strlen(kLayerPrefix[layer]);
    if (prefix + std::strlen(key) >= kPathBuffer) return false;
    const std::string path = std::string(kLayerPrefix[layer]) + key;
    return RegOpenKeyExA(LayerRoot(layer), path.c_str(), 0, KEY_READ, result) == ERROR_SUCCESS;
}

bool QueryRegistryText(HKEY key, const char* valueName, char* buffer, std::size_t bufferSize,
                       bool* wrongType) {
    if (wrongType != nullptr) *wrongType = false;
    if (key == nullptr || buffer == nullptr || bufferSize == 0) return false;
    const DWORD offered = bufferSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(bufferSize);
    DWORD type = REG_NONE;
    DWORD size = offered;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ) {
        if (wrongType != nullptr) *wrongType = true;
        return false;
    }
    if (std::memchr(buffer, 0, size) != nullptr) return true;  // stored with its NUL
    if (size >= bufferSize) return false;                      // no room left for the NUL
    buffer[size] = '\0';
    return true;
}

void CopyBoundedText(char* buffer, std::size_t bufferSize, const char* text) {
    if (buffer == nullptr || bufferSize == 0) return;
    if (text == nullptr) text = "";
    const std::size_t length = strnlen(text, bufferSize - 1);
    std::memmove(buffer, text, length);
    buffer[length] = '\0';
}

}  // namespace quorin
