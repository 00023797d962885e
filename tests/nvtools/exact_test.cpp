// Conversions keep every value, time and rate, or refuse naming the cause: round trips through
// nvconvert, every miniSEED file read (and the test's own written) by libmseed here.

#include "nevra.h"
#include "miniseed_writer.h"
#include "nevra_base.h"
#include "nv24_writer.h"
#include "nvtools_support.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;

using nvtest::may_1;
constexpr std::int64_t start_us = nvtest::may_1_us + 123456;
constexpr size_t samples = 3000;

using Value = double (*)(size_t sample, size_t channel);

// Per id: the first record's rate and start, the values, and the farthest (µs) a record starts
// from start + samples before it / rate (infinite at another rate): at most 1 in one segment.
struct Trace {
    double rate = 0;
    std::int64_t start_us = 0;
    std::vector<double> values;
    double worst_us = 0;
};

std::map<std::string, Trace> read_traces(const fs::path& file) {
    std::map<std::string, Trace> traces;
    for (const msw::Record& r : msw::read_records(file)) {
        Trace& t = traces.try_emplace(r.id, Trace{r.rate, r.start_us, {}, 0}).first->second;
        const double expected = t.start_us + t.values.size() * 1e6 / t.rate;
        t.worst_us =
            std::max(t.worst_us, r.rate == t.rate ? std::fabs(r.start_us - expected) : INFINITY);
        t.values.insert(t.values.end(), r.values.begin(), r.values.end());
    }
    return traces;
}

std::string block_file(double rate, std::uint8_t station, Value value, unsigned channels = 3) {
    return nvtest::block_file(channels, rate, samples, value, 123456000, station);
}

// Traces XX.LYCK2.0<c>.BDF of value(i, c) at 20 Hz from start_us: FLOAT64, with Blockette 1001.
void write_float64(const fs::path& file, Value value) {
    for (size_t c = 0; c < 3; ++c) {
        msw::Trace t{"XX", "LYCK2", "0" + std::to_string(c), "BDF", start_us, 20, {}, DE_FLOAT64};
        t.microseconds = true;
        for (size_t i = 0; i < samples; ++i)
            t.values.push_back(value(i, c));
        msw::append(file, t);
    }
}

testrun::Result convert(const testrun::TempDir& dir, const std::string& in,
                        const std::string& out) {
    return testrun::run("nvconvert", {in, out}, dir.path());
}

}  // namespace

