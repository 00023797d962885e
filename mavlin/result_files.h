#pragma once

// The result files of a job X.dat: X.siw (weak-signal series), X.sis
// (strong-signal series), one number per line, and X.kto (mean and standard
// deviation on one line).

#include <string>

#include "series.h"

// Writes the three files next to the job file whose name without ".dat" is
// base. On failure error holds a message naming the file.
bool write_result_files(const std::string& base, const job_results& results, std::string& text,
                        std::string& error);
