// The benchmark programs' reporter: prints each run as the console reporter
// does and keeps, per benchmark, the fastest wall and CPU time of its
// repetitions. On a shared machine the slower repetitions mostly measure the
// neighbours.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Times {
    double real = 0.0;  // seconds per iteration
    double cpu = 0.0;
};

class FastestRuns : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate || run.iterations == 0)
                continue;
            const double n = static_cast<double>(run.iterations);
            const Times measured{run.real_accumulated_time / n, run.cpu_accumulated_time / n};
            const auto [entry, fresh] = m_times.try_emplace(run.run_name.function_name, measured);
            if (!fresh) {
                entry->second.real = std::min(entry->second.real, measured.real);
                entry->second.cpu = std::min(entry->second.cpu, measured.cpu);
            }
        }
    }

    bool has(const std::string& name) const { return m_times.count(name) != 0; }

    // Zero for a benchmark that did not run (filtered out).
    Times at(const std::string& name) const {
        const auto found = m_times.find(name);
        return found == m_times.end() ? Times{} : found->second;
    }

private:
    std::map<std::string, Times> m_times;
};

}  // namespace bench
