// The signals that end qvdump, and what it does about them while it has a file of its own on
// disk (a save's temporary file, the link through which the library reads a name it would take
// otherwise): an ending signal removes the file before qvdump ends as it would have.
#pragma once
#include <signal.h>

#include <cstddef>
#include <iterator>
#include <string>

namespace qvdump {

// Every signal whose default action ends the process and that a user or the system sends to end
// it (SIGPIPE and SIGXFSZ included: a write may bring them).
inline constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2,
                                         SIGALRM, SIGPIPE, SIGXFSZ, SIGVTALRM, SIGPROF};

// While it lives, an ending signal removes the file `file` and then the folder `folder` (when
// given) before it ends qvdump. A signal the caller ignores (nohup) stays ignored. Two may live
// at once (an input's link and a save's temporary file).
class TemporaryRemover {
  public:
    explicit TemporaryRemover(const std::string& file, const std::string& folder = {});
    ~TemporaryRemover();
    TemporaryRemover(const TemporaryRemover&) = delete;
    TemporaryRemover& operator=(const TemporaryRemover&) = delete;

  private:
    int m_slot = -1;
    struct sigaction m_previous[std::size(kEndingSignals)]{};
    bool m_installed[std::size(kEndingSignals)] = {};
};

}  // namespace qvdump
