// The legacy reader: values from file names and comment lines, record reads of binary and ASCII
// files, record times, delivery with look-ahead, messages and exits; choosing the legacy reader
// and the input format.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common.h"
#include "describe.h"
#include "legacy_writer.h"
#include "nevra.h"
#include "nevra_base.h"
#include "run.h"

namespace {

namespace lw = legacywriter;
using lw::form3_line;
using lw::make_record;
using lw::Record;

constexpr time_t jan15 = 1452816000;  // 2016-01-15
const std::string s128 = "!S128Tidserier sampfrek: 18", s512 = "!S512Tidserier sampfrek: 18";
const std::string invalid_comment =
    ": Invalid comment line\nCouldn't determine sampling frequency\ndefaulting to 18.0Hz\n";

// The readers take dates from file names, so files are named relative to the test's directory.
class Legacy : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(dir.path()); }
    void TearDown() override { std::filesystem::current_path(home); }
    template <typename Reader = Nevra::BinaryNEVRA>
    std::unique_ptr<Nevra::NEVRA> open(const std::string& bytes, const std::string& name = "f.dat",
                                       bool concat = false, bool quiet = true) {
        path = name;
        if (const auto parent = std::filesystem::path(name).parent_path(); !parent.empty())
            std::filesystem::create_directories(parent);
        lw::write(path, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = quiet;
        args.m_concat = concat;
        testing::internal::CaptureStderr();
        std::unique_ptr<Nevra::NEVRA> reader = std::make_unique<Reader>(path.c_str(), &args);
        err = testing::internal::GetCapturedStderr();
        return reader;
    }
    // The type of the reader detect chooses for a file of these bytes, or the error's text.
    std::string detect(const std::string& bytes) {
        lw::write(path = "f.dat", bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        std::string type;
        testing::internal::CaptureStderr();
        const std::string error = nevratest::error_of(
            [&] { type = std::unique_ptr<Nevra::NEVRA>(Nevra::detect("f.dat", &args))->type(); });
        err = testing::internal::GetCapturedStderr();
        return error.empty() ? type : error;
    }
    std::string uncertain() const {
        return "Warning: year parsed from filename, " + path + ", is uncertain\n";
    }
    const std::filesystem::path home = std::filesystem::current_path();
    testrun::TempDir dir;
    std::string path, err;
};

TEST_F(Legacy, FileNameAndCommentLineGiveTheReaderValues) {
    const std::string t18 = "!Tidserier 18 1", named = "20160115/K6011512.bi1";  // hour base 6 h
    const time_t feb1 = 1454284800, six = 21600;
    const struct {
        std::string line, name;
        double frequency;
        int gain;
        char station;
        time_t day, first;     // get_start_of_day(), get_nvtime(0) before any record
        const char* messages;  // i: invalid comment line, u: uncertain year
    } cases[] = {
        // Names: the day, certain in a date directory; the slot (0 to 47) gives the hour base.
        {t18, "K6011512.bi1", 18, 1, 0, jan15, jan15 + six, "u"},
        {t18, "K6011513.bi1", 18, 1, 0, jan15, jan15 + six, "u"},
        {t18, "K6011548.bi1", 18, 1, 0, 0, 0, "u"},
        {t18, "K60115-1.bi1", 18, 1, 0, 0, 0, "u"},
        {t18, "K6011512", 18, 1, 0, jan15, jan15 + six, "u"},
        {t18, "K2016011512.bi1", 18, 1, 0, jan15, jan15 + 18000, ""},
        {t18, "K2016011548.bi1", 18, 1, 0, 0, 18000, "u"},  // no short-year try after a long year
        {t18, "data/K6011512.bi1", 18, 1, 0, 0, six, "u"},
        {t18, "data/20160115/K6011512.bi1", 18, 1, 0, jan15, jan15 + six, ""},
        {t18, named, 18, 1, 0, jan15, jan15 + six, ""},
        {t18, "x/20170115/K6011512.bi1", 18, 1, 0, 0, six, "u"},
        {t18, "20170115/K6011512.bi1", 18, 1, 0, 1304208000, 1304208000 + six, "u"},  // May 2011
        {t18, "/a/2016/01/20160115/K6011512.bi1", 18, 1, 0, jan15, jan15 + six, ""},
        {t18, "/a/2016/02/20160115/K6011512.bi1", 18, 1, 0, jan15, jan15 + six, ""},
        {t18, "/a/2016/01/20160115/K6011548.bi1", 18, 1, 0, 0, 0, "u"},
        // Comment lines of the three forms; a date there replaces the name's and its hour base.
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "10:00:00"), named, 18, 2, 'k',
         feb1, feb1, ""},
        {form3_line('S', 128, "18", "2", "kiruna", "2016-02-01", "late"), named, 18, 2, 'k', feb1,
         feb1, ""},
        {form3_line('S', 128, "18"), named, 18, -1, '\0', jan15, jan15 + six, ""},
        {form3_line('S', 128, "18", "1", "k", "2016-01"), named, 18, 1, 'k', 0, jan15 + six, ""},
        {form3_line('S', 128, "18", "1", "k", "2016/01/15"), "a.dat", 18, 1, 'k', 0, jan15, ""},
        {form3_line('S', 128, "18", "1", "k", "1969-12-31"), "a.dat", 18, 1, 'k', 0, -86400, ""},
        {form3_line('S', 128, "18", "1", "k", "1970-01-02"), "a.dat", 18, 1, 'k', 86400, 86400, ""},
        {form3_line('S', 128, "18", "1", "k", "2016-01-32"), "a.dat", 18, 1, 'k', 0, feb1, ""},
        {form3_line('U', 128, "20", "4", "kiruna", "2016-01-15", "12:30:00"), "a.dat", 20, 4, 'k',
         jan15, 0, ""},  // Unix time words, all 0 yet
        {"!Tidserier 20 4", "a.dat", 20, 4, '\0', 0, 0, "u"},
        {"!Tidserier 20", "a.dat", 20, -1, '\0', 0, 0, "u"},
        {"!Tidserier  sampfrek: 16.5 gain: 2", "a.dat", 16.5, 2, '\0', 0, 0, "u"},
        {"!Tidserier sampfrek: 16.5 gain: 2", "a.dat", 16.5, 2, '\0', 0, 0, "u"},  // one blank
        {form3_line('X', 128, "20", "3"), "a.dat", 18, 3, '\0', 0, 0, "iu"},  // scanned, rejected
        {"T old type", "a.dat", 18, -1, '\0', 0, 0, "iu"},
        {"!S128 no form", "a.dat", 18, -1, '\0', 0, 0, "iu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line + " in " + c.name);
        auto r = open(c.line + "\r", c.name);
        EXPECT_EQ(r->get_frequency(), c.frequency);
        EXPECT_EQ(r->get_gain(), c.gain);
        EXPECT_EQ(r->get_station(), c.station);
        EXPECT_EQ(r->get_start_of_day(), c.day);
        EXPECT_EQ(r->get_nvtime(0), c.first);
        const std::string m = c.messages;
        EXPECT_EQ(err, (m.find('i') != std::string::npos ? "parse_comment" + invalid_comment : "") +
                           (m.find('u') != std::string::npos ? uncertain() : ""));
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
    EXPECT_STREQ(open<Nevra::AsciiNEVRA>(s128 + "\r\n")->firstline(), s128.c_str());  // no CR
}

// Every record's samples and time as written, then the end with its message (if any). Minute
// words up to 59 count from the hour base, larger ones from midnight; 'U' words are the low and
// high half of a signed 32-bit Unix time.
TEST_F(Legacy, RecordReadsAndTimes) {
    std::vector<Record> two = {make_record(512, 30, 0, -300), make_record(512, 31, 1, 7)};
    two[1][0].minute_word = 99;  // the third block's words count
    Record signs = make_record(128, 0xFFFF, 0x8000);
    signs[1].samples[0] = -32768;
    const std::vector<Record> unix = {make_record(128, 0x3680, 0x5698), signs};
    const std::vector<Record> minutes = {make_record(128, 30, 15), make_record(128, 59, 0),
                                         make_record(128, 60, 3), make_record(128, -1, 20)};
    const Record plain = make_record(128, 40, 2);  // first byte 40 is '(': no comment line
    const std::string old = lw::binary_image("T old", {signs, signs}, true);
    const std::vector<Record> text = {make_record(128, 61, 2, -64), make_record(128, 61, 9, 5)};
    const Record one = make_record(128, 3, 4);
    // Skipped lines anywhere; a CRLF blank line is not skipped.
    const std::string lines = lw::ascii_image("", {one});
    const size_t end1 = lines.find('\n') + 1;
    const std::string skips = s128 + "\n!a\nText\n\n" + lines.substr(0, end1) + "\n!x\n" +
                              lines.substr(end1) + "\r\n" + lines;
    std::string values;  // 128 of them: the last is value 130 of the line
    for (int s = 0; s < 128; ++s)
        values += " " + std::to_string(s);
    const std::string cut = "0 0" + values.substr(0, values.rfind(' ')) + " x\n";
    // Time values are rounded half away from zero; values after the last sample are ignored.
    std::string halves = s128 + "\n";
    for (const std::string times : {"1.5 -2.5 ", "2.49 1e1 "}) {
        std::istringstream samples(lw::ascii_image("", {one}, true));
        for (std::string line; std::getline(samples, line);)
            halves += times + line + " 999 extra\n";
    }
    const time_t hour6 = jan15 + 21600;
    const std::vector<time_t> minute_times = {hour6 + 1815, hour6 + 3540, jan15 + 3603, hour6 - 40};
    const std::string junk(100, 'x');
    const struct {
        bool ascii;
        std::string bytes;
        std::vector<Record> records;
        std::vector<time_t> times;
        std::string end, name = "f.dat";
    } cases[] = {
        {false, lw::binary_image(s512, two) + junk, two, {1800, 1861}, "fread: EOF\n"},
        {false, lw::binary_image(s128, {signs}), {signs}, {-60 - 32768}, ""},
        {false, lw::binary_image(form3_line('U', 128, "18"), unix), unix, {jan15, -2147418113}, ""},
        {false, lw::binary_image(s128, minutes), minutes, minute_times, "",
         "20160115/K6011512.bi1"},
        {false, old.substr(0, old.size() - 1), {signs}, {0}, "fread: EOF\n"},
        {false, lw::binary_image("", {plain}), {plain}, {2402}, ""},
        {true, lw::ascii_image(s128 + " gain: 2", text), text, {3662, 3669}, ""},
        {true, lw::ascii_image(s128, text, false, true), text, {3662, 3669}, ""},
        {true, skips, {one}, {184}, ""},
        {true, halves, {one, one}, {2 * 60 - 3, 2 * 60 + 10}, ""},
        {true, lw::ascii_image("T old", {one}, true), {one}, {0}, ""},
        {true, s128 + "\n" + cut, {}, {}, "Failed to read value 129 of line:\n" + cut + "\n"},
        {true, s128 + "\n5\n", {}, {}, ""},
        {true, s128 + "\n" + std::string(60000, '1') + "\n", {}, {}, "Error: Line to long\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 20));
        auto r = c.ascii ? open<Nevra::AsciiNEVRA>(c.bytes, c.name) : open(c.bytes, c.name);
        const auto length = static_cast<std::ptrdiff_t>(r->get_length());
        testing::internal::CaptureStderr();
        for (size_t i = 0; i < c.records.size(); ++i) {
            ASSERT_EQ(r->getdata(), 0) << "record " << i;
            for (size_t ch = 0; ch < 3; ++ch) {  // and nothing stored after them
                std::vector<int> expected = c.records[i][ch].samples;
                expected.push_back(0);
                EXPECT_EQ(
                    std::vector<int>(r->current[ch].begin(), r->current[ch].begin() + length + 1),
                    expected);
            }
            EXPECT_EQ(r->get_nvtime(0), c.times[i]) << "record " << i;
        }
        EXPECT_EQ(r->getdata(), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.end);
    }
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
            auto r = open(lw::binary_image("!S" + std::to_string(c.length) + "x", records), "f.dat",
                          concat);
            std::vector<bool> joined;
            for (int i = 0; r->getdata() == 0; ++i) {
                EXPECT_EQ(r->current[0][0], 3000.0 * i);
                EXPECT_EQ(r->get_nvtime(0), c.seconds[i]);
                // A joined record holds its successor's samples after its own.
                joined.push_back(r->extended_data() &&
                                 r->current[2][c.length] == 3000.0 * (i + 1) + 2000);
            }
            EXPECT_EQ(joined, concat ? c.joined : std::vector<bool>(c.seconds.size(), false));
            testing::internal::CaptureStderr();
            r.reset();
            EXPECT_EQ(testing::internal::GetCapturedStderr(), concat ? c.report : "");
        }
    }
    // A failed look-ahead read does not stop the current record.
    std::string bytes = lw::binary_image(s128, {make_record(128, 10, 0), make_record(128, 10, 5)});
    auto r = open(bytes.substr(0, bytes.size() - 10), "f.dat", true);
    EXPECT_EQ(r->getdata(), 0);
    EXPECT_FALSE(r->extended_data());
    EXPECT_EQ(r->getdata(), -1);
}

