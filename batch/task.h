#pragma once

// One job of a run or one Slurm array task: runs vimsor on the given inputs,
// one after the other, each in a scratch directory of its own and in a
// session of its own, and records how each ended.

#include <cstddef>
#include <string>
#include <vector>

#include "layout.h"
#include "processes.h"

struct task_setting {
    batch_layout layout;
    unsigned long cpus = 1;
    process_id runner;  // the run that started the task (none for an array task)
    std::string job;    // the Slurm array job (none for a run's task)
};

// Returns 0 when every input is done, 1 when one is not, 128 + N when
// signal N stopped the task (the input under way leaves no scratch and no
// running record behind).
int run_task(const task_setting& setting, const std::vector<std::size_t>& indices);

// A running record that outlived its run: its task and vimsor's session are
// stopped (on this host), then its scratch directory and the record go.
void clear_stale(const batch_layout& layout, std::size_t index, const struct running_record& record);
