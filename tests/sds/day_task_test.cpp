// One day of an SDS archive through the built vimsor (with the mavlin stand-in),
// against plain vimsor runs on cuts the test makes itself.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "day_task.h"
#include "nv24_writer.h"
#include "options.h"
#include "run.h"
#include "sds_tree_writer.h"

using namespace sds;
namespace fs = std::filesystem;

namespace {

constexpr int64_t tick_us = 50'000;  // 20 Hz
constexpr int64_t ticks_per_day = 86400 * 20;

option_values parse_options(std::vector<std::string> words) {
    words.insert(words.begin(), "vimsor");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    return parse_vimsor_options(static_cast<int>(argv.size()), argv.data(), false).values;
}

// Runs the built vimsor with options on a file, in the file's directory.
void run_vimsor(const std::vector<std::string>& options, const fs::path& input) {
    std::vector<std::string> args = options;
    args.push_back(input.filename().string());
    const testrun::Result result = testrun::run("vimsor", args, input.parent_path());
    if (result.status != 0)
        throw std::runtime_error("vimsor failed on " + input.string() + ": " + result.err);
}

// A result sample: its time (µs since 1970) and its value as vimsor's six-digit text.
using Sample = std::pair<int64_t, std::string>;
using Trees = std::map<std::string, std::vector<Sample>>;  // "weak/XX.AR1..BDF" -> samples

std::string six_digits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "1709164800.050000" as microseconds, read as digits.
int64_t tm4_time_us(const std::string& text) {
    const size_t point = text.find('.');
    return std::stoll(text.substr(0, point)) * 1'000'000 + std::stoll(text.substr(point + 1));
}

// The samples of every element in a TM4 result file: time column, then one value per element.
void read_tm4(const fs::path& file, const std::string& tree,
              const std::vector<sdsw::Trace>& traces, Trees& out) {
    std::istringstream lines(testrun::read_file(file));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '!')
            continue;
        std::istringstream words(line);
        std::string time, value;
        words >> time;
        for (const sdsw::Trace& trace : traces) {
            words >> value;
            out[tree + "/" + sdsw::id_of(trace)].emplace_back(tm4_time_us(time), value);
        }
    }
}

// The samples of the result trees under out read back with libmseed, every
// record checked to be FLOAT32 at 20 Hz and to start within the day of its file.
Trees read_result_trees(const fs::path& out, int64_t day_start_us) {
    Trees trees;
    if (!fs::exists(out))
        return trees;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file())
            continue;
        const std::string tree = fs::relative(entry.path(), out).begin()->string();
        MSFileParam* reader = nullptr;
        MSRecord* msr = nullptr;
        while (ms_readmsr_r(&reader, &msr, entry.path().c_str(), 0, nullptr, nullptr, 1, 1, 0) ==
               MS_NOERROR) {
            EXPECT_EQ(msr->encoding, DE_FLOAT32);
            EXPECT_EQ(msr->samprate, 20.0);
            EXPECT_GE(msr->starttime, day_start_us);
            EXPECT_LT(msr->starttime, day_start_us + sdsw::day_us);
            char id[64];
            std::snprintf(id, sizeof id, "%s.%s.%s.%s", msr->network, msr->station,
                          msr->location, msr->channel);
            auto& samples = trees[tree + "/" + id];
            for (int64_t i = 0; i < msr->numsamples; ++i)
                samples.emplace_back(msr->starttime + i * tick_us,
                                     six_digits(static_cast<const float*>(msr->datasamples)[i]));
        }
        ms_readmsr_r(&reader, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    }
    return trees;
}

// The test's own cut of a day: the runs of 20 Hz ticks within the day that
// every trace has, each of at least 512; vimsor run plainly on each.
Trees plain_runs(const std::vector<sdsw::Trace>& traces, int64_t day_start_us,
                 const std::vector<std::string>& options) {
    std::vector<std::map<int64_t, int32_t>> by_tick(traces.size());
    for (size_t t = 0; t < traces.size(); ++t)
        for (const sdsw::Segment& segment : traces[t].segments)
            for (size_t i = 0; i < segment.samples.size(); ++i)
                by_tick[t][segment.start_us / tick_us + static_cast<int64_t>(i)] =
                    segment.samples[i];
    const int64_t first = day_start_us / tick_us;
    std::vector<std::pair<int64_t, int64_t>> runs;  // first tick, count
    for (int64_t tick = first; tick < first + ticks_per_day; ++tick) {
        bool all = true;
        for (const auto& ticks : by_tick)
            all = all && ticks.count(tick) != 0;
        if (!all)
            continue;
        if (!runs.empty() && runs.back().first + runs.back().second == tick)
            ++runs.back().second;
        else
            runs.emplace_back(tick, 1);
    }
    Trees trees;
    for (const auto& [start, count] : runs) {
        if (count < 512)
            continue;
        testrun::TempDir dir;
        const int64_t start_us = start * tick_us;
        nv24w::File file = nv24w::make_file(3, 20.0, static_cast<uint32_t>(start_us / 1'000'000),
                                            static_cast<uint32_t>(start_us % 1'000'000 * 1000));
        for (int64_t tick = start; tick < start + count; ++tick)
            nv24w::add_frame(file, {by_tick[0][tick], by_tick[1][tick], by_tick[2][tick]});
        testrun::write_file(dir / "cut.nv24", nv24w::encode(file));
        run_vimsor(options, dir / "cut.nv24");
        for (const ResultTree& tree : result_trees(parse_options(options)))
            read_tm4(dir / ("cut" + tree.extension), tree.name, traces, trees);
    }
    return trees;
}

