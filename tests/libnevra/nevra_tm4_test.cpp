#include "nevra_tm4.h"

#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Nevra;
using testwriters::Tm4File;
using testwriters::tm4_comment;

namespace {

class NevraTm4Test : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.tm4_1").string(); }

    std::unique_ptr<NEVRA_TM4> load(const Tm4File& file, double initial_basetime = 0.0)
    {
        file.save(path());
        return std::make_unique<NEVRA_TM4>(path().c_str(), initial_basetime);
    }

    // The runtime error text of loading the file, or "" when it loads.
    std::string error_of(const Tm4File& file)
    {
        try {
            load(file);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    testrun::TempDir dir;
};

const data_channel_type& channel(const Nevra_Base& rec, size_t c)
{
    return rec.get_data(c);
}

}  // namespace

TEST_F(NevraTm4Test, ReadsCommentAndDataLines)
{
    Tm4File file;
    file.comment("!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00")
        .data(1462060800.0, {12, -3, 7})
        .data(1462060800.05, {11, -2, 6});
    const auto rec = load(file);

    const nv_header& h = rec->get_header();
    EXPECT_EQ(h.header.m_magic, magic_nv24);
    EXPECT_EQ(h.header.m_version, 1);
    EXPECT_EQ(h.header.m_station, kiruna);
    EXPECT_EQ(h.common.m_seconds, 1462060800u);
    EXPECT_EQ(h.common.m_nanoseconds, 0u);
    EXPECT_EQ(h.common.m_channel_bitmap, 7u);
    EXPECT_EQ(h.common.m_num_channels, 3);
    EXPECT_EQ(h.common.m_bits_per_sample, 32);
    EXPECT_EQ(h.common.m_bytes_per_sample, 4);
    EXPECT_EQ(h.v.v1.m_host_timestamp, 0u);
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 20.0);
    EXPECT_EQ(rec->get_origin(), ORIGIN_TM4);

    EXPECT_EQ(channel(*rec, 0), (data_channel_type{12, 11}));
    EXPECT_EQ(channel(*rec, 1), (data_channel_type{-3, -2}));
    EXPECT_EQ(channel(*rec, 2), (data_channel_type{7, 6}));
    EXPECT_EQ(rec->get_time(), (std::vector<double>{1462060800.0, 1462060800.05}));

    ASSERT_EQ(rec->get_channels().size(), 3u);
    for (uint16_t c = 0; c < 3; ++c) {
        const nv_channel& record = rec->get_channel_info(c);
        EXPECT_EQ(record.m_magic, magic_chan);
        EXPECT_EQ(record.m_channel, c);
        EXPECT_EQ(record.m_gain, 1);
        EXPECT_EQ(record.m_v_min, -10.0);
        EXPECT_EQ(record.m_v_max, 10.0);
        EXPECT_EQ(record.m_ext_gain, 1.0);
    }
}

TEST_F(NevraTm4Test, FrequencyFromTheFirstTwoTimesWithoutComment)
{
    const auto rec = load(Tm4File().data(100.0, {1, 2, 3}).data(100.05, {4, 5, 6}));
    EXPECT_NEAR(rec->get_frequency(), 20.0, 1e-9);
    EXPECT_EQ(rec->get_header().header.m_station, test);
}

TEST_F(NevraTm4Test, OneDataLineLeavesTheFrequencyUnknown)
{
    const auto rec = load(Tm4File().data(100.0, {1, 2, 3}));
    EXPECT_EQ(rec->get_frequency(), -1.0);
    EXPECT_EQ(rec->get_time().size(), 1u);
}

TEST_F(NevraTm4Test, ValuesAreTruncatedTowardZero)
{
    const auto rec = load(Tm4File().raw("1.0 2.9 -2.9 0.5").raw("2.0 -0.5 1e3 -7"));
    EXPECT_EQ(channel(*rec, 0), (data_channel_type{2, 0}));
    EXPECT_EQ(channel(*rec, 1), (data_channel_type{-2, 1000}));
    EXPECT_EQ(channel(*rec, 2), (data_channel_type{0, -7}));
}

