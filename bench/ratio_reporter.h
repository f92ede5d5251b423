// Side-by-side benchmarks: each case is a benchmark "Ours<case>" beside its reference
// "<Reference><case>" (OursRotate90 beside OpenCVRotate90). One ordinary pass prints the harness's
// table and warms everything up. Then each case runs in pairs, ours then the reference, each run
// timed by the harness in CPU time for at least kMinimumSeconds, the cases taking turns round
// after round. A case's ratio is the median of its quietest pairs (quiet_pairs.h). A case with
// fewer than kQuietPairs pairs within kQuietMargin of both fastest runs gets more rounds, up to
// kMaxPairs, and says so when it still falls short.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "quiet_pairs.h"

namespace quorin::bench {

constexpr double kMinimumSeconds = 0.1;  // of each run in a pair, at least
constexpr int kPairs = 21;               // rounds every case runs
constexpr int kMaxPairs = 42;            // rounds a case short of quiet pairs runs at most
constexpr double kSpreadLimit = 0.10;    // a pair further than this from the median is reported

// Keeps the CPU seconds per iteration of every run by benchmark name, in the order they ran;
// prints the harness's table too when asked.
class TimesReporter : public benchmark::ConsoleReporter {
  public:
    explicit TimesReporter(bool print) : m_print(print) {}

    bool ReportContext(const Context& context) override {
        return !m_print || ConsoleReporter::ReportContext(context);
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations <= 0)
                continue;
            const std::string name = run.run_name.str();
            auto [it, added] = m_seconds.try_emplace(name);
            if (added) m_names.push_back(name);
            it->second.push_back(run.cpu_accumulated_time / static_cast<double>(run.iterations));
        }
        if (m_print) ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        if (m_print) ConsoleReporter::Finalize();
    }

    const std::vector<std::string>& Names() const { return m_names; }

    // The median of one benchmark's runs; negative when it did not run or failed.
    double Seconds(const std::string& name) const {
        const auto it = m_seconds.find(name);
        return it != m_seconds.end() ? Median(it->second) : -1;
    }

  private:
    bool m_print;
    std::vector<std::string> m_names;
    std::map<std::string, std::vector<double>> m_seconds;
};

// Initialises the harness with every run lasting at least kMinimumSeconds (the harness's own
// default is longer; a shorter --benchmark_min_time is raised to it).
inline void Initialize(int argc, char** argv) {
    const std::string flag = "--benchmark_min_time=";
    static std::vector<std::string> texts;  // the harness keeps pointers into them
    texts.clear();
    bool timed = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(flag, 0) == 0) {
            if (std::atof(arg.c_str() + flag.size()) < kMinimumSeconds) continue;
            timed = true;
        }
        texts.push_back(arg);
    }
    if (!timed) texts.push_back(flag + std::to_string(kMinimumSeconds));
    std::vector<char*> args;
    for (std::string& text : texts) args.push_back(text.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
}

// One run of the benchmark named exactly `name`, printing nothing: its CPU seconds per iteration,
// negative when it did not run or failed.
inline double TimeOnce(const std::string& name) {
    std::string pattern = "^";
    for (const char c : name) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    TimesReporter times(false);
    benchmark::RunSpecifiedBenchmarks(&times, pattern + "$");
    return times.Seconds(name);
}