// The zone is set to UTC once, with a message unless quiet.
TEST_F(Legacy, ZoneIsSetToUtcOnce) {
    open("!Tidserier 18 1\r");
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
    EXPECT_EXIT(construct_twice(false), testing::ExitedWithCode(0),
                "^Info: setting TZ=UTC\nFile: [^\n]*Type:binary\nWarning[^\n]*\nFile: "
                "[^\n]*Type:binary\nWarning");
    EXPECT_EXIT(construct_twice(true), testing::ExitedWithCode(0),
                testing::Not(testing::HasSubstr("Info")));
}

TEST_F(Legacy, FatalConditionsEndTheProcess) {
    const struct {
        bool ascii, fail_parse_path;
        std::string bytes, message;
    } cases[] = {
        {false, true, "!Tidserier 18 1\r",
         "Can't parse date & time from path \\(f.dat\\) & fail_parse_path == 1\n"},
        {false, false, s512 + "\n1 2 3", "fgetc: EOF \n$"},
        {false, false, "", "fgetc: EOF \n$"},
        {true, false, s512 + "\r", "fgetc: EOF \n$"},
    };
    Nevra::NEVRA_arguments args;
    EXPECT_EXIT(Nevra::BinaryNEVRA("missing", &args), testing::ExitedWithCode(1),
                "Can't open missing\n");
    for (const auto& c : cases) {
        lw::write("f.dat", c.bytes);
        args.m_fail_parse_path = c.fail_parse_path;
        const auto construct = [&] {
            if (c.ascii)
                Nevra::AsciiNEVRA("f.dat", &args);
            else
                Nevra::BinaryNEVRA("f.dat", &args);
        };
        EXPECT_EXIT(construct(), testing::ExitedWithCode(1), c.message);
    }
}

