// The readers of legacy (binary, ASCII; with the refined time axis of their conversion), TM4 and
// block ("nv24") files, choosing the reader and input format, and the channel data model.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common.h"
#include "legacy_writer.h"
#include "nevra.h"
#include "nevra16.h"
#include "nevra24.h"
#include "nevra_base.h"
#include "nevra_tm4.h"
#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

using namespace Nevra;
namespace lw = legacywriter;
using lw::form3_line;
using lw::make_record;
using lw::Record;
using testwriters::tm4_comment;
using testwriters::Tm4File;
using samples = data_channel_type;

namespace {

// Records as one line of text, doubles with 17 digits so that the comparison stays exact.
std::string describe(const nv_header& h) {
    const auto& c = h.common;
    return Formatter() << std::setprecision(17)
                       << std::string(h.header.m_magic.begin(), h.header.m_magic.end()) << " v"
                       << +h.header.m_version << " length " << h.header.m_header_length
                       << " station " << +h.header.m_station << " " << c.m_seconds << "."
                       << c.m_nanoseconds << " bitmap " << c.m_channel_bitmap << " channels "
                       << +c.m_num_channels << " unused " << +c.m_unused << " "
                       << c.m_sample_freq_hz << " Hz " << +c.m_bits_per_sample << "/"
                       << +c.m_bytes_per_sample << " bits host " << h.v.v2.m_host_timestamp
                       << " device " << h.v.v2.m_device_id;
}

std::string describe(const nv_channel& c) {
    return Formatter() << std::setprecision(17) << std::string(c.m_magic.begin(), c.m_magic.end())
                       << " " << c.m_channel << " gain " << c.m_gain << " " << c.m_v_min << ".."
                       << c.m_v_max << " x" << c.m_ext_gain;
}

using testrun::error_text;

constexpr time_t jan15 = 1452816000;  // 2016-01-15
const std::string s128 = "!S128Tidserier sampfrek: 18", s512 = "!S512Tidserier sampfrek: 18";
const std::string invalid_comment =
    ": Invalid comment line\nCouldn't determine sampling frequency\ndefaulting to 18.0Hz\n";

// The readers take dates from file names, so files are named relative to the test's directory.
class Legacy : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(dir.path()); }
    void TearDown() override { std::filesystem::current_path(home); }
    template <typename Reader = BinaryNEVRA>
    std::unique_ptr<NEVRA> open(const std::string& bytes, const std::string& name = "f.dat",
                                bool concat = false) {
        path = name;
        if (const auto parent = std::filesystem::path(name).parent_path(); !parent.empty())
            std::filesystem::create_directories(parent);
        testrun::write_file(path, bytes);
        NEVRA_arguments args;
        args.m_quiet = true;
        args.m_concat = concat;
        testing::internal::CaptureStderr();
        std::unique_ptr<NEVRA> reader = std::make_unique<Reader>(path.c_str(), &args);
        err = testing::internal::GetCapturedStderr();
        return reader;
    }
    // The type of the reader detect chooses for a file of these bytes, or the error's text.
    std::string detect(const std::string& bytes) {
        testrun::write_file(path = "f.dat", bytes);
        NEVRA_arguments args;
        args.m_quiet = true;
        std::string type;
        testing::internal::CaptureStderr();
        const std::string error = error_text(
            [&] { type = std::unique_ptr<NEVRA>(Nevra::detect("f.dat", &args))->type(); });
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
    const time_t feb1 = 1454284800, jan1_2017 = 1483228800, six = 21600;
    const struct {
        std::string line, name;
        double frequency;
        int gain;
        char station;
        time_t day, first;     // get_start_of_day(), get_nvtime(0) before any record
        const char* messages;  // i: invalid comment line, u: uncertain year
    } cases[] = {
        // Names: the day, certain in a date directory; the slot (0 to 47) gives the hour base.
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
        {form3_line('S', 128, "18", "1", "k", "2016-13-01"), "a.dat", 18, 1, 'k', 0, jan1_2017, ""},
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
        EXPECT_EQ(my_timegm(&a), timegm(&b))
            << "year " << f[0] << " month " << f[1] << " day " << f[2];
    }
}

