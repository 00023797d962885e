#pragma once

// The progress figures of a batch: done, failed and pending of the total,
// the inputs finished per hour lately, and the end that rate gives.

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "records.h"

struct progress_figures {
    std::size_t done = 0, failed = 0, pending = 0, total = 0;
    double per_hour = 0;   // 0: nothing finished in the last hour
    std::time_t end = 0;   // estimated; 0 when there is no rate or nothing pending
};

// The rate counts the inputs finished (done or failed) in the hour before
// now, over the time since the first of them (at least a minute).
progress_figures progress_of(const std::vector<input_records>& inputs, std::time_t now);

// "progress: 5 done, 1 failed, 7 pending of 13; 120.0 inputs/hour; estimated end 2026-12-08 08:30"
std::string progress_line(const progress_figures& figures);
