#include "nevra_base.h"

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>
#include <string>

using namespace Nevra;

namespace {

// A recording whose header a test sets directly.
class Recording : public Nevra_Base {
public:
    explicit Recording(const nv_header& header) { m_header = header; }
};

nv_header header_of_station(unsigned station)
{
    nv_header h{};
    h.header.m_station = static_cast<uint8_t>(station);
    return h;
}

}  // namespace

TEST(StationTables, StationNameOfEveryKnownNumber)
{
    const char* names[] = {"jamton", "kiruna", "lycksele", "sodankyla", "uppsala", "jamton2", "kiruna2", "lycksele2", "sodankyla2"};
    for (unsigned number = 0; number < 9; ++number)
        EXPECT_STREQ(Recording(header_of_station(number)).station_name(), names[number]) << number;
    EXPECT_STREQ(Recording(header_of_station(254)).station_name(), "test");
    EXPECT_STREQ(Recording(header_of_station(255)).station_name(), "unknown");
    EXPECT_EQ(stationid2stationname.size(), 11u);
}

TEST(StationTables, UnknownStationNumberIsMapAtError)
{
    for (unsigned number = 9; number <= 253; ++number) {
        try {
            Recording(header_of_station(number)).station_name();
            ADD_FAILURE() << "station " << number << " has a name";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "map::at");
        }
    }
}

TEST(StationTables, LettersOfLegacyFiles)
{
    // Upper and lower case letter of each first-generation station, in station order.
    const std::string letters = "JjKkLlSsUu";
    for (size_t i = 0; i < letters.size(); ++i)
        EXPECT_EQ(station_char2stationid.at(letters[i]), i / 2) << letters[i];
    EXPECT_EQ(station_char2stationid.size(), 10u);
    EXPECT_THROW(station_char2stationid.at('T'), std::out_of_range);
}

TEST(StationTables, WordsOfTm4Files)
{
    // Full word and abbreviation per station, in station order; "sodankyla2" and "s2" are station 3.
    const char* words[] = {"jamton",  "j",  "kiruna",  "k",  "lycksele",  "l",  "sodankyla",  "s",
                           "uppsala", "u",  "jamton2", "j2", "kiruna2",   "k2", "lycksele2",  "l2"};
    for (size_t i = 0; i < std::size(words); ++i)
        EXPECT_EQ(station_string2stationid.at(words[i]), i / 2) << words[i];
    EXPECT_EQ(station_string2stationid.at("sodankyla2"), sodankyla);
    EXPECT_EQ(station_string2stationid.at("s2"), sodankyla);
    EXPECT_EQ(station_string2stationid.size(), 18u);
    for (const char* absent : {"Kiruna", "KIRUNA", "test", "unknown", "u2", "kiruna "})
        EXPECT_EQ(station_string2stationid.count(absent), 0u) << absent;
}

TEST(NvHeader, StartTimeSamplingIntervalAndChannelCount)
{
    nv_header h{};
    h.common.m_seconds = 1000000000;
    h.common.m_nanoseconds = 500000000;
    EXPECT_EQ(h.time(), 1000000000.5);
    // Both fields are unsigned: the largest values must not turn negative.
    h.common.m_seconds = 4294967295u;
    h.common.m_nanoseconds = 4000000000u;
    EXPECT_EQ(h.time(), 4294967295.0 + 4.0);
    h.common.m_sample_freq_hz = 3.0;
    EXPECT_EQ(h.delta_t(), 1.0 / 3.0);
    h.common.m_num_channels = 255;
    EXPECT_EQ(h.num_channels(), 255u);
}

TEST(NevraBase, Raw2VoltOriginAndFrequency)
{
    nv_header h = header_of_station(0);
    h.common.m_sample_freq_hz = 62.5;
    const Recording rec(h);
    EXPECT_EQ(rec.get_frequency(), 62.5);
    nv_channel c{};
    c.m_v_max = 10.0;
    c.m_ext_gain = 20.0;
    EXPECT_EQ(rec.raw2volt(0, c), 0.0);
    EXPECT_EQ(rec.raw2volt(-2, c), -400.0);
    EXPECT_EQ(rec.raw2volt(INT32_MIN, c), -2147483648.0 * 200.0);
    // Multiplied left to right: 3 * (0.1 * 0.3) would round to 0.089999999999999997.
    c.m_v_max = 0.1;
    c.m_ext_gain = 0.3;
    EXPECT_EQ(rec.raw2volt(3, c), 0.090000000000000011);
    c.m_ext_gain = 0.0;
    EXPECT_EQ(rec.raw2volt(123, c), 0.0);
    EXPECT_EQ(rec.get_origin(), ORIGIN_UNDEFINED);
    EXPECT_EQ(Nevra_Base().get_origin(), ORIGIN_UNDEFINED);
}
