// Start of day, hour base and uncertain year taken from legacy file names.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "legacy_writer.h"
#include "nevra.h"
#include "run.h"

namespace {

constexpr time_t jan15_2016 = 1452816000;
constexpr time_t jan15_2017 = 1484438400;

// A reader over a file whose own name gives no time; the file-name functions
// are then applied to the names under test.
class FileNameTimes : public ::testing::Test {
protected:
    void SetUp() override { fresh_reader(); }

    void fresh_reader()
    {
        const auto file = dir / "plain.bin";
        legacywriter::write(file, legacywriter::binary_image("!Tidserier 18.0 3",
                                                             {legacywriter::make_record(128, 0, 0)}));
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        testing::internal::CaptureStderr();
        reader = std::make_unique<Nevra::BinaryNEVRA>(file.c_str(), &args);
        testing::internal::GetCapturedStderr();
        // Known values, so that a name that does not match shows it leaves them alone.
        ASSERT_TRUE(reader->set_time_start_of_day("K7011502.bi1"));
        reader->set_time_base("K7011502.bi1");
        ASSERT_EQ(reader->get_start_of_day(), jan15_2017);
        ASSERT_EQ(hour_base(), 3600);
    }

    // No record has been read, so the current time words are 0 and
    // get_nvtime(0) is the start of day plus the hour base.
    time_t hour_base() const { return reader->get_nvtime(0) - reader->get_start_of_day(); }

    testrun::TempDir dir;
    std::unique_ptr<Nevra::NEVRA> reader;
};

struct NameCase {
    const char* name;
    bool matched;
    time_t start_of_day;  // expected when matched
    bool uncertain;       // expected when matched
    time_t hour_base;
};

TEST_F(FileNameTimes, PatternsInOrder)
{
    const NameCase cases[] = {
        {"K6011512.bi1", true, jan15_2016, true, 21600},
        {"K6011513.bi1", true, jan15_2016, true, 21600},
        {"K6011548.bi1", false, 0, false, 3600},  // slot 48 is invalid
        {"K60115-1.bi1", false, 0, false, 3600},  // negative slot
        {"K6011512", true, jan15_2016, true, 21600},  // the final '.' need not match
        {"K2016011512.bi1", true, jan15_2016, false, 18000},
        {"K2016011548.bi1", false, 0, false, 18000},  // long year, invalid slot: no short-year try
        {"data/K6011512.bi1", false, 0, false, 21600},
        {"data/20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"x/20170115/K6011512.bi1", false, 0, false, 21600},
        // Accidental short-year match of the whole name: month 17 of 2010 is May 2011.
        {"20170115/K6011512.bi1", true, 1304208000, true, 21600},
        {"/archive/2016/01/20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        // Month directory disagrees: the date directory still matches.
        {"/archive/2016/02/20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"/archive/2016/01/20160115/K6011548.bi1", false, 0, false, 3600},
        {"recording.dat", false, 0, false, 3600},
    };
    for (const NameCase& c : cases) {
        fresh_reader();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reader->set_time_start_of_day(c.name), c.matched);
        reader->set_time_base(c.name);
        EXPECT_EQ(reader->get_start_of_day(), c.matched ? c.start_of_day : jan15_2017);
        EXPECT_EQ(reader->uncertain_year(), c.matched ? c.uncertain : true);
        EXPECT_EQ(hour_base(), c.hour_base);
    }
}

TEST_F(FileNameTimes, ConstructorUsesItsOwnName)
{
    const auto sub = dir / "20160115";
    std::filesystem::create_directory(sub);
    const auto file = sub / "K6011523.bi1";
    legacywriter::write(file, legacywriter::binary_image("!Tidserier 18.0 3",
                                                         {legacywriter::make_record(128, 0, 0)}));
    Nevra::NEVRA_arguments args;
    args.m_quiet = true;
    Nevra::BinaryNEVRA named(file.c_str(), &args);
    EXPECT_EQ(named.get_start_of_day(), jan15_2016);
    EXPECT_EQ(named.get_nvtime(0), jan15_2016 + 11 * 3600);
    EXPECT_FALSE(named.uncertain_year());
}

TEST(MyTimegm, AgreesWithCalendarArithmetic)
{
    struct tm tm {};
    tm.tm_year = 116;
    tm.tm_mon = 0;
    tm.tm_mday = 15;
    EXPECT_EQ(Nevra::my_timegm(&tm), jan15_2016);
    tm.tm_mday = 32;  // 1 February
    EXPECT_EQ(Nevra::my_timegm(&tm), jan15_2016 + 17 * 86400);

    // Out-of-range fields of every kind against the C library's own conversion.
    const int fields[][6] = {{70, 0, 1, 0, 0, 0},     {100, 1, 29, 23, 59, 60}, {110, 16, 1, 0, 0, 0},
                             {104, -1, 1, 0, 0, 0},   {69, 11, 31, 23, 59, 59}, {200, 13, -5, 25, -61, 3700},
                             {116, 0, 15, 12, 30, 0}, {0, 0, 1, 0, 0, 0}};
    for (const auto& f : fields) {
        struct tm a {};
        a.tm_year = f[0];
        a.tm_mon = f[1];
        a.tm_mday = f[2];
        a.tm_hour = f[3];
        a.tm_min = f[4];
        a.tm_sec = f[5];
        struct tm b = a;
        EXPECT_EQ(Nevra::my_timegm(&a), timegm(&b)) << "year " << f[0] << " month " << f[1];
    }
}

}  // namespace