// Composed lines: vimsor's six digits, or every digit a conversion needs; no date for a time
// without one.
TEST(ComposeComment, SixOrAllDigits) {
    const std::string head = "!S512Tidserier sampfrek: ";
    const std::tuple<double, int, time_t, FrequencyDigits, std::string> cases[] = {
        {18, 1, 1462060800, FrequencyDigits::six_significant,
         "18 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00"},
        {100.0012283, 20, 1462064399, FrequencyDigits::six_significant,
         "100.001 gain: 20 station: kiruna date: 2016-05-01 time: 00:59:59"},
        {100.0012283, 1, -1, FrequencyDigits::round_trip,
         "100.0012283 gain: 1 station: kiruna date: 1969-12-31 time: 23:59:59"},
        {1e300, 1, std::numeric_limits<time_t>::max(), FrequencyDigits::round_trip,
         "1e+300 gain: 1 station: kiruna"},
    };
    for (const auto& [frequency, gain, start, digits, line] : cases)
        EXPECT_EQ(compose_comment(frequency, gain, "kiruna", start, digits), head + line);
}

// Every station of the network has its own code, and each leads back to its station.
TEST(StationCodes, DistinctAndBothWays) {
    std::set<std::string> codes;
    for (const auto& [id, name] : stationid2stationname) {
        const std::string code = seed_code_of_station(name);
        EXPECT_EQ(code.empty(), id == test || id == unknown) << name;
        if (!code.empty()) {
            EXPECT_TRUE(codes.insert(code).second) << code;
            EXPECT_LE(code.size(), 5u);
            EXPECT_EQ(station_of_seed_code(code), name);
        }
    }
    EXPECT_EQ(seed_code_of_station("kiruna2"), "KIRU2");
    EXPECT_EQ(station_of_seed_code("kirun"), "");
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
    EXPECT_STREQ(open<AsciiNEVRA>(s128 + "\r\n")->firstline(), s128.c_str());  // no CR
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
        auto r = c.ascii ? open<AsciiNEVRA>(c.bytes, c.name) : open(c.bytes, c.name);
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
        NEVRA_arguments args;
        args.m_quiet = quiet;
        BinaryNEVRA first(path.c_str(), &args), second(path.c_str(), &args);
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
        {false, false, "", "fgetc: EOF \n$"},
        {true, false, s512 + "\r", "fgetc: EOF \n$"},
    };
    NEVRA_arguments args;
    EXPECT_EXIT(BinaryNEVRA("missing", &args), testing::ExitedWithCode(1), "Can't open missing\n");
    for (const auto& c : cases) {
        testrun::write_file("f.dat", c.bytes);
        args.m_fail_parse_path = c.fail_parse_path;
        const auto construct = [&] {
            if (c.ascii)
                AsciiNEVRA("f.dat", &args);
            else
                BinaryNEVRA("f.dat", &args);
        };
        EXPECT_EXIT(construct(), testing::ExitedWithCode(1), c.message);
    }
}

std::string ascii(const std::string& comment) {
    return lw::ascii_image(comment, {make_record(128, 61, 0)});
}

TEST_F(Legacy, DetectChoosesBinaryOrAsciiAndPassesItsArgumentsOn) {
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
    // The flags reach the reader.
    testrun::write_file(path = "f.dat", ascii(s128));
    testing::internal::CaptureStderr();
    std::unique_ptr<NEVRA> loud(Nevra::detect("f.dat", false, true, false));
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
    using enum input_format;
    const std::string line = s512;
    const std::pair<std::string, input_format> cases[] = {
        {"", INPUT_FORMAT_LEGACY},
        {"nv24", INPUT_FORMAT_LEGACY},
        {"nv24 rest is not checked", INPUT_FORMAT_BLOCK},
        {"!S256\n" + numbers(5), INPUT_FORMAT_LEGACY},
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
        EXPECT_EQ(classify_input(head), expected);
    }
}

// Records with Unix-time words, so that record times need no date from the file name.
std::vector<lw::Record> records_at(size_t length, const std::vector<uint32_t>& times) {
    std::vector<lw::Record> records;
    for (uint32_t t : times) {
        const auto [low, high] = lw::unix_words(t);
        records.push_back(lw::make_record(length, low, high, static_cast<int>(records.size())));
    }
    return records;
}

std::string unix_comment(int length, const std::string& frequency, const std::string& gain = "1",
                         const std::string& station = "k") {
    return lw::form3_line('U', length, frequency, gain, station, "2016-01-15", "00:00:00");
}

