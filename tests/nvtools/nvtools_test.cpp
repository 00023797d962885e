// nvinfo, nvconvert and nvplot run on files of the test writers; miniSEED is
// written and read back by libmseed itself, never by the tools' own code.

#include "legacy_writer.h"
#include "miniseed_writer.h"
#include "nevra.h"
#include "nevra_base.h"
#include "nv24_writer.h"
#include "nvtools_support.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <set>
#include <tuple>

namespace fs = std::filesystem;
namespace lw = legacywriter;
using testwriters::formatted;
using Values = std::vector<double>;

namespace {

using nvtest::may_1;
using nvtest::may_1_us;
using nvtest::words;

// A legacy file at 18 Hz: 512-sample records from 01:00:00, the third a minute late and
// counting from 7.
const std::string s18 = lw::form3_line('S', 512, "18", "2", "k", "2016-05-01", "00:00:00");
const std::vector<lw::Record> gap_records{lw::make_record(512, 60, 0), lw::make_record(512, 60, 28),
                                          lw::make_record(512, 62, 0, 7)};

struct Trace {
    std::string id;  // NET.STA.LOC.CHA
    std::int64_t start_us = 0;
    double rate = 0.0;
    Values values;
    std::set<int> encodings;  // of the records read into this segment
};

// Every contiguous segment. The tools and the test put each trace's records in
// order: a record continues the last segment or starts one.
std::vector<Trace> read_miniseed(const std::string& file) {
    std::vector<Trace> traces;
    for (const msw::Record& r : msw::read_records(file)) {
        Trace* last = traces.empty() ? nullptr : &traces.back();
        if (last == nullptr || last->id != r.id ||
            std::llabs(last->start_us + std::llround(last->values.size() * 1e6 / r.rate) -
                       r.start_us) >= 5e5 / r.rate)
            last = &traces.emplace_back(Trace{r.id, r.start_us, r.rate, {}, {}});
        last->encodings.insert(r.encoding);
        last->values.insert(last->values.end(), r.values.begin(), r.values.end());
    }
    return traces;
}

// nvconvert with args in dir, then OUT (the last argument) read back.
std::vector<Trace> converted(const testrun::TempDir& dir, const std::vector<std::string>& args) {
    const testrun::Result r = testrun::run("nvconvert", args, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return read_miniseed(dir / args.back());
}

// The line of nvinfo's JSON array describing file (one object per line).
std::string object_of(const std::string& json, const std::string& file) {
    const size_t at = json.find("{\"file\": \"" + file + "\"");
    return at == std::string::npos ? "" : json.substr(at, json.find('\n', at) - at);
}

// The value after every "key": in text, key by key; times ("YYYY-MM-DDTHH:MM:SS.ffffffZ") in
// seconds since 1970.
Values values_of(const std::string& text, std::initializer_list<std::string> keys) {
    Values values;
    for (const std::string& key : keys) {
        const std::string label = "\"" + key + "\": ";
        for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1)) {
            const char* value = text.c_str() + at + label.size();
            std::tm utc{};
            const char* seconds = strptime(value, "\"%Y-%m-%dT%H:%M:", &utc);
            values.push_back(seconds == nullptr ? std::strtod(value, nullptr)
                                                : static_cast<double>(timegm(&utc)) +
                                                      std::strtod(seconds, nullptr));
        }
    }
    return values;
}

}  // namespace