std::string ascii(const std::string& comment) {
    return lw::ascii_image(comment, {make_record(128, 61, 0)});
}

TEST_F(Legacy, DetectChoosesBinaryOrAscii) {
    const std::string cr = "\r";  // lets the binary reader find the end of its comment line
    const std::pair<std::string, std::string> cases[] = {
        {ascii(s512).substr(0, 255), "fread: EOF \n"},
        {std::string(300, 'x'), "Found no end of first commentline\n"},
        {std::string(255, '!') + "\n" + std::string(10, '1'),
         "Found no end of first commentline\n"},
        {ascii(s512), "text"},
        {lw::ascii_image(s512, {make_record(128, 61, 0)}, false, true), "text"},
        {s512 + "\nabc\n" + ascii("") + cr, "binary"},
        {s512 + "\n1 2 3\n" + std::string(300, 'x'), "text"},  // three numbers on the next line
        {lw::binary_image(s512, {make_record(512, 0, 7)}), "binary"},
        {s512 + "\r12 34 56" + std::string(300, ' ') + "\n", "text"},  // words that read as numbers
        {"!S512 text\n" + ascii(""), "text"},  // valid through the length scan
        {"!s128 text\n" + ascii(""), "text"},
        {"!S256 text\n" + ascii("") + cr, "binary"},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes.substr(0, 40));
        EXPECT_EQ(detect(bytes), expected);
    }
    EXPECT_EQ(detect("T old type\n" + ascii("") + cr), "binary");
    EXPECT_EQ(err, "validate_comment" + invalid_comment + "parse_comment" + invalid_comment +
                       uncertain());
    EXPECT_EQ(detect(ascii(form3_line('S', 256, "18"))), "text");
    EXPECT_EQ(err,
              "WARNING: nonstandard length: 256\nWARNING: nonstandard length: 256\n" + uncertain());
    EXPECT_THAT([] { delete Nevra::detect("missing", false, false, false); },
                testing::ThrowsMessage<std::runtime_error>("Can't open missing\n"));
}

