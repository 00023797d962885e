// The legacy reader: detection of every input format, the comment-line forms and dates, times
// from file names and comment lines, record reads of binary and ASCII files, delivery with
// look-ahead, messages and exits.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <stdexcept>
#include <string>

#include "common.h"
#include "legacy_writer.h"
#include "nevra.h"
#include "nevra_base.h"
#include "run.h"

namespace {

using legacywriter::form3_line;
using legacywriter::make_record;
using legacywriter::Record;

constexpr time_t jan15_2016 = 1452816000;
const std::string s128 = "!S128Tidserier sampfrek: 18";

class Legacy : public ::testing::Test {
protected:
    template <typename Reader = Nevra::BinaryNEVRA>
    std::unique_ptr<Nevra::NEVRA> open(const std::string& bytes, const std::string& name = "f.dat",
                                       bool concat = false, bool quiet = true) {
        path = (dir / name).string();
        std::filesystem::create_directories((dir / name).parent_path());
        legacywriter::write(path, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = quiet;
        args.m_concat = concat;
        testing::internal::CaptureStderr();
        std::unique_ptr<Nevra::NEVRA> reader = std::make_unique<Reader>(path.c_str(), &args);
        err = testing::internal::GetCapturedStderr();
        return reader;
    }
    int read(Nevra::NEVRA& reader) {
        testing::internal::CaptureStderr();
        const int result = reader.read(nn, rtime);
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    void expect_samples(const Record& record, size_t length) {
        for (size_t ch = 0; ch < 3; ++ch)
            for (size_t s = 0; s < length; ++s)
                ASSERT_EQ(nn[ch][s], record[ch].samples[s]) << "channel " << ch << " sample " << s;
    }
    testrun::TempDir dir;
    std::string path, err;
    Nevra::atype nn{std::vector<double>(1028, -99.0), std::vector<double>(1028, -99.0),
                    std::vector<double>(1028, -99.0)};
    int rtime[2] = {-7, -7};
};

TEST_F(Legacy, FileNamePatterns) {
    // The first name gives known values, so a name that fits no pattern shows it leaves them alone.
    const time_t jan15_2017 = 1484438400;
    const struct {
        const char* name;
        bool matched;
        time_t day;  // when matched
        bool uncertain;
        time_t hour_base;
    } cases[] = {
        {"K6011512.bi1", true, jan15_2016, true, 21600},
        {"K6011513.bi1", true, jan15_2016, true, 21600},
        {"K6011548.bi1", false, 0, false, 3600},  // invalid slot
        {"K60115-1.bi1", false, 0, false, 3600},
        {"K6011512", true, jan15_2016, true, 21600},
        {"K2016011512.bi1", true, jan15_2016, false, 18000},
        {"K2016011548.bi1", false, 0, false, 18000},  // no short-year try after a long-year read
        {"data/K6011512.bi1", false, 0, false, 21600},
        {"data/20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"x/20170115/K6011512.bi1", false, 0, false, 21600},
        {"20170115/K6011512.bi1", true, 1304208000, true,
         21600},  // short-year by accident: May 2011
        {"/a/2016/01/20160115/K6011512.bi1", true, jan15_2016, false, 21600},
        {"/a/2016/02/20160115/K6011512.bi1", true, jan15_2016, false, 21600},  // date directory
        {"/a/2016/01/20160115/K6011548.bi1", false, 0, false, 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = open("!Tidserier 18 1\r");
        ASSERT_TRUE(r->set_time_start_of_day("K7011502.bi1"));
        r->set_time_base("K7011502.bi1");
        EXPECT_EQ(r->set_time_start_of_day(c.name), c.matched);
        r->set_time_base(c.name);
        EXPECT_EQ(r->get_start_of_day(), c.matched ? c.day : jan15_2017);
        EXPECT_EQ(r->uncertain_year(), c.matched ? c.uncertain : true);
        // No record read yet: the time words are 0, so this is start of day plus hour base.
        EXPECT_EQ(r->get_nvtime(0) - r->get_start_of_day(), c.hour_base);
    }
}

TEST_F(Legacy, CommentLineGivesReaderValues) {
    const std::string named = "20160115/K6011512.bi1";  // 2016-01-15, hour base 6 h
    const time_t feb1 = 1454284800;
    const struct {
        std::string line, name;
        double frequency;
        int gain;
        char station;
        time_t start_of_day, first_time;  // get_start_of_day(), get_nvtime(0)
        bool uncertain;
    } cases[] = {
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "10:00:00"), named, 18, 2, 'k',
         feb1, feb1, false},
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "late"), named, 18, 2, 'k', feb1,
         feb1, false},
        {form3_line('S', 128, "18"), named, 18, -1, '\0', jan15_2016, jan15_2016 + 21600, false},
        {form3_line('S', 128, "18", "1", "k", "2016/01/15"), "a.dat", 18, 1, 'k', 0, jan15_2016,
         false},
        {form3_line('S', 128, "18", "1", "k", "1969-12-31"), "a.dat", 18, 1, 'k', 0, -86400, false},
        {"!Tidserier 20 4", "a.dat", 20, 4, '\0', 0, 0, true},
        {form3_line('X', 128, "20", "3"), "a.dat", 18, 3, '\0', 0, 0, true},
        {"T old type", "a.dat", 18, -1, '\0', 0, 0, true},
        {"!S128 no form", "a.dat", 18, -1, '\0', 0, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        auto r = open(c.line + "\r", c.name);
        EXPECT_DOUBLE_EQ(r->get_frequency(), c.frequency);
        EXPECT_EQ(r->get_gain(), c.gain);
        EXPECT_EQ(r->get_station(), c.station);
        EXPECT_EQ(r->get_start_of_day(), c.start_of_day);
        EXPECT_EQ(r->get_nvtime(0), c.first_time);
        EXPECT_EQ(err.find("Warning: year parsed from filename, " + path + ", is uncertain\n") !=
                      std::string::npos,
                  c.uncertain);
        EXPECT_EQ(err.find("parse_comment: Invalid comment line\n") != std::string::npos,
                  c.frequency == 18 && c.uncertain);
    }
}

TEST_F(Legacy, BinaryRecordsAndShortEnd) {
    std::vector<Record> records;
    for (int i = 0; i < 10; ++i)
        records.push_back(make_record(512, 30 + i, i, -300 + 7 * i));
    records[9][0].minute_word = 99;  // the third block's words count
    auto r = open(legacywriter::binary_image(form3_line('S', 512, "18"), records) +
                  std::string(100, 'x'));
    EXPECT_EQ(r->get_length(), 512u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(read(*r), 0) << "record " << i;
        expect_samples(records[i], 512);
        EXPECT_EQ(rtime[0], 30 + i);
        EXPECT_EQ(rtime[1], i);
    }
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "fread: EOF\n");
    auto exact = open(legacywriter::binary_image(s128, {make_record(128, 1, 2)}));
    ASSERT_EQ(read(*exact), 0);
    EXPECT_EQ(read(*exact), -1);
    EXPECT_EQ(err, "");
}

TEST_F(Legacy, BlockLengthFromCommentLine) {
    const std::pair<std::string, size_t> cases[] = {
        {s128, 128},     {"!S512x", 512},
        {"!U512x", 512}, {"!s128", 128},
        {"!u512", 512},  {"!512", 128},
        {"!S256x", 128}, {"!Tidserier 18 1", 128},
        {"T1", 128},     {"!S99999999999999999999", 128},
    };
    for (const auto& [line, length] : cases) {
        auto r = open(line + "\r");
        EXPECT_EQ(r->get_length(), length) << line;
        EXPECT_STREQ(r->firstline(), line.c_str());
    }
}

TEST_F(Legacy, BinaryWordSignsOldTypeAndNoCommentLine) {
    Record record = make_record(128, 0xFFFF, 0x8000);
    record[1].samples[0] = -32768;
    auto s = open(legacywriter::binary_image(s128, {record}));
    ASSERT_EQ(read(*s), 0);
    expect_samples(record, 128);
    EXPECT_EQ(rtime[0], -1);
    EXPECT_EQ(rtime[1], -32768);
    auto u = open(legacywriter::binary_image("!U128Tidserier sampfrek: 18", {record}));
    ASSERT_EQ(read(*u), 0);
    EXPECT_EQ(rtime[0], 65535);
    EXPECT_EQ(rtime[1], 32768);
    rtime[0] = rtime[1] = -7;
    const std::string old = legacywriter::binary_image("T old", {record, record}, true);
    auto o = open(old.substr(0, old.size() - 1));
    ASSERT_EQ(read(*o), 0);
    expect_samples(record, 128);
    EXPECT_EQ(rtime[0], -7);  // old-type records carry no time words
    EXPECT_EQ(read(*o), -1);
    EXPECT_EQ(err, "fread: EOF\n");
    const Record plain = make_record(128, 40, 2);  // first byte 40 is '(': no comment line
    auto n = open(legacywriter::binary_image("", {plain}));
    EXPECT_DOUBLE_EQ(n->get_frequency(), 18.0);
    ASSERT_EQ(read(*n), 0);
    expect_samples(plain, 128);
    EXPECT_EQ(rtime[0], 40);
}

TEST_F(Legacy, AsciiReads) {
    for (bool crlf : {false, true}) {
        const std::vector<Record> records = {make_record(128, 61, 2, -64),
                                             make_record(128, 61, 9, 5)};
        auto r = open<Nevra::AsciiNEVRA>(
            legacywriter::ascii_image(s128 + " gain: 2", records, false, crlf));
        EXPECT_EQ(std::string(r->firstline()), s128 + " gain: 2") << crlf;
        for (const Record& record : records) {
            ASSERT_EQ(read(*r), 0);
            expect_samples(record, 128);
            EXPECT_EQ(rtime[1], record[2].second_word);
        }
        EXPECT_EQ(read(*r), -1);
    }
    // Skipped lines anywhere; a CRLF blank line is not skipped.
    const std::string lines = legacywriter::ascii_image("", {make_record(128, 3, 4)});
    const size_t end1 = lines.find('\n') + 1;
    auto s = open<Nevra::AsciiNEVRA>(s128 + "\n!a\nText\n\n" + lines.substr(0, end1) + "\n!x\n" +
                                     lines.substr(end1) + "\r\n" + lines);
    ASSERT_EQ(read(*s), 0);
    expect_samples(make_record(128, 3, 4), 128);
    EXPECT_EQ(read(*s), -1);
    EXPECT_EQ(err, "");
    auto o = open<Nevra::AsciiNEVRA>(
        legacywriter::ascii_image("T old", {make_record(128, 0, 0, -20)}, true));
    ASSERT_EQ(read(*o), 0);
    expect_samples(make_record(128, 0, 0, -20), 128);
}

TEST_F(Legacy, AsciiValuesRoundingAndFailures) {
    std::string values;
    for (int s = 0; s < 128; ++s)
        values += " " + std::to_string(s) + ".25";
    const std::string line = "1.5 -2.5" + values + " 999 extra\n";
    auto r = open<Nevra::AsciiNEVRA>(s128 + "\n" + line + line + line + line + line + "2.49 1e1" +
                                     values + "\n");
    ASSERT_EQ(read(*r), 0);
    EXPECT_EQ(nn[2][127], 127.25);
    EXPECT_EQ(nn[0][128], -99.0);  // values after the last sample are ignored
    EXPECT_EQ(rtime[0], 2);        // halves away from zero
    EXPECT_EQ(rtime[1], -3);
    ASSERT_EQ(read(*r), 0);
    EXPECT_EQ(rtime[0], 2);
    EXPECT_EQ(rtime[1], 10);
    const std::string short_line = "0 0" + values.substr(0, values.rfind(' ')) + " x\n";
    auto f = open<Nevra::AsciiNEVRA>(s128 + "\n" + short_line);
    EXPECT_EQ(read(*f), -1);
    EXPECT_EQ(err, "Failed to read value 129 of line:\n" + short_line + "\n");
    auto t = open<Nevra::AsciiNEVRA>(s128 + "\n5\n");
    EXPECT_EQ(read(*t), -1);
    EXPECT_EQ(err, "");
    auto l = open<Nevra::AsciiNEVRA>(s128 + "\n" + std::string(60000, '1') + "\n");
    EXPECT_EQ(read(*l), -1);
    EXPECT_EQ(err, "Error: Line to long\n");
}

TEST_F(Legacy, RecordTimes) {
    const Record unix_record = make_record(128, 0x3680, 0x5698);
    const auto [low, high] = legacywriter::unix_words(0xF0000001u);
    auto u = open(legacywriter::binary_image(form3_line('U', 128, "18"),
                                             {unix_record, make_record(128, low, high)}));
    ASSERT_EQ(u->getdata(), 0);
    EXPECT_EQ(u->get_nvtime(0), jan15_2016);
    ASSERT_EQ(u->getdata(), 0);
    EXPECT_EQ(u->get_nvtime(0), static_cast<int32_t>(0xF0000001u));  // a signed 32-bit sum
    // Minute words up to 59 count from the hour base (6 h here), larger ones from midnight.
    const std::vector<Record> records = {make_record(128, 30, 15), make_record(128, 59, 0),
                                         make_record(128, 60, 3), make_record(128, -1, 20)};
    auto h = open(legacywriter::binary_image(s128, records), "20160115/K6011512.bi1");
    const time_t expected[] = {jan15_2016 + 21600 + 1800 + 15, jan15_2016 + 21600 + 3540,
                               jan15_2016 + 3603, jan15_2016 + 21600 - 60 + 20};
    for (time_t t : expected) {
        ASSERT_EQ(h->getdata(), 0);
        EXPECT_EQ(h->get_nvtime(0), t);
    }
    EXPECT_EQ(h->getdata(), -1);
}

TEST_F(Legacy, LookAheadJoinsAndGaps) {
    const int t0 = 600, late = 1439 * 60 + 50;
    const struct {
        size_t length;
        std::vector<int> seconds;  // record start, as minute of day and second
        std::vector<bool> joined;
        std::string report;
    } cases[] = {
        // 512 / 18 + 2 = 30.44 s, in either direction
        {512,
         {t0, t0 + 28, t0 + 58, t0 + 89, t0 + 89, t0 + 59, t0 + 28},
         {true, true, false, true, true, false, false},
         "Warning: TIMEGAPs in data\n"},
        {128, {t0, t0 + 9, t0 + 19}, {true, false, false}, "TIMEGAP in data\n"},  // 9.11 s
        {128, {t0, t0 + 7, t0 + 14}, {true, true, false}, ""},
        {512, {late, 0}, {true, false}, ""},  // 10 s across midnight
        {128, {late, 0}, {false, false}, "TIMEGAP in data\n"},
    };
    for (bool concat : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << c.length << " " << c.seconds.size() << " " << concat);
            std::vector<Record> records;
            for (size_t i = 0; i < c.seconds.size(); ++i)
                records.push_back(make_record(c.length, c.seconds[i] / 60, c.seconds[i] % 60,
                                              3000 * static_cast<int>(i)));
            auto r =
                open(legacywriter::binary_image("!S" + std::to_string(c.length) + "x", records),
                     "f.dat", concat);
            std::vector<bool> joined;
            for (int i = 0; r->getdata() == 0; ++i) {
                EXPECT_EQ(r->current[0][0], 3000.0 * i);
                EXPECT_EQ(r->get_nvtime(0), c.seconds[i]);
                if (r->extended_data()) {
                    EXPECT_EQ(r->current[2][c.length], 3000.0 * (i + 1) + 2000);
                }
                joined.push_back(r->extended_data());
            }
            EXPECT_EQ(joined, concat ? c.joined : std::vector<bool>(c.seconds.size(), false));
            testing::internal::CaptureStderr();
            r.reset();
            EXPECT_EQ(testing::internal::GetCapturedStderr(), concat ? c.report : "");
        }
    }
    // A failed look-ahead read does not stop the current record.
    std::string bytes =
        legacywriter::binary_image(s128, {make_record(128, 10, 0), make_record(128, 10, 5)});
    auto r = open(bytes.substr(0, bytes.size() - 10), "f.dat", true);
    EXPECT_EQ(r->getdata(), 0);
    EXPECT_FALSE(r->extended_data());
    EXPECT_EQ(r->getdata(), -1);
}

