// Result trees of SDS runs read back with libmseed, and the reference they
// are held against: plain vimsor runs on cuts the test makes itself, at 20 Hz.
#pragma once

#include <gtest/gtest.h>
#include <libmseed.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../e2e/run.h"
#include "day_task.h"
#include "miniseed_writer.h"
#include "nv24_writer.h"
#include "options.h"
#include "sds_tree_writer.h"

namespace sdsresults {

namespace fs = std::filesystem;
using sds::ResultTree;

inline constexpr int64_t tick_us = 50'000;  // 20 Hz
inline constexpr int64_t ticks_per_day = 86400 * 20;

inline option_values parse_options(std::vector<std::string> words) {
    words.insert(words.begin(), "vimsor");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    return parse_vimsor_options(static_cast<int>(argv.size()), argv.data(), false).values;
}

// Runs the built vimsor with options on a file, in the file's directory.
inline void run_vimsor(const std::vector<std::string>& options, const fs::path& input) {
    std::vector<std::string> args = options;
    args.push_back(input.filename().string());
    const testrun::Result result = testrun::run("vimsor", args, input.parent_path());
    if (result.status != 0)
        throw std::runtime_error("vimsor failed on " + input.string() + ": " + result.err);
}

// A result sample: its time (µs since 1970) and its value as vimsor's six-digit text.
using Sample = std::pair<int64_t, std::string>;
using Trees = std::map<std::string, std::vector<Sample>>;  // "weak/XX.AR1..BDF" -> samples

inline std::string six_digits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "1709164800.050000" as microseconds, read as digits.
inline int64_t tm4_time_us(const std::string& text) {
    const size_t point = text.find('.');
    return std::stoll(text.substr(0, point)) * 1'000'000 + std::stoll(text.substr(point + 1));
}

// The samples of every element in a TM4 result file: time column, then one value per element.
inline void read_tm4(const fs::path& file, const std::string& tree,
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

// "YYYY.DDD" of the day that holds time_us.
inline std::string year_doy(int64_t time_us) {
    const time_t seconds = static_cast<time_t>(time_us / 1'000'000);
    std::tm day{};
    gmtime_r(&seconds, &day);
    char text[16];
    std::strftime(text, sizeof text, "%Y.%j", &day);
    return text;
}

// The samples of the result trees under out read back with libmseed, every
// record checked to be FLOAT32 at 20 Hz and to start within the day its file names.
inline Trees read_result_trees(const fs::path& out) {
    Trees trees;
    if (!fs::exists(out))
        return trees;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        if (!entry.is_regular_file())
            continue;
        const std::string tree = fs::relative(entry.path(), out).begin()->string();
        const std::string name = entry.path().filename().string();
        for (const msw::Record& r : msw::read_records(entry.path())) {
            EXPECT_EQ(r.encoding, DE_FLOAT32);
            EXPECT_EQ(r.rate, 20.0);
            EXPECT_EQ(year_doy(r.start_us), name.substr(name.size() - 8)) << name;
            auto& samples = trees[tree + "/" + r.id];
            for (size_t i = 0; i < r.values.size(); ++i)
                samples.emplace_back(r.start_us + static_cast<int64_t>(i) * tick_us,
                                     six_digits(r.values[i]));
        }
    }
    for (auto& [name, samples] : trees)  // the day files in time order
        std::stable_sort(samples.begin(), samples.end(),
                         [](const Sample& a, const Sample& b) { return a.first < b.first; });
    return trees;
}

// The test's own cut of a day: the runs of 20 Hz ticks within the day that
// every trace has, each of at least 512; vimsor run plainly on each.
inline Trees plain_runs(const std::vector<sdsw::Trace>& traces, int64_t day_start_us,
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
        for (const ResultTree& tree : sds::result_trees(parse_options(options)))
            read_tm4(dir / ("cut" + tree.extension), tree.name, traces, trees);
    }
    return trees;
}

}  // namespace sdsresults