TEST_F(Legacy, DetectPassesItsArgumentsOn) {
    lw::write(path = "f.dat", ascii(s128));
    testing::internal::CaptureStderr();
    std::unique_ptr<Nevra::NEVRA> loud(Nevra::detect("f.dat", false, true, false));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "File: f.dat Type:text\n" + uncertain());
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

// "!S512", a carriage return at cr_at, then the text line "\n1 2 3 4\n" whose first four bytes
// are repeated at the given distances from its start, as the time words of binary blocks.
std::string binary_head(size_t cr_at, std::initializer_list<size_t> repeats) {
    std::string head = "!S512" + std::string(cr_at - 5, 'x') + "\r\n1 2 3 4\n";
    head.resize(3072, 'y');
    for (size_t distance : repeats)
        head.replace(cr_at + 1 + distance, 4, "\n1 2");
    return head;
}

TEST(ClassifyInput, Cases) {
    using enum Nevra::input_format;
    const std::string line = s512;
    const std::pair<std::string, Nevra::input_format> cases[] = {
        {"", INPUT_FORMAT_LEGACY},
        {"nv24", INPUT_FORMAT_LEGACY},
        {"nv24 rest is not checked", INPUT_FORMAT_BLOCK},
        {"!S256\n" + numbers(5), INPUT_FORMAT_LEGACY},
        {"!S512" + std::string(4000, 'x'), INPUT_FORMAT_NONE},
        {"!S512" + std::string(3066, 'x') + "\n" + numbers(5), INPUT_FORMAT_NONE},  // end at 3071
        {line + "\r\n1.0 2.0 3.0 4.0\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n1.0 2.0 3.0\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n" + numbers(127) + "\r\n", INPUT_FORMAT_TM4},
        {line + "\r\n" + numbers(128) + "\r\n", INPUT_FORMAT_LEGACY},
        {line + "\r\n1 2 3 4 x 5\r\n", INPUT_FORMAT_TM4},
        {line + "\n1 2 3\n4 5 6 7\n", INPUT_FORMAT_LEGACY},
        {line + "\n1 2 3 4 5\n", INPUT_FORMAT_TM4},
        {"!S128\n1 2 3 4 5", INPUT_FORMAT_TM4},
        {line + "\r1 2 3 4 5\n", INPUT_FORMAT_LEGACY},  // lone carriage return
        // Time words repeated in three blocks of 512 or 128 samples make a binary file.
        {binary_head(40, {0, 1028, 2056}), INPUT_FORMAT_LEGACY},
        {binary_head(40, {0, 260, 520}), INPUT_FORMAT_LEGACY},
        {binary_head(40, {0, 1028}), INPUT_FORMAT_TM4},
        {binary_head(40, {0, 260}), INPUT_FORMAT_TM4},
        {binary_head(3050, {}), INPUT_FORMAT_TM4},  // the blocks would lie past the head
    };
    for (const auto& [head, expected] : cases) {
        SCOPED_TRACE(head.substr(0, 40));
        EXPECT_EQ(Nevra::classify_input(head), expected);
    }
    // No reader for a file that cannot be opened or one that no format fits.
    testrun::TempDir dir;
    lw::write(dir / "f", "!S512" + std::string(5000, 'x'));
    EXPECT_EQ(Nevra::nvdetect((dir / "f").c_str(), 0), nullptr);
    EXPECT_EQ(Nevra::nvdetect((dir / "missing").c_str(), 0), nullptr);
}

}  // namespace
