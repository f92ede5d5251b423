// Priority raise for time-critical work. Linux gives each thread its own nice value, and
// setpriority(PRIO_PROCESS, 0) addresses the calling thread, so the guard must end on the
// thread that made it (it is a scope object).
#include "platform/system/priority.h"

#include <sys/resource.h>

#include <cerrno>

namespace win {
namespace {

constexpr int kRaise = 5;  // nice steps; like a raised priority class, not real-time

}  // namespace

PriorityGuard::PriorityGuard() {
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, 0);
    if (current == -1 && errno != 0) return;  // cannot read it: leave everything as it is
    m_oldNice = current;
    const int target = current - kRaise < -20 ? -20 : current - kRaise;
    if (target < current && setpriority(PRIO_PROCESS, 0, target) == 0) m_raised = true;
}

PriorityGuard::~PriorityGuard() {
    if (m_raised) setpriority(PRIO_PROCESS, 0, m_oldNice);
}

}  // namespace win