// The JSON report of every input format; then the text report of the block file after a
// file no reader takes, a missing one and one on which the legacy reader ends the process.
TEST(Nvinfo, EveryInputFormatAndUnreadableFiles) {
    struct Expected {
        const char *file, *fields;     // fields: the object's exact text from format to rate
        std::string bytes, comment;    // comment: the comment line written ("": none)
        double samples, mean0;         // per channel; the mean of channel 0
        Values external_gains, times;  // times: start, end, then each gap's start and length
    };
    const std::string s20 = lw::form3_line('S', 512, "20", "3", "lycksele", "2016-05-01");
    const std::string tm4 = testwriters::tm4_comment(20, "lycksele"), old = "T old recorder";
    const double hour = may_1 + 3600, jan_15 = 1452816000 + 6 * 3600;  // 2016-01-15 06:00:00
    // Channel 0 counts 0 to 9, channel 1 100 to 109, channel 2 stays at -7.
    const std::string counting = nvtest::block_file(
        3, 100.0, 1000, [](int i, int c) { return c == 2 ? -7 : 100 * c + i % 10; }, 500000000);
    // Old-type records carry no time, so the reader starts every record at the file's hour.
    const std::string old_bytes =
        lw::binary_image(old, {lw::make_record(128, 0, 0), lw::make_record(128, 0, 0)}, true);
    const std::string tm4_bytes =
        testwriters::Tm4File()
            .comment(tm4)
            .samples(may_1 + 0.25, 20, 600, 4, [](size_t i, size_t c) { return 0.5 * i + c; })
            .text();
    const Expected rows[] = {
        {"a.nv24", R"("24-bit block", "station": "kiruna", "frequency_hz": 100)", counting, "",
         1000, 4.5, Values{1, 1, 1}, Values{may_1 + 0.5, may_1 + 10.49}},
        {"gap.bi1", R"("legacy binary", "station": "kiruna", "frequency_hz": 18)",
         lw::binary_image(s18, gap_records), s18, 1536, (2 * 255.5 + 262.5) / 3, Values{20, 20, 20},
         Values{hour, hour + 120 + 511 / 18.0, hour + 1023 / 18.0, 120 - 1024 / 18.0}},
        {"one.da1", R"("legacy ASCII", "station": "lycksele", "frequency_hz": 20)",
         lw::ascii_image(s20, {gap_records[0]}), s20, 512, 255.5, Values{30, 30, 30},
         Values{hour, hour + 511 / 20.0}},
        {"K6011512.raw", R"("old-type legacy", "station": "unknown", "frequency_hz": 18)",
         old_bytes, old, 256, 63.5, Values{10, 10, 10},
         Values{jan_15, jan_15 + 127 / 18.0, jan_15 + 127 / 18.0, -128 / 18.0}},
        {"r.tm4", R"("TM4", "station": "lycksele", "frequency_hz": 20)", tm4_bytes, tm4, 600,
         149.75, Values{1, 1, 1, 1}, Values{may_1 + 0.25, may_1 + 30.2}},
    };
    testrun::TempDir dir;
    std::vector<std::string> args{"--json"};
    for (const Expected& e : rows) {
        testrun::write_file(dir / e.file, e.bytes);
        args.push_back(e.file);
    }
    const testrun::Result r = testrun::run("nvinfo", args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Expected& e : rows) {
        SCOPED_TRACE(e.file);
        const std::string object = object_of(r.out, e.file);
        EXPECT_NE(object.find("\"format\": " + std::string(e.fields) + ", "), std::string::npos)
            << object;
        const std::string comment = e.comment.empty() ? "null" : "\"" + e.comment + "\"";
        EXPECT_NE(object.find("\"comment\": " + comment + ","), std::string::npos) << object;
        EXPECT_EQ(values_of(object, {"samples"}), Values{e.samples});
        EXPECT_EQ(values_of(object, {"external_gain"}), e.external_gains);
        EXPECT_DOUBLE_EQ(values_of(object, {"mean"}).front(), e.mean0);
        const Values times = values_of(object, {"start", "end", "after", "seconds"});
        ASSERT_EQ(times.size(), e.times.size()) << object;
        for (size_t t = 0; t < times.size(); ++t)
            EXPECT_NEAR(times[t], e.times[t], 1e-4);  // the legacy clock drifts a few µs
    }
    // The block file's channel records.
    const std::string block = object_of(r.out, "a.nv24");
    EXPECT_EQ(values_of(block, {"gain"}), (Values{1, 2, 3}));
    EXPECT_EQ(values_of(block, {"min"}).front(), 0);
    EXPECT_EQ(values_of(block, {"max"}).front(), 9);
    EXPECT_DOUBLE_EQ(values_of(block, {"std"}).front(), std::sqrt(8.25));
    EXPECT_DOUBLE_EQ(values_of(block, {"std"}).back(), 0.0);

    testrun::write_file(dir / "noend.bi1", "!S512Tidserier sampfrek: 18");
    // A binary comment line ends with a carriage return; this one has none, so the reader exits.
    testrun::write_file(dir / "exits.bi1",
                        "!S512Tidserier sampfrek: 18 gain: 1\n" + std::string(400, 'x'));
    const testrun::Result text =
        testrun::run("nvinfo", {"noend.bi1", "missing.nv24", "exits.bi1", "a.nv24"}, dir.path());
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("a.nv24\n  format     24-bit block\n"), std::string::npos) << text.out;
    EXPECT_EQ(text.err,
              "nvinfo: noend.bi1: no reader accepts this file (comment line without a line end)\n"
              "nvinfo: missing.nv24: cannot open the file\nnvinfo: exits.bi1: fgetc: EOF\n");
}

