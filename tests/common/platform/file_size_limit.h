// File-size limits in the tests: a scope's limit with the signal ignored, so that writes past it
// fail with EFBIG, the way a file system's size limit fails; and a save run under a limit as an
// ordinary program meets it, with the signal at its default action.
#pragma once
#include <sys/resource.h>

#include <csignal>
#include <functional>

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

// Runs `body` in a child process under a file-size limit, SIGXFSZ at its default action as in
// every program that leaves it alone: a write past the limit ends the child. The body's own
// result (0 to 255), or 98 for a child so ended.
int InChildUnderSizeLimit(rlim_t bytes, const std::function<int()>& body);
// The same, `body` run as the actor (as_user.h).
int UnderSizeLimit(rlim_t bytes, const std::function<int()>& body);

}  // namespace quorin::test