std::vector<SeedId> element_ids(const std::vector<sdsw::Trace>& traces) {
    std::vector<SeedId> ids;
    for (const sdsw::Trace& t : traces)
        ids.push_back({t.network, t.station, t.location, t.channel});
    return ids;
}

DayJob day_job(const fs::path& dir, const std::vector<sdsw::Trace>& traces, const char* day,
               const std::vector<std::string>& options) {
    fs::create_directories(dir / "scratch");
    return {dir / "archive", element_ids(traces), parse_day(day), parse_options(options),
            dir / "scratch", dir / "out"};
}

TEST(DayTask, ResultTreesAgreeWithPlainRunsOnTheTestsOwnCuts) {
    const struct {
        const char* day;
        std::vector<std::string> options;
        size_t pieces;
        std::vector<uint64_t> without_result;  // per element
        size_t ar3_late = 0;                   // samples AR3's first run starts later
    } days[] = {
        // 02-28 23:59:00 on: 1200 samples; 1024 get results.
        {"2024-02-28", {"-4", "--quiet", "-b"}, 1, {176, 176, 176}},
        {"2024-02-28", {"-4", "--quiet"}, 0, {1200, 1200, 511}, 689},  // 511 in common: no data
        // 1200 from midnight, 600 before the next: 1024 + 512 rows.
        {"2024-02-29", {"-4", "--quiet", "-b"}, 2, {264, 264, 264}},
        // AR2's gap from 00:00:30 to 00:01:00 splits: 600 and 1200 in common.
        {"2024-03-01", {"-4", "--quiet"}, 2, {864, 264, 864}},
        {"2024-03-01", {"-4", "--quiet", "-s", "-l", "0.01"}, 2, {864, 264, 864}},  // band-pass: weak
        {"2024-03-02", {"-4", "--quiet"}, 0, {0, 0, 0}},
    };
    for (const auto& d : days) {
        SCOPED_TRACE(std::string(d.day) + " " + d.options.back());
        std::vector<sdsw::Trace> traces = sdsw::three_element_array();
        sdsw::Segment& ar3 = traces[2].segments.front();
        ar3.start_us += static_cast<int64_t>(d.ar3_late) * tick_us;
        ar3.samples.erase(ar3.samples.begin(), ar3.samples.begin() + d.ar3_late);
        testrun::TempDir dir;
        sdsw::write_tree(dir / "archive", traces);
        const DayJob job = day_job(dir.path(), traces, d.day, d.options);
        const DayOutcome outcome =
            run_day(job, [&](const fs::path& input) { run_vimsor(d.options, input); });
        EXPECT_EQ(outcome.no_data, d.pieces == 0);
        EXPECT_EQ(outcome.pieces, d.pieces);
        EXPECT_EQ(outcome.samples_without_result, d.without_result);
        const int64_t day_start = midnight_us(job.day);
        const Trees expected = plain_runs(traces, day_start, d.options);
        EXPECT_EQ(expected.empty(), d.pieces == 0);
        EXPECT_TRUE(read_result_trees(job.out, day_start) == expected);
        EXPECT_EQ(outcome.written.size(), expected.size());
        for (const std::string& name : testrun::names_in(job.scratch))
            EXPECT_NE(name.substr(0, 5), "piece") << name;  // pieces and results are removed
        ASSERT_EQ(outcome.inputs.size(), 9u);  // the day and its neighbours, per element
        for (const InputStamp& input : outcome.inputs)
            EXPECT_EQ(input.stamp, stamp_of(input.file)) << input.file;
        EXPECT_EQ(outcome.inputs[1].file, day_file(job.archive, job.elements[0], job.day));
    }
}

TEST(DayTask, RefusalsAndFailuresLeaveNoResults) {
    std::vector<sdsw::Trace> traces = sdsw::three_element_array();
    const std::vector<std::string> options = {"-4", "--quiet"};
    const struct {
        const char* what;
        int ar2_encoding;
        int fail_at_piece;  // the runner throws at this piece; -1: never
        const char* day;
        std::string error;
    } cases[] = {
        {"float", DE_FLOAT32, -1, "2024-03-01",
         "XX.AR2..BDF holds floating-point samples, which vimsor's 32-bit integer samples cannot "
         "hold exactly"},
        {"second run fails", DE_STEIM2, 1, "2024-03-01", "vimsor killed"},
        {"binary output", DE_STEIM2, -1, "2024-03-01", "the day's runs must write TM4 results (-4)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testrun::TempDir dir;
        traces[1].encoding = c.ar2_encoding;
        sdsw::write_tree(dir / "archive", traces);
        DayJob job = day_job(dir.path(), traces, c.day, options);
        if (std::string(c.what) == "binary output")
            job.options.mode = OUTPUT_MODE_BINARY;
        int piece = 0;
        std::string error;
        try {
            run_day(job, [&](const fs::path& input) {
                if (piece++ == c.fail_at_piece)
                    throw std::runtime_error("vimsor killed");
                run_vimsor(options, input);
            });
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(fs::exists(job.out));
    }
}

TEST(DayTask, ResultTreesFollowTheStrength) {
    const struct {
        std::vector<std::string> options;
        std::string trees;
    } cases[] = {
        {{"-4"}, "weak.tm4_1"},
        {{"-4", "-s"}, "strong.tm4_2"},
        {{"-4", "-b"}, "weak.tm4_1 strong.tm4_2"},
        {{"-4", "-b", "-l", "0.01"}, "weak.tm4_3"},
    };
    for (const auto& c : cases) {
        std::string trees;
        for (const ResultTree& tree : result_trees(parse_options(c.options)))
            trees += (trees.empty() ? "" : " ") + tree.name.string() + tree.extension;
        EXPECT_EQ(trees, c.trees);
    }
}

}  // namespace
