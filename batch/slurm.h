#pragma once

// What the batch asks of Slurm, through its commands (squeue, scontrol,
// sbatch) with argument vectors: which of the batch's arrays are still at
// work, how many of their tasks run and wait, the cluster's MaxArraySize,
// and the submission of an array.

#include <cstddef>
#include <string>
#include <vector>

#include "layout.h"
#include "status.h"

// The arrays named in DIR/jobs that are still queued or running.
std::vector<std::string> active_arrays(const batch_layout& layout);

slurm_task_counts task_counts(const std::vector<std::string>& arrays);

// From scontrol; 1001 (Slurm's default) when it cannot be read.
std::size_t max_array_size();
