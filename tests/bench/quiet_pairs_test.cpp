// The benchmark ratio taken from the quietest pairs: a spell of load must not decide it.
#include "quiet_pairs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using quorin::bench::Pairs;
using quorin::bench::RatioOfQuietPairs;

std::vector<double> Repeat(std::vector<double> head, double value, int count) {
    head.insert(head.end(), count, value);
    return head;
}

TEST(QuietPairs, SpellOfLoadOnMostPairsDoesNotDecideTheRatio) {
    // 9 quiet pairs at 1 ms / 2 ms, then 12 in a spell that slows ours to 1.7 ms and the
    // reference to 2.1 ms: a plain median would be 1.7 / 2.1.
    const Pairs pairs{Repeat(Repeat({}, 1e-3, 9), 1.7e-3, 12),
                      Repeat(Repeat({}, 2e-3, 9), 2.1e-3, 12)};
    EXPECT_EQ(pairs.QuietCount(), 9);
    const auto r = RatioOfQuietPairs(pairs);
    EXPECT_DOUBLE_EQ(r.median, 0.5);
    EXPECT_DOUBLE_EQ(r.low, 0.5);
    EXPECT_DOUBLE_EQ(r.high, 1.7 / 2.1);  // two spell pairs fill the eleven
    EXPECT_DOUBLE_EQ(r.oursSeconds, 1e-3);
    EXPECT_DOUBLE_EQ(r.theirSeconds, 2e-3);
}

TEST(QuietPairs, EitherSlowSideMakesAPairBusy) {
    // Ours slowed while the reference ran at its fastest, and the other way round.
    const Pairs pairs{{1.0, 1.5, 1.0, 1.0}, {2.0, 2.0, 3.0, 2.0}};
    EXPECT_EQ(pairs.QuietCount(), 2);
    EXPECT_DOUBLE_EQ(pairs.Load(1), 1.5);
    EXPECT_DOUBLE_EQ(pairs.Load(2), 1.5);
}

TEST(QuietPairs, QuietUpToTheMarginExactly) {
    const Pairs pairs{{1.0, 1.1, 1.11}, {2.0, 2.0, 2.0}};
    EXPECT_EQ(pairs.QuietCount(), 2);
}

TEST(QuietPairs, FewerPairsThanElevenAreAllTaken) {
    const Pairs pairs{{1.0, 3.0, 2.0}, {2.0, 2.0, 2.0}};
    EXPECT_EQ(pairs.Quietest().size(), 3u);
    EXPECT_DOUBLE_EQ(RatioOfQuietPairs(pairs).median, 1.0);  // of 0.5, 1.5 and 1.0
    EXPECT_LT(RatioOfQuietPairs(Pairs{}).median, 0);
}

}  // namespace
