#include "series.h"

#include <algorithm>
#include <cmath>

namespace {

void mean_and_sdev(const std::vector<double>& samples, double& mean, double& sdev) {
    mean = 0.0;
    sdev = 0.0;
    if (samples.empty())
        return;
    double sum = 0.0;
    for (double x : samples)
        sum += x;
    mean = sum / static_cast<double>(samples.size());
    double squares = 0.0;
    for (double x : samples)
        squares += (x - mean) * (x - mean);
    sdev = std::sqrt(squares / static_cast<double>(samples.size()));
}

// A constant block has nothing to divide by: its deviations stay 0.
double weak_factor(const analysis_options& options, double sdev) {
    switch (options.norm) {
    case normalisation::divide_by_sdev: return sdev > 0.0 ? 1.0 / sdev : 1.0;
    case normalisation::multiply_by_sdev: return sdev;
    default: return 1.0;
    }
}

}  // namespace

void compute_series(const std::vector<double>& samples, const analysis_options& options,
                    job_results& results) {
    mean_and_sdev(samples, results.mean, results.sdev);
    const double factor = weak_factor(options, results.sdev);
    results.weak.resize(samples.size());
    double largest = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        results.weak[i] = (samples[i] - results.mean) * factor;
        largest = std::max(largest, std::fabs(results.weak[i]));
    }
    const double limit = options.threshold * largest;
    results.strong.resize(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        results.strong[i] = std::fabs(results.weak[i]) >= limit ? results.weak[i] : 0.0;
}
