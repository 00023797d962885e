// The companion programs beside their bounds, on a block-format recording
// (by default 24 h, 3 channels, 100 Hz):
//   the nvinfo program (run as a process; it reads the file in a child of
//   its own) and its report in-process, against vimsor's own load of the file;
//   the conversion to miniSEED against libmseed's Steim-2 packer alone on
//   the same samples;
//   miniSEED to TM4 against the TM4 writer alone on the same values.
// Best of the repetitions; wall time, since a child's work is not the
// parent's CPU time.

#include "convert.h"
#include "fastest_runs.h"
#include "info_report.h"
#include "miniseed_write.h"
#include "nevra.h"
#include "nevra_base.h"
#include "recordings.h"
#include "seed_codes.h"
#include "tm4_write.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr double hz = 100.0;
constexpr const char* day_file = "day.nv24";

struct Config {
    double hours = 24.0;
    std::string dir = "nvtools-bench";
};

Config take_own_flags(int& argc, char** argv) {
    Config config;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--hours=", 0) == 0)
            config.hours = std::atof(arg.c_str() + 8);
        else if (arg.rfind("--dir=", 0) == 0)
            config.dir = arg.substr(6);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return config;
}

std::unique_ptr<Nevra::Nevra_Base> load(const char* file) {
    std::unique_ptr<Nevra::Nevra_Base> recording(Nevra::nvdetect(file, 0.0));
    if (!recording) {
        std::cerr << "cannot load " << file << "\n";
        std::exit(1);
    }
    return recording;
}

// Runs the nvinfo program on file, its report going to /dev/null.
void run_nvinfo(const char* file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = NVINFO_PROGRAM;
    char* argv[] = {program, const_cast<char*>(file), nullptr};
    pid_t pid = -1;
    int status = -1;
    const bool started = posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started || waitpid(pid, &status, 0) != pid || status != 0) {
        std::cerr << "nvinfo failed on " << file << "\n";
        std::exit(1);
    }
}

void discard_record(char*, int, void* bytes) { *static_cast<long*>(bytes) += 1; }

template <typename Work>
void add(const std::string& name, Work work) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [work](benchmark::State& state) {
                                     for (auto _ : state)
                                         work();
                                 })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseRealTime();
}

// One row: a program beside its bound; nothing for a pair filtered out.
void print_row(const bench::FastestRuns& runs, const char* label, const std::string& product,
               const std::string& bound, double samples) {
    if (!runs.has(product) || !runs.has(bound))
        return;
    const bench::Times p = runs.at(product);
    const bench::Times b = runs.at(bound);
    // A program run as a process spends its CPU time outside this one.
    if (product == "nvinfo")
        std::printf("%-36s %9.1f %9.1f %6.2f %9s %9s %6s %11.3g\n", label, p.real * 1e3,
                    b.real * 1e3, p.real / b.real, "-", "-", "-", samples / p.real);
    else
        std::printf("%-36s %9.1f %9.1f %6.2f %9.1f %9.1f %6.2f %11.3g\n", label, p.real * 1e3,
                    b.real * 1e3, p.real / b.real, p.cpu * 1e3, b.cpu * 1e3, p.cpu / b.cpu,
                    samples / p.real);
}

void print_pairs(const bench::FastestRuns& runs, double samples) {
    std::printf("\n%-36s %9s %9s %6s %9s %9s %6s %11s\n", "companion program / bound", "wall ms",
                "bound", "ratio", "cpu ms", "bound", "ratio", "samples/s");
    print_row(runs, "nvinfo program / vimsor's load", "nvinfo", "vimsor_load", samples);
    print_row(runs, "nvinfo report in-process / load", "nvinfo_report", "vimsor_load", samples);
    print_row(runs, "nvconvert to miniSEED / Steim-2", "to_miniseed", "steim2_packer", samples);
    print_row(runs, "nvconvert miniSEED to TM4 / writer", "to_tm4", "tm4_writer", samples);
}

}  // namespace

int main(int argc, char** argv) {
    const Config config = take_own_flags(argc, argv);
    benchmark::Initialize(&argc, argv);
    ::mkdir(config.dir.c_str(), 0755);
    if (::chdir(config.dir.c_str()) != 0) {
        std::cerr << "cannot enter " << config.dir << "\n";
        return 1;
    }
    const auto frames = static_cast<std::size_t>(config.hours * 3600.0 * hz);
    std::cerr << "making " << day_file << ": " << frames << " samples per channel\n";
    bench::write_nv24(day_file, frames, hz);
    const double samples = static_cast<double>(frames) * bench::channels;

    // The samples the packer gets and the values the TM4 writer gets, as the
    // conversions see them.
    const auto recording = load(day_file);
    std::vector<std::vector<double>> values;
    for (std::size_t c = 0; c < bench::channels; ++c)
        values.emplace_back(recording->get_data(c).begin(), recording->get_data(c).end());
    nvtools::recording_to_miniseed(day_file, "day.mseed", {});

    add("vimsor_load", [] { benchmark::DoNotOptimize(load(day_file).get()); });
    add("nvinfo", [] { run_nvinfo(day_file); });
    add("nvinfo_report", [] { benchmark::DoNotOptimize(nvtools::describe_file(day_file, false)); });
    add("steim2_packer", [&recording] {
        long records = 0;
        for (std::size_t c = 0; c < bench::channels; ++c) {
            const nvtools::TraceHeader header{
                "XX",  "KIRUN", "0" + std::to_string(c),
                "HDF", hz,      static_cast<std::int64_t>(bench::start_second) * 1000000};
            const std::vector<std::int32_t>& data = recording->get_data(c);
            nvtools::pack_trace(header, {data.data(), nullptr, data.size()}, 4096, discard_record,
                                &records);
        }
        benchmark::DoNotOptimize(records);
    });
    add("to_miniseed", [] { nvtools::recording_to_miniseed(day_file, "day.mseed", {}); });
    add("tm4_writer", [&values] {
        FILE* out = std::fopen("writer.tm4", "w");
        if (out == nullptr) {
            std::cerr << "cannot create writer.tm4\n";
            std::exit(1);
        }
        nvtools::write_tm4(out,
                           Nevra::compose_comment(hz, 1, "kiruna", bench::start_second,
                                                  Nevra::FrequencyDigits::round_trip),
                           std::int64_t{bench::start_second} * 1000000, hz, values);
        if (std::fclose(out) != 0) {
            std::cerr << "cannot write writer.tm4\n";
            std::exit(1);
        }
    });
    add("to_tm4", [] {
        nvtools::Tm4Options options;
        options.station = "kiruna";
        nvtools::miniseed_to_tm4("day.mseed", "day.tm4", options);
    });

    bench::FastestRuns runs;
    benchmark::RunSpecifiedBenchmarks(&runs);
    print_pairs(runs, samples);
    for (const char* file : {day_file, "day.mseed", "writer.tm4", "day.tm4"})
        std::remove(file);
    return 0;
}
