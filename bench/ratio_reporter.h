// Console reporter for side-by-side benchmarks: keeps the fastest repetition of every run (the
// machine may be shared) and gives the time of each "Ours<suffix>" run over the time of the
// reference run with the same suffix.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorin::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(std::string referencePrefix) : m_reference(std::move(referencePrefix)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const double time = run.GetAdjustedCPUTime();
            auto [it, added] = m_times.try_emplace(run.benchmark_name(), time);
            if (!added && time < it->second) it->second = time;
        }
        ConsoleReporter::ReportRuns(runs);
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
};

}  // namespace quorin::bench
