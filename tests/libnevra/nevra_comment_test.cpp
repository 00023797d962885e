// The three forms of the legacy comment line, their dates, and how a reader
// takes its frequency, gain, station and start of day from them.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "legacy_writer.h"
#include "nevra.h"
#include "run.h"

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

struct FormCase {
    std::string line;
    bool form1, form2, form3;
    double frequency;  // after the first accepting form, or after all three
    int gain;
};

TEST(CommentForms, EachFormAcceptsItsOwnLines)
{
    const FormCase cases[] = {
        {"!Tidserier 18.0 3", true, false, false, 18.0, 3},
        {"!Tidserier 20", true, false, false, 20.0, -1},
        {"!Tidserier  sampfrek: 16.5 gain: 2", false, true, false, 16.5, 2},
        {"!Tidserier sampfrek: 16.5 gain: 2", false, true, false, 16.5, 2},  // one blank matches two
        {form3_line('S', 512, "18"), false, false, true, 18.0, -1},
        {form3_line('U', 128, "20", "4", "kiruna", "2016-01-15", "12:30:00"), false, false, true, 20.0, 4},
        {form3_line('X', 512, "18", "1"), false, false, false, 18.0, 1},  // scanned, letter rejected
        {form3_line('s', 512, "18"), false, false, false, 18.0, -1},
        {"!S512Tidserier sampfrek:", false, false, false, -1.0, -1},  // no frequency
        {"T1024 old type", false, false, false, -1.0, -1},
        {"", false, false, false, -1.0, -1},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.line);
        Parsed p1, p2, p3;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Nevra::valid_comment_type1(c.line.c_str(), p1.arg), c.form1);
        EXPECT_EQ(Nevra::valid_comment_type2(c.line.c_str(), p2.arg), c.form2);
        EXPECT_EQ(Nevra::valid_comment_type3(c.line.c_str(), p3.arg), c.form3);
        EXPECT_EQ(Nevra::validate_comment(c.line.c_str()), c.form1 || c.form2 || c.form3);
        testing::internal::GetCapturedStderr();
        const Parsed& first = c.form1 ? p1 : c.form2 ? p2 : p3;
        EXPECT_DOUBLE_EQ(first.frequency, c.frequency);
        EXPECT_EQ(first.gain, c.gain);
    }
}

TEST(CommentForms, Form3FieldsAndUnixLetter)
{
    Parsed p;
    p.station = "previous-station-text";
    const std::string line = form3_line('U', 512, "18.5", "3", "kiruna", "2016-01-15", "12:30:00");
    ASSERT_TRUE(Nevra::valid_comment_type3(line.c_str(), p.arg));
    EXPECT_EQ(p.letter, 'U');
    EXPECT_EQ(p.length, 512);
    EXPECT_TRUE(p.unixtime);
    EXPECT_EQ(p.station, "kiruna");
    EXPECT_EQ(p.date, "2016-01-15");
    EXPECT_EQ(p.time, "12:30:00");

    // Fields the line does not hold keep the caller's text, cut at its end.
    Parsed q;
    q.date = "kept";
    ASSERT_TRUE(Nevra::valid_comment_type3(form3_line('S', 128, "18", "1", "lycksele").c_str(), q.arg));
    EXPECT_FALSE(q.unixtime);
    EXPECT_EQ(q.station, "lycksele");
    EXPECT_EQ(q.date, "kept");
    EXPECT_EQ(q.time, "");
}

TEST(CommentForms, LongStationWordStopsAt255Characters)
{
    Parsed p;
    const std::string line = form3_line('S', 512, "18", "1", std::string(400, 'k'));
    ASSERT_TRUE(Nevra::valid_comment_type3(line.c_str(), p.arg));
    EXPECT_EQ(p.station, std::string(255, 'k'));
    EXPECT_EQ(p.date, "");
}

TEST(CommentForms, NonstandardLengthWarnsButIsAccepted)
{
    Parsed p;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Nevra::valid_comment_type3(form3_line('S', 256, "18").c_str(), p.arg));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: nonstandard length: 256\n");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Nevra::validate_comment(form3_line('S', 512, "18").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CommentForms, InvalidLineMessage)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Nevra::validate_comment("Tidserier 18"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "validate_comment: Invalid comment line\nCouldn't determine sampling frequency\n"
              "defaulting to 18.0Hz\n");
}

struct DateCase {
    const char* date;
    const char* time;
    bool ok;
    time_t date_value, t0;
};