// Block files to Steim-2 or, where a difference needs more than 30 bits, INT32; a TM4 file with
// fractions, as vimsor's TM4 results hold, to FLOAT64.
TEST(Nvconvert, ToMiniseedReadBackByLibmseed) {
    using Value = double (*)(int frame, int channel);
    const Value steps = [](int i, int c) -> double { return (i * 37 + c * 1000) % 5000 - 2500; };
    const Value wide = [](int i, int c) -> double { return (i % 2 == 0 ? 1 : -1) * (1 << 30) + c; };
    const Value thirds = [](int i, int c) { return std::stod(formatted("%g", i % 17 / 3.0 - c)); };
    const auto block = [](Value value) {
        return nvtest::block_file(
            3, 100.0, 3000, [value](int i, int c) { return static_cast<int32_t>(value(i, c)); },
            250000000);
    };
    const std::string tm4 =
        testwriters::Tm4File()
            .comment(testwriters::tm4_comment(100, "kiruna"))
            .samples(may_1 + 0.25, 100, 3000, 3, [&](size_t i, size_t c) { return thirds(i, c); })
            .text();
    const std::tuple<std::string, const char*, Value, const char*, int> cases[] = {
        {block(steps), "in.nv24 out.mseed", steps, "XX.KIRUN.00.HDF", DE_STEIM2},
        {block(wide),
         "--to=mseed --network=IM --station-code=I53H1 --record-length=512 in.nv24 out.bin", wide,
         "IM.I53H1.00.HDF", DE_INT32},
        {tm4, "in.tm4_1 out.msd", thirds, "XX.KIRUN.00.HDF", DE_FLOAT64},
    };
    for (const auto& [bytes, args, value, id0, encoding] : cases) {
        SCOPED_TRACE(args);
        testrun::TempDir dir;
        const std::vector<std::string> argv = words(args);
        testrun::write_file(dir / argv[argv.size() - 2], bytes);
        const auto traces = converted(dir, argv);
        ASSERT_EQ(traces.size(), 3u);
        EXPECT_EQ(traces[0].id, id0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(traces[c].start_us, may_1_us + 250000);
            EXPECT_EQ(traces[c].rate, 100.0);
            EXPECT_EQ(traces[c].encodings, std::set<int>{encoding});
            ASSERT_EQ(traces[c].values.size(), 3000u);
            for (int i = 0; i < 3000; ++i)
                ASSERT_EQ(traces[c].values[i], value(i, c)) << "channel " << c << ", " << i;
        }
    }
}

// Two segments per channel; the samples after the gap keep their own time.
TEST(Nvconvert, LegacyGapGivesTwoSegments) {
    testrun::TempDir dir;
    testrun::write_file(dir / "gap.bi1", lw::binary_image(s18, gap_records));
    const auto traces = converted(dir, {"gap.bi1", "gap.mseed"});
    ASSERT_EQ(traces.size(), 6u);
    for (size_t c = 0; c < 3; ++c) {
        const Trace& before = traces[2 * c];
        const Trace& after = traces[2 * c + 1];
        EXPECT_EQ(before.id, "XX.KIRUN.0" + std::to_string(c) + ".BDF");
        EXPECT_EQ(before.start_us, may_1_us + 3600000000LL);
        ASSERT_EQ(before.values.size(), 1024u);
        ASSERT_EQ(after.values.size(), 512u);
        EXPECT_NEAR(static_cast<double>(after.start_us - may_1_us), 3720e6, 100);
        EXPECT_EQ(after.values.front(), 7 + 1000 * c);
        EXPECT_EQ(before.values.back(), 511 + 1000 * c);
    }
}

