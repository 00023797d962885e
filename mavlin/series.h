#pragma once

// What the stand-in computes from one job's samples.

#include <vector>

#include "command_line.h"

struct job_results {
    std::vector<double> weak;  // samples minus their mean, normalised as asked
    std::vector<double>
        strong;  // weak values of at least threshold times the largest magnitude, else 0
    double mean = 0.0;
    double sdev = 0.0;  // population standard deviation
};

// Fills results (reusing its storage) from samples.
void compute_series(const std::vector<double>& samples, const analysis_options& options,
                    job_results& results);
