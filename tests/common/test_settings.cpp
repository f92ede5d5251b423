#include "common/test_settings.h"

#include <cstdlib>

#include "platform/files/registry.h"

namespace quorin::test {

ScopedSettings::ScopedSettings() {
    if (const char* old = std::getenv("QUORIN_CONFIG_DIR")) {
        m_hadConfig = true;
        m_oldConfig = old;
    }
    setenv("QUORIN_CONFIG_DIR", m_dir.path().c_str(), 1);
    win::registry::ClearHives();
}

ScopedSettings::~ScopedSettings() {
    win::registry::ClearHives();
    if (m_hadConfig)
        setenv("QUORIN_CONFIG_DIR", m_oldConfig.c_str(), 1);
    else
        unsetenv("QUORIN_CONFIG_DIR");
}

}  // namespace quorin::test