// Traces of three array elements at 20 Hz, the second segment after a gap or overlapping the first,
// and traces not selected: one TM4 file per block, each loaded by vimsor's reader and by vimsor
// itself. The blocks are all or nothing: with a_2.tm4 a directory, no a_1.tm4 replaces the earlier
// one; then the earlier files are replaced and others (a_3.tm4) left alone.
TEST(Nvconvert, MiniseedWithBreakToTm4Files) {
    // The second segment's start, then each block's start and length (in samples).
    const std::pair<int, std::vector<std::pair<int, int>>> cases[] = {
        {610, {{0, 600}, {610, 700}}}, {500, {{0, 600}, {600, 600}}}};
    const auto value = [](int sample, int station) { return sample * 3.0 + station * 100; };
    for (const auto& [second_start, blocks] : cases) {
        SCOPED_TRACE(second_start);
        testrun::TempDir dir;
        for (int station = 1; station <= 3; ++station)
            for (const auto& [first, count] : {std::pair{0, 600}, {second_start, 700}}) {
                Values values;
                for (int i = first; i < first + count; ++i)
                    values.push_back(value(i, station));
                msw::append(dir / "array.mseed", {"IM", "I53H" + std::to_string(station), "", "BDF",
                                                   may_1_us + first * 50000LL, 20.0, values});
            }
        // Traces --channels leaves out (text, a NaN) are not checked.
        msw::append(dir / "array.mseed", {"IM", "D", "", "LOG", may_1_us, 0, Values(30), DE_ASCII});
        msw::append(dir / "array.mseed",
                    {"IM", "E", "", "BDF", may_1_us, 20, Values(600, std::nan("")), DE_FLOAT64});
        testrun::write_file(dir / "a_1.tm4", "earlier");
        testrun::write_file(dir / "a_3.tm4", "not this run's");
        fs::create_directory(dir / "a_2.tm4");
        const auto before = testrun::names_in(dir.path());
        const auto args =
            words("--channels=IM.I53H3..BDF,IM.I53H[12]..BDF --station=kiruna array.mseed a.tm4");
        const testrun::Result failed = testrun::run("nvconvert", args, dir.path());
        EXPECT_EQ(failed.status, 1);
        EXPECT_NE(failed.err.find("a_2.tm4"), std::string::npos) << failed.err;
        EXPECT_EQ(testrun::names_in(dir.path()), before);
        EXPECT_EQ(testrun::read_file(dir / "a_1.tm4"), "earlier");
        fs::remove(dir / "a_2.tm4");
        const testrun::Result r = testrun::run("nvconvert", args, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "nvconvert: wrote a_1.tm4\nnvconvert: wrote a_2.tm4\n");
        EXPECT_EQ(testrun::read_file(dir / "a_3.tm4"), "not this run's");
        EXPECT_FALSE(fs::exists(dir / "a.tm4"));
        for (size_t k = 0; k < blocks.size(); ++k) {
            const std::string name = "a_" + std::to_string(k + 1) + ".tm4";
            const std::unique_ptr<Nevra::Nevra_Base> loaded(
                Nevra::nvdetect((dir / name).string().c_str(), 0));
            ASSERT_TRUE(loaded) << name;
            const auto [first, count] = blocks[k];
            ASSERT_EQ(loaded->get_time().size(), static_cast<size_t>(count)) << name;
            EXPECT_EQ(loaded->get_frequency(), 20.0);
            EXPECT_STREQ(loaded->station_name(), "kiruna");
            for (int i = 0; i < count; i += 99) {
                EXPECT_NEAR(loaded->get_time(i), may_1 + (first + i) / 20.0, 1e-6);
                for (int c = 0; c < 3; ++c)  // in the order the patterns name them: 3, 1, 2
                    EXPECT_EQ(loaded->get_data(c)[i], value(first + i, c == 0 ? 3 : c));
            }
            EXPECT_EQ(testrun::run("vimsor", {"--quiet", "--mode=tm4", name}, dir.path()).status,
                      0);
        }
    }
}
