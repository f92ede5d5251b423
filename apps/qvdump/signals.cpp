#include "signals.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iterator>

#include "platform/core/endingsignals.h"

namespace qvdump {
namespace {

// What the handler removes; it may only read it. A slot is filled and cleared with every signal
// blocked, so the handler never sees half of one.
struct Slot {
    bool used;
    int folder;
    char name[NAME_MAX + 1];
    int parent;
    char folderName[NAME_MAX + 1];
    dev_t device;  // of the folder open as `folder`
    ino_t inode;
};
Slot g_slots[2];
// The slots used, and while any is, the dispositions the ending signals had before the handler
// took them (a signal the caller ignores is not taken).
int g_used = 0;
struct sigaction g_before[NSIG];
bool g_taken[NSIG];

// unlinkat and fstatat are async-signal-safe: the handler calls this too.
void RemoveMade(const Slot& slot) {
    if (slot.name[0] != '\0') ::unlinkat(slot.folder, slot.name, 0);
    // The folder only while its name still names it: another may have been put in its place.
    struct stat named {};
    if (slot.parent >= 0 &&
        ::fstatat(slot.parent, slot.folderName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == slot.device && named.st_ino == slot.inode)
        ::unlinkat(slot.parent, slot.folderName, AT_REMOVEDIR);
}

extern "C" void RemoveAndEnd(int signal, siginfo_t* info, void*) {
    // After a fault of qvdump's own the slots may hold anything: nothing is removed on their word
    // (a save's temporary file of a dead process goes with the next save of its target).
    if (!quorin::IsFault(signal, *info))
        for (const Slot& slot : g_slots)
            if (slot.used) RemoveMade(slot);
    // sigaction and raise are async-signal-safe too. The signal stays blocked until the handler
    // returns, and then ends the process as it would have without the handler.
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

HeldSignals::HeldSignals() {
    m_held = ::sigprocmask(SIG_BLOCK, &quorin::EndingSignalSet(), &m_previous) == 0;
}

void HeldSignals::Release() {
    if (m_held) ::sigprocmask(SIG_SETMASK, &m_previous, nullptr);
    m_held = false;
}

TemporaryRemover::TemporaryRemover(const Made& made) {
    // A longer name is no entry of a folder: there is nothing to remove.
    struct stat folder {};
    if (made.folder < 0 || made.name.size() > NAME_MAX || made.folderName.size() > NAME_MAX ||
        ::fstat(made.folder, &folder) != 0)
        return;
    AllBlocked blocked;
    for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
        Slot& slot = g_slots[i];
        if (slot.used) continue;
        slot.folder = made.folder;
        std::memcpy(slot.name, made.name.c_str(), made.name.size() + 1);
        slot.parent = made.parent;
        std::memcpy(slot.folderName, made.folderName.c_str(), made.folderName.size() + 1);
        slot.device = folder.st_dev;
        slot.inode = folder.st_ino;
        slot.used = true;
        m_slot = i;
        break;
    }
    if (m_slot < 0 || ++g_used > 1) return;
    struct sigaction remove {};
    remove.sa_sigaction = RemoveAndEnd;
    remove.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&remove.sa_mask);  // one removal at a time
    for (const int signal : quorin::EndingSignals())
        g_taken[signal] = ::sigaction(signal, nullptr, &g_before[signal]) == 0 &&
                          g_before[signal].sa_handler != SIG_IGN &&
                          ::sigaction(signal, &remove, nullptr) == 0;
}

void TemporaryRemover::Remove() {
    if (m_slot < 0) return;
    AllBlocked blocked;
    RemoveMade(g_slots[m_slot]);
}

TemporaryRemover::~TemporaryRemover() {
    if (m_slot < 0) return;
    AllBlocked blocked;
    g_slots[m_slot].used = false;
    if (--g_used > 0) return;
    for (const int signal : quorin::EndingSignals())
        if (g_taken[signal]) ::sigaction(signal, &g_before[signal], nullptr);
}

}  // namespace qvdump