TEST_F(Legacy, ConstructionMessages) {
    open("!Tidserier 18 1\r");  // the zone is UTC from here on
    open(form3_line('S', 128, "18", "1", "k", "2016-01-15") + "\r", "f.dat", false, false);
    EXPECT_EQ(err, "File: " + path + " Type:binary\n");
    auto r = open<Nevra::AsciiNEVRA>("!Tidserier 18 1\n", "f.txt", false, false);
    EXPECT_EQ(err, "File: " + path + " Type:text\nWarning: year parsed from filename, " + path +
                       ", is uncertain\n");
    EXPECT_STREQ(r->type(), "text");
    const auto construct_twice = [&](bool quiet) {
        setenv("TZ", "CET-1", 1);
        tzset();
        Nevra::NEVRA_arguments args;
        args.m_quiet = quiet;
        Nevra::BinaryNEVRA first(path.c_str(), &args), second(path.c_str(), &args);
        const time_t noon = 43200;
        struct tm local {};
        localtime_r(&noon, &local);
        std::exit(local.tm_hour == 12 ? 0 : 2);
    };
    open("!Tidserier 18 1\r");
    EXPECT_EXIT(construct_twice(false), testing::ExitedWithCode(0),
                "^Info: setting TZ=UTC\nFile: [^\n]*Type:binary\nWarning[^\n]*\nFile: "
                "[^\n]*Type:binary\nWarning");
    EXPECT_EXIT(construct_twice(true), testing::ExitedWithCode(0),
                testing::Not(testing::HasSubstr("Info")));
}