class Nevra16 : public ::testing::Test {
protected:
    std::string path() const { return (dir / "K6011512.bi1").string(); }
    // The loaded file, or null with the reason in error; err keeps what went to standard error.
    std::unique_ptr<NEVRA16> load(const std::string& bytes, double initial_basetime = 0.0) {
        testrun::write_file(path(), bytes);
        std::unique_ptr<NEVRA16> rec;
        testing::internal::CaptureStderr();
        error =
            error_text([&] { rec = std::make_unique<NEVRA16>(path().c_str(), initial_basetime); });
        err = testing::internal::GetCapturedStderr();
        return rec;
    }
    std::string error_of(const std::string& bytes) {
        load(bytes);
        return error;
    }
    std::unique_ptr<NEVRA16> load_times(size_t length, const std::string& frequency,
                                        const std::vector<uint32_t>& times, double basetime = 0.0) {
        return load(lw::binary_image(unix_comment(static_cast<int>(length), frequency),
                                     records_at(length, times)),
                    basetime);
    }
    testrun::TempDir dir;
    std::string error, err;
};

TEST_F(Nevra16, FillsHeaderChannelsAndSamples) {
    const auto rec = load_times(128, "10", {1452816000, 1452816013});
    EXPECT_EQ(describe(rec->get_header()),
              "nv24 v1 length 0 station 1 1452816000.0 bitmap 7 channels 3 unused 0 10 Hz 16/2 "
              "bits host 0 device 0");
    EXPECT_EQ(rec->get_origin(), ORIGIN_NV16);
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10") + "< >k\n");
    ASSERT_EQ(rec->get_channels().size(), 3u);
    for (uint16_t c = 0; c < 3; ++c) {
        EXPECT_EQ(describe(rec->get_channel_info(c)),
                  "chan " + std::to_string(c) + " gain 1 -10..10 x10");
        const data_channel_type& data = rec->get_data(c);
        ASSERT_EQ(data.size(), 256u);
        EXPECT_EQ(data[127], 1000 * c + 127);
        EXPECT_EQ(data[128], 1000 * c + 1);  // the second record starts at 1
    }
    ASSERT_EQ(rec->get_time().size(), 256u);
    EXPECT_EQ(rec->get_time(0), 1452816000.0);
    EXPECT_NEAR(rec->get_time(255), 1452816025.5, 1e-4);  // 255 additions of 0.1 s
    // Samples are truncated toward zero.
    std::string text = lw::ascii_image(unix_comment(128, "10"), records_at(128, {1000}));
    text.replace(text.find(" 4 5 6 7"), 8, " 4 -3.7 3.7 7");
    const auto ascii = load(text);
    EXPECT_EQ(ascii->get_data(0)[5], -3);
    EXPECT_EQ(ascii->get_data(0)[6], 3);
}

// The gain code (1 to 4) chooses the external gain, the station word's first letter the station.
TEST_F(Nevra16, GainCodesAndStations) {
    const std::vector<lw::Record> one = records_at(128, {1000});
    const auto bytes = [&](const char* gain, const std::string& station) {
        return lw::binary_image(unix_comment(128, "10", gain, station), one);
    };
    for (const auto& [gain, word, ext_gain, station] :
         {std::tuple{"1", "K", 10.0, kiruna}, {"4", "lycksele", 40.0, lycksele}}) {
        const auto rec = load(bytes(gain, word));
        EXPECT_EQ(rec->get_channel_info(2).m_ext_gain, ext_gain);
        EXPECT_EQ(rec->get_header().header.m_station, station);
    }
    EXPECT_EQ(error_of(bytes("5", "k")), "array::at: __n (which is 4) >= _Nm (which is 4)");
    EXPECT_EQ(error_of(bytes("0", "k")),
              "array::at: __n (which is 18446744073709551615) >= _Nm (which is 4)");
    EXPECT_EQ(error_of(bytes("1", "X")), "map::at");
    EXPECT_EQ(err, ">" + path() + " " + unix_comment(128, "10", "1", "X") + "< >X\n");
}

