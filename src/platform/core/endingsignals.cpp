#include "platform/core/endingsignals.h"

namespace quorin {
namespace {

// Whether the default action of `signal` leaves the process running: it ignores the signal
// (SIGCHLD, SIGURG, SIGWINCH), stops the process or lets it go on.
bool DefaultKeepsItRunning(int signal) {
    switch (signal) {
        case SIGCHLD:
        case SIGURG:
        case SIGWINCH:
        case SIGCONT:
        case SIGSTOP:
        case SIGTSTP:
        case SIGTTIN:
        case SIGTTOU:
            return true;
        default:
            return false;
    }
}

struct Ending {
    std::vector<int> list;
    sigset_t set{};

    Ending() {
        ::sigemptyset(&set);
        // The real-time numbers the C library keeps for itself lie below SIGRTMIN; it refuses
        // them to sigaction, and they are left alone.
        for (int signal = 1; signal <= SIGRTMAX; ++signal) {
            struct sigaction current {};
            if (signal == SIGKILL || DefaultKeepsItRunning(signal) ||
                ::sigaction(signal, nullptr, &current) != 0 || ::sigaddset(&set, signal) != 0)
                continue;
            list.push_back(signal);
        }
    }
};

const Ending& TheEnding() {
    static const Ending ending;
    return ending;
}

}  // namespace

const std::vector<int>& EndingSignals() {
    return TheEnding().list;
}

const sigset_t& EndingSignalSet() {
    return TheEnding().set;
}

bool IsFault(int signal, const siginfo_t& info) {
    // A code above 0 is the kernel's own; kill, sigqueue and raise give 0 or less.
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
        case SIGILL:
        case SIGFPE:
        case SIGTRAP:
        case SIGSYS:
            return info.si_code > 0;
        default:
            return false;
    }
}

}  // namespace quorin