TEST_F(Legacy, FatalConditionsEndTheProcess) {
    Nevra::NEVRA_arguments args;
    const std::string missing = (dir / "missing.bin").string();
    EXPECT_EXIT(Nevra::BinaryNEVRA(missing.c_str(), &args), testing::ExitedWithCode(1),
                "Can't open " + missing + "\n");
    open("!Tidserier 18 1\r", "nodate.bin");
    args.m_fail_parse_path = true;
    EXPECT_EXIT(Nevra::BinaryNEVRA(path.c_str(), &args), testing::ExitedWithCode(1),
                "Can't parse date & time from path \\(" + path + "\\) & fail_parse_path == 1\n");
    args.m_fail_parse_path = false;
    for (const char* bytes : {"!S512Tidserier sampfrek: 18\n1 2 3", ""}) {
        legacywriter::write(path, bytes);
        EXPECT_EXIT(Nevra::BinaryNEVRA(path.c_str(), &args), testing::ExitedWithCode(1),
                    "fgetc: EOF \n$");
    }
    legacywriter::write(path, "!S512Tidserier sampfrek: 18\r");
    EXPECT_EXIT(Nevra::AsciiNEVRA(path.c_str(), &args), testing::ExitedWithCode(1),
                "fgetc: EOF \n$");
}

