#include "records/core/registryreaders.h"

#include <cstring>
#include <string>

using namespace win;

bool GetRegistryDword(const char* key, const char* valueName, std::int32_t* value,
                      std::int32_t defaultValue, std::int32_t minimum, std::int32_t maximum) {
    std::int32_t result = defaultValue;
    bool found = false;
    for (int layer = 0; layer < quorin::kSettingsLayers && !found; ++layer) {
        HKEY handle = nullptr;
        if (!quorin::OpenSettingsLayer(layer, key, &handle)) continue;
        std::int32_t stored = 0;
        DWORD type = REG_NONE;
        DWORD size = sizeof stored;
        const LONG status = RegQueryValueExA(handle, valueName, nullptr, &type,
                                             reinterpret_cast<BYTE*>(&stored), &size);
        RegCloseKey(handle);
        // A value of another type, or a short one, does not stop the search.
        if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof stored) {
            result = stored;
            found = true;
        }
    }
    if (minimum != quorin::kNoRegistryBound && result < minimum) result = minimum;
    if (maximum != quorin::kNoRegistryBound && result > maximum) result = maximum;
    if (value != nullptr) *value = result;
    return found;
}

CRegistryKey::CRegistryKey(const char* key, std::uint32_t mode) {
    if (key == nullptr) return;
    if (mode == kWrite) {
        const std::string path = std::string("Software\\") + key;
        if (path.size() >= 256) return;
        char noClass[1] = "";
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, noClass, 0, KEY_WRITE, nullptr,
                            &m_keys[0], nullptr) == ERROR_SUCCESS)
            m_mode = kWrite;
        else
            m_keys[0] = nullptr;
    } else if (mode == kRead) {
        // Each layer keeps its own slot: the layers are asked in the order 1, 2, 3.
        for (int layer = 0; layer < quorin::kSettingsLayers; ++layer)
            if (quorin::OpenSettingsLayer(layer, key, &m_keys[layer])) m_mode = kRead;
    }
}

CRegistryKey::~CRegistryKey() {
    Close();
}

void CRegistryKey::Close() {
    for (int layer = quorin::kSettingsLayers - 1; layer >= 0; --layer) {
        if (m_keys[layer] != nullptr) RegCloseKey(m_keys[layer]);
        m_keys[layer] = nullptr;
    }
    m_mode = kUnusable;
}

bool CRegistryKey::QueryString(const char* valueName, char* buffer, std::size_t bufferSize,
                               const char* defaultText) {
    if (m_mode == kRead) {
        for (HKEY key : m_keys) {
            // A layer whose query fails passes the question on; one that answers with another
            // type has answered: the default stands.
            bool wrongType = false;
            if (quorin::QueryRegistryText(key, valueName, buffer, bufferSize, &wrongType))
                return true;
            if (wrongType) break;
        }
    }
    quorin::CopyBoundedText(buffer, bufferSize, defaultText);
    return false;
}

bool CRegistryKey::SetString(const char* valueName, const char* text) {
    if (m_mode != kWrite || m_keys[0] == nullptr) return false;
    if (text == nullptr) text = "";
    const std::size_t size = std::strlen(text) + 1;
    if (size > 0xFFFFFFFFu) return false;
    return RegSetValueExA(m_keys[0], valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          DWORD(size)) == ERROR_SUCCESS;
}
