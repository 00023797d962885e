#include "nevra16.h"

#include "legacy_writer.h"
#include "run.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Nevra;
namespace lw = legacywriter;

namespace {

// Unix-time record words, so that record times need no date from the file name.
std::vector<lw::Record> records_at(size_t length, const std::vector<uint32_t>& times)
{
    std::vector<lw::Record> records;
    for (uint32_t t : times) {
        const auto [low, high] = lw::unix_words(t);
        records.push_back(lw::make_record(length, low, high, static_cast<int>(records.size())));
    }
    return records;
}

std::string unix_comment(int length, const std::string& frequency, const std::string& gain = "1",
                         const std::string& station = "k")
{
    return lw::form3_line('U', length, frequency, gain, station, "2016-01-15", "00:00:00");
}

class Nevra16Test : public ::testing::Test {
protected:
    std::string path() const { return (dir / "K6011512.bi1").string(); }
    // Loads the file, keeping what the conversion wrote to standard error in err.
    std::unique_ptr<NEVRA16> load(const std::string& bytes, double initial_basetime = 0.0)
    {
        lw::write(path(), bytes);
        testing::internal::CaptureStderr();
        std::unique_ptr<NEVRA16> rec;
        try {
            rec = std::make_unique<NEVRA16>(path().c_str(), initial_basetime);
        } catch (...) {
            err = testing::internal::GetCapturedStderr();
            throw;
        }
        err = testing::internal::GetCapturedStderr();
        return rec;
    }
    std::string error_of(const std::string& bytes)
    {
        try {
            load(bytes);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    std::unique_ptr<NEVRA16> load_times(size_t length, const std::string& frequency,
                                        const std::vector<uint32_t>& times, double initial_basetime = 0.0)
    {
        return load(lw::binary_image(unix_comment(static_cast<int>(length), frequency), records_at(length, times)),
                    initial_basetime);
    }
    testrun::TempDir dir;
    std::string err;
};

}  // namespace

TEST_F(Nevra16Test, FillsHeaderChannelsAndSamples)
{
    const auto rec = load_times(128, "10", {1452816000, 1452816013});
    const nv_header& h = rec->get_header();
    EXPECT_EQ(h.header.m_magic, magic_nv24);
    EXPECT_EQ(h.header.m_version, 1);
    EXPECT_EQ(h.header.m_station, kiruna);
    EXPECT_EQ(h.common.m_seconds, 1452816000u);
    EXPECT_EQ(h.common.m_nanoseconds, 0u);
    EXPECT_EQ(h.common.m_num_channels, 3);
    EXPECT_EQ(h.common.m_bits_per_sample, 16);
    EXPECT_EQ(h.common.m_bytes_per_sample, 2);
    EXPECT_EQ(h.common.m_channel_bitmap, 7u);
    EXPECT_EQ(rec->get_frequency(), 10.0);
    EXPECT_EQ(rec->get_origin(), ORIGIN_NV16);
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10") + "< >k\n");
    ASSERT_EQ(rec->get_channels().size(), 3u);
    for (uint16_t c = 0; c < 3; ++c) {
        EXPECT_EQ(rec->get_channel_info(c).m_channel, c);
        EXPECT_EQ(rec->get_channel_info(c).m_v_max, 10.0);
        const data_channel_type& data = rec->get_data(c);
        ASSERT_EQ(data.size(), 256u);
        EXPECT_EQ(data[127], 1000 * c + 127);
        EXPECT_EQ(data[128], 1000 * c + 1);  // the second record starts at 1
    }
    ASSERT_EQ(rec->get_time().size(), 256u);
    EXPECT_EQ(rec->get_time(0), 1452816000.0);
    EXPECT_NEAR(rec->get_time(255), 1452816025.5, 1e-4);  // 255 additions of 0.1 s
}

TEST_F(Nevra16Test, GainCodes)
{
    const std::pair<const char*, double> valid[] = {{"1", 10.0}, {"2", 20.0}, {"3", 30.0}, {"4", 40.0}};
    for (const auto& [gain, ext_gain] : valid) {
        const auto rec = load(lw::binary_image(unix_comment(128, "10", gain), records_at(128, {1000})));
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(rec->get_channel_info(c).m_ext_gain, ext_gain) << "gain " << gain;
    }
    // a comment line without a gain takes the first code
    EXPECT_EQ(load(lw::binary_image("!Tidserier 18.0", records_at(128, {1000})))->get_channel_info(0).m_ext_gain, 10.0);
    const std::pair<const char*, const char*> invalid[] = {
        {"5", "array::at: __n (which is 4) >= _Nm (which is 4)"},
        {"0", "array::at: __n (which is 18446744073709551615) >= _Nm (which is 4)"},
    };
    for (const auto& [gain, message] : invalid) {
        const std::string bytes = lw::binary_image(unix_comment(128, "10", gain), records_at(128, {1000}));
        EXPECT_THROW(load(bytes), std::out_of_range);
        EXPECT_EQ(error_of(bytes), message);
    }
}

TEST_F(Nevra16Test, StationLettersAndFilesWithoutStation)
{
    for (const auto& [word, station] : {std::pair{"k", kiruna}, {"K", kiruna}, {"lycksele", lycksele}}) {
        const auto rec = load(lw::binary_image(unix_comment(128, "10", "1", word), records_at(128, {1000})));
        EXPECT_EQ(rec->get_header().header.m_station, station) << word;
    }
    const std::string comment = unix_comment(128, "10", "1", "X");
    EXPECT_EQ(error_of(lw::binary_image(comment, records_at(128, {1000}))), "map::at");
    EXPECT_EQ(err, ">" + path() + " " + comment + "< >X\n");
    // Files without a station are of station unknown.
    const std::vector<lw::Record> one = records_at(128, {1000});
    const std::pair<std::string, std::string> cases[] = {
        {"!Tidserier 18.0 3", lw::binary_image("!Tidserier 18.0 3", one)},
        {"!Tidserier  sampfrek: 20 gain: 2", lw::ascii_image("!Tidserier  sampfrek: 20 gain: 2", one)},
        {lw::form3_line('U', 128, "10", "1"), lw::binary_image(lw::form3_line('U', 128, "10", "1"), one)},
        {"T old file", lw::binary_image("T old file", one, true)},
    };
    for (const auto& [comment, bytes] : cases) {
        const auto rec = load(bytes);
        EXPECT_EQ(rec->get_header().header.m_station, unknown) << comment;
        EXPECT_NE(err.find(">" + path() + " " + comment + "< >\n"), std::string::npos) << err;
    }
}

TEST_F(Nevra16Test, SamplesAreTruncatedTowardZero)
{
    std::string text = lw::ascii_image(unix_comment(128, "10"), records_at(128, {1000}));
    text.replace(text.find(" 4 5 6 7"), 8, " 4 -3.7 3.7 7");
    const auto rec = load(text);
    EXPECT_EQ(rec->get_data(0)[5], -3);
    EXPECT_EQ(rec->get_data(0)[6], 3);
}

TEST_F(Nevra16Test, InitialBasetimeAdoption)
{
    const auto adopted = load_times(128, "10", {1000}, 1001.5);
    EXPECT_EQ(adopted->get_header().common.m_seconds, 1001u);
    EXPECT_EQ(adopted->get_header().common.m_nanoseconds, 500000000u);
    EXPECT_EQ(adopted->get_header().v.v1.m_host_timestamp, 1001u);
    EXPECT_EQ(adopted->get_time(0), 1001.5);
    const auto far = load_times(128, "10", {1000}, 1002.5);
    EXPECT_EQ(far->get_header().common.m_seconds, 1000u);
    EXPECT_EQ(far->get_header().v.v1.m_host_timestamp, 0u);
    EXPECT_EQ(far->get_time(0), 1000.0);
    // adopted into the header, but the record opens a segment at its own time
    const auto split = load_times(128, "10", {1000}, 998.25);
    EXPECT_EQ(split->get_header().common.m_seconds, 998u);
    EXPECT_EQ(split->get_header().common.m_nanoseconds, 250000000u);
    EXPECT_EQ(split->get_time(0), 1000.0);
}

TEST_F(Nevra16Test, SegmentsAndRefinement)
{
    // 512 samples at 16 Hz: every trial matches, 0.495 s is added
    const auto whole = load_times(512, "16", {1000, 1032, 1064, 1096});
    ASSERT_EQ(whole->get_time().size(), 2048u);
    EXPECT_NEAR(whole->get_time(0), 1000.495, 1e-9);
    EXPECT_NEAR(whole->get_time(2047), 1000.495 + 2047.0 / 16.0, 1e-6);
    // 128 samples at 10 Hz: trials 0.20 to 0.39 match; the record at 1200 opens a
    // segment too short to refine
    const auto run = load_times(128, "10", {1000, 1013, 1025, 1038, 1051, 1064, 1200});
    EXPECT_NEAR(run->get_time(0), 1000.295, 1e-9);
    EXPECT_NEAR(run->get_time(767), 1000.295 + 76.7, 1e-6);
    EXPECT_EQ(run->get_time(768), 1200.0);
    // 1.2 s of drift continues the segment
    EXPECT_NEAR(load_times(128, "10", {1000, 1014})->get_time(128), 1012.8, 1e-9);
    const std::pair<const char*, std::vector<uint32_t>> unrefined[] = {
        {"three records", {1000, 1032, 1064}},
        {"no trial matches", {1000, 1032, 1064, 1097}},
        {"four segments", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000, 3032, 3064, 3096, 4000}},
    };
    for (const auto& [name, times] : unrefined)
        EXPECT_EQ(load_times(512, "16", times)->get_time(511), 1000.0 + 511.0 / 16.0) << name;
    const auto three = load_times(512, "16", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000});
    EXPECT_NEAR(three->get_time(2048), 2000.495, 1e-9);
    EXPECT_EQ(three->get_time(4096), 3000.0);
}

TEST_F(Nevra16Test, RefusesFilesWithoutRecordsOrFrequency)
{
    const std::string short_record = lw::binary_image(unix_comment(128, "10"), {}) + std::string(400, '\0');
    EXPECT_EQ(error_of(short_record), "no records in " + path() + "\n");
    EXPECT_EQ(error_of(lw::binary_image("!Tidserier 0 1", records_at(128, {1000}))),
              "sampling frequency 0 of " + path() + " is not a positive number\n");
}
