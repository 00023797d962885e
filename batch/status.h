#pragma once

// status DIR: the counts of done, failed, pending and running inputs, each
// failed input with the first line of its record (vimsor's own error
// message), the progress figures and, while arrays run, Slurm's task counts.
// Of an SDS archive also the done days without data, the samples that got
// no result, and the done days whose day files changed since.

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "layout.h"
#include "manifest.h"
#include "progress.h"
#include "records.h"
#include "sds_batch.h"

struct slurm_task_counts {
    std::size_t running = 0, pending = 0;
};

struct batch_summary {
    std::size_t total = 0, done = 0, failed = 0, running = 0, pending = 0;
    std::vector<std::string> failures;  // "INPUT: FIRST LINE", in manifest order
    progress_figures progress;
    // Of a batch over an SDS archive: its done days' figures, the changed ones by day.
    std::optional<sds_figures> days;
    std::vector<std::string> changed;
};

batch_summary summarize(const batch_layout& layout, const std::vector<planned_input>& inputs,
                        const liveness& live, std::time_t now);

std::string status_text(const batch_summary& summary,
                        const std::optional<slurm_task_counts>& tasks);

// 0 when every input is done, else 1.
int status_exit(const batch_summary& summary);

// The command: prints the status of dir and returns its exit status.
int show_status(const std::string& dir);