struct Parsed {
    double frequency = -1.0;
    int gain = -1;
    std::string station, date, time;
    char letter = '\0';
    int length = 0;
    bool unixtime = false;
    Nevra::arguments arg{frequency, gain, station, letter, length, unixtime, date, time};
};

TEST(CommentForms, EachFormAcceptsItsOwnLines) {
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
        {"!Tidserier sampfrek: 16.5 gain: 2", false, true, false, 16.5,
         2},  // one blank matches two
        {form3_line('S', 512, "18"), false, false, true, 18.0, -1},
        {form3_line('U', 128, "20", "4", "kiruna", "2016-01-15", "12:30:00"), false, false, true,
         20.0, 4},
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
              "validate_comment: Invalid comment line\nCouldn't determine sampling "
              "frequency\ndefaulting to 18.0Hz\n");
}

TEST(CommentForms, Form3FieldsAndNonstandardLength) {
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
    ASSERT_TRUE(Nevra::valid_comment_type3(
        form3_line('S', 128, "18", "1", std::string(400, 'k')).c_str(), q.arg));
    EXPECT_FALSE(q.unixtime);
    EXPECT_EQ(q.station, std::string(255, 'k'));
    EXPECT_EQ(q.date, "kept");
    // A nonstandard length warns but is accepted.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Nevra::valid_comment_type3(form3_line('S', 256, "18").c_str(), q.arg));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: nonstandard length: 256\n");
}

