// The legacy readers: times from file names and comment lines, record reads
// of binary and ASCII files, delivery with look-ahead, messages and exits.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "legacy_writer.h"
#include "nevra.h"
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
                                       bool concat = false, bool quiet = true)
    {
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
    int read(Nevra::NEVRA& reader)
    {
        testing::internal::CaptureStderr();
        const int result = reader.read(nn, rtime);
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    void expect_samples(const Record& record, size_t length)
    {
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

TEST_F(Legacy, FileNamePatterns)
{
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
        {"20170115/K6011512.bi1", true, 1304208000, true, 21600},  // short-year by accident: May 2011
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

TEST_F(Legacy, CommentLineGivesReaderValues)
{
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
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "10:00:00"), named, 18, 2, 'k', feb1, feb1, false},
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "late"), named, 18, 2, 'k', feb1, feb1, false},
        {form3_line('S', 128, "18"), named, 18, -1, '\0', jan15_2016, jan15_2016 + 21600, false},
        {form3_line('S', 128, "18", "1", "k", "2016/01/15"), "a.dat", 18, 1, 'k', 0, jan15_2016, false},
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
        EXPECT_EQ(err.find("Warning: year parsed from filename, " + path + ", is uncertain\n") != std::string::npos,
                  c.uncertain);
        EXPECT_EQ(err.find("parse_comment: Invalid comment line\n") != std::string::npos,
                  c.frequency == 18 && c.uncertain);
    }
}