TEST_F(NevraTm4Test, ChannelCountFromTheFirstDataLines)
{
    struct Case {
        const char* name;
        std::vector<std::vector<double>> lines;  // values after the time
        size_t channels;
        std::vector<size_t> lengths;
    };
    const Case cases[] = {
        {"five then three ends the data", {{1, 2, 3, 4, 5}, {1, 2, 3}, {1, 2, 3, 4, 5}}, 5, {1, 1, 1, 1, 1}},
        {"three then five raises the count", {{1, 2, 3}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, 5, {3, 3, 3, 2, 2}},
        {"ten values keep eight", {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {1, 2, 3, 4, 5, 6, 7, 8}}, 8,
         {2, 2, 2, 2, 2, 2, 2, 2}},
        {"a later line of another count ends the data", {{1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4, 5}}, 4,
         {2, 2, 2, 2}},
        {"two values end the data", {{1, 2, 3}, {1, 2}, {1, 2, 3}}, 3, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tm4File file;
        for (size_t i = 0; i < c.lines.size(); ++i)
            file.data(100.0 + 0.05 * static_cast<double>(i), c.lines[i]);
        const auto rec = load(file);
        ASSERT_EQ(rec->get_header().common.m_num_channels, c.channels);
        ASSERT_EQ(rec->get_channels().size(), c.channels);
        for (size_t ch = 0; ch < c.channels; ++ch) {
            EXPECT_EQ(channel(*rec, ch).size(), c.lengths[ch]) << "channel " << ch;
            EXPECT_EQ(rec->get_channel_info(ch).m_channel, ch);
        }
        EXPECT_EQ(rec->get_time().size(), c.lengths[0]);
    }
    // the first value of the line that raised the count went to channel 3
    const auto rec = load(Tm4File().data(1, {1, 2, 3}).data(2, {4, 5, 6, 7, 8}));
    EXPECT_EQ(channel(*rec, 3), (data_channel_type{7}));
}

TEST_F(NevraTm4Test, LinesThatAreNotDataEndTheData)
{
    for (const char* end : {"", "text 1 2 3", "5 6 7", "\r"}) {
        SCOPED_TRACE(std::string("end line <") + end + ">");
        const auto rec = load(Tm4File().data(1, {1, 2, 3}).raw(end).data(2, {1, 2, 3}));
        EXPECT_EQ(rec->get_time().size(), 1u);
    }
}

TEST_F(NevraTm4Test, CarriageReturnInDataLineIsWhiteSpace)
{
    const auto rec = load(Tm4File().raw("100.5 1 2 3\r").raw("101.5 4 5 6\r"));
    EXPECT_EQ(channel(*rec, 2), (data_channel_type{3, 6}));
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 1.0);
}

TEST_F(NevraTm4Test, UnknownOrMissingStationWarns)
{
    struct Case {
        std::string comment;
        std::string warning;
        double frequency;
    };
    const Case cases[] = {
        {"!S512Tidserier sampfrek: 18 gain: 1 station: nowhere", "WARNING: Unknown station: <nowhere>\n", 18},
        {"!S512Tidserier sampfrek: 18 gain: 1 station: Kiruna", "WARNING: Unknown station: <Kiruna>\n", 18},
        {"!S512Tidserier sampfrek: 25", "WARNING: Unknown station: <>\n", 25},
        // a lower-case letter makes the line invalid, yet what was scanned counts
        {"!s512Tidserier sampfrek: 30", "WARNING: Unknown station: <>\n", 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comment);
        testing::internal::CaptureStderr();
        const auto rec = load(Tm4File().comment(c.comment).data(1, {1, 2, 3}).data(2, {1, 2, 3}));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
        EXPECT_EQ(rec->get_header().header.m_station, unknown);
        EXPECT_DOUBLE_EQ(rec->get_frequency(), c.frequency);
    }
}

TEST_F(NevraTm4Test, StationWordsAreLookedUp)
{
    for (const auto& [word, station] : {std::pair{"s2", sodankyla}, {"jamton2", jamton2}, {"u", uppsala}}) {
        SCOPED_TRACE(word);
        const auto rec = load(Tm4File().comment(tm4_comment(20, word)).data(1, {1, 2, 3}));
        EXPECT_EQ(rec->get_header().header.m_station, station);
    }
}

TEST_F(NevraTm4Test, CommentBetweenDataLinesChangesFrequencyAndStation)
{
    Tm4File file;
    file.comment(tm4_comment(20, "kiruna")).data(10, {1, 2, 3}).data(10.05, {1, 2, 3});
    file.comment(tm4_comment(40, "lycksele")).data(10.1, {4, 5, 6});
    const auto rec = load(file);
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 40.0);
    EXPECT_EQ(rec->get_header().header.m_station, lycksele);
    EXPECT_EQ(channel(*rec, 0), (data_channel_type{1, 1, 4}));

    // a comment frequency that comes after the second data line replaces the computed one
    const auto late = load(Tm4File().data(10, {1, 2, 3}).data(10.5, {1, 2, 3}).comment(tm4_comment(8, "k")));
    EXPECT_DOUBLE_EQ(late->get_frequency(), 8.0);
}

