#include "signals.h"

#include <unistd.h>

#include <cstring>

namespace qvdump {
namespace {

// What the handler removes; it may only read them. A slot is filled and cleared with every
// signal blocked, so the handler never sees half a name.
struct Slot {
    char file[4096];
    char folder[4096];
};
Slot g_slots[2];

extern "C" void RemoveAndEnd(int signal) {
    // unlink, rmdir, sigaction and raise are async-signal-safe. The signal stays blocked until
    // the handler returns, and then ends the process as it would have without the handler.
    for (const Slot& slot : g_slots) {
        if (slot.file[0] != '\0') ::unlink(slot.file);
        if (slot.folder[0] != '\0') ::rmdir(slot.folder);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

class AllBlocked {
  public:
    AllBlocked() {
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &m_previous);
    }
    ~AllBlocked() { ::sigprocmask(SIG_SETMASK, &m_previous, nullptr); }
    AllBlocked(const AllBlocked&) = delete;
    AllBlocked& operator=(const AllBlocked&) = delete;

  private:
    sigset_t m_previous{};
};

}  // namespace

TemporaryRemover::TemporaryRemover(const std::string& file, const std::string& folder) {
    if (file.empty() || file.size() >= sizeof Slot::file || folder.size() >= sizeof Slot::folder)
        return;
    AllBlocked blocked;
    for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
        if (g_slots[i].file[0] != '\0') continue;
        std::memcpy(g_slots[i].file, file.c_str(), file.size() + 1);
        std::memcpy(g_slots[i].folder, folder.c_str(), folder.size() + 1);
        m_slot = i;
        break;
    }
    if (m_slot < 0) return;
    struct sigaction remove {};
    remove.sa_handler = RemoveAndEnd;
    remove.sa_flags = SA_RESTART;
    sigfillset(&remove.sa_mask);  // one removal at a time
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        struct sigaction& previous = m_previous[i];
        m_installed[i] = ::sigaction(kEndingSignals[i], nullptr, &previous) == 0 &&
                         previous.sa_handler != SIG_IGN &&
                         ::sigaction(kEndingSignals[i], &remove, nullptr) == 0;
    }
}

TemporaryRemover::~TemporaryRemover() {
    if (m_slot < 0) return;
    AllBlocked blocked;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        if (m_installed[i]) ::sigaction(kEndingSignals[i], &m_previous[i], nullptr);
    g_slots[m_slot].file[0] = g_slots[m_slot].folder[0] = '\0';
}

}  // namespace qvdump
