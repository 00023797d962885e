// Breaks in a recording's time axis. The legacy reader restarts its clock
// at a record whose time jumps, so a gap is where two consecutive sample
// times differ from one sampling interval by more than half an interval.
#pragma once

#include <cstddef>
#include <vector>

namespace nvtools {

struct Gap {
    size_t after;    // index of the last sample before the break
    double seconds;  // time missing between the two samples (negative: they overlap)
};

std::vector<Gap> find_gaps(const std::vector<double>& time, double frequency);

// Samples first .. first + count - 1 follow each other at the sampling interval.
struct Run {
    size_t first;
    size_t count;
};

// The contiguous runs of the time axis, split at its gaps.
std::vector<Run> contiguous_runs(const std::vector<double>& time, double frequency);

// The index of the first sample that lies more than half an interval from
// start + index / frequency, or time.size() when every sample fits.
size_t first_misfit(const std::vector<double>& time, double frequency);

}  // namespace nvtools
