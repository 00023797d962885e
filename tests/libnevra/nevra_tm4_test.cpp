#include "nevra_tm4.h"

#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace Nevra;
using testwriters::Tm4File;
using testwriters::tm4_comment;
using samples = data_channel_type;

namespace {

class NevraTm4Test : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.tm4_1").string(); }
    std::unique_ptr<NEVRA_TM4> load(const Tm4File& file, double initial_basetime = 0.0)
    {
        file.save(path());
        return std::make_unique<NEVRA_TM4>(path().c_str(), initial_basetime);
    }
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

}  // namespace

TEST_F(NevraTm4Test, ReadsCommentAndDataLines)
{
    const auto rec = load(Tm4File().comment(tm4_comment(20, "kiruna")).data(1462060800.0, {12, -3, 7}).data(1462060800.05, {11, -2, 6}));
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
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 20.0);
    EXPECT_EQ(rec->get_origin(), ORIGIN_TM4);
    for (const auto& [ch, values] : {std::pair<size_t, samples>{0, {12, 11}}, {1, {-3, -2}}, {2, {7, 6}}})
        EXPECT_EQ(rec->get_data(ch), values);
    EXPECT_EQ(rec->get_time(), (std::vector<double>{1462060800.0, 1462060800.05}));
    ASSERT_EQ(rec->get_channels().size(), 3u);
    const nv_channel& last = rec->get_channel_info(2);
    EXPECT_EQ(last.m_magic, magic_chan);
    EXPECT_EQ(last.m_channel, 2);
    EXPECT_EQ(last.m_gain, 1);
    EXPECT_EQ(last.m_v_min, -10.0);
    EXPECT_EQ(last.m_v_max, 10.0);
    EXPECT_EQ(last.m_ext_gain, 1.0);
}

TEST_F(NevraTm4Test, FrequencyFromTheTimesWithoutComment)
{
    // values are truncated toward zero; a carriage return is white space
    const auto rec = load(Tm4File().raw("100.0 2.9 -2.9 0.5\r").raw("100.05 -0.5 1e3 -7"));
    EXPECT_NEAR(rec->get_frequency(), 20.0, 1e-9);
    EXPECT_EQ(rec->get_header().header.m_station, test);
    for (const auto& [ch, values] : {std::pair<size_t, samples>{0, {2, 0}}, {1, {-2, 1000}}, {2, {0, -7}}})
        EXPECT_EQ(rec->get_data(ch), values);
    EXPECT_EQ(load(Tm4File().data(100.0, {1, 2, 3}))->get_frequency(), -1.0);
}

