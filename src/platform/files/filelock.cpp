#include "platform/files/filelock.h"

#include <sys/file.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace quorin {

int LockExclusiveWithin(int fd, std::chrono::milliseconds bound) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + bound;
    // The lock is asked without blocking, between pauses that start short (a peer's save usually
    // ends within milliseconds) and grow to 50 ms; the deadline is the clock's, so a pause cut
    // short by a signal is only a sooner retry.
    std::chrono::microseconds pause{100};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return errno;
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

}  // namespace quorin
