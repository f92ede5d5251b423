// The signals that end a process: what a writer holds back while a file is in a state no reader
// may find it in, and what a program that leaves files of its own behind catches to remove them.
#pragma once
#include <signal.h>

#include <vector>

namespace quorin {

// Every signal this process may catch or hold whose default action ends it, as the running system
// numbers them: the standard ones and every real-time one the C library leaves to programs. Not
// SIGKILL (nobody may catch or hold it), nor those whose default ignores the signal, stops or
// continues the process. Taken once, at the first call.
const std::vector<int>& EndingSignals();

// The same as a set, for a signal mask.
const sigset_t& EndingSignalSet();

// Whether `signal` as `info` tells it was raised by the kernel for a fault of the process's own
// instruction (a bad address, an illegal instruction, a division by zero, a breakpoint, a
// refused system call), not sent by a process or for a limit reached: its memory can no longer
// be trusted.
bool IsFault(int signal, const siginfo_t& info);

}  // namespace quorin