// A start time less than 2 s from the file's is adopted into the header.
TEST_F(Nevra16, InitialBasetimeAdoption) {
    const struct {
        double basetime;
        std::string header;
        double first;
    } cases[] = {
        {1001.5, "1001.500000000 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 1001", 1001.5},
        {1002.5, "1000.0 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 0", 1000.0},
        // Adopted, but the record opens a segment at its own time.
        {998.25, "998.250000000 bitmap 7 channels 3 unused 0 10 Hz 16/2 bits host 998", 1000.0},
    };
    for (const auto& c : cases) {
        const auto rec = load_times(128, "10", {1000}, c.basetime);
        EXPECT_EQ(describe(rec->get_header()),
                  "nv24 v1 length 0 station 1 " + c.header + " device 0");
        EXPECT_EQ(rec->get_time(0), c.first);
    }
}

TEST_F(Nevra16, SegmentsAndRefinement) {
    // 512 samples at 16 Hz: every trial matches, 0.495 s is added.
    const auto whole = load_times(512, "16", {1000, 1032, 1064, 1096});
    ASSERT_EQ(whole->get_time().size(), 2048u);
    EXPECT_NEAR(whole->get_time(0), 1000.495, 1e-9);
    EXPECT_NEAR(whole->get_time(2047), 1000.495 + 2047.0 / 16.0, 1e-6);
    // 128 samples at 10 Hz: trials 0.20 to 0.39 match; the record at 1200 opens a segment too
    // short to refine.
    const auto run = load_times(128, "10", {1000, 1013, 1025, 1038, 1051, 1064, 1200});
    EXPECT_NEAR(run->get_time(0), 1000.295, 1e-9);
    EXPECT_NEAR(run->get_time(767), 1000.295 + 76.7, 1e-6);
    EXPECT_EQ(run->get_time(768), 1200.0);
    // 1.2 s of drift continues the segment.
    EXPECT_NEAR(load_times(128, "10", {1000, 1014})->get_time(128), 1012.8, 1e-9);
    const std::pair<const char*, std::vector<uint32_t>> unrefined[] = {
        {"three records", {1000, 1032, 1064}},
        {"no trial matches", {1000, 1032, 1064, 1097}},
        {"four segments",
         {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000, 3032, 3064, 3096, 4000}},
    };
    for (const auto& [name, times] : unrefined)
        EXPECT_EQ(load_times(512, "16", times)->get_time(511), 1000.0 + 511.0 / 16.0) << name;
    const auto three =
        load_times(512, "16", {1000, 1032, 1064, 1096, 2000, 2032, 2064, 2096, 3000});
    EXPECT_NEAR(three->get_time(2048), 2000.495, 1e-9);
    EXPECT_EQ(three->get_time(4096), 3000.0);
    // Files without records or frequency are refused.
    EXPECT_EQ(error_of(lw::binary_image(unix_comment(128, "10"), {}) + std::string(400, '\0')),
              "no records in " + path() + "\n");
    EXPECT_EQ(error_of(lw::binary_image("!Tidserier 0 1", records_at(128, {1000}))),
              "sampling frequency 0 of " + path() + " is not a positive number\n");
}

class Tm4 : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.tm4_1").string(); }
    std::unique_ptr<NEVRA_TM4> load(const Tm4File& file, double initial_basetime = 0.0) {
        testrun::write_file(path(), file.text());
        return std::make_unique<NEVRA_TM4>(path().c_str(), initial_basetime);
    }
    std::string error_of(const Tm4File& file) {
        return error_text([&] { load(file); });
    }
    testrun::TempDir dir;
};

TEST_F(Tm4, ReadsCommentAndDataLines) {
    const auto rec = load(Tm4File()
                              .comment(tm4_comment(20, "kiruna"))
                              .data(1462060800.0, {12, -3, 7})
                              .data(1462060800.05, {11, -2, 6}));
    EXPECT_EQ(describe(rec->get_header()),
              "nv24 v1 length 0 station 1 1462060800.0 bitmap 7 channels 3 unused 0 20 Hz 32/4 "
              "bits host 0 device 0");
    EXPECT_EQ(rec->get_origin(), ORIGIN_TM4);
    EXPECT_EQ(describe(rec->get_channel_info(2)), "chan 2 gain 1 -10..10 x1");
    // Without a comment line: the frequency from the times, a carriage return is white space
    // (number forms are read as NumberFormsReadAsSscanfReadsThem checks).
    const auto bare = load(Tm4File().raw("100.0 2.9 -2.9 0.5\r").raw("100.05 -0.5 1e3 -7"));
    EXPECT_NEAR(bare->get_frequency(), 20.0, 1e-9);
    EXPECT_EQ(bare->get_header().header.m_station, test);
    EXPECT_EQ(bare->get_data(2), (samples{0, -7}));
    EXPECT_EQ(bare->get_time(), (std::vector<double>{100.0, 100.05}));
    EXPECT_EQ(load(Tm4File().data(100.0, {1, 2, 3}))->get_frequency(), -1.0);
    // An unopenable file gives an empty recording.
    NEVRA_TM4 missing((dir / "missing").c_str(), 0.0);
    EXPECT_TRUE(missing.get_channels().empty());
    EXPECT_TRUE(missing.get_time().empty());
    EXPECT_EQ(describe(missing.get_header()),
              "nv24 v1 length 0 station 254 0.0 bitmap 7 channels 3 unused 0 -1 Hz 32/4 bits host "
              "0 device 0");
}

