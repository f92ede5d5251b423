// Waiting for a file's exclusive lock (flock), with a bound: a peer that holds the lock for good
// (a process that may merely read the file, or one stopped) must not freeze the waiter.
#pragma once
#include <chrono>

namespace quorin {

// Takes the exclusive flock of `fd`, waiting at most `bound` for a peer to release it. A signal
// that arrives meanwhile neither ends the wait nor shortens it. 0 once the lock is held,
// EWOULDBLOCK when the bound passed first, or the errno value of another failure.
int LockExclusiveWithin(int fd, std::chrono::milliseconds bound);

}  // namespace quorin
