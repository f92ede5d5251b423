// Settings isolated per test: the current-user hive lives in a folder of the test's own, all
// three hives start empty, and everything is put back when the object goes.
#pragma once
#include <string>

#include "common/test_util.h"

namespace quorin::test {

class ScopedSettings {
  public:
    ScopedSettings();
    ~ScopedSettings();
    ScopedSettings(const ScopedSettings&) = delete;
    ScopedSettings& operator=(const ScopedSettings&) = delete;

    const std::string& folder() const { return m_dir.path(); }
    std::string file(const std::string& name) const { return m_dir.file(name); }

  private:
    TempDir m_dir;
    std::string m_oldConfig;
    bool m_hadConfig = false;
};

// Takes the settings' turn as another process's change holds it: the write lock (F_OFD_SETLK
// F_WRLCK) of the lock file `lockFile`, made 0600 when missing. The descriptor, whose close
// releases it; -1 when it could not be taken at once.
int HoldTurn(const std::string& lockFile);

}  // namespace quorin::test
