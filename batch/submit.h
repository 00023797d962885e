#pragma once

// submit DIR [--partition P] [--cpus-per-task C] [--max-parallel M] [--time T]
// [--chunk K] [--dry-run]: the pending inputs as a Slurm job array, K inputs
// per task. The script holds no path but as a word quoted for the shell;
// sbatch gets the rest as arguments.

#include <cstddef>
#include <string>
#include <vector>

int submit_batch(const std::vector<std::string>& arguments);

// The script of an array of tasks 0..tasks-1 (at most max_parallel at a time
// when not 0) that runs self array-task dir list chunk.
std::string array_script(const std::string& self, const std::string& dir, const std::string& list,
                         std::size_t count, std::size_t chunk, std::size_t tasks,
                         unsigned long cpus, unsigned long max_parallel);

// The body of one array task: its part of the list.
int run_array_task(const std::vector<std::string>& arguments);
