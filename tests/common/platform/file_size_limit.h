// File-size limits in the tests: a save run under a limit as an ordinary program meets it, with
// the signal that ends a process writing past it at its default action.
#pragma once
#include <sys/resource.h>

#include <functional>

namespace quorin::test {

// Runs `body` in a child process under a file-size limit, SIGXFSZ at its default action as in
// every program that leaves it alone: a write past the limit ends the child. The body's own
// result (0 to 255), or 98 for a child so ended.
int InChildUnderSizeLimit(rlim_t bytes, const std::function<int()>& body);
// The same, `body` run as the actor (as_user.h).
int UnderSizeLimit(rlim_t bytes, const std::function<int()>& body);

}  // namespace quorin::test
