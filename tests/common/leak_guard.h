// Leak checks of global blocks. common/leak_guard.cpp checks each suite as a whole; NoLeaks
// checks one scope (a test, or a fixture holding it as its first member).
#pragma once
#include <gtest/gtest.h>

#include "platform/core/globalmem.h"

namespace quorin::test {

// Every global block made during the object's life is freed again by its end.
class NoLeaks {
  public:
    NoLeaks() : m_live(win::globalmem_testing::LiveBlocks()) {}
    ~NoLeaks() {
        EXPECT_EQ(win::globalmem_testing::LiveBlocks(), m_live) << "global blocks leaked";
    }
    NoLeaks(const NoLeaks&) = delete;
    NoLeaks& operator=(const NoLeaks&) = delete;

  private:
    win::SIZE_T m_live;
};

}  // namespace quorin::test
