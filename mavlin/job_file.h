#pragma once

// A job file of the driver: in normal form the block size on the first line,
// then one line of time offset and sample value per sample; in test form one
// sample value per line.

#include <string>
#include <vector>

#include "command_line.h"

enum class job_read { ok, missing, failed };

// Reads the samples of the job file name into samples (which keeps its
// capacity between jobs). On failure error holds a message naming the file.
job_read read_job_file(const std::string& name, const analysis_options& options,
                       std::string& buffer, std::vector<double>& samples, std::string& error);
