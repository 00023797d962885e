// Measures every stage of vimsor beside the minimal loop that does the same
// work, in one run, and prints each pair with its ratio:
//
//   vimsor_bench [--hours=H] [--text-hours=H] [--dir=D] [--sum-out=F] [--sum-hours=H] [benchmark flags]
//
// --hours sets the block-format recording (100 Hz, 3 channels) that the
// block load, job files, result collection and outputs work on (default 24);
// --text-hours the TM4 and legacy ASCII recordings (default 1). --sum-out
// writes the CPU seconds of the minimal loops of a binary-output run (block
// read, job files, result reading, binary output, clean-up) for the
// end-to-end table, carried over to a recording of --sum-hours hours.

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "collect.h"
#include "fastest_runs.h"
#include "minimal_loops.h"
#include "nevra.h"
#include "nevra16.h"
#include "nevra24.h"
#include "nevra_tm4.h"
#include "nevra_writer.h"
#include "pipeline.h"
#include "recordings.h"
#include "row_files.h"
#include "settings.h"
#include "stores.h"
#include "write_file.h"

namespace {

constexpr double hz = 100.0;
constexpr std::size_t workers = 2;

struct config {
    double hours = 24.0;
    double text_hours = 1.0;
    std::string dir = "/tmp/vimsor-bench";
    std::string sum_out;
    double sum_hours = 0.0;  // 0: the same as hours
};

config take_own_flags(int& argc, char** argv) {
    config c;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&arg](const char* flag) { return arg.substr(std::strlen(flag)); };
        if (arg.rfind("--hours=", 0) == 0)
            c.hours = std::stod(value("--hours="));
        else if (arg.rfind("--text-hours=", 0) == 0)
            c.text_hours = std::stod(value("--text-hours="));
        else if (arg.rfind("--dir=", 0) == 0)
            c.dir = value("--dir=");
        else if (arg.rfind("--sum-out=", 0) == 0)
            c.sum_out = value("--sum-out=");
        else if (arg.rfind("--sum-hours=", 0) == 0)
            c.sum_hours = std::stod(value("--sum-hours="));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return c;
}

std::size_t frames_of(double hours) { return static_cast<std::size_t>(hours * 3600.0 * hz); }

void remove_rows(const char* dir, std::size_t rows, const char* extension) {
    char name[4096];
    for (std::size_t r = 0; r < rows; ++r) {
        std::snprintf(name, sizeof name, "%svm%c%04zu%s", dir, static_cast<char>('a' + r % workers),
                      r, extension);
        ::unlink(name);
    }
}

void fail(const std::string& what) {
    std::cerr << "vimsor_bench: " << what << "\n";
    std::exit(1);
}

void expect_same_file(const std::string& a, const std::string& b) {
    if (bench::read_whole(a) != bench::read_whole(b))
        fail(a + " and " + b + " differ: the minimal loop does not do the product's work");
}

// Stores filled as the pipeline fills them for the block recording.
void fill_stores(const std::string& nv24) {
    const Nevra::NEVRA24 recording(nv24.c_str());
    time_array.assign(recording.get_time().begin(), recording.get_time().end());
    original.assign(bench::channels, {});
    for (unsigned c = 0; c < bench::channels; ++c)
        original[c].assign(recording.get_data(c).begin(), recording.get_data(c).end());
    processed.assign(bench::channels, {});
    firstline =
        Nevra::compose_comment(recording.get_frequency(), recording.get_channels().front().m_gain,
                               recording.station_name(), recording.get_header().common.m_seconds,
                               Nevra::FrequencyDigits::six_significant);
}

void make_result_files(std::size_t rows) {
    for (std::size_t r = 0; r < rows; ++r)
        testwriters::write_file(row2basename(r) + ".siw", bench::result_text(r));
}

template <typename Work>
void add(const std::string& name, Work work) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [work](benchmark::State& state) {
                                     for (auto _ : state)
                                         work(state);
                                 })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.3);
}

