// Conversions keep every value, time and rate, or refuse naming the cause: round trips through
// nvconvert, each miniSEED file read (and the test's own input written) by libmseed here.

#include "common.h"
#include "miniseed_write.h"
#include "nevra.h"
#include "nevra_base.h"
#include "nv24_writer.h"
#include "run.h"
#include "seed_codes.h"

#include <libmseed.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t may_1 = 1462060800;  // 2016-05-01 00:00:00 UTC
constexpr std::int64_t start_us = may_1 * 1000000LL + 123456;
constexpr size_t samples = 3000;

using Value = double (*)(size_t sample, size_t channel);

// A trace of one id: its first record's rate and start, every value, and how far (µs) any
// record's start lies from start + samples before it / rate (infinite at another rate).
struct Trace {
    double rate = 0;
    std::int64_t start_us = 0;
    std::vector<double> values;
    double worst_us = 0;
};

std::map<std::string, Trace> read_traces(const fs::path& file) {
    std::map<std::string, Trace> traces;
    MSFileParam* reader = nullptr;
    MSRecord* r = nullptr;
    while (ms_readmsr_r(&reader, &r, file.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        const std::string id =
            std::string(r->network) + "." + r->station + "." + r->location + "." + r->channel;
        Trace& t = traces.try_emplace(id, Trace{r->samprate, r->starttime, {}, 0}).first->second;
        const double expected = t.start_us + t.values.size() * 1e6 / t.rate;
        t.worst_us = std::max(
            t.worst_us, r->samprate == t.rate ? std::fabs(r->starttime - expected) : INFINITY);
        for (int64_t i = 0; i < r->numsamples; ++i)
            t.values.push_back(r->sampletype == 'i' ? static_cast<int32_t*>(r->datasamples)[i]
                                                    : static_cast<double*>(r->datasamples)[i]);
    }
    ms_readmsr_r(&reader, &r, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return traces;
}

// Three channels of value(i, c) from start_us.
std::string block_file(double rate, std::uint8_t station, Value value, unsigned channels = 3) {
    nv24w::File file = nv24w::make_file(channels, rate, may_1, 123456000);
    file.header.station = station;
    for (size_t i = 0; i < samples; ++i)
        for (unsigned c = 0; c < channels; ++c)
            file.samples.push_back(
                static_cast<std::uint32_t>(static_cast<std::int32_t>(value(i, c))));
    return nv24w::encode(file);
}

// Traces IM.LYCK2.0<c>.BDF at 20 Hz from start_us in FLOAT64, with Blockette 1001.
void write_float64(const fs::path& file, Value value) {
    FILE* out = std::fopen(file.c_str(), "wb");
    for (size_t c = 0; c < 3; ++c) {
        std::vector<double> values(samples);
        for (size_t i = 0; i < samples; ++i)
            values[i] = value(i, c);
        MSRecord* msr = msr_init(nullptr);
        std::strcpy(msr->network, "IM");
        std::strcpy(msr->station, "LYCK2");
        std::snprintf(msr->location, sizeof msr->location, "0%zu", c);
        std::strcpy(msr->channel, "BDF");
        msr->starttime = start_us, msr->samprate = 20, msr->reclen = 512;
        msr->encoding = DE_FLOAT64, msr->sampletype = 'd';
        msr->datasamples = values.data(), msr->numsamples = static_cast<int64_t>(samples);
        blkt_1001_s microseconds{};
        msr_addblockette(msr, reinterpret_cast<char*>(&microseconds), sizeof microseconds, 1001, 0);
        int64_t packed = 0;
        const auto append = [](char* record, int length, void* stream) {
            std::fwrite(record, 1, static_cast<size_t>(length), static_cast<FILE*>(stream));
        };
        msr_pack(msr, append, out, &packed, 1, 0);
        msr->datasamples = nullptr;
        msr_free(&msr);
    }
    std::fclose(out);
}

void convert(const testrun::TempDir& dir, const std::string& in, const std::string& out) {
    const testrun::Result r = testrun::run("nvconvert", {in, out}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
}

struct RoundTrip {
    std::string input;  // bytes of in.nv24, or "" for FLOAT64 miniSEED
    double rate;
    Value value;
    const char *station, *id, *first_line;  // id: with %zu for the channel
};

// The three traces of file: ids, rate, start and values exact, one segment each.
void expect_traces(const fs::path& file, const RoundTrip& c) {
    SCOPED_TRACE(file);
    const auto traces = read_traces(file);
    ASSERT_EQ(traces.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        char id[32];
        std::snprintf(id, sizeof id, c.id, k);
        ASSERT_EQ(traces.count(id), 1u) << id;
        const Trace& t = traces.at(id);
        EXPECT_EQ(t.rate, c.rate);
        EXPECT_EQ(t.start_us, start_us);
        EXPECT_LE(t.worst_us, 1.0) << id;
        ASSERT_EQ(t.values.size(), samples);
        for (size_t i = 0; i < samples; ++i)
            ASSERT_EQ(t.values[i], c.value(i, k)) << id << " " << i;
    }
}

// The TM4 file's first data line, and the file as vimsor's reader loads it.
void expect_tm4(const fs::path& file, const RoundTrip& c) {
    const std::string tm4 = testrun::read_file(file);
    EXPECT_EQ(tm4.substr(tm4.find('\n') + 1, std::strlen(c.first_line) + 1),
              c.first_line + std::string("\n"));
    const std::unique_ptr<Nevra::Nevra_Base> loaded(Nevra::nvdetect(file.c_str(), 0));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->get_frequency(), c.rate);
    EXPECT_STREQ(loaded->station_name(), c.station);
    ASSERT_EQ(loaded->get_time().size(), samples);
    for (size_t i = 0; i < samples; ++i) {
        ASSERT_NEAR(loaded->get_time(i), start_us / 1e6 + i / c.rate, 1e-6) << i;
        for (size_t k = 0; k < 3; ++k)
            ASSERT_EQ(loaded->get_data(k)[i], static_cast<std::int32_t>(c.value(i, k))) << i;
    }
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
    const RoundTrip cases[] = {
        {block_file(100, 1, edges), 100, edges, "kiruna", "XX.KIRUN.0%zu.HDF",
         "1462060800.123456 8388608 -8388608 8388607"},
        {block_file(100.001220703125, 6, small), 100.001220703125, small, "kiruna2",
         "XX.KIRU2.0%zu.HDF", "1462060800.123456 0 -25 -50"},
        {"", 20, fractions, "lycksele2", "XX.LYCK2.0%zu.BDF", "1462060800.123456 0 -0.1 -0.2"},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.id);
        testrun::TempDir dir;
        if (c.input.empty()) {
            write_float64(dir / "a.mseed", c.value);
        } else {
            testrun::write_file(dir / "in.nv24", c.input);
            convert(dir, "in.nv24", "a.mseed");
            expect_traces(dir / "a.mseed", c);
        }
        convert(dir, "a.mseed", "b.tm4");
        expect_tm4(dir / "b.tm4", c);
        convert(dir, "b.tm4", "c.mseed");
        expect_traces(dir / "c.mseed", c);
    }
}

// What miniSEED or TM4 cannot hold is refused, naming the file and the cause, and nothing is
// written; 100 channels still get distinct ids.
TEST(ExactConversion, RefusalsAndTheLastLocationCode) {
    testrun::TempDir dir;
    const Value one = [](size_t, size_t) { return 1.0; };
    testrun::write_file(dir / "torn.nv24", block_file(100.0012283, 1, one));
    testrun::write_file(dir / "near.nv24", block_file(20.0001, 1, one));
    testrun::write_file(dir / "wide.nv24", block_file(20, 1, one, 101));
    write_float64(dir / "big.mseed", [](size_t i, size_t c) { return i == 5 && c == 2 ? 3e9 : 0; });
    const auto inputs = testrun::names_in(dir.path());
    const std::pair<const char*, std::string> cases[] = {
        {"torn.nv24",
         "torn.nv24: the sampling rate 100.0012283 Hz has no exact form in miniSEED: "
         "neither a factor and multiplier nor Blockette 100's 32-bit float holds it"},
        {"near.nv24", "near.nv24: the sampling rate 20.0001 Hz has no exact form in miniSEED"},
        {"wide.nv24",
         "wide.nv24: 101 channels; their location codes 00 to 99 tell at most 100 "
         "apart in miniSEED"},
        {"big.mseed",
         "big.mseed: trace IM.LYCK2.02.BDF holds 3e+09 at "
         "2016-05-01T00:00:00.373456Z, outside the 32-bit samples a TM4 file holds"},
    };
    for (const auto& [in, message] : cases) {
        const std::string out = std::string(in) == "big.mseed" ? "o.tm4" : "o.mseed";
        const testrun::Result r = testrun::run("nvconvert", {in, out}, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("nvconvert: " + message), std::string::npos) << r.err;
        EXPECT_EQ(testrun::names_in(dir.path()), inputs);
    }
    testrun::write_file(dir / "hundred.nv24", block_file(20, 1, one, 100));
    convert(dir, "hundred.nv24", "o.mseed");
    const auto traces = read_traces(dir / "o.mseed");
    EXPECT_EQ(traces.size(), 100u);
    EXPECT_EQ(traces.count("XX.KIRUN.99.BDF"), 1u);
}

// The rate goes into the header's factor and multiplier only when they give it back exactly
// (ms_genfactmult succeeds for 100.0012283 too, with a rounded pair).
TEST(MiniseedWrite, RateFieldAndStationCodes) {
    using nvtools::RateField;
    const std::pair<double, std::optional<RateField>> rates[] = {
        {100, RateField::factor_multiplier},
        {0.1, RateField::factor_multiplier},
        {100.001220703125, RateField::blockette_100},
        {65535.5, RateField::blockette_100},
        {100.0012283, std::nullopt},
        {1e300, std::nullopt},
    };
    for (const auto& [rate, field] : rates) {
        std::optional<RateField> found;
        try {
            found = nvtools::rate_field(rate);
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(Nevra::round_trip_text(rate) + " Hz"),
                      std::string::npos);
        }
        EXPECT_EQ(found, field) << rate;
    }
    const std::pair<const char*, const char*> codes[] = {{"kiruna", "KIRUN"},
                                                         {"kiruna2", "KIRU2"},
                                                         {"sodankyla2", "SODA2"},
                                                         {"test", "TEST"},
                                                         {"unknown", "UNKNO"}};
    for (const auto& [station, code] : codes)
        EXPECT_EQ(nvtools::default_station_code(station), code);
}
