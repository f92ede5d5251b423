// A process file-size limit for the length of a scope: writes beyond it fail with EFBIG (the
// signal that would end the process is ignored), the way a file system's size limit fails.
#pragma once
#include <sys/resource.h>

#include <csignal>

namespace quorin::test {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &m_old) != 0) return;
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        if (m_set) setrlimit(RLIMIT_FSIZE, &m_old);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Set() const { return m_set; }

  private:
    rlimit m_old{};
    bool m_set = false;
};

}  // namespace quorin::test
