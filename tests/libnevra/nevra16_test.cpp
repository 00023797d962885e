#include "nevra16.h"

#include "legacy_writer.h"
#include "run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Nevra;
namespace lw = legacywriter;

namespace {

// Records with Unix-time words, so that record times need no file-name date.
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

    std::unique_ptr<NEVRA16> load(const std::string& bytes, double initial_basetime = 0.0)
    {
        lw::write(path(), bytes);
        testing::internal::CaptureStderr();
        try {
            auto rec = std::make_unique<NEVRA16>(path().c_str(), initial_basetime);
            err = testing::internal::GetCapturedStderr();
            return rec;
        } catch (...) {
            err = testing::internal::GetCapturedStderr();
            throw;
        }
    }

    // The error text of loading the file, or "" when it loads.
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
    std::string err;  // what the last load wrote to standard error
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
    EXPECT_EQ(h.v.v1.m_host_timestamp, 0u);
    EXPECT_EQ(rec->get_frequency(), 10.0);
    EXPECT_EQ(rec->get_origin(), ORIGIN_NV16);
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10") + "< >k\n");

    ASSERT_EQ(rec->get_channels().size(), 3u);
    for (uint16_t c = 0; c < 3; ++c) {
        const nv_channel& record = rec->get_channel_info(c);
        EXPECT_EQ(record.m_magic, magic_chan);
        EXPECT_EQ(record.m_channel, c);
        EXPECT_EQ(record.m_gain, 1);
        EXPECT_EQ(record.m_v_min, -10.0);
        EXPECT_EQ(record.m_v_max, 10.0);
        const data_channel_type& data = rec->get_data(c);
        ASSERT_EQ(data.size(), 256u);
        EXPECT_EQ(data[0], 1000 * c);           // record 0, sample 0
        EXPECT_EQ(data[127], 1000 * c + 127);   // record 0, last sample
        EXPECT_EQ(data[128], 1000 * c + 1);     // record 1 starts at 1
    }
    // two records of 12.8 s, 1.5 s apart at most: one segment, too short to refine
    ASSERT_EQ(rec->get_time().size(), 256u);
    EXPECT_EQ(rec->get_time(0), 1452816000.0);
    EXPECT_NEAR(rec->get_time(255), 1452816000.0 + 25.5, 1e-4);  // the clock adds 0.1 s 255 times
}

TEST_F(Nevra16Test, GainCodeSelectsTheExternalGain)
{
    for (const auto& [gain, ext_gain] : {std::pair{"1", 10.0}, {"2", 20.0}, {"3", 30.0}, {"4", 40.0}}) {
        SCOPED_TRACE(gain);
        const auto rec = load(lw::binary_image(unix_comment(128, "10", gain), records_at(128, {1000})));
        for (size_t c = 0; c < 3; ++c)
            EXPECT_EQ(rec->get_channel_info(c).m_ext_gain, ext_gain);
    }
}

TEST_F(Nevra16Test, GainCodeOutsideTheTableIsOutOfRange)
{
    const std::pair<const char*, const char*> cases[] = {
        {"5", "array::at: __n (which is 4) >= _Nm (which is 4)"},
        {"0", "array::at: __n (which is 18446744073709551615) >= _Nm (which is 4)"},
    };
    for (const auto& [gain, message] : cases) {
        SCOPED_TRACE(gain);
        lw::write(path(), lw::binary_image(unix_comment(128, "10", gain), records_at(128, {1000})));
        testing::internal::CaptureStderr();
        try {
            NEVRA16 rec(path().c_str(), 0.0);
            ADD_FAILURE() << "gain code " << gain << " was accepted";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), message);
        }
        testing::internal::GetCapturedStderr();
    }
}

TEST_F(Nevra16Test, CommentWithoutGainUsesTheFirstGainCode)
{
    const auto rec = load(lw::binary_image("!Tidserier 18.0", records_at(128, {1000})));
    EXPECT_EQ(rec->get_channel_info(0).m_ext_gain, 10.0);
}

TEST_F(Nevra16Test, StationLetters)
{
    for (const auto& [word, station] : {std::pair{"k", kiruna}, {"K", kiruna}, {"lycksele", lycksele}, {"u", uppsala}}) {
        SCOPED_TRACE(word);
        const auto rec = load(lw::binary_image(unix_comment(128, "10", "1", word), records_at(128, {1000})));
        EXPECT_EQ(rec->get_header().header.m_station, station);
    }
}

TEST_F(Nevra16Test, UnknownStationLetterIsOutOfRangeAfterTheLine)
{
    const std::string comment = unix_comment(128, "10", "1", "X");
    EXPECT_EQ(error_of(lw::binary_image(comment, records_at(128, {1000}))), "map::at");
    EXPECT_EQ(err, ">" + path() + " " + comment + "< >X\n");
}

TEST_F(Nevra16Test, FilesWithoutStationAreUnknown)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string comment;
    };
    const std::vector<lw::Record> current = records_at(128, {1000});
    const Case cases[] = {
        {"form 1 binary", lw::binary_image("!Tidserier 18.0 3", current), "!Tidserier 18.0 3"},
        {"form 2 ascii", lw::ascii_image("!Tidserier  sampfrek: 20 gain: 2", current),
         "!Tidserier  sampfrek: 20 gain: 2"},
        {"form 3 without station", lw::binary_image(unix_comment(128, "10", "1", ""), current),
         lw::form3_line('U', 128, "10", "1")},
        {"old type", lw::binary_image("T old file", {lw::make_record(128, 0, 0)}, true), "T old file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rec = load(c.bytes);
        EXPECT_EQ(rec->get_header().header.m_station, unknown);
        EXPECT_NE(err.find(">" + path() + " " + c.comment + "< >\n"), std::string::npos) << err;
        EXPECT_EQ(rec->get_data(0).size(), 128u);
    }
}

