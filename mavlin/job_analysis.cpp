#include "job_analysis.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "job_file.h"
#include "result_files.h"
#include "series.h"

namespace {

bool ends_with_dat(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0;
}

bool all_finite(const job_results& r) {
    for (const auto* series : {&r.weak, &r.strong})
        for (double v : *series)
            if (!std::isfinite(v))
                return false;
    return std::isfinite(r.mean) && std::isfinite(r.sdev);
}

}  // namespace

bool analyse_job(const std::string& name, const analysis_options& options) {
    static std::string buffer;
    static std::vector<double> samples;
    static job_results results;
    std::string error;
    if (!ends_with_dat(name)) {
        std::fprintf(stderr, "mavlin: %s: a job file name ends in .dat\n", name.c_str());
        return false;
    }
    switch (read_job_file(name, options, buffer, samples, error)) {
    case job_read::missing:
        // An unmatched shell pattern arrives as itself: nothing to do.
        std::fprintf(stderr, "mavlin: skipping %s: no such file\n", name.c_str());
        return true;
    case job_read::failed: std::fprintf(stderr, "%s\n", error.c_str()); return false;
    case job_read::ok: break;
    }
    compute_series(samples, options, results);
    if (!all_finite(results)) {
        std::fprintf(stderr, "mavlin: %s: the samples give results out of range\n", name.c_str());
        return false;
    }
    if (!write_result_files(name.substr(0, name.size() - 4), results, buffer, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}
