// Waiting for a file's lock, with a bound: a peer that holds the lock for good (a process that
// may merely read the file, or one stopped) must not freeze the waiter.
#pragma once
#include <chrono>

namespace quorin {

// Takes the exclusive flock of `fd`, waiting at most `bound` for a peer to release it. A signal
// that arrives meanwhile neither ends the wait nor shortens it. 0 once the lock is held,
// EWOULDBLOCK when the bound passed first, or the errno value of another failure.
int LockExclusiveWithin(int fd, std::chrono::milliseconds bound);

// Takes the write lock of the whole file open as `fd` (an open-file-description lock, F_OFD_SETLK
// F_WRLCK), waiting until `deadline` at most; as above otherwise. Only a descriptor open for
// writing takes it, so only those who may write the file can hold it; being the description's,
// it also keeps two threads of one process apart.
int LockForWritingUntil(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace quorin