TEST_F(Tm4, ChannelCountFromTheFirstDataLines) {
    const struct {
        const char* name;
        std::vector<int> values;      // per line after the time, 1 to n
        std::vector<size_t> lengths;  // per channel
    } cases[] = {
        {"five then three ends the data", {5, 3, 5}, {1, 1, 1, 1, 1}},
        {"three then five raises the count", {3, 5, 5}, {3, 3, 3, 2, 2}},
        {"ten values keep eight", {10}, {1, 1, 1, 1, 1, 1, 1, 1}},
        {"five then seven ends the data", {5, 7}, {1, 1, 1, 1, 1}},
        {"another count later ends the data", {4, 4, 5}, {2, 2, 2, 2}},
        {"two values end the data", {3, 2, 3}, {1, 1, 1}},
        {"an empty line ends the data", {3, 0, 3}, {1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tm4File file;
        for (size_t i = 0; i < c.values.size(); ++i) {
            std::vector<double> line;
            for (int v = 1; v <= c.values[i]; ++v)
                line.push_back(v);
            line.empty() ? file.raw("") : file.data(100.0 + 0.05 * static_cast<double>(i), line);
        }
        const auto rec = load(file);
        ASSERT_EQ(rec->get_header().common.m_num_channels, c.lengths.size());
        ASSERT_EQ(rec->get_channels().size(), c.lengths.size());
        for (size_t ch = 0; ch < c.lengths.size(); ++ch) {
            EXPECT_EQ(rec->get_data(ch).size(), c.lengths[ch]) << "channel " << ch;
            EXPECT_EQ(rec->get_channel_info(ch).m_channel, ch);
        }
        EXPECT_EQ(rec->get_time().size(), c.lengths[0]);
    }
    EXPECT_EQ(load(Tm4File().data(100, {1, 2, 3}).data(101, {4, 5, 6, 7, 8}))->get_data(3),
              (samples{7}));
    // A number sscanf alone reads ("0x8") in a line of eight values.
    EXPECT_EQ(load(Tm4File().raw("100 1 2 3 4 5 6 7 0x8").raw("101 1 2 3 4 5 6 7 8"))->get_data(7),
              (samples{8, 8}));
}

TEST_F(Tm4, CommentLinesSetFrequencyAndStation) {
    const std::pair<std::string, std::string> unknown_stations[] = {
        {"!S512Tidserier sampfrek: 18 gain: 1 station: nowhere", "nowhere"},
        {"!S512Tidserier sampfrek: 18 gain: 1 station: Kiruna", "Kiruna"},
        {"!S512Tidserier sampfrek: 18 gain: 1 station: " + std::string(400, 'k'),
         std::string(255, 'k')},  // a word stops at 255 characters
        {"!S512Tidserier sampfrek: 18", ""},
        {"!s512Tidserier sampfrek: 18", ""},  // rejected letter: what was scanned counts
    };
    for (const auto& [comment, word] : unknown_stations) {
        SCOPED_TRACE(comment);
        testing::internal::CaptureStderr();
        const auto rec = load(Tm4File().comment(comment).data(100, {1, 2, 3}));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "WARNING: Unknown station: <" + word + ">\n");
        EXPECT_EQ(rec->get_header().header.m_station, unknown);
        EXPECT_DOUBLE_EQ(rec->get_frequency(), 18.0);
    }
    // A comment between data lines changes them; "s2" is the first-generation station.
    const auto rec = load(Tm4File()
                              .comment(tm4_comment(20, "kiruna"))
                              .data(10, {1, 2, 3})
                              .data(10.05, {1, 2, 3})
                              .comment(tm4_comment(40, "k"))
                              .data(10.1, {4, 5, 6})
                              .comment(tm4_comment(-1, "s2")));  // -1: no frequency
    EXPECT_DOUBLE_EQ(rec->get_frequency(), 40.0);
    EXPECT_EQ(rec->get_header().header.m_station, sodankyla);
    EXPECT_EQ(rec->get_data(0), (samples{1, 1, 4}));
}

// The 2 s limit of adoption is one rule of the base, checked with Nevra16.
TEST_F(Tm4, AnAdoptedInitialBasetimeStartsTheSpacing) {
    const Tm4File file = Tm4File().data(1462060800.5, {1, 2, 3}).data(1462060801.0, {1, 2, 3});
    const auto adopted = load(file, 1462060799.0);
    // The spacing counts from the adopted start.
    EXPECT_EQ(describe(adopted->get_header()),
              "nv24 v1 length 0 station 254 1462060799.0 bitmap 7 channels 3 unused 0 0.5 Hz 32/4 "
              "bits host 1462060799 device 0");
    EXPECT_EQ(adopted->get_time(0), 1462060800.5);
}

TEST_F(Tm4, RefusesFilesWithoutAUsableFrequencyOrWithHugeValues) {
    const auto ramp = [](size_t i, size_t c) { return static_cast<double>(i + c); };
    const std::string zero = tm4_comment(0, "k");
    EXPECT_EQ(error_of(Tm4File().data(5, {1, 2, 3}).data(5, {1, 2, 3})),
              "the first two data lines of " + path() +
                  " have the same time, so they give no sampling frequency\n");
    EXPECT_EQ(error_of(Tm4File().samples(1000, -20, 512, 3, ramp)),
              "sampling frequency -20 of " + path() + " is not positive\n");
    EXPECT_EQ(error_of(Tm4File().comment(zero).samples(1000, 20, 512, 3, ramp)),
              "sampling frequency 0 of " + path() + " is not positive\n");
    EXPECT_EQ(error_of(Tm4File().comment(zero).samples(1000, 20, 511, 3, ramp)),
              "");  // < one block
    EXPECT_EQ(error_of(Tm4File().raw("100 2147483647.9 -2147483648.9 0").raw("101 1 2147483648 3")),
              "value 2.14748e+09 in line 2 of " + path() +
                  " lies outside the range of a 32-bit sample\n");
}

std::vector<double> sscanf_values(const std::string& text) {
    std::vector<double> values;
    double value = 0.0;
    int used = 0;
    for (const char* p = text.c_str(); std::sscanf(p, "%lf%n", &value, &used) == 1; p += used)
        values.push_back(value);
    return values;
}

// The text readers read every number form as sscanf's %lf does (plain decimals on a fast path).
TEST_F(Tm4, NumberFormsReadAsSscanfReadsThem) {
    const std::vector<std::string> forms = {"12",    "-7", "+5",     "0x1A",        "1e3",
                                            "-.5",   "7.", "2.9",    "-2.9",        "1E+2",
                                            "00031", "-0", "6.5e-1", "3.0000000001"};
    // Each line: a time and three values, the middle one of every form.
    Tm4File file;
    file.comment(tm4_comment(20, "kiruna"));
    for (size_t i = 0; i < forms.size(); ++i)
        file.raw(std::to_string(100 + i) + ".5 4 " + forms[i] + " -9");
    file.raw("120.5 5-3 8");  // numbers run together: "5-3" is 5 and -3
    const auto rec = load(file);
    ASSERT_EQ(rec->get_time().size(), forms.size() + 1);
    for (size_t i = 0; i < forms.size(); ++i) {
        EXPECT_EQ(rec->get_time()[i], 100.5 + static_cast<double>(i)) << forms[i];
        EXPECT_EQ((samples{rec->get_data(0)[i], rec->get_data(1)[i], rec->get_data(2)[i]}),
                  (samples{4, static_cast<int32_t>(sscanf_values(forms[i]).at(0)), -9}))
            << forms[i];
    }
    EXPECT_EQ(rec->get_data(0).back(), 5);
    EXPECT_EQ(rec->get_data(1).back(), -3);
    // The legacy text reader: 512 samples of every form.
    std::string line = "5 7";
    for (size_t k = 0; k < 512; ++k)
        line += " " + forms[k % forms.size()];
    const std::vector<double> values = sscanf_values(line);
    ASSERT_EQ(values.size(), 514u);
    testrun::write_file(dir / "forms.da1",
                        tm4_comment(20, "kiruna") + "\n" + line + "\n" + line + "\n" + line + "\n");
    const std::unique_ptr<NEVRA> reader(detect((dir / "forms.da1").c_str(), false, false, false));
    ASSERT_EQ(reader->getdata(), 0);
    for (size_t c = 0; c < 3; ++c)
        EXPECT_EQ(std::vector<double>(reader->current[c].begin(), reader->current[c].begin() + 512),
                  std::vector<double>(values.begin() + 2, values.end()))
            << "channel " << c;
}

class Block : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.nv24").string(); }
    std::unique_ptr<NEVRA24> load(const nv24w::File& file, size_t length = std::string::npos) {
        testrun::write_file(path(), nv24w::encode(file).substr(0, length));
        return std::make_unique<NEVRA24>(path().c_str());
    }
    std::string error_of(const nv24w::File& file, size_t length = std::string::npos) {
        return error_text([&] { load(file, length); });
    }
    testrun::TempDir dir;
};

