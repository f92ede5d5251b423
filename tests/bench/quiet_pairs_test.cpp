// The benchmark ratio taken from the quietest pairs: a spell of load must not decide it.
#include "quiet_pairs.h"

#include <gtest/gtest.h>

namespace {

using quorin::bench::Pairs;

TEST(QuietPairs, SpellOfLoadOnMostPairsDoesNotDecideTheRatio) {
    // 9 quiet pairs at 1 ms / 2 ms, then 12 in a spell that slows ours to 1.7 ms and the
    // reference to 2.1 ms: a plain median would be 1.7 / 2.1.
    Pairs pairs{std::vector<double>(9, 1e-3), std::vector<double>(9, 2e-3)};
    pairs.ours.insert(pairs.ours.end(), 12, 1.7e-3);
    pairs.theirs.insert(pairs.theirs.end(), 12, 2.1e-3);
    EXPECT_EQ(pairs.QuietCount(), 9);
    const auto r = quorin::bench::RatioOfQuietPairs(pairs);
    EXPECT_DOUBLE_EQ(r.median, 0.5);
    EXPECT_DOUBLE_EQ(r.high, 1.7 / 2.1);  // two spell pairs fill the eleven
    EXPECT_DOUBLE_EQ(r.theirSeconds, 2e-3);
}

TEST(QuietPairs, EitherSideBeyondTheMarginMakesAPairBusy) {
    // Within 10% exactly, ours 11% slow, the reference 50% slow.
    const Pairs pairs{{1.0, 1.1, 1.11, 1.0}, {2.0, 2.0, 2.0, 3.0}};
    EXPECT_EQ(pairs.QuietCount(), 2);
    EXPECT_DOUBLE_EQ(pairs.Loads()[3], 1.5);
}

TEST(QuietPairs, FewerPairsThanElevenAreAllTaken) {
    EXPECT_DOUBLE_EQ(quorin::bench::RatioOfQuietPairs(Pairs{{1.0, 3.0, 2.0}, {2, 2, 2}}).median,
                     1.0);
    EXPECT_LT(quorin::bench::RatioOfQuietPairs(Pairs{}).median, 0);
}

}  // namespace