TEST_F(Nevra16Test, SamplesAreTruncatedTowardZero)
{
    std::string text = lw::ascii_image(unix_comment(128, "10"), records_at(128, {1000}));
    // sample 5 and 6 of the first block are 5 and 6; write them with fractions
    const std::string plain = " 4 5 6 7";
    const auto at = text.find(plain);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, plain.size(), " 4 -3.7 3.7 7");
    const auto rec = load(text);
    EXPECT_EQ(rec->get_data(0)[5], -3);
    EXPECT_EQ(rec->get_data(0)[6], 3);
}

TEST_F(Nevra16Test, InitialBasetimeAdoption)
{
    const auto own = load_times(128, "10", {1000}, 0.0);
    EXPECT_EQ(own->get_header().common.m_seconds, 1000u);
    EXPECT_EQ(own->get_header().common.m_nanoseconds, 0u);

    const auto adopted = load_times(128, "10", {1000}, 1001.5);
    EXPECT_EQ(adopted->get_header().common.m_seconds, 1001u);
    EXPECT_EQ(adopted->get_header().common.m_nanoseconds, 500000000u);
    EXPECT_EQ(adopted->get_header().v.v1.m_host_timestamp, 1001u);
    EXPECT_EQ(adopted->get_time(0), 1001.5);

    const auto far = load_times(128, "10", {1000}, 1002.5);
    EXPECT_EQ(far->get_header().common.m_seconds, 1000u);
    EXPECT_EQ(far->get_header().v.v1.m_host_timestamp, 0u);
    EXPECT_EQ(far->get_time(0), 1000.0);

    // adopted into the header, but the record then opens a segment at its own time
    const auto split = load_times(128, "10", {1000}, 998.25);
    EXPECT_EQ(split->get_header().common.m_seconds, 998u);
    EXPECT_EQ(split->get_header().common.m_nanoseconds, 250000000u);
    EXPECT_EQ(split->get_time(0), 1000.0);
    EXPECT_NEAR(split->get_time(127), 1012.7, 1e-9);
}

TEST_F(Nevra16Test, RefinementOfFourRecordsOf32Seconds)
{
    const auto rec = load_times(512, "16", {1000, 1032, 1064, 1096});
    ASSERT_EQ(rec->get_time().size(), 2048u);
    for (size_t i : {size_t{0}, size_t{1}, size_t{1024}, size_t{2047}})
        EXPECT_NEAR(rec->get_time(i), 1000.495 + static_cast<double>(i) / 16.0, 1e-6) << i;
}

TEST_F(Nevra16Test, RefinementOnlyOfTheFirstSegmentsRecords)
{
    // 6 records of 12.8 s match the trials 0.20 to 0.39; the record at 1200 opens a
    // segment of its own, too short to refine
    const auto rec = load_times(128, "10", {1000, 1013, 1025, 1038, 1051, 1064, 1200});
    ASSERT_EQ(rec->get_time().size(), 896u);
    EXPECT_NEAR(rec->get_time(0), 1000.295, 1e-9);
    EXPECT_NEAR(rec->get_time(767), 1000.295 + 76.7, 1e-6);
    EXPECT_EQ(rec->get_time(768), 1200.0);
}

TEST_F(Nevra16Test, SegmentsLeftUnrefined)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> times;
    };
    const Case cases[] = {
        {"three records", {1000, 1032, 1064}},
        {"no trial matches", {1000, 1032, 1064, 1097}},
        {"four segments", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000, 3032, 3064, 3096, 4000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rec = load_times(512, "16", c.times);
        EXPECT_EQ(rec->get_time(0), 1000.0);
        EXPECT_EQ(rec->get_time(511), 1000.0 + 511.0 / 16.0);
    }
    // three segments are still refined, each on its own
    const auto rec = load_times(512, "16", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000});
    EXPECT_NEAR(rec->get_time(0), 1000.495, 1e-9);
    EXPECT_NEAR(rec->get_time(2048), 2000.495, 1e-9);
    EXPECT_EQ(rec->get_time(4096), 3000.0);
}

TEST_F(Nevra16Test, SmallClockDriftContinuesTheSegment)
{
    // 12.8 s records: the clock runs to 1012.8, the record says 1014 (1.2 s off)
    const auto drift = load_times(128, "10", {1000, 1014});
    EXPECT_NEAR(drift->get_time(128), 1012.8, 1e-9);
    // 2.2 s off: a new segment at the record's own time
    const auto jump = load_times(128, "10", {1000, 1015});
    EXPECT_NEAR(jump->get_time(127), 1012.7, 1e-9);
    EXPECT_EQ(jump->get_time(128), 1015.0);
}

TEST_F(Nevra16Test, RefusesFilesWithoutRecordsOrFrequency)
{
    // a comment line and less than one record
    const std::string no_records = error_of(lw::binary_image(unix_comment(128, "10"), {}) + std::string(400, '\0'));
    EXPECT_EQ(no_records, "no records in " + path() + "\n");

    const std::string zero = error_of(lw::binary_image("!Tidserier 0 1", records_at(128, {1000})));
    EXPECT_NE(zero.find("sampling frequency 0 of " + path() + " is not a positive number"), std::string::npos) << zero;
}