nv24w::File three_channels_with_words(size_t words) {
    nv24w::File file = nv24w::make_file(3);
    for (size_t w = 0; w < words; ++w)
        file.samples.push_back(static_cast<uint32_t>(100 + w));
    return file;
}

TEST_F(Block, ReadsEveryFieldOfEachVersionAndTheTimeAxis) {
    for (uint8_t version : {0, 1, 2}) {
        SCOPED_TRACE(static_cast<int>(version));
        // Seconds beyond 2^31 (after 2038) stay positive.
        nv24w::File file = nv24w::make_file(2, 4.0, 4294967295u, 250000000);
        file.header.version = version;
        file.header.station = 6;
        file.header.header_length = 65534;  // version 1 adds 4 to what is stored
        file.header.channel_bitmap = 0x80000003u;
        file.header.unused = 0xab;
        file.header.bytes_per_sample = 3;
        file.header.host_timestamp = 0xdeadbeefu;
        file.header.device_id = 0x01020304u;
        file.channels[0] = {{'c', 'h', 'a', 'n'}, 1, 0xfffe, -2.5, 1e-3, 40.0};
        file.channels[1].channel = 0;
        for (int32_t i = 0; i < 5; ++i)
            nv24w::add_frame(file, {7 + i, -7});
        auto rec = load(file);
        EXPECT_EQ(describe(rec->get_header()),
                  "nv24 v" + std::to_string(version) + " length " + (version == 1 ? "2" : "65534") +
                      " station 6 4294967295.250000000 bitmap 2147483651 channels 2 unused 171 4 "
                      "Hz 24/3 bits host " +
                      (version == 0 ? "0" : "3735928559") + " device " +
                      (version == 2 ? "16909060" : "0"));
        EXPECT_EQ(describe(rec->get_channel_info(0)), "chan 1 gain 65534 -2.5..0.001 x40");
        // Samples go by frame position, not by m_channel.
        EXPECT_EQ(rec->get_data(0), (data_channel_type{7, 8, 9, 10, 11}));
        EXPECT_EQ(rec->get_data(1), data_channel_type(5, -7));
        EXPECT_EQ(rec->get_time(), (std::vector<double>{4294967295.25, 4294967295.5, 4294967295.75,
                                                        4294967296.0, 4294967296.25}));
        // Released through the base pointer, as every reader's object is.
        const std::unique_ptr<Nevra_Base> base(rec.release());
        EXPECT_EQ(base->get_origin(), ORIGIN_NV24);
    }
}

