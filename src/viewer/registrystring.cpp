#include "viewer/registrystring.h"

#include "platform/files/settingslayers.h"

bool GetRegistryString(const char* key, const char* valueName, char* buffer, std::size_t bufferSize,
                       const char* defaultText) {
    for (int layer = 0; layer < quorin::kSettingsLayers; ++layer) {
        win::HKEY handle = nullptr;
        if (!quorin::OpenSettingsLayer(layer, key, &handle)) continue;
        const bool read = quorin::QueryRegistryText(handle, valueName, buffer, bufferSize);
        win::RegCloseKey(handle);
        if (read) return true;
    }
    quorin::CopyBoundedText(buffer, bufferSize, defaultText);
    return false;
}
