// One day of an SDS archive through the built vimsor (with the mavlin stand-in),
// against plain vimsor runs on cuts the test makes itself.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sds_results.h"  // with the day task, vimsor's options and the SDS writer

using namespace sds;
namespace fs = std::filesystem;
using namespace sdsresults;

namespace {

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
        std::string trees;                     // the result trees the options give
        size_t ar3_late = 0;                   // samples AR3's first run starts later
    } days[] = {
        // 02-28 23:59:00 on: 1200 samples; 1024 get results.
        {"2024-02-28", {"-4", "--quiet", "-b"}, 1, {176, 176, 176}, "weak.tm4_1 strong.tm4_2"},
        {"2024-02-28", {"-4", "--quiet"}, 0, {1200, 1200, 511}, "weak.tm4_1", 689},  // 511 in common
        // 1200 from midnight, 600 before the next: 1024 + 512 rows.
        {"2024-02-29", {"-4", "--quiet", "-b"}, 2, {264, 264, 264}, "weak.tm4_1 strong.tm4_2"},
        // AR2's gap from 00:00:30 to 00:01:00 splits: 600 and 1200 in common.
        {"2024-03-01", {"-4", "--quiet", "-s"}, 2, {864, 264, 864}, "strong.tm4_2"},
        {"2024-03-01", {"-4", "--quiet", "-s", "-l", "0.01"}, 2, {864, 264, 864}, "weak.tm4_3"},
        {"2024-03-02", {"-4", "--quiet"}, 0, {0, 0, 0}, "weak.tm4_1"},
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
        std::string trees;
        for (const ResultTree& tree : result_trees(job.options))
            trees += (trees.empty() ? "" : " ") + tree.name.string() + tree.extension;
        EXPECT_EQ(trees, d.trees);
        const Trees expected = plain_runs(traces, midnight_us(job.day), d.options);
        EXPECT_EQ(expected.empty(), d.pieces == 0);
        EXPECT_TRUE(read_result_trees(job.out) == expected);
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

}  // namespace