TEST(ParseDate, SeparatorsAndUnreadableTime)
{
    const DateCase cases[] = {
        {"2016-01-15", "12:30:00", true, 1452816000, 1452861000},
        {"2016/01/15", "12.30.00", true, 1452816000, 1452861000},
        {"2016-01-15", "noon", true, 1452816000, 1452816000},
        {"2016-01-15", "", true, 1452816000, 1452816000},
        {"2016-01-32", "00:00:00", true, 1454284800, 1454284800},  // rolls into February
        {"2016-01", "12:30:00", false, 7, 8},
        {"", "", false, 7, 8},
    };
    for (const DateCase& c : cases) {
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

// A reader of a one-record binary file with the given comment line and name.
class ReaderComment : public ::testing::Test {
protected:
    std::unique_ptr<Nevra::NEVRA> open(const std::string& comment, const std::string& name = "plain.bin")
    {
        const auto file = dir / name;
        std::filesystem::create_directories(file.parent_path());
        legacywriter::write(file, legacywriter::binary_image(comment, {legacywriter::make_record(512, 0, 0)}));
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        testing::internal::CaptureStderr();
        auto reader = std::make_unique<Nevra::BinaryNEVRA>(file.c_str(), &args);
        err = testing::internal::GetCapturedStderr();
        return reader;
    }

    testrun::TempDir dir;
    std::string err;
};

TEST_F(ReaderComment, Form3DateOverridesFileName)
{
    auto r = open(form3_line('S', 512, "18", "2", "kiruna", "2016-02-01", "10:00:00"), "K6011512.bi1");
    EXPECT_DOUBLE_EQ(r->get_frequency(), 18.0);
    EXPECT_EQ(r->get_gain(), 2);
    EXPECT_EQ(r->get_station(), 'k');
    EXPECT_EQ(r->get_start_of_day(), 1454284800);
    EXPECT_EQ(r->get_nvtime(0), 1454284800);  // hour base 0
    EXPECT_FALSE(r->uncertain_year());
    EXPECT_EQ(err.find("uncertain"), std::string::npos);
}

TEST_F(ReaderComment, DateWithUnreadableTimeStillClearsHourBase)
{
    auto r = open(form3_line('S', 512, "18", "2", "kiruna", "2016-02-01", "late"), "K6011512.bi1");
    EXPECT_EQ(r->get_nvtime(0), 1454284800);
}

TEST_F(ReaderComment, Form3WithoutDateKeepsFileNameTimes)
{
    auto r = open(form3_line('S', 512, "18"), "20160115/K6011512.bi1");
    EXPECT_EQ(r->get_gain(), -1);
    EXPECT_EQ(r->get_station(), '\0');
    EXPECT_EQ(r->get_start_of_day(), 1452816000);
    EXPECT_EQ(r->get_nvtime(0), 1452816000 + 21600);
    EXPECT_EQ(err, "");
}

TEST_F(ReaderComment, Form1KeepsUncertainYear)
{
    auto r = open("!Tidserier 20 4", "K6011512.bi1");
    EXPECT_DOUBLE_EQ(r->get_frequency(), 20.0);
    EXPECT_EQ(r->get_gain(), 4);
    EXPECT_NE(err.find("is uncertain"), std::string::npos);
}

TEST_F(ReaderComment, RejectedLinesGive18Hz)
{
    for (const std::string& line : {form3_line('X', 512, "20", "3"), std::string("T old type line"),
                                    std::string("!S512 not a comment form")}) {
        SCOPED_TRACE(line);
        auto r = open(line);
        EXPECT_DOUBLE_EQ(r->get_frequency(), 18.0);
        EXPECT_NE(err.find("parse_comment: Invalid comment line\nCouldn't determine sampling frequency\n"
                           "defaulting to 18.0Hz\n"),
                  std::string::npos);
    }
    auto r = open(form3_line('X', 512, "20", "3"));
    EXPECT_EQ(r->get_gain(), 3);  // what Form 3 scanned stays
}

TEST_F(ReaderComment, StartOfDayNeedsHyphenatedDate)
{
    auto slashes = open(form3_line('S', 512, "18", "1", "kiruna", "2016/01/15", "00:00:00"), "K7011512.bi1");
    EXPECT_EQ(slashes->get_start_of_day(), 0);
    EXPECT_EQ(slashes->get_nvtime(0), 1452816000);  // the date itself was parsed
    auto early = open(form3_line('S', 512, "18", "1", "kiruna", "1969-12-31"));
    EXPECT_EQ(early->get_start_of_day(), 0);
    auto month13 = open(form3_line('S', 512, "18", "1", "kiruna", "2016-13-01"));
    EXPECT_EQ(month13->get_start_of_day(), 0);
}

}  // namespace