void set(nv24w::Tag& tag, const char* text) { std::memcpy(tag.data(), text, 4); }

// A cut file fails at its first incomplete tag; a damaged one names its damage.
TEST_F(Block, TruncatedOrDamagedFilesAreRefusedWithTheirReason) {
    for (uint8_t version : {0, 1, 2}) {
        nv24w::File file = three_channels_with_words(0);
        file.header.version = version;
        const size_t header = version == 1 ? 36 : version == 2 ? 40 : 32;
        for (size_t length = 0; length < header + 8 + 3 * 32 + 8; ++length) {
            std::string expected;
            if (length < 4)
                expected = "This is not a valid nv24 file\n";
            else if (length < header + 4)
                expected = "Unknown magic chns\n";
            else if (length < header + 8 + 2 * 32 + 4)
                expected = "Unknown magic chan\n";
            else if (length < header + 8 + 3 * 32 + 4)
                expected = "Unknown magic data\n";
            EXPECT_EQ(error_of(file, length), expected)
                << "version " << int(version) << " cut at " << length;
            if (expected.empty()) {  // cut in the sample-block tag's reserved field: no samples
                EXPECT_TRUE(load(file, length)->get_data(0).empty()) << length;
            }
        }
    }
    using F = nv24w::File;
    const std::pair<void (*)(F&), std::string> cases[] = {
        {[](F& f) { set(f.header.magic, "nv16"); }, "This is not a valid nv24 file\n"},
        {[](F& f) { set(f.chns_magic, "CHNS"); }, "Unknown magic chns\n"},
        {[](F& f) { set(f.channels[0].magic, "cha"); }, "Unknown magic chan\n"},
        {[](F& f) { set(f.channels[2].magic, "cha"); }, "Unknown magic chan\n"},
        {[](F& f) { set(f.data_magic, "datb"); }, "Unknown magic data\n"},
        {[](F& f) { f.header.version = 3; }, "Unknown nv24 header version 3\n"},
        // The version is examined before the tag.
        {[](F& f) {
             f.header.version = 255;
             set(f.header.magic, "xxxx");
         },
         "Unknown nv24 header version 255\n"},
        // Channels the pipeline could not index.
        {[](F& f) { f.header.num_channels = 0; }, "The nv24 header declares no channels\n"},
        {[](F& f) { f.channels[1].channel = 3; },
         "Channel record 1 has channel number 3, not below the channel count 3\n"},
        {[](F& f) { f.channels[2].channel = 0; },
         "Channel number 0 appears in more than one channel record\n"},
    };
    for (const auto& [damage, message] : cases) {
        nv24w::File file = three_channels_with_words(3);
        damage(file);
        EXPECT_EQ(error_of(file), message);
    }
    const std::string missing = (dir / "missing.nv24").string();
    EXPECT_THAT([&] { NEVRA24 rec(missing.c_str()); },
                testing::ThrowsMessage<std::runtime_error>("Couldn't open " + missing + "\n"));
}

