// Console reporter for side-by-side benchmarks: keeps one time per benchmark (the median of its
// repetitions when they are aggregated, else its fastest run: the machine may be shared) and
// gives the time of each "Ours<suffix>" run over the time of the reference run with that suffix.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorin::bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(std::string referencePrefix) : m_reference(std::move(referencePrefix)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            const double time = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                m_times[name] = time;
                m_medians.insert(name);
            } else if (m_medians.count(name) == 0) {
                auto [it, added] = m_times.try_emplace(name, time);
                if (!added && time < it->second) it->second = time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The kept time of one benchmark; negative when it did not run.
    double Time(const std::string& name) const {
        const auto it = m_times.find(name);
        return it != m_times.end() ? it->second : -1;
    }

    // Our time over the reference's for one suffix; negative when either run is missing.
    double Ratio(const std::string& suffix) const {
        const auto ours = m_times.find("Ours" + suffix);
        const auto reference = m_times.find(m_reference + suffix);
        if (ours == m_times.end() || reference == m_times.end() || reference->second <= 0)
            return -1;
        return ours->second / reference->second;
    }

    // One line per "Ours" run that has its reference.
    void PrintRatios(const char* title) const {
        std::printf("\n%s\n", title);
        for (const auto& [name, time] : m_times) {
            if (name.rfind("Ours", 0) != 0) continue;
            const std::string suffix = name.substr(4);
            if (const double ratio = Ratio(suffix); ratio >= 0)
                std::printf("  %-24s %6.2f\n", suffix.c_str(), ratio);
        }
    }

  private:
    std::string m_reference;
    std::map<std::string, double> m_times;
    std::set<std::string> m_medians;  // names whose time is a median
};

// Runs every registered benchmark with the ratio reporter, then prints the ratios.
inline int RunAndCompare(int argc, char** argv, const char* referencePrefix, const char* title) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(referencePrefix);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(title);
    benchmark::Shutdown();
    return 0;
}

}  // namespace quorin::bench