TEST(ParseDate, SeparatorsAndUnreadableTime) {
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

TEST(MyTimegm, AgreesWithTheCLibraryForOutOfRangeFields) {
    const int fields[][6] = {{116, 0, 15, 0, 0, 0},        {116, 0, 32, 0, 0, 0},
                             {100, 1, 29, 23, 59, 60},     {110, 16, 1, 0, 0, 0},
                             {104, -1, 1, 0, 0, 0},        {69, 11, 31, 23, 59, 59},
                             {200, 13, -5, 25, -61, 3700}, {0, 0, 1, 0, 0, 0}};
    for (const auto& f : fields) {
        struct tm a {};
        a.tm_year = f[0], a.tm_mon = f[1], a.tm_mday = f[2], a.tm_hour = f[3], a.tm_min = f[4],
        a.tm_sec = f[5];
        struct tm b = a;
        EXPECT_EQ(Nevra::my_timegm(&a), timegm(&b))
            << "year " << f[0] << " month " << f[1] << " day " << f[2];
    }
}

const std::string s512 = "!S512Tidserier sampfrek: 18 gain: 1";

std::string ascii(const std::string& comment) {
    return legacywriter::ascii_image(comment, {make_record(128, 61, 0)});
}

class Detect : public ::testing::Test {
protected:
    // The chosen reader's type name, or the runtime error's text.
    std::string detect(const std::string& bytes) {
        legacywriter::write(file, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        testing::internal::CaptureStderr();
        std::string result;
        try {
            std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(file.c_str(), &args));
            result = reader->type();
        } catch (const std::runtime_error& e) {
            result = e.what();
        }
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    testrun::TempDir dir;
    std::string file = (dir / "f.dat").string();
    std::string err;
};

TEST_F(Detect, LegacyBinaryOrAscii) {
    const std::string cr = "\r";  // lets the binary reader find the end of its comment line
    const std::pair<std::string, std::string> cases[] = {
        {ascii(s512).substr(0, 255), "fread: EOF \n"},
        {std::string(300, 'x'), "Found no end of first commentline\n"},
        {std::string(255, '!') + "\n" + std::string(10, '1'),
         "Found no end of first commentline\n"},
        {ascii(s512), "text"},
        {legacywriter::ascii_image(s512, {make_record(128, 61, 0)}, false, true), "text"},
        {s512 + "\n!S512 again\n" + ascii("") + cr, "binary"},
        {s512 + "\nabc\n" + ascii("") + cr, "binary"},
        {legacywriter::binary_image(s512, {make_record(512, 0, 7)}), "binary"},
        {s512 + "\r12 34 56" + std::string(300, ' ') + "\n",
         "text"},  // binary words that read as numbers
        {"T old type\n" + ascii("") + cr, "binary"},
        {"!Xsomething\n" + ascii("") + cr, "binary"},
        {"!S512 text\n" + ascii(""), "text"},  // valid through the length scan
        {"!s128 text\n" + ascii(""), "text"},
        {"!S256 text\n" + ascii("") + cr, "binary"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes.substr(0, 40));
        EXPECT_EQ(detect(bytes), expected);
    }
    EXPECT_EQ(detect("T old type\n" + ascii("") + cr), "binary");
    EXPECT_NE(err.find("validate_comment: Invalid comment line\n"), std::string::npos);
    EXPECT_EQ(detect(ascii(legacywriter::form3_line('S', 256, "18"))), "text");
    EXPECT_EQ(err,
              "WARNING: nonstandard length: 256\nWARNING: nonstandard length: 256\n"
              "Warning: year parsed from filename, " +
                  file + ", is uncertain\n");
    EXPECT_EQ(detect(""), "fread: EOF \n");
    file = (dir / "missing").string();
    try {
        delete Nevra::detect(file.c_str(), false, false, false);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Can't open " + file + "\n");
    }
}

TEST_F(Detect, ArgumentsReachTheReader) {
    legacywriter::write(file, ascii("!S128Tidserier sampfrek: 18"));
    testing::internal::CaptureStderr();
    std::unique_ptr<Nevra::NEVRA> loud(Nevra::detect(file.c_str(), false, true, false));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("File: " + file + " Type:text\n"),
              std::string::npos);
    ASSERT_EQ(loud->getdata(), 0);  // old-type: the time values are read as samples
    EXPECT_EQ(loud->current[0][0], 61.0);
    EXPECT_EQ(loud->current[0][3], 1.0);
}

std::string numbers(int count) {
    std::string line;
    for (int i = 0; i < count; ++i)
        line += std::to_string(i) + ".5 ";
    return line;
}

// "!S512", a carriage return at position cr_at, then filler with "ABCD" at
// the given distances after the carriage return.
std::string binary_head(size_t cr_at, std::initializer_list<size_t> repeats, size_t size = 3072) {
    std::string head = "!S512" + std::string(cr_at - 5, 'x') + "\r";
    head.resize(size, 'y');
    for (size_t distance : repeats)
        head.replace(cr_at + 1 + distance, 4, "ABCD");
    return head;
}

TEST(ClassifyInput, Cases) {
    using enum Nevra::input_format;
    const std::string line = "!S512Tidserier sampfrek: 18";
    const std::pair<std::string, Nevra::input_format> cases[] = {
        {"", INPUT_FORMAT_LEGACY},
        {"nv24", INPUT_FORMAT_LEGACY},
        {"nv24 rest is not checked", INPUT_FORMAT_BLOCK},
        {"!S256\n" + numbers(5), INPUT_FORMAT_LEGACY},
        {"!S512" + std::string(4000, 'x'), INPUT_FORMAT_NONE},
        {"!S512" + std::string(3066, 'x') + "\n" + numbers(5),
         INPUT_FORMAT_NONE},  // line end at 3071
        {line + "\r\n1.0 2.0 3.0 4.0\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n1.0 2.0 3.0\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n" + numbers(127) + "\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n" + numbers(128) + "\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n1 2 3 4 x 5\r\n", INPUT_FORMAT_TM4},
        {line + "\n1 2 3\n4 5 6 7\n", INPUT_FORMAT_LEGACY},
        {line + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {"!S128\n1 2 3 4 5", INPUT_FORMAT_TM4},
        {line + "\r1 2 3 4 5\n", INPUT_FORMAT_LEGACY},  // lone carriage return
        {binary_head(1500, {}, 1501) + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {binary_head(3050, {}, 3051) + "\n1 2 3 4\n", INPUT_FORMAT_TM4},
    };
    for (const auto& [head, expected] : cases) {
        SCOPED_TRACE(head.substr(0, 40));
        EXPECT_EQ(Nevra::classify_input(head), expected);
    }
}

// The debug trace tells which binary test matched.
std::string binary_trace(const std::string& head) {
    Nevra::nevra_debug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Nevra::classify_input(head), Nevra::INPUT_FORMAT_LEGACY);
    const std::string trace = testing::internal::GetCapturedStderr();
    Nevra::nevra_debug = 0;
    const size_t message = trace.find(") ");
    EXPECT_TRUE(trace.empty() || std::regex_search(trace, std::regex("^Debug:nevra\\(\\d+\\) ")))
        << trace;
    return message == std::string::npos ? trace : trace.substr(message + 2);
}

TEST(ClassifyInput, BinaryBlockRepeats) {
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520})), "Trying binary !S128\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260, 520, 1028, 2056})), "Trying binary !S512\n");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 1028})), "");
    EXPECT_EQ(binary_trace(binary_head(40, {0, 260})), "");
    // Line end at 1011: the third pair ends with the buffer's last byte, which is always zero.
    std::string head = binary_head(1011, {});
    for (size_t at : {1012, 2040, 3068})
        head.replace(at, 4, std::string("ABC\0", 4));
    EXPECT_EQ(binary_trace(head), "Trying binary !S512\n");
    // One byte later the third pair would reach past the buffer: not equal.
    std::string later = binary_head(1012, {});
    for (size_t at : {1013, 2041})
        later.replace(at, 4, std::string("ABC\0", 4));
    later.replace(3069, 3, "ABC");
    EXPECT_EQ(binary_trace(later + std::string(10, '\0')), "");
}

TEST(Nvdetect, ReadersAndNullResults) {
    testrun::TempDir dir;
    const auto detect = [&](const std::string& bytes) {
        legacywriter::write(dir / "f", bytes);
        testing::internal::CaptureStderr();
        try {
            std::unique_ptr<Nevra::Nevra_Base> reader(Nevra::nvdetect((dir / "f").c_str(), 0));
            testing::internal::GetCapturedStderr();
            return reader;
        } catch (...) {
            testing::internal::GetCapturedStderr();
            throw;
        }
    };
    EXPECT_EQ(Nevra::nvdetect((dir / "missing").c_str(), 0), nullptr);
    EXPECT_EQ(detect("!S512" + std::string(5000, 'x')), nullptr);
    EXPECT_THROW(detect("nv24"), std::runtime_error);  // the legacy reader: too short
    EXPECT_THROW(detect("nv24" + std::string(10, '\0')), std::runtime_error);  // the block reader
    const auto legacy = detect(legacywriter::binary_image(
        legacywriter::form3_line('S', 512, "18", "1", "kiruna", "2016-01-15", "00:00:00"),
        std::vector<legacywriter::Record>(4, make_record(512, 70, 0))));
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->get_origin(), Nevra::ORIGIN_NV16);
}

}  // namespace