// Prints each stage beside its minimal loop; scale carries the minimal sum
// over to a recording of another length: every stage's work grows with the
// number of samples.
void print_pairs(const bench::FastestRuns& runs, const std::vector<std::string>& stages,
                 const std::string& sum_out, double scale) {
    std::printf("\n%-22s %12s %12s %8s %12s %12s %8s\n", "stage", "product ms", "minimal ms",
                "ratio", "product cpu", "minimal cpu", "ratio");
    for (const std::string& stage : stages) {
        const bench::Times p = runs.at(stage + "/product");
        const bench::Times m = runs.at(stage + "/minimal");
        std::printf("%-22s %12.1f %12.1f %8.2f %12.1f %12.1f %8.2f\n", stage.c_str(), p.real * 1e3,
                    m.real * 1e3, p.real / m.real, p.cpu * 1e3, m.cpu * 1e3, p.cpu / m.cpu);
    }
    double sum = 0.0;
    for (const char* stage : {"block_load", "job_files", "collect", "output_binary", "cleanup"})
        sum += runs.at(std::string(stage) + "/minimal").cpu;
    std::printf("%-22s %12s %12.1f %8s %12s %12.1f\n", "cleanup", "-",
                runs.at("cleanup/minimal").real * 1e3, "-", "-",
                runs.at("cleanup/minimal").cpu * 1e3);
    std::printf(
        "minimal loops of a binary-output run (block read, job files, results, binary output, "
        "clean-up): %.2f s cpu\n",
        sum);
    if (scale != 1.0)
        std::printf("the same, carried over to the end-to-end recording (x %.2f): %.2f s cpu\n",
                    scale, sum * scale);
    if (!sum_out.empty())
        std::ofstream(sum_out) << sum * scale << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    const config cfg = take_own_flags(argc, argv);
    benchmark::Initialize(&argc, argv);
    ::mkdir(cfg.dir.c_str(), 0755);
    if (::chdir(cfg.dir.c_str()) != 0)
        fail("can't enter " + cfg.dir);
    ::mkdir("minimal", 0755);
    quiet = 1;
    namebase = "vm";
    global_nr_cpus = workers;

    const std::size_t frames = frames_of(cfg.hours);
    const std::size_t text_frames = frames_of(cfg.text_hours);
    const std::size_t rows = frames / size * bench::channels;
    std::cerr << "making recordings in " << cfg.dir << ": " << frames << " samples per channel, "
              << rows << " rows\n";
    bench::write_nv24("day.nv24", frames, hz);
    bench::write_tm4("text.tm4", text_frames, hz);
    bench::write_legacy_ascii("text.da1", text_frames / size, hz);
    fill_stores("day.nv24");
    make_result_files(rows);

    // Every minimal loop must produce what the product produces.
    write_job_files(hz);
    bench::write_jobs("minimal/", original, time_array.size(), hz, workers);
    expect_same_file("vma0000.dat", "minimal/vma0000.dat");
    expect_same_file(row2basename(rows - 1) + ".dat", "minimal/" + row2basename(rows - 1) + ".dat");
    read_results(weak, rows, size);
    std::vector<std::vector<double>> minimal_slots(bench::channels);
    bench::read_results(rows, workers, ".siw", minimal_slots);
    if (minimal_slots != processed)
        fail("result reading differs between product and minimal loop");
    const std::vector<std::pair<output_modes_t, std::string>> outputs = {
        {OUTPUT_MODE_BINARY, "binary"}, {OUTPUT_MODE_ASCII, "ascii"}, {OUTPUT_MODE_TM4, "tm4"}};
    auto product_output = [](output_modes_t m, const std::string& name) {
        mode = m;
        std::unique_ptr<nevra_writer> writer(nevra_writer_detect(name.c_str(), firstline.c_str()));
        writer->write(time_array, processed, size);
        writer->close();
    };
    auto minimal_output = [](output_modes_t m, const std::string& name) {
        if (m == OUTPUT_MODE_BINARY)
            bench::write_binary(name, firstline, time_array, processed);
        else if (m == OUTPUT_MODE_ASCII)
            bench::write_ascii(name, firstline, time_array, processed);
        else
            bench::write_tm4(name, firstline, time_array, processed);
    };
    for (const auto& [m, name] : outputs) {
        product_output(m, "out." + name);
        minimal_output(m, "minimal/out." + name);
        expect_same_file("out." + name, "minimal/out." + name);
    }
    remove_rows("", rows, ".dat");
    remove_rows("minimal/", rows, ".dat");

    add("block_load/product", [](benchmark::State&) {
        const Nevra::NEVRA24 recording("day.nv24");
        benchmark::DoNotOptimize(recording.get_time().data());
    });
    add("block_load/minimal",
        [](benchmark::State&) { benchmark::DoNotOptimize(bench::plain_read("day.nv24")); });
    add("tm4_load/product", [](benchmark::State&) {
        const Nevra::NEVRA_TM4 recording("text.tm4", 0.0);
        benchmark::DoNotOptimize(recording.get_time().data());
    });
    add("tm4_load/minimal", [](benchmark::State&) {
        bench::tm4_numbers numbers;
        bench::tm4_from_chars("text.tm4", numbers);
        benchmark::DoNotOptimize(numbers.times.data());
    });
    add("legacy_ascii_load/product", [](benchmark::State&) {
        const Nevra::NEVRA16 recording("text.da1", 0.0);
        benchmark::DoNotOptimize(recording.get_time().data());
    });
    add("legacy_ascii_load/minimal", [](benchmark::State&) {
        std::vector<double> numbers;
        bench::legacy_from_chars("text.da1", numbers);
        benchmark::DoNotOptimize(numbers.data());
    });
    add("job_files/product", [rows](benchmark::State& state) {
        tid.clear();
        write_job_files(hz);
        state.PauseTiming();
        remove_rows("", rows, ".dat");
        state.ResumeTiming();
    });
    add("job_files/minimal", [rows](benchmark::State& state) {
        bench::write_jobs("minimal/", original, time_array.size(), hz, workers);
        state.PauseTiming();
        remove_rows("minimal/", rows, ".dat");
        state.ResumeTiming();
    });
    add("collect/product", [rows](benchmark::State&) { read_results(weak, rows, size); });
    add("collect/minimal", [rows, &minimal_slots](benchmark::State&) {
        bench::read_results(rows, workers, ".siw", minimal_slots);
    });
    // The clean-up removes the four files of every row; it is this loop in
    // the product as well, so it is measured on its own side only.
    add("cleanup/minimal", [rows](benchmark::State& state) {
        state.PauseTiming();
        const std::string text = bench::result_text(0);
        for (std::size_t r = 0; r < rows; ++r)
            for (const char* extension : {".dat", ".kto", ".sis"})
                testwriters::write_file("minimal/" + row2basename(r) + extension, text);
        state.ResumeTiming();
        for (const char* extension : {".dat", ".kto", ".sis", ".siw"})
            remove_rows("minimal/", rows, extension);
    });
    for (const auto& [m, name] : outputs) {
        const output_modes_t chosen = m;
        const std::string file = "out." + name;
        add("output_" + name + "/product",
            [=](benchmark::State&) { product_output(chosen, file); });
        add("output_" + name + "/minimal",
            [=](benchmark::State&) { minimal_output(chosen, "minimal/" + file); });
    }

    bench::FastestRuns runs;
    benchmark::RunSpecifiedBenchmarks(&runs);
    print_pairs(runs,
                {"block_load", "tm4_load", "legacy_ascii_load", "job_files", "collect",
                 "output_binary", "output_ascii", "output_tm4"},
                cfg.sum_out, cfg.sum_hours > 0.0 ? cfg.sum_hours / cfg.hours : 1.0);
    remove_rows("", rows, ".siw");
    benchmark::Shutdown();
    return 0;
}