TEST_F(NevraTm4Test, ChannelCountFromTheFirstDataLines)
{
    struct Case {
        const char* name;
        std::vector<std::vector<double>> lines;  // values after the time
        std::vector<size_t> lengths;             // per channel
    };
    const Case cases[] = {
        {"five then three ends the data", {{1, 2, 3, 4, 5}, {1, 2, 3}, {1, 2, 3, 4, 5}}, {1, 1, 1, 1, 1}},
        {"three then five raises the count", {{1, 2, 3}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, {3, 3, 3, 2, 2}},
        {"ten values keep eight", {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {1, 1, 1, 1, 1, 1, 1, 1}},
        {"five then seven ends the data", {{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, 6, 7}}, {1, 1, 1, 1, 1}},
        {"another count later ends the data", {{1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4, 5}}, {2, 2, 2, 2}},
        {"two values end the data", {{1, 2, 3}, {1, 2}, {1, 2, 3}}, {1, 1, 1}},
        {"an empty line ends the data", {{1, 2, 3}, {}, {1, 2, 3}}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tm4File file;
        for (size_t i = 0; i < c.lines.size(); ++i)
            c.lines[i].empty() ? file.raw("") : file.data(100.0 + 0.05 * static_cast<double>(i), c.lines[i]);
        const auto rec = load(file);
        ASSERT_EQ(rec->get_header().common.m_num_channels, c.lengths.size());
        ASSERT_EQ(rec->get_channels().size(), c.lengths.size());
        for (size_t ch = 0; ch < c.lengths.size(); ++ch) {
            EXPECT_EQ(rec->get_data(ch).size(), c.lengths[ch]) << "channel " << ch;
            EXPECT_EQ(rec->get_channel_info(ch).m_channel, ch);
        }
        EXPECT_EQ(rec->get_time().size(), c.lengths[0]);
    }
    const auto raised = load(Tm4File().data(100, {1, 2, 3}).data(101, {4, 5, 6, 7, 8}));
    EXPECT_EQ(raised->get_data(3), (samples{7}));
}

TEST_F(NevraTm4Test, UnknownOrMissingStationWarns)
{
    const std::pair<std::string, std::string> cases[] = {
        {"!S512Tidserier sampfrek: 18 gain: 1 station: nowhere", "nowhere"},
        {"!S512Tidserier sampfrek: 18 gain: 1 station: Kiruna", "Kiruna"},
        {"!S512Tidserier sampfrek: 18", ""},
        {"!s512Tidserier sampfrek: 18", ""},  // rejected letter: what was scanned counts
    };
    for (const auto& [comment, word] : cases) {
        SCOPED_TRACE(comment);
        testing::internal::CaptureStderr();
        const auto rec = load(Tm4File().comment(comment).data(100, {1, 2, 3}));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: Unknown station: <" + word + ">\n");
        EXPECT_EQ(rec->get_header().header.m_station, unknown);
        EXPECT_DOUBLE_EQ(rec->get_frequency(), 18.0);
    }
}

TEST_F(NevraTm4Test, CommentBetweenDataLinesChangesFrequencyAndStation)
{
    const auto rec = load(Tm4File().comment(tm4_comment(20, "kiruna")).data(10, {1, 2, 3}).data(10.05, {1, 2, 3})
                              .comment(tm4_comment(40, "k")).data(10.1, {4, 5, 6})
                              .comment(tm4_comment(-1, "s2")));  // -1: no frequency
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 40.0);
    EXPECT_EQ(rec->get_header().header.m_station, sodankyla);
    EXPECT_EQ(rec->get_data(0), (samples{1, 1, 4}));
}

TEST_F(NevraTm4Test, InitialBasetimeAdoptedOnlyWithinTwoSeconds)
{
    const Tm4File file = Tm4File().data(1462060800.5, {1, 2, 3}).data(1462060801.0, {1, 2, 3});
    const auto adopted = load(file, 1462060799.0);
    EXPECT_EQ(adopted->get_header().common.m_seconds, 1462060799u);
    EXPECT_EQ(adopted->get_header().common.m_nanoseconds, 0u);
    EXPECT_EQ(adopted->get_header().v.v1.m_host_timestamp, 1462060799u);
    EXPECT_EQ(adopted->get_time(0), 1462060800.5);
    EXPECT_DOUBLE_EQ(adopted->get_frequency(), 0.5);  // spacing from the adopted start
    const auto own = load(file, 1462060797.0);
    EXPECT_EQ(own->get_header().common.m_seconds, 1462060800u);
    EXPECT_EQ(own->get_header().common.m_nanoseconds, 500000000u);
    EXPECT_EQ(own->get_header().v.v1.m_host_timestamp, 0u);
    EXPECT_DOUBLE_EQ(own->get_frequency(), 2.0);
}

TEST_F(NevraTm4Test, UnopenableFileGivesAnEmptyRecording)
{
    NEVRA_TM4 rec((dir / "missing").c_str(), 0.0);
    EXPECT_TRUE(rec.get_channels().empty());
    EXPECT_TRUE(rec.get_time().empty());
    EXPECT_EQ(rec.get_header().common.m_num_channels, 3);
    EXPECT_EQ(rec.get_frequency(), -1.0);
    EXPECT_EQ(rec.get_header().header.m_station, test);
}

TEST_F(NevraTm4Test, RefusesFilesWithoutAUsableFrequencyOrWithHugeValues)
{
    const auto ramp = [](size_t i, size_t c) { return static_cast<double>(i + c); };
    const std::string zero = tm4_comment(0, "k");
    EXPECT_EQ(error_of(Tm4File().data(5, {1, 2, 3}).data(5, {1, 2, 3})),
              "the first two data lines of " + path() + " have the same time, so they give no sampling frequency\n");
    EXPECT_EQ(error_of(Tm4File().samples(1000, -20, 512, 3, ramp)),
              "sampling frequency -20 of " + path() + " is not positive\n");
    EXPECT_EQ(error_of(Tm4File().comment(zero).samples(1000, 20, 512, 3, ramp)),
              "sampling frequency 0 of " + path() + " is not positive\n");
    EXPECT_EQ(error_of(Tm4File().comment(zero).samples(1000, 20, 511, 3, ramp)), "");  // less than one block
    EXPECT_EQ(error_of(Tm4File().raw("100 2147483647.9 -2147483648.9 0").raw("101 1 2147483648 3")),
              "value 2.14748e+09 in line 2 of " + path() + " lies outside the range of a 32-bit sample\n");
}
