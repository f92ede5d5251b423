// Linked into every suite: the process ends with as many live global blocks as it had before
// its first test (none).
#include <gtest/gtest.h>

#include "platform/core/globalmem.h"

namespace {

class NoLeakedBlocks : public ::testing::Environment {
  public:
    void SetUp() override { m_start = win::globalmem_testing::LiveBlocks(); }
    void TearDown() override {
        EXPECT_EQ(win::globalmem_testing::LiveBlocks(), m_start) << "global blocks leaked";
    }

  private:
    win::SIZE_T m_start = 0;
};

const auto* const kNoLeakedBlocks = ::testing::AddGlobalTestEnvironment(new NoLeakedBlocks);

}  // namespace
