// The SDS archives bench/sds.sh runs vimsor-batch over, written with the test
// tree's SDS writer (libmseed):
//   sds_bench archive ROOT DAYS   DAYS whole days from 2024-01-01 of a 4-element
//                                 array XX.AR1..BDF .. XX.AR4..BDF at 20 Hz (Steim-2),
//                                 each day's data from 23:30 the day before, so that
//                                 records straddle midnight
//   sds_bench decade ROOT         empty day files of 8 ids over 3,650 days from
//                                 2015-01-01: enough for the plan, which reads no
//                                 miniSEED
#include "sds_tree_writer.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int64_t jan1_2024_us = 1704067200LL * 1000000;
constexpr int64_t jan1_2015_us = 1420070400LL * 1000000;
constexpr int64_t half_hour_us = 1800LL * 1000000;

sdsw::Trace element(int k) { return {"XX", "AR" + std::to_string(k), "", "BDF", 20.0, {}}; }

// Day by day (one day's samples at a time in memory), one extra segment
// covering the last day's final half hour.
void archive(const char* root, int days) {
    for (int day = 0; day <= days; ++day)
        for (int k = 1; k <= 4; ++k) {
            sdsw::Trace trace = element(k);
            const int64_t start = jan1_2024_us + day * sdsw::day_us - half_hour_us;
            trace.segments.push_back(sdsw::segment_20hz(start, day < days ? 86400 : 1800, k));
            sdsw::write_tree(root, {trace});
        }
}

void decade(const char* root) {
    for (int day = 0; day < 3650; ++day)
        for (int k = 1; k <= 8; ++k)
            sdsw::touch_day_file(root, element(k), jan1_2015_us + day * sdsw::day_us);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    try {
        if (what == "archive" && argc == 4 && std::atoi(argv[3]) > 0)
            archive(argv[2], std::atoi(argv[3]));
        else if (what == "decade" && argc == 3)
            decade(argv[2]);
        else {
            std::fprintf(stderr, "usage: sds_bench archive ROOT DAYS | sds_bench decade ROOT\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sds_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
