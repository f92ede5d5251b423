// How a side-by-side case's pairs of runs (ours, then the reference) become its ratio.
//
// A shared machine goes through spells of seconds or minutes in which a neighbour slows some code
// far more than other code (a memory-bound loop by a third, a table walk by two thirds), so the
// ratio within such a spell is not the ratio on a quiet machine, and how many pairs fall in one
// would decide a plain median. A pair is as quiet as the slower of its two runs is close to that
// side's fastest run; the ratio is the median of the kQuietPairs quietest pairs.
#pragma once
#include <algorithm>
#include <cstddef>
#include <numeric>
#include <vector>

namespace quorin::bench {

constexpr int kQuietPairs = 11;        // pairs a ratio is the median of
constexpr double kQuietMargin = 0.10;  // a quiet pair's runs are within this of their fastest

inline double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Seconds per iteration of each side, pair by pair.
struct Pairs {
    std::vector<double> ours, theirs;

    // How far each pair's slower run is from its side's fastest run, as a factor (1: both
    // fastest).
    std::vector<double> Loads() const {
        std::vector<double> loads(ours.size());
        if (loads.empty()) return loads;
        const double fastestOurs = *std::min_element(ours.begin(), ours.end());
        const double fastestTheirs = *std::min_element(theirs.begin(), theirs.end());
        for (std::size_t i = 0; i < loads.size(); ++i)
            loads[i] = std::max(ours[i] / fastestOurs, theirs[i] / fastestTheirs);
        return loads;
    }

    // Pairs whose runs are both within kQuietMargin of their side's fastest.
    int QuietCount() const {
        const std::vector<double> loads = Loads();
        return static_cast<int>(std::count_if(
            loads.begin(), loads.end(), [](double load) { return load <= 1 + kQuietMargin; }));
    }

    // The kQuietPairs quietest pairs, quietest first (all of them when fewer ran).
    std::vector<std::size_t> Quietest() const {
        const std::vector<double> loads = Loads();
        std::vector<std::size_t> order(loads.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(),
                         [&loads](std::size_t x, std::size_t y) { return loads[x] < loads[y]; });
        order.resize(std::min<std::size_t>(order.size(), kQuietPairs));
        return order;
    }
};

// A case's ratio: the median over the quietest pairs, their lowest and highest ratio, and each
// side's median time over them.
struct QuietRatio {
    double median = -1, low = -1, high = -1;
    double oursSeconds = -1, theirSeconds = -1;
};

inline QuietRatio RatioOfQuietPairs(const Pairs& pairs) {
    QuietRatio result;
    std::vector<double> ratios, ours, theirs;
    for (const std::size_t i : pairs.Quietest()) {
        ratios.push_back(pairs.ours[i] / pairs.theirs[i]);
        ours.push_back(pairs.ours[i]);
        theirs.push_back(pairs.theirs[i]);
    }
    if (ratios.empty()) return result;
    result.median = Median(ratios);
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    result.low = *low;
    result.high = *high;
    result.oursSeconds = Median(ours);
    result.theirSeconds = Median(theirs);
    return result;
}

}  // namespace quorin::bench