TEST_F(NevraTm4Test, InitialBasetimeAdoptedOnlyWithinTwoSeconds)
{
    const Tm4File file = Tm4File().data(1462060800.5, {1, 2, 3}).data(1462060801.0, {1, 2, 3});

    const auto adopted = load(file, 1462060799.0);
    const nv_header& h = adopted->get_header();
    EXPECT_EQ(h.common.m_seconds, 1462060799u);
    EXPECT_EQ(h.common.m_nanoseconds, 0u);
    EXPECT_EQ(h.v.v1.m_host_timestamp, 1462060799u);
    EXPECT_EQ(adopted->get_time(0), 1462060800.5);
    // the frequency follows from the adopted start: 1 / 2 s
    EXPECT_DOUBLE_EQ(adopted->get_frequency(), 0.5);

    const auto own = load(file, 1462060797.0);
    EXPECT_EQ(own->get_header().common.m_seconds, 1462060800u);
    EXPECT_EQ(own->get_header().common.m_nanoseconds, 500000000u);
    EXPECT_EQ(own->get_header().v.v1.m_host_timestamp, 0u);
    EXPECT_DOUBLE_EQ(own->get_frequency(), 2.0);
}

TEST_F(NevraTm4Test, UnopenableFileGivesAnEmptyRecording)
{
    NEVRA_TM4 rec((dir / "missing.tm4_1").c_str(), 0.0);
    EXPECT_TRUE(rec.get_channels().empty());
    EXPECT_TRUE(rec.get_time().empty());
    EXPECT_EQ(rec.get_header().common.m_num_channels, 3);
    EXPECT_EQ(rec.get_frequency(), -1.0);
    EXPECT_EQ(rec.get_header().header.m_station, test);
}

TEST_F(NevraTm4Test, RefusesFilesWithoutAUsableFrequency)
{
    const auto ramp = [](size_t i, size_t c) { return static_cast<double>(i + c); };

    const std::string same_time = error_of(Tm4File().data(5, {1, 2, 3}).data(5, {1, 2, 3}));
    EXPECT_NE(same_time.find(path()), std::string::npos) << same_time;
    EXPECT_NE(same_time.find("the first two data lines of " + path() + " have the same time"), std::string::npos)
        << same_time;

    // decreasing times give a negative frequency
    const std::string negative = error_of(Tm4File().samples(1000, -20, 512, 3, ramp));
    EXPECT_NE(negative.find("sampling frequency -20 of " + path() + " is not positive"), std::string::npos) << negative;

    const std::string zero =
        error_of(Tm4File().comment(tm4_comment(0, "k")).samples(1000, 20, 512, 3, ramp));
    EXPECT_NE(zero.find("sampling frequency 0 of " + path() + " is not positive"), std::string::npos) << zero;

    // too short for one block: kept whatever the frequency
    EXPECT_EQ(error_of(Tm4File().comment(tm4_comment(0, "k")).samples(1000, 20, 511, 3, ramp)), "");
    EXPECT_EQ(error_of(Tm4File().samples(1000, 20, 512, 3, ramp)), "");
}

TEST_F(NevraTm4Test, RefusesValuesOutsideTheSampleRange)
{
    EXPECT_EQ(error_of(Tm4File().raw("1 2147483647.9 -2147483648.9 0")), "");
    const std::string error = error_of(Tm4File().raw("1 1 2 3").raw("2 1 2147483648 3"));
    EXPECT_NE(error.find("value 2.14748e+09 in line 2 of " + path()), std::string::npos) << error;
    EXPECT_NE(error_of(Tm4File().raw("1 nan 2 3")), "");
}