// Block file (or FLOAT64 miniSEED) -> miniSEED -> TM4 -> miniSEED: equal values and rates, times
// within 1 µs, one segment per trace, the station back from its code; vimsor's reader loads the
// TM4 file with the same rate and times and the values as its 32-bit model holds them.
TEST(ExactConversion, RoundTrips) {
    const Value edges = [](size_t i, size_t c) {
        const double values[] = {8388608, -8388608, 8388607, -2147483648.0, 2147483647, 1234567};
        return values[(i + c) % 6];
    };
    const Value small = [](size_t i, size_t c) { return i % 50 - 25.0 * c; };
    const Value fractions = [](size_t i, size_t c) { return i / 3.0 - 0.1 * c; };
    const struct {
        std::string block;  // bytes of in.nv24; none: FLOAT64 miniSEED
        double rate;
        Value value;
        const char *station, *id, *first_line;  // id: with %zu for the channel
    } cases[] = {
        {block_file(100, 1, edges), 100, edges, "kiruna", "XX.KIRUN.0%zu.HDF",
         "1462060800.123456 8388608 -8388608 8388607\n"},
        {block_file(100.001220703125, 6, small), 100.001220703125, small, "kiruna2",
         "XX.KIRU2.0%zu.HDF", "1462060800.123456 0 -25 -50\n"},
        {"", 20, fractions, "lycksele2", "XX.LYCK2.0%zu.BDF", "1462060800.123456 0 -0.1 -0.2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        testrun::TempDir dir;
        std::vector<std::vector<double>> expected(3, std::vector<double>(samples));
        for (size_t i = 0; i < samples; ++i)
            for (size_t k = 0; k < 3; ++k)
                expected[k][i] = c.value(i, k);
        if (c.block.empty())
            write_float64(dir / "a.mseed", c.value);
        testrun::write_file(dir / "in.nv24", c.block);
        for (const auto& [in, out] :
             {std::pair{"in.nv24", "a.mseed"}, {"a.mseed", "b.tm4"}, {"b.tm4", "c.mseed"}})
            if (!fs::exists(dir / out)) {
                EXPECT_EQ(convert(dir, in, out).status, 0) << in;
            }
        for (const char* out : {"a.mseed", "c.mseed"}) {
            auto traces = read_traces(dir / out);
            EXPECT_EQ(traces.size(), 3u) << out;
            for (size_t k = 0; k < 3; ++k) {
                char id[32];
                std::snprintf(id, sizeof id, c.id, k);
                const Trace& t = traces[id];
                EXPECT_EQ(t.rate, c.rate) << out << " " << id;
                EXPECT_EQ(t.start_us, start_us) << out << " " << id;
                EXPECT_LE(t.worst_us, 1.0) << out << " " << id;
                EXPECT_EQ(t.values, expected[k]) << out << " " << id;
            }
        }
        const std::string tm4 = testrun::read_file(dir / "b.tm4");
        EXPECT_EQ(tm4.substr(tm4.find('\n') + 1, std::strlen(c.first_line)), c.first_line);
        const std::unique_ptr<Nevra::Nevra_Base> loaded(
            Nevra::nvdetect((dir / "b.tm4").c_str(), 0));
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->get_frequency(), c.rate);
        EXPECT_STREQ(loaded->station_name(), c.station);
        ASSERT_EQ(loaded->get_time().size(), samples);
        double worst = 0;
        for (size_t i = 0; i < samples; ++i)
            worst = std::max(worst, std::fabs(loaded->get_time(i) - start_us / 1e6 - i / c.rate));
        EXPECT_LE(worst, 1e-6);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ(loaded->get_data(k),
                      std::vector<std::int32_t>(expected[k].begin(), expected[k].end()));
    }
}