TEST_F(Legacy, BinaryRecordsAndShortEnd)
{
    std::vector<Record> records;
    for (int i = 0; i < 10; ++i)
        records.push_back(make_record(512, 30 + i, i, -300 + 7 * i));
    records[9][0].minute_word = 99;  // the third block's words count
    auto r = open(legacywriter::binary_image(form3_line('S', 512, "18"), records) + std::string(100, 'x'));
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

TEST_F(Legacy, BlockLengthFromCommentLine)
{
    const std::pair<std::string, size_t> cases[] = {
        {s128, 128},  {"!S512x", 512},   {"!U512x", 512}, {"!s128", 128},         {"!u512", 512},
        {"!512", 128}, {"!S256x", 128}, {"!Tidserier 18 1", 128}, {"T1", 128}, {"!S99999999999999999999", 128},
    };
    for (const auto& [line, length] : cases) {
        auto r = open(line + "\r");
        EXPECT_EQ(r->get_length(), length) << line;
        EXPECT_STREQ(r->firstline(), line.c_str());
    }
}

TEST_F(Legacy, BinaryWordSignsOldTypeAndNoCommentLine)
{
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

TEST_F(Legacy, AsciiReads)
{
    for (bool crlf : {false, true}) {
        const std::vector<Record> records = {make_record(128, 61, 2, -64), make_record(128, 61, 9, 5)};
        auto r = open<Nevra::AsciiNEVRA>(legacywriter::ascii_image(s128 + " gain: 2", records, false, crlf));
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
    auto s = open<Nevra::AsciiNEVRA>(s128 + "\n!a\nText\n\n" + lines.substr(0, end1) + "\n!x\n" + lines.substr(end1) +
                                     "\r\n" + lines);
    ASSERT_EQ(read(*s), 0);
    expect_samples(make_record(128, 3, 4), 128);
    EXPECT_EQ(read(*s), -1);
    EXPECT_EQ(err, "");
    auto o = open<Nevra::AsciiNEVRA>(legacywriter::ascii_image("T old", {make_record(128, 0, 0, -20)}, true));
    ASSERT_EQ(read(*o), 0);
    expect_samples(make_record(128, 0, 0, -20), 128);
}

TEST_F(Legacy, AsciiValuesRoundingAndFailures)
{
    std::string values;
    for (int s = 0; s < 128; ++s)
        values += " " + std::to_string(s) + ".25";
    const std::string line = "1.5 -2.5" + values + " 999 extra\n";
    auto r = open<Nevra::AsciiNEVRA>(s128 + "\n" + line + line + line + line + line + "2.49 1e1" + values + "\n");
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

TEST_F(Legacy, RecordTimes)
{
    const Record unix_record = make_record(128, 0x3680, 0x5698);
    const auto [low, high] = legacywriter::unix_words(0xF0000001u);
    auto u = open(legacywriter::binary_image(form3_line('U', 128, "18"), {unix_record, make_record(128, low, high)}));
    ASSERT_EQ(u->getdata(), 0);
    EXPECT_EQ(u->get_nvtime(0), jan15_2016);
    ASSERT_EQ(u->getdata(), 0);
    EXPECT_EQ(u->get_nvtime(0), static_cast<int32_t>(0xF0000001u));  // a signed 32-bit sum
    // Minute words up to 59 count from the hour base (6 h here), larger ones from midnight.
    const std::vector<Record> records = {make_record(128, 30, 15), make_record(128, 59, 0), make_record(128, 60, 3),
                                         make_record(128, -1, 20)};
    auto h = open(legacywriter::binary_image(s128, records), "20160115/K6011512.bi1");
    const time_t expected[] = {jan15_2016 + 21600 + 1800 + 15, jan15_2016 + 21600 + 3540, jan15_2016 + 3603,
                               jan15_2016 + 21600 - 60 + 20};
    for (time_t t : expected) {
        ASSERT_EQ(h->getdata(), 0);
        EXPECT_EQ(h->get_nvtime(0), t);
    }
    EXPECT_EQ(h->getdata(), -1);
}

TEST_F(Legacy, LookAheadJoinsAndGaps)
{
    const int t0 = 600, late = 1439 * 60 + 50;
    const struct {
        size_t length;
        std::vector<int> seconds;  // record start, as minute of day and second
        std::vector<bool> joined;
        std::string report;
    } cases[] = {
        // 512 / 18 + 2 = 30.44 s, in either direction
        {512, {t0, t0 + 28, t0 + 58, t0 + 89, t0 + 89, t0 + 59, t0 + 28},
         {true, true, false, true, true, false, false}, "Warning: TIMEGAPs in data\n"},
        {128, {t0, t0 + 9, t0 + 19}, {true, false, false}, "TIMEGAP in data\n"},  // 9.11 s
        {128, {t0, t0 + 7, t0 + 14}, {true, true, false}, ""},
        {512, {late, 0}, {true, false}, ""},  // 10 s across midnight
        {128, {late, 0}, {false, false}, "TIMEGAP in data\n"},
    };
    for (bool concat : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.length << " " << c.seconds.size() << " " << concat);
            std::vector<Record> records;
            for (size_t i = 0; i < c.seconds.size(); ++i)
                records.push_back(
                    make_record(c.length, c.seconds[i] / 60, c.seconds[i] % 60, 3000 * static_cast<int>(i)));
            auto r = open(legacywriter::binary_image("!S" + std::to_string(c.length) + "x", records), "f.dat", concat);
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
    std::string bytes = legacywriter::binary_image(s128, {make_record(128, 10, 0), make_record(128, 10, 5)});
    auto r = open(bytes.substr(0, bytes.size() - 10), "f.dat", true);
    EXPECT_EQ(r->getdata(), 0);
    EXPECT_FALSE(r->extended_data());
    EXPECT_EQ(r->getdata(), -1);
}

TEST_F(Legacy, ConstructionMessages)
{
    open("!Tidserier 18 1\r");  // the zone is UTC from here on
    open(form3_line('S', 128, "18", "1", "k", "2016-01-15") + "\r", "f.dat", false, false);
    EXPECT_EQ(err, "File: " + path + " Type:binary\n");
    auto r = open<Nevra::AsciiNEVRA>("!Tidserier 18 1\n", "f.txt", false, false);
    EXPECT_EQ(err, "File: " + path + " Type:text\nWarning: year parsed from filename, " + path + ", is uncertain\n");
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
                "^Info: setting TZ=UTC\nFile: [^\n]*Type:binary\nWarning[^\n]*\nFile: [^\n]*Type:binary\nWarning");
    EXPECT_EXIT(construct_twice(true), testing::ExitedWithCode(0), testing::Not(testing::HasSubstr("Info")));
}

TEST_F(Legacy, FatalConditionsEndTheProcess)
{
    Nevra::NEVRA_arguments args;
    const std::string missing = (dir / "missing.bin").string();
    EXPECT_EXIT(Nevra::BinaryNEVRA(missing.c_str(), &args), testing::ExitedWithCode(1), "Can't open " + missing + "\n");
    open("!Tidserier 18 1\r", "nodate.bin");
    args.m_fail_parse_path = true;
    EXPECT_EXIT(Nevra::BinaryNEVRA(path.c_str(), &args), testing::ExitedWithCode(1),
                "Can't parse date & time from path \\(" + path + "\\) & fail_parse_path == 1\n");
    args.m_fail_parse_path = false;
    for (const char* bytes : {"!S512Tidserier sampfrek: 18\n1 2 3", ""}) {
        legacywriter::write(path, bytes);
        EXPECT_EXIT(Nevra::BinaryNEVRA(path.c_str(), &args), testing::ExitedWithCode(1), "fgetc: EOF \n$");
    }
    legacywriter::write(path, "!S512Tidserier sampfrek: 18\r");
    EXPECT_EXIT(Nevra::AsciiNEVRA(path.c_str(), &args), testing::ExitedWithCode(1), "fgetc: EOF \n$");
}

}  // namespace
