// Conversion of legacy files into the channel data model, with the refined time axis.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "describe.h"
#include "legacy_writer.h"
#include "nevra16.h"
#include "run.h"

using namespace Nevra;
namespace lw = legacywriter;
using nevratest::describe;

namespace {

// Records with Unix-time words, so that record times need no date from the file name.
std::vector<lw::Record> records_at(size_t length, const std::vector<uint32_t>& times) {
    std::vector<lw::Record> records;
    for (uint32_t t : times) {
        const auto [low, high] = lw::unix_words(t);
        records.push_back(lw::make_record(length, low, high, static_cast<int>(records.size())));
    }
    return records;
}

std::string unix_comment(int length, const std::string& frequency, const std::string& gain = "1",
                         const std::string& station = "k") {
    return lw::form3_line('U', length, frequency, gain, station, "2016-01-15", "00:00:00");
}

class Nevra16 : public ::testing::Test {
protected:
    std::string path() const { return (dir / "K6011512.bi1").string(); }
    // Loads the file (null when it fails, with the reason in error); err keeps what the conversion
    // wrote to standard error.
    std::unique_ptr<NEVRA16> load(const std::string& bytes, double initial_basetime = 0.0) {
        lw::write(path(), bytes);
        std::unique_ptr<NEVRA16> rec;
        testing::internal::CaptureStderr();
        error = nevratest::error_of(
            [&] { rec = std::make_unique<NEVRA16>(path().c_str(), initial_basetime); });
        err = testing::internal::GetCapturedStderr();
        return rec;
    }
    std::string error_of(const std::string& bytes) {
        load(bytes);
        return error;
    }
    std::unique_ptr<NEVRA16> load_times(size_t length, const std::string& frequency,
                                        const std::vector<uint32_t>& times, double basetime = 0.0) {
        return load(lw::binary_image(unix_comment(static_cast<int>(length), frequency),
                                     records_at(length, times)),
                    basetime);
    }
    testrun::TempDir dir;
    std::string error, err;
};

TEST_F(Nevra16, FillsHeaderChannelsAndSamples) {
    const auto rec = load_times(128, "10", {1452816000, 1452816013});
    EXPECT_EQ(describe(rec->get_header()),
              "nv24 v1 length 0 station 1 1452816000.0 bitmap 7 channels 3 unused 0 10 Hz 16/2 "
              "bits host 0 device 0");
    EXPECT_EQ(rec->get_origin(), ORIGIN_NV16);
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10") + "< >k\n");
    ASSERT_EQ(rec->get_channels().size(), 3u);
    for (uint16_t c = 0; c < 3; ++c) {
        EXPECT_EQ(describe(rec->get_channel_info(c)),
                  "chan " + std::to_string(c) + " gain 1 -10..10 x10");
        const data_channel_type& data = rec->get_data(c);
        ASSERT_EQ(data.size(), 256u);
        EXPECT_EQ(data[127], 1000 * c + 127);
        EXPECT_EQ(data[128], 1000 * c + 1);  // the second record starts at 1
    }
    ASSERT_EQ(rec->get_time().size(), 256u);
    EXPECT_EQ(rec->get_time(0), 1452816000.0);
    EXPECT_NEAR(rec->get_time(255), 1452816025.5, 1e-4);  // 255 additions of 0.1 s
    // Samples are truncated toward zero.
    std::string text = lw::ascii_image(unix_comment(128, "10"), records_at(128, {1000}));
    text.replace(text.find(" 4 5 6 7"), 8, " 4 -3.7 3.7 7");
    const auto ascii = load(text);
    EXPECT_EQ(ascii->get_data(0)[5], -3);
    EXPECT_EQ(ascii->get_data(0)[6], 3);
}

// The gain code (1 to 4) chooses the external gain, the station word's first letter the station.
TEST_F(Nevra16, GainCodesAndStations) {
    const std::vector<lw::Record> one = records_at(128, {1000});
    const auto bytes = [&](const char* gain, const std::string& station) {
        return lw::binary_image(unix_comment(128, "10", gain, station), one);
    };
    for (const auto& [gain, word, ext_gain, station] :
         {std::tuple{"1", "K", 10.0, kiruna}, {"4", "lycksele", 40.0, lycksele}}) {
        const auto rec = load(bytes(gain, word));
        EXPECT_EQ(rec->get_channel_info(2).m_ext_gain, ext_gain);
        EXPECT_EQ(rec->get_header().header.m_station, station);
    }
    EXPECT_EQ(error_of(bytes("5", "k")), "array::at: __n (which is 4) >= _Nm (which is 4)");
    EXPECT_EQ(error_of(bytes("0", "k")),
              "array::at: __n (which is 18446744073709551615) >= _Nm (which is 4)");
    EXPECT_EQ(error_of(bytes("1", "X")), "map::at");
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10", "1", "X") + "< >X\n");
    // Without a station word: station unknown; without a gain code: the first code.
    const auto none = load(lw::binary_image("!Tidserier 18.0", one));
    EXPECT_EQ(none->get_header().header.m_station, unknown);
    EXPECT_EQ(none->get_channel_info(0).m_ext_gain, 10.0);
    EXPECT_EQ(err, "Warning: year parsed from filename, " + path() + ", is uncertain\n>" + path() +
                       " !Tidserier 18.0< >\n");
}

// A start time less than 2 s from the file's is adopted into the header.
TEST_F(Nevra16, InitialBasetimeAdoption) {
    const struct {
        double basetime;
        std::string header;
        double first;
    } cases[] = {
        {1001.5, "1001.500000000 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 1001", 1001.5},
        {1002.5, "1000.0 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 0", 1000.0},
        // Adopted, but the record opens a segment at its own time.
        {998.25, "998.250000000 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 998", 1000.0},
    };
    for (const auto& c : cases) {
        const auto rec = load_times(128, "10", {1000}, c.basetime);
        EXPECT_EQ(describe(rec->get_header()),
                  "nv24 v1 length 0 station 1 " + c.header + " device 0");
        EXPECT_EQ(rec->get_time(0), c.first);
    }
}

TEST_F(Nevra16, SegmentsAndRefinement) {
    // 512 samples at 16 Hz: every trial matches, 0.495 s is added.
    const auto whole = load_times(512, "16", {1000, 1032, 1064, 1096});
    ASSERT_EQ(whole->get_time().size(), 2048u);
    EXPECT_NEAR(whole->get_time(0), 1000.495, 1e-9);
    EXPECT_NEAR(whole->get_time(2047), 1000.495 + 2047.0 / 16.0, 1e-6);
    // 128 samples at 10 Hz: trials 0.20 to 0.39 match; the record at 1200 opens a segment too
    // short to refine.
    const auto run = load_times(128, "10", {1000, 1013, 1025, 1038, 1051, 1064, 1200});
    EXPECT_NEAR(run->get_time(0), 1000.295, 1e-9);
    EXPECT_NEAR(run->get_time(767), 1000.295 + 76.7, 1e-6);
    EXPECT_EQ(run->get_time(768), 1200.0);
    // 1.2 s of drift continues the segment.
    EXPECT_NEAR(load_times(128, "10", {1000, 1014})->get_time(128), 1012.8, 1e-9);
    const std::pair<const char*, std::vector<uint32_t>> unrefined[] = {
        {"three records", {1000, 1032, 1064}},
        {"no trial matches", {1000, 1032, 1064, 1097}},
        {"four segments",
         {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000, 3032, 3064, 3096, 4000}},
    };
    for (const auto& [name, times] : unrefined)
        EXPECT_EQ(load_times(512, "16", times)->get_time(511), 1000.0 + 511.0 / 16.0) << name;
    const auto three =
        load_times(512, "16", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000});
    EXPECT_NEAR(three->get_time(2048), 2000.495, 1e-9);
    EXPECT_EQ(three->get_time(4096), 3000.0);
    // Files without records or frequency are refused.
    EXPECT_EQ(error_of(lw::binary_image(unix_comment(128, "10"), {}) + std::string(400, '\0')),
              "no records in " + path() + "\n");
    EXPECT_EQ(error_of(lw::binary_image("!Tidserier 0 1", records_at(128, {1000}))),
              "sampling frequency 0 of " + path() + " is not a positive number\n");
}

}  // namespace
