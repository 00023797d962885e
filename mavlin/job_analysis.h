#pragma once

// One job from its job file to its result files.

#include <string>

#include "command_line.h"

// Analyses the job file name and writes its result files. A name that does
// not exist is skipped with a note. Returns false after reporting a job that
// could not be analysed.
bool analyse_job(const std::string& name, const analysis_options& options);
