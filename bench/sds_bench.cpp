// The costs the SDS batch adds beside vimsor's own run, each on its own:
//   the block-format writer on a day at 100 Hz x 3 channels (its CPU time and
//   wall time, into a file in DIR), against the 5 % share conversions may take;
//   the plan of a decade (3,650 days x 8 ids, empty day files made in DIR)
//   from the directory tree alone, against its bound of 10 s.
//
//   sds_bench DIR      (DIR must not exist; it is removed afterwards)
#include "nevra24_write.h"
#include "scan.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void nv24_day(const fs::path& dir) {
    const size_t samples = 86400 * 100;
    std::vector<std::vector<int32_t>> channels(3, std::vector<int32_t>(samples));
    for (size_t k = 0; k < channels.size(); ++k)
        for (size_t i = 0; i < samples; ++i)
            channels[k][i] = static_cast<int32_t>((i * 7919 + k) % 16777216) - 8388608;
    Nevra::NV24Recording rec{1714521600'000000000, 100.0, Nevra::test, {}};
    for (const auto& channel : channels)
        rec.channels.push_back({.samples = channel});
    const std::string file = (dir / "day.nv24").string();
    const double cpu = cpu_seconds(), wall = wall_seconds();
    Nevra::write_nv24_file(file, rec);
    std::printf("nv24 writer, a day at 100 Hz x 3 channels (%.1f MB): %.3f s CPU, %.3f s wall\n",
                static_cast<double>(fs::file_size(file)) / 1e6, cpu_seconds() - cpu,
                wall_seconds() - wall);
    fs::remove(file);
}

void decade_plan(const fs::path& root) {
    const sds::DayRange range = sds::parse_day_range("2015-01-01", "2024-12-28");  // 3,650 days
    std::vector<sds::SeedId> ids;
    for (int k = 1; k <= 8; ++k)
        ids.push_back({"XX", "AR" + std::to_string(k), "", "BDF"});
    for (sds::Day day = range.first; day <= range.last; day = day + 1)
        for (const sds::SeedId& id : ids) {
            const fs::path file = sds::day_file(root, id, day);
            fs::create_directories(file.parent_path());
            std::ofstream{file};
        }
    const double cpu = cpu_seconds(), wall = wall_seconds();
    const sds::ArchiveScan scan = sds::scan_archive(root, {"XX.*..BDF"}, range);
    std::printf(
        "plan of a decade, %lld days x %zu ids from the directory tree: %.3f s wall, "
        "%.3f s CPU (bound 10 s)\n",
        static_cast<long long>(range.size()), scan.elements.size(), wall_seconds() - wall,
        cpu_seconds() - cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sds_bench DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    try {
        if (!fs::create_directory(dir))
            throw std::runtime_error(dir.string() + ": exists already");
        nv24_day(dir);
        decade_plan(dir / "archive");
        fs::remove_all(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sds_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