inline std::string FormatSeconds(double seconds) {
    char text[32];
    if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.3g s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(text, sizeof text, "%.3g ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof text, "%.3g us", seconds * 1e6);
    return text;
}

// The side-by-side cases of one binary. They run in rounds, each round one pair of every case
// (ours, then the reference), so that a case's pairs spread over the whole run rather than a few
// seconds of it: a spell of load that slows one side more than the other then weighs on a few
// pairs of every case, not on most pairs of one.
class Cases {
  public:
    // `ours` and `theirs` answer the seconds per iteration of one run of at least
    // kMinimumSeconds (negative on failure, which fails the case); `goal` is the ratio the case
    // must not exceed.
    void Add(std::string label, std::string reference, std::function<double()> ours,
             std::function<double()> theirs, double goal) {
        Case& c = m_cases.emplace_back();
        c.label = std::move(label);
        c.reference = std::move(reference);
        c.ours = std::move(ours);
        c.theirs = std::move(theirs);
        c.goal = goal;
    }

    // kPairs rounds, more for cases short of quiet pairs, then one line per case under the
    // title: the median ratio of the quiet pairs with their lowest and highest, both sides' median
    // times over them and the goal, and whether the case misses its goal, its quiet pairs spread
    // wider than kSpreadLimit around the median, or the machine was too busy for it.
    void Run(const char* title) {
        for (int round = 0; round < kMaxPairs; ++round) {
            bool ran = false;
            for (Case& c : m_cases) {
                if (c.failed || (round >= kPairs && c.pairs.QuietCount() >= kQuietPairs)) continue;
                const double a = c.ours(), b = c.theirs();
                c.failed = a <= 0 || b <= 0;
                c.pairs.ours.push_back(a);
                c.pairs.theirs.push_back(b);
                ran = true;
            }
            if (!ran) break;
        }
        std::printf(
            "\n%s: the median of the %d quietest pairs (ours, then the reference) of %d to %d,\n"
            "their lowest and highest, and how many pairs ran within %.0f%% of both fastest "
            "runs\n",
            title, kQuietPairs, kPairs, kMaxPairs, kQuietMargin * 100);
        for (const Case& c : m_cases) Print(c);
        std::fflush(stdout);
    }

  private:
    struct Case {
        std::string label, reference;
        std::function<double()> ours, theirs;
        double goal = 1.0;
        bool failed = false;
        Pairs pairs;
    };

    static void Print(const Case& c) {
        if (c.failed || c.pairs.ours.empty()) {
            std::printf("  %-24s failed\n", c.label.c_str());
            return;
        }
        const QuietRatio r = RatioOfQuietPairs(c.pairs);
        const bool wide =
            r.low < r.median * (1 - kSpreadLimit) || r.high > r.median * (1 + kSpreadLimit);
        const int quiet = c.pairs.QuietCount();
        std::printf(
            "  %-24s %5.3f  pairs %.3f-%.3f  quiet %2d of %2zu  ours %-9s %s %-9s goal "
            "%.2f%s%s%s\n",
            c.label.c_str(), r.median, r.low, r.high, quiet, c.pairs.ours.size(),
            FormatSeconds(r.oursSeconds).c_str(), c.reference.c_str(),
            FormatSeconds(r.theirSeconds).c_str(), c.goal,
            r.median > c.goal ? "  OVER THE GOAL" : "", wide ? "  SPREAD WIDER THAN +-10%" : "",
            quiet < kQuietPairs ? "  BUSY MACHINE" : "");
        if (std::getenv("QUORIN_BENCH_PAIRS") != nullptr) {
            std::printf("    pairs (ms):");
            for (std::size_t i = 0; i < c.pairs.ours.size(); ++i)
                std::printf(" %.4g/%.4g", c.pairs.ours[i] * 1e3, c.pairs.theirs[i] * 1e3);
            std::printf("\n");
        }
    }

    std::vector<Case> m_cases;
};

// The goal of a case (the ratio it must not exceed), by its name without "Ours".
using Goal = std::function<double(const std::string& label)>;

// Runs every registered benchmark with its table, then every case in pairs, with its line.
inline int RunAndCompare(int argc, char** argv, const std::string& reference, const char* title,
                         const Goal& goal = {}) {
    Initialize(argc, argv);
    TimesReporter table(true);
    benchmark::RunSpecifiedBenchmarks(&table);
    Cases cases;
    for (const std::string& name : table.Names()) {
        if (name.rfind("Ours", 0) != 0) continue;
        const std::string label = name.substr(4);
        const std::string other = reference + label;
        if (table.Seconds(other) < 0) continue;
        cases.Add(
            label, reference, [name] { return TimeOnce(name); },
            [other] { return TimeOnce(other); }, goal ? goal(label) : 1.0);
    }
    cases.Run(title);
    benchmark::Shutdown();
    return 0;
}

}  // namespace quorin::bench
