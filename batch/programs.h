#pragma once

// Other programs run by the batch, always with an argument vector (never a
// shell line): found on PATH, run to their end, their output read.

#include <string>
#include <vector>

// The first executable file named name in the directories of path_list
// (a PATH value), or "" when there is none.
std::string find_on_path(const std::string& name, const std::string& path_list);

// This process's PATH ("" when unset).
std::string path_variable();

// Runs argv[0] (looked up on PATH) with its standard output into output and
// its standard error discarded unless keep_errors; returns its exit status,
// 128 + N when signal N ended it, or 127 when it could not be started.
int run_program(const std::vector<std::string>& argv, std::string& output, bool keep_errors = false);

// The absolute path of this program, for the jobs that run it again.
std::string own_path();
