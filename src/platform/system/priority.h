// Raises the process and thread priority for a time-critical computation and always restores it.
// Best effort: raising needs privileges on Linux, and a refusal never fails the work.
#pragma once

namespace win {

class PriorityGuard {
  public:
    PriorityGuard();
    ~PriorityGuard();
    PriorityGuard(const PriorityGuard&) = delete;
    PriorityGuard& operator=(const PriorityGuard&) = delete;
    bool Raised() const { return m_raised; }

  private:
    int m_oldNice = 0;
    bool m_raised = false;
};

}  // namespace win
