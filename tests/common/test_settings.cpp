#include "common/test_settings.h"

#include <fcntl.h>
#include <unistd.h>

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

int HoldTurn(const std::string& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    if (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &whole) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace quorin::test