// What miniSEED or TM4 cannot hold, bad input and bad command lines are refused, naming the file
// and the cause, and nothing is written; 100 channels still get distinct ids, and a station
// without a code its upper-cased name.
TEST(ExactConversion, RefusalsAndTheLastLocationCode) {
    testrun::TempDir dir;
    const Value one = [](size_t, size_t) { return 1.0; };
    testrun::write_file(dir / "torn.nv24", block_file(100.0012283, 1, one));
    testrun::write_file(dir / "near.nv24", block_file(20.0001, 1, one));
    testrun::write_file(dir / "wide.nv24", block_file(20, 1, one, 101));
    testrun::write_file(dir / "in.nv24", block_file(20, 1, one));
    write_float64(dir / "big.mseed", [](size_t i, size_t c) { return i == 5 && c == 2 ? 3e9 : 0; });
    const auto trace = [&dir](const char* file, const char* station, double rate, double sample) {
        msw::append(dir / file, {"IM", station, "", "BDF", nvtest::may_1_us, rate,
                                 std::vector<double>(300, sample),
                                 std::isnan(sample) ? DE_FLOAT64 : DE_STEIM2});
    };
    for (const char* station : {"A", "B", "C"}) {
        trace("three.mseed", station, 20.0, 5);
        trace("mixed.mseed", station, 20.0, 5);
        trace("nan.mseed", station, 20.0, *station == 'C' ? std::nan("") : 5);
    }
    trace("mixed.mseed", "D", 40.0, 5);
    const std::string whole = testrun::read_file(dir / "three.mseed");
    testrun::write_file(dir / "cut.mseed", whole.substr(0, whole.size() - 100));
    testrun::write_file(dir / "junk.mseed", whole + std::string(512, 'j'));
    // The comment line says 20 Hz; the lines come at 10 Hz.
    testrun::write_file(dir / "slow.tm4",
                        testwriters::Tm4File()
                            .comment(testwriters::tm4_comment(20, "kiruna"))
                            .samples(may_1, 10, 600, 3,
                                     [](size_t i, size_t c) { return static_cast<double>(i + c); })
                            .text());
    const auto inputs = testrun::names_in(dir.path());
    // The start of a line of standard error (libmseed may say more before).
    const std::tuple<const char*, int, std::string> cases[] = {
        {"torn.nv24 o.mseed", 1,
         "nvconvert: torn.nv24: the sampling rate 100.0012283 Hz has no exact form in miniSEED: "
         "neither a factor and multiplier nor Blockette 100's 32-bit float holds it\n"},
        {"near.nv24 o.mseed", 1,
         "nvconvert: near.nv24: the sampling rate 20.0001 Hz has no exact form"},
        {"wide.nv24 o.mseed", 1,
         "nvconvert: wide.nv24: 101 channels; their location codes 00 to 99 tell at most 100 apart "
         "in miniSEED\n"},
        {"big.mseed o.tm4", 1,
         "nvconvert: big.mseed: trace XX.LYCK2.02.BDF holds 3e+09 at 2016-05-01T00:00:00.373456Z, "
         "outside the 32-bit samples a TM4 file holds\n"},
        {"cut.mseed o.tm4", 1, "nvconvert: cut.mseed: truncated miniSEED file: 412 bytes after"},
        {"junk.mseed o.tm4", 1, "nvconvert: junk.mseed: not a readable miniSEED file (No SEED"},
        {"none.mseed o.tm4", 1, "nvconvert: none.mseed: cannot open the file\n"},
        {"mixed.mseed o.tm4", 1, "nvconvert: mixed.mseed: mixed sampling rates: IM.A..BDF at 20"},
        {"--channels=IM.[AB]..BDF three.mseed o.tm4", 1,
         "nvconvert: three.mseed: 2 traces selected"},
        {"nan.mseed o.tm4", 1, "nvconvert: nan.mseed: trace IM.C..BDF holds a value that is not a"},
        {"slow.tm4 o.mseed", 1, "nvconvert: slow.tm4: the time axis does not fit the rate of 20"},
        {"--network=XYZ in.nv24 out.mseed", 1, "nvconvert: out.mseed: network code \"XYZ\" is not"},
        {"in.nv24 out.txt", 2, "nvconvert: the format of out.txt is unknown; name it .mseed or"},
        {"--to=sac in.nv24 out.mseed", 2, "nvconvert: --to takes mseed or tm4, not \"sac\"\n"},
        {"--record-length=1000 in.nv24 out.mseed", 2, "nvconvert: --record-length must be a power"},
        {"in.nv24", 2, "nvconvert: needs an input and an output file\nusage: nvconvert"},
    };
    for (const auto& [args, status, message] : cases) {
        SCOPED_TRACE(args);
        const testrun::Result r = testrun::run("nvconvert", nvtest::words(args), dir.path());
        EXPECT_EQ(r.status, status);
        EXPECT_NE(("\n" + r.err).find("\n" + message), std::string::npos) << r.err;
        EXPECT_EQ(testrun::names_in(dir.path()), inputs);
    }
    testrun::write_file(dir / "hundred.nv24", block_file(20, 254, one, 100));  // station "test"
    EXPECT_EQ(convert(dir, "hundred.nv24", "o.mseed").status, 0);
    const auto traces = read_traces(dir / "o.mseed");
    EXPECT_EQ(traces.size(), 100u);
    EXPECT_EQ(traces.count("XX.TEST.99.BDF"), 1u);  // a station without a code: its name
}
