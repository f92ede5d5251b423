#include "platform/files/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace quorin {

namespace {

using Clock = std::chrono::steady_clock;

// Asks `tryLock` (true once held, else errno set) until it holds or `deadline` passes, between
// pauses that start short (a peer's save usually ends within milliseconds) and grow to 50 ms;
// the deadline is the clock's, so a pause cut short by a signal is only a sooner retry.
template <typename TryLock>
int WaitUntil(Clock::time_point deadline, TryLock tryLock) {
    std::chrono::microseconds pause{100};
    for (;;) {
        if (tryLock()) return 0;
        if (errno == EINTR) continue;
        // A lock held by a peer: EWOULDBLOCK from flock, EAGAIN or EACCES from fcntl.
        if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EACCES) return errno;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return EWOULDBLOCK;
        const auto wait = std::min<Clock::duration>(pause, deadline - now);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec span{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        ::nanosleep(&span, nullptr);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds{50});
    }
}

}  // namespace

int LockExclusiveWithin(int fd, std::chrono::milliseconds bound) {
    return WaitUntil(Clock::now() + bound, [fd] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; });
}

int LockForWritingUntil(int fd, Clock::time_point deadline) {
    return WaitUntil(deadline, [fd] {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
    });
}

}  // namespace quorin