TEST_F(Block, DistributesFramesAndKeepsAnIncompleteLastFrame) {
    const struct {
        size_t words;
        std::string trailing;
        size_t times;
        size_t sizes[3];
    } cases[] = {
        {9, "", 3, {3, 3, 3}},  {10, "", 3, {4, 3, 3}},
        {11, "", 3, {4, 4, 3}}, {9, "\x01\x02\x03", 3, {3, 3, 3}},
        {0, "", 0, {0, 0, 0}},  {2, "\xff\xff", 0, {1, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.words << " words, " << c.trailing.size() << " odd");
        nv24w::File file = three_channels_with_words(c.words);
        file.trailing = c.trailing;
        const auto rec = load(file);
        EXPECT_EQ(rec->get_time().size(), c.times);
        // Reserved to the final length before filling (exact with libstdc++).
        EXPECT_EQ(rec->get_time().capacity(), c.times);
        for (size_t k = 0; k < 3; ++k) {
            ASSERT_EQ(rec->get_data(k).size(), c.sizes[k]) << "channel " << k;
            EXPECT_EQ(rec->get_data(k).capacity(), c.sizes[k]) << "channel " << k;
            for (size_t i = 0; i < c.sizes[k]; ++i)
                EXPECT_EQ(rec->get_data(k)[i], static_cast<int32_t>(100 + 3 * i + k));
        }
    }
    // Sample words are taken without sign extension.
    nv24w::File file = nv24w::make_file(1);
    file.samples = {0xffffffffu, 0x00800000u, 0x80000000u, 0x7fffffffu, 0x00ffffffu, 0x01020304u};
    EXPECT_EQ(load(file)->get_data(0),
              (data_channel_type{-1, 8388608, INT32_MIN, INT32_MAX, 16777215, 0x01020304}));
}

}  // namespace
