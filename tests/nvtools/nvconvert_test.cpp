// nvconvert: round trips through libmseed's own reader and writer, and every
// kind of bad input.

#include "legacy_writer.h"
#include "miniseed_io.h"
#include "nevra.h"
#include "nevra_base.h"
#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace lw = legacywriter;

namespace {

constexpr std::int64_t may_1_us = 1462060800LL * 1000000;

std::set<std::string> files_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// Data lines of a TM4 text: time, then the values.
std::vector<std::vector<double>> tm4_lines(const std::string& text) {
    std::vector<std::vector<double>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '!')
            continue;
        std::istringstream numbers(line);
        lines.emplace_back();
        for (double v; numbers >> v;)
            lines.back().push_back(v);
    }
    return lines;
}

struct BlockCase {
    const char* name;
    std::vector<std::string> options;
    int32_t (*sample)(int frame, int channel);
    const char* id0;  // id of channel 0
    int encoding;
};

}  // namespace

TEST(Nvconvert, BlockFileToMiniseedReadBackByLibmseed) {
    const BlockCase cases[] = {
        {"steim2",
         {},
         [](int i, int c) { return (i * 37 + c * 1000) % 5000 - 2500; },
         "XX.KIRUN.00.HDF",
         DE_STEIM2},
        {"int32 where a difference needs more than 30 bits",
         {"--network=IM", "--station-code=I53H1", "--record-length=512"},
         [](int i, int c) { return (i % 2 == 0 ? 1 : -1) * (1 << 30) + c; },
         "IM.I53H1.00.HDF",
         DE_INT32},
    };
    for (const BlockCase& test : cases) {
        SCOPED_TRACE(test.name);
        testrun::TempDir dir;
        nv24w::File file = nv24w::make_file(3, 100.0, 1462060800, 250000000);
        file.header.station = 1;  // kiruna
        for (int i = 0; i < 3000; ++i)
            nv24w::add_frame(file, {test.sample(i, 0), test.sample(i, 1), test.sample(i, 2)});
        nv24w::write((dir / "in.nv24").string(), file);
        std::vector<std::string> args = test.options;
        args.insert(args.end(), {"in.nv24", "out.mseed"});
        const testrun::Result r = testrun::run("nvconvert", args, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;

        const std::vector<mseedio::Trace> traces = mseedio::read((dir / "out.mseed").string());
        ASSERT_EQ(traces.size(), 3u);
        EXPECT_EQ(traces[0].id, test.id0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(traces[c].start_us, may_1_us + 250000);
            EXPECT_EQ(traces[c].rate, 100.0);
            EXPECT_EQ(traces[c].encodings, std::set<int>{test.encoding});
            ASSERT_EQ(traces[c].values.size(), 3000u);
            for (int i = 0; i < 3000; ++i)
                ASSERT_EQ(traces[c].values[i], test.sample(i, c))
                    << "channel " << c << " sample " << i;
        }
    }
}

TEST(Nvconvert, VimsorTm4ResultToFloat64Miniseed) {
    testrun::TempDir dir;
    nv24w::File file = nv24w::make_file(3, 20.0, 1462060800);
    for (int i = 0; i < 1024; ++i)
        nv24w::add_frame(file, {i % 17, (i * 7) % 23, (i * i) % 31});
    nv24w::write((dir / "in.nv24").string(), file);
    ASSERT_EQ(testrun::run_vimsor({"--quiet", "--mode=tm4", "in.nv24"}, dir.path()).status, 0);
    const testrun::Result r = testrun::run("nvconvert", {"in.tm4_1", "out.msd"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;

    const auto lines = tm4_lines(testrun::read_file(dir / "in.tm4_1"));
    const auto traces = mseedio::read((dir / "out.msd").string());
    ASSERT_EQ(traces.size(), 3u);
    ASSERT_EQ(lines.size(), 1024u);
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(traces[c].encodings, std::set<int>{DE_FLOAT64});
        EXPECT_EQ(traces[c].start_us, may_1_us);
        ASSERT_EQ(traces[c].values.size(), lines.size());
        for (size_t i = 0; i < lines.size(); ++i)
            ASSERT_EQ(traces[c].values[i], lines[i][c + 1]) << "channel " << c << " line " << i;
    }
    // Whole numbers among the results would not have needed FLOAT64: make sure there are fractions.
    EXPECT_NE(lines[1][1], std::trunc(lines[1][1]));
}

// The third record comes a minute late: two segments per channel, the
// samples after the gap keep their own time.
TEST(Nvconvert, LegacyGapGivesTwoSegments) {
    testrun::TempDir dir;
    const std::vector<lw::Record> records{lw::make_record(512, 60, 0), lw::make_record(512, 60, 28),
                                          lw::make_record(512, 62, 0, 7)};
    lw::write(dir / "gap.bi1",
              lw::binary_image(lw::form3_line('S', 512, "18", "1", "k", "2016-05-01", "00:00:00"),
                               records));
    const testrun::Result r = testrun::run("nvconvert", {"gap.bi1", "gap.mseed"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto traces = mseedio::read((dir / "gap.mseed").string());
    ASSERT_EQ(traces.size(), 6u);
    for (size_t c = 0; c < 3; ++c) {
        const mseedio::Trace& before = traces[2 * c];
        const mseedio::Trace& after = traces[2 * c + 1];
        EXPECT_EQ(before.id, "XX.KIRUN.0" + std::to_string(c) + ".BDF");
        EXPECT_EQ(before.start_us, may_1_us + 3600000000LL);
        ASSERT_EQ(before.values.size(), 1024u);
        ASSERT_EQ(after.values.size(), 512u);
        EXPECT_NEAR(static_cast<double>(after.start_us - may_1_us), 3720e6, 100);
        EXPECT_EQ(after.values.front(), 7 + 1000 * c);
        EXPECT_EQ(before.values.back(), 511 + 1000 * c);
    }
}

// Traces of three array elements at 20 Hz, written by libmseed, the second
// segment after a gap or overlapping the first: one TM4 file per block, each
// loaded by vimsor's reader and by vimsor itself.
TEST(Nvconvert, MiniseedWithBreakToTm4Files) {
    struct Case {
        const char* name;
        std::int64_t second_start;                            // in samples from the first
        std::vector<std::pair<std::int64_t, size_t>> blocks;  // start sample, count
    };
    const Case cases[] = {{"gap", 610, {{0, 600}, {610, 700}}},
                          {"overlap", 500, {{0, 600}, {600, 600}}}};
    const auto value = [](std::int64_t sample, int station) {
        return static_cast<double>(sample * 3 + station * 100);
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        testrun::TempDir dir;
        const std::string in = (dir / "array.mseed").string();
        for (int station = 1; station <= 3; ++station)
            for (const auto& [first, count] :
                 {std::pair<std::int64_t, size_t>{0, 600}, {test.second_start, 700}}) {
                std::vector<double> values;
                for (size_t i = 0; i < count; ++i)
                    values.push_back(value(first + static_cast<std::int64_t>(i), station));
                mseedio::write(in, "IM", "I53H" + std::to_string(station), "", "BDF",
                               may_1_us + first * 50000, 20.0, values);
            }
        const testrun::Result r = testrun::run("nvconvert",
                                               {"--channels=IM.I53H3..BDF,IM.I53H[12]..BDF",
                                                "--station=kiruna", "array.mseed", "a.tm4"},
                                               dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(fs::exists(dir / "a.tm4"));
        for (size_t k = 0; k < test.blocks.size(); ++k) {
            const std::string name = "a_" + std::to_string(k + 1) + ".tm4";
            const std::unique_ptr<Nevra::Nevra_Base> loaded(
                Nevra::nvdetect((dir / name).string().c_str(), 0));
            ASSERT_TRUE(loaded) << name;
            const auto [first, count] = test.blocks[k];
            ASSERT_EQ(loaded->get_time().size(), count) << name;
            EXPECT_EQ(loaded->get_frequency(), 20.0);
            EXPECT_STREQ(loaded->station_name(), "kiruna");
            const int order[] = {3, 1, 2};
            for (size_t i = 0; i < count; i += 99) {
                EXPECT_NEAR(loaded->get_time(i),
                            1462060800 + (first + static_cast<std::int64_t>(i)) / 20.0, 1e-6);
                for (size_t c = 0; c < 3; ++c)
                    EXPECT_EQ(loaded->get_data(c)[i],
                              value(first + static_cast<std::int64_t>(i), order[c]));
            }
            const testrun::Result v =
                testrun::run_vimsor({"--quiet", "--mode=tm4", name}, dir.path());
            EXPECT_EQ(v.status, 0) << v.err;
        }
    }
}

TEST(Nvconvert, BadInputsLeaveNoOutput) {
    struct Case {
        const char* name;
        const char* in;
        const char* out;
        std::vector<std::string> options;
        const char* reason;
    };
    const auto write_trace = [](const fs::path& file, const char* station, double rate,
                                double sample) {
        mseedio::write(file.string(), "IM", station, "", "BDF", may_1_us, rate,
                       std::vector<double>(300, sample),
                       !std::isfinite(sample) || sample != std::trunc(sample));
    };
    testrun::TempDir dir;
    for (const char* station : {"A", "B", "C"})
        write_trace(dir / "three.mseed", station, 20.0, 5);
    fs::copy_file(dir / "three.mseed", dir / "mixed.mseed");
    write_trace(dir / "mixed.mseed", "D", 40.0, 5);
    write_trace(dir / "nan.mseed", "A", 20.0, 5);
    write_trace(dir / "nan.mseed", "B", 20.0, 5);
    write_trace(dir / "nan.mseed", "C", 20.0, std::numeric_limits<double>::quiet_NaN());
    const std::string whole = testrun::read_file(dir / "three.mseed");
    testrun::write_file(dir / "cut.mseed", whole.substr(0, whole.size() - 100));
    testrun::write_file(dir / "junk.mseed", whole + std::string(512, 'j'));
    // The comment line says 20 Hz; the lines come at 10 Hz.
    testwriters::Tm4File()
        .comment(testwriters::tm4_comment(20, "kiruna"))
        .samples(1462060800, 10, 600, 3,
                 [](size_t i, size_t c) { return static_cast<double>(i + c); })
        .save(dir / "slow.tm4");
    const std::set<std::string> inputs = files_in(dir.path());

    const Case cases[] = {
        {"truncated", "cut.mseed", "o.tm4", {}, "truncated miniSEED file"},
        {"not miniSEED after the first records",
         "junk.mseed",
         "o.tm4",
         {},
         "not a readable miniSEED file"},
        {"missing", "none.mseed", "o.tm4", {}, "cannot open"},
        {"mixed rates", "mixed.mseed", "o.tm4", {}, "mixed sampling rates"},
        {"two channels", "three.mseed", "o.tm4", {"--channels=IM.[AB]..BDF"}, "2 traces selected"},
        {"not finite", "nan.mseed", "o.tm4", {}, "not a finite number"},
        {"time axis off the rate", "slow.tm4", "o.mseed", {}, "does not fit the rate"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> args = test.options;
        args.insert(args.end(), {test.in, test.out});
        const testrun::Result r = testrun::run("nvconvert", args, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(std::string("nvconvert: ") + test.in + ": "), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(test.reason), std::string::npos) << r.err;
        EXPECT_EQ(files_in(dir.path()), inputs);
    }
}

// OUT's format from --to or the extension; a wrong command line is status 2.
TEST(Nvconvert, CommandLine) {
    testrun::TempDir dir;
    nv24w::File file = nv24w::make_file(3, 20.0, 1462060800);
    file.header.station = 1;
    for (int i = 0; i < 100; ++i)
        nv24w::add_frame(file, {i, -i, 2 * i});
    nv24w::write((dir / "in.nv24").string(), file);
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--to=mseed", "in.nv24", "out.bin"}, 0},
        {{"in.nv24", "out.txt"}, 2},
        {{"--to=sac", "in.nv24", "out.mseed"}, 2},
        {{"--record-length=1000", "in.nv24", "out.mseed"}, 2},
        {{"--network=XYZ", "in.nv24", "out.mseed"}, 1},
        {{"in.nv24"}, 2},
    };
    for (const auto& [args, status] : cases) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(testrun::run("nvconvert", args, dir.path()).status, status);
    }
    const auto traces = mseedio::read((dir / "out.bin").string());
    ASSERT_EQ(traces.size(), 3u);
    EXPECT_EQ(traces[2].values.back(), 198);
    EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"in.nv24", "out.bin"}));
}
