// The three comment-line forms, date conversion and the calendar conversion.

#include <gtest/gtest.h>

#include <string>

#include "legacy_writer.h"
#include "nevra.h"

namespace {

using legacywriter::form3_line;

struct Parsed {
    double frequency = -1.0;
    int gain = -1;
    std::string station, date, time;
    char letter = '\0';
    int length = 0;
    bool unixtime = false;
    Nevra::arguments arg{frequency, gain, station, letter, length, unixtime, date, time};
};

TEST(CommentForms, EachFormAcceptsItsOwnLines)
{
    struct Case {
        std::string line;
        bool form1, form2, form3;
        double frequency;  // found by the first accepting form, else by Form 3
        int gain;
    };
    const Case cases[] = {
        {"!Tidserier 18.0 3", true, false, false, 18.0, 3},
        {"!Tidserier 20", true, false, false, 20.0, -1},
        {"!Tidserier  sampfrek: 16.5 gain: 2", false, true, false, 16.5, 2},
        {"!Tidserier sampfrek: 16.5 gain: 2", false, true, false, 16.5, 2},  // one blank matches two
        {form3_line('S', 512, "18"), false, false, true, 18.0, -1},
        {form3_line('U', 128, "20", "4", "kiruna", "2016-01-15", "12:30:00"), false, false, true, 20.0, 4},
        {form3_line('X', 512, "18", "1"), false, false, false, 18.0, 1},  // scanned, then rejected
        {form3_line('s', 512, "18"), false, false, false, 18.0, -1},
        {"!S512Tidserier sampfrek:", false, false, false, -1.0, -1},
        {"T1024 old type", false, false, false, -1.0, -1},
        {"", false, false, false, -1.0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Parsed p1, p2, p3;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Nevra::valid_comment_type1(c.line.c_str(), p1.arg), c.form1);
        EXPECT_EQ(Nevra::valid_comment_type2(c.line.c_str(), p2.arg), c.form2);
        EXPECT_EQ(Nevra::valid_comment_type3(c.line.c_str(), p3.arg), c.form3);
        EXPECT_EQ(Nevra::validate_comment(c.line.c_str()), c.form1 || c.form2 || c.form3);
        EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), c.form1 || c.form2 || c.form3);
        const Parsed& first = c.form1 ? p1 : c.form2 ? p2 : p3;
        EXPECT_DOUBLE_EQ(first.frequency, c.frequency);
        EXPECT_EQ(first.gain, c.gain);
    }
    testing::internal::CaptureStderr();
    Nevra::validate_comment("Tidserier 18");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "validate_comment: Invalid comment line\nCouldn't determine sampling frequency\ndefaulting to 18.0Hz\n");
}

TEST(CommentForms, Form3FieldsAndNonstandardLength)
{
    Parsed p;
    p.station = "previous-station-text";
    const std::string line = form3_line('U', 512, "18.5", "3", "kiruna", "2016-01-15", "12:30:00");
    ASSERT_TRUE(Nevra::valid_comment_type3(line.c_str(), p.arg));
    EXPECT_EQ(p.letter, 'U');
    EXPECT_EQ(p.length, 512);
    EXPECT_TRUE(p.unixtime);
    EXPECT_EQ(p.station + "|" + p.date + "|" + p.time, "kiruna|2016-01-15|12:30:00");
    // Fields the line lacks keep the caller's text; a long word stops at 255 characters.
    Parsed q;
    q.date = "kept";
    ASSERT_TRUE(Nevra::valid_comment_type3(form3_line('S', 128, "18", "1", std::string(400, 'k')).c_str(), q.arg));
    EXPECT_FALSE(q.unixtime);
    EXPECT_EQ(q.station, std::string(255, 'k'));
    EXPECT_EQ(q.date, "kept");
    // A nonstandard length warns but is accepted.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Nevra::valid_comment_type3(form3_line('S', 256, "18").c_str(), q.arg));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: nonstandard length: 256\n");
}

TEST(ParseDate, SeparatorsAndUnreadableTime)
{
    const struct {
        const char *date, *time;
        bool ok;
        time_t date_value, t0;
    } cases[] = {
        {"2016-01-15", "12:30:00", true, 1452816000, 1452861000},
        {"2016/01/15", "12.30.00", true, 1452816000, 1452861000},
        {"2016-01-15", "noon", true, 1452816000, 1452816000},
        {"2016-01-32", "", true, 1454284800, 1454284800},  // rolls into February
        {"2016-01", "12:30:00", false, 7, 8},
        {"", "", false, 7, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        Parsed p;
        p.date = c.date;
        p.time = c.time;
        time_t date = 7, t0 = 8;
        EXPECT_EQ(Nevra::parse_date(p.arg, date, t0), c.ok);
        EXPECT_EQ(date, c.date_value);
        EXPECT_EQ(t0, c.t0);
    }
}

TEST(MyTimegm, AgreesWithTheCLibraryForOutOfRangeFields)
{
    const int fields[][6] = {{116, 0, 15, 0, 0, 0},   {116, 0, 32, 0, 0, 0},    {100, 1, 29, 23, 59, 60},
                             {110, 16, 1, 0, 0, 0},   {104, -1, 1, 0, 0, 0},    {69, 11, 31, 23, 59, 59},
                             {200, 13, -5, 25, -61, 3700}, {0, 0, 1, 0, 0, 0}};
    for (const auto& f : fields) {
        struct tm a {};
        a.tm_year = f[0], a.tm_mon = f[1], a.tm_mday = f[2], a.tm_hour = f[3], a.tm_min = f[4], a.tm_sec = f[5];
        struct tm b = a;
        EXPECT_EQ(Nevra::my_timegm(&a), timegm(&b)) << "year " << f[0] << " month " << f[1] << " day " << f[2];
    }
}

}  // namespace
