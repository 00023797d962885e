#include "time_axis.h"

#include <cmath>

namespace nvtools {

std::vector<Gap> find_gaps(const std::vector<double>& time, double frequency) {
    std::vector<Gap> gaps;
    const double interval = 1.0 / frequency;
    for (size_t i = 1; i < time.size(); ++i) {
        const double missing = time[i] - time[i - 1] - interval;
        if (std::fabs(missing) > 0.5 * interval)
            gaps.push_back({i - 1, missing});
    }
    return gaps;
}

std::vector<Run> contiguous_runs(const std::vector<double>& time, double frequency) {
    std::vector<Run> runs;
    size_t first = 0;
    for (const Gap& gap : find_gaps(time, frequency)) {
        runs.push_back({first, gap.after + 1 - first});
        first = gap.after + 1;
    }
    if (first < time.size())
        runs.push_back({first, time.size() - first});
    return runs;
}

size_t first_misfit(const std::vector<double>& time, double frequency) {
    if (time.empty())
        return 0;
    const double tolerance = 0.5 / frequency;
    for (size_t i = 0; i < time.size(); ++i)
        if (std::fabs(time[i] - (time[0] + static_cast<double>(i) / frequency)) > tolerance)
            return i;
    return time.size();
}

}  // namespace nvtools
