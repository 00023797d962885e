// miniSEED read by the nv tools: files packed by libmseed in the test, some
// with bytes patched afterwards (flipped bits, flags, sample counts).

#include "align.h"
#include "hostile_names.h"
#include "iso_time.h"
#include "json_text.h"
#include "miniseed_read.h"
#include "miniseed_writer.h"
#include "nvtools_support.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using nvtest::may_1_us;
constexpr std::int64_t second = 1000000;

// The value of sample k counted from may_1 at the trace's rate.
double value_at(std::int64_t k) { return static_cast<double>((k * 37) % 500 - 250); }

std::int64_t first_index(std::int64_t offset_us, double rate) {
    return std::llround(static_cast<double>(offset_us) * rate / 1e6);
}

// count samples of IM.<station>..<channel> from may_1 + offset_us: value_at for the numeric
// encodings (a NaN at nan_at, if given), "log" repeated for text.
std::string trace(const std::string& station, std::int64_t offset_us, double rate, int count,
                  int encoding = DE_STEIM2, const char* channel = "BDF", int nan_at = -1,
                  int byte_order = 1) {
    msw::Trace t{"IM", station, "", channel, may_1_us + offset_us, rate, {}, encoding, byte_order};
    for (int i = 0; i < count; ++i)
        t.values.push_back(i == nan_at ? std::nan("") : value_at(first_index(offset_us, rate) + i));
    const std::string bytes = msw::pack(t);
    EXPECT_FALSE(bytes.empty()) << station;
    return bytes;
}

std::string with_byte(std::string bytes, size_t at, unsigned value) {
    bytes.replace(at, 1, 1, static_cast<char>(value));
    return bytes;
}

std::string flipped(std::string bytes, size_t at, unsigned bits) {
    bytes.replace(at, 1, 1, static_cast<char>(static_cast<unsigned char>(bytes.at(at)) ^ bits));
    return bytes;
}

// Offsets in the fixed header and Blockette 1000 of a record packed by libmseed.
constexpr size_t sample_count_at = 30, activity_at = 36, encoding_at = 52;
constexpr size_t record_bytes = 512;

// "ID start_offset_us rate samples encodings" of every segment.
std::string summary(const std::vector<nvtools::Segment>& segments) {
    std::string text;
    for (const nvtools::Segment& s : segments) {
        text += (text.empty() ? "" : "; ") + s.id + " " + std::to_string(s.start_us - may_1_us) +
                " " + testwriters::formatted("%.10g", s.rate_hz) + " " +
                std::to_string(s.values.size());
        for (const int encoding : s.encodings)
            text += " " + nvtools::encoding_name(encoding);
    }
    return text;
}

std::string read_summary(const std::string& bytes, const std::vector<std::string>& patterns) {
    testrun::TempDir dir;
    testrun::write_file(dir / "in.mseed", bytes);
    try {
        const auto segments = nvtools::read_miniseed(dir / "in.mseed", patterns);
        for (const nvtools::Segment& s : segments)
            for (size_t i = 0; i < s.values.size(); ++i)
                if (s.values[i] != value_at(first_index(s.start_us - may_1_us, s.rate_hz) +
                                            static_cast<std::int64_t>(i)))
                    return s.id + " differs at sample " + std::to_string(i);
        return summary(segments);
    } catch (const std::runtime_error& e) {
        return std::string("refused: ") + e.what();
    }
}

}  // namespace

TEST(MiniseedRead, JoiningChecksAndRefusals) {
    const std::string steim = trace("A", 0, 20, 2000);  // 6 records, 372 samples each but the last
    const std::string steim1 = trace("A", 0, 20, 2000, DE_STEIM1);
    const std::string little = trace("A", 0, 20, 2000, DE_STEIM2, "BDF", -1, 0);
    const std::string second_record = steim.substr(record_bytes, record_bytes);
    const std::string swapped = second_record + steim.substr(0, record_bytes) +
                                steim.substr(2 * record_bytes);
    // Samples 300 to 599 start 20 ms early; or every 100-sample record lies 0.4 ms later
    // than the one before would end.
    const std::string torn = trace("A", 0, 20, 300) + trace("A", 15 * second - 20000, 20, 300);
    const std::string drifting = trace("A", 0, 20, 100, DE_INT32) +
                                 trace("A", 5 * second + 400, 20, 100, DE_INT32) +
                                 trace("A", 10 * second + 800, 20, 100, DE_INT32);
    const std::string others = trace("B", 0, 20, 50, DE_FLOAT64, "BDF", 7) +
                               trace("B", 0, 0, 10, DE_ASCII, "LOG") +
                               with_byte(trace("C", 0, 20, 50), activity_at, 0x10);
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> patterns;
        std::string expected;
    } rows[] = {
        {"records out of order", swapped, {}, "IM.A..BDF 0 20 2000 STEIM-2"},
        {"integer encodings mix",
         trace("A", 0, 20, 300) + trace("A", 15 * second, 20, 300, DE_INT32) +
             trace("A", 30 * second, 20, 300, DE_STEIM1) + trace("A", 45 * second, 20, 9, DE_INT16),
         {},
         "IM.A..BDF 0 20 909 INT16 INT32 STEIM-1 STEIM-2"},
        {"floating point and integer",
         trace("A", 0, 20, 300, DE_FLOAT32) + trace("A", 15 * second, 20, 300), {},
         "refused: trace IM.A..BDF mixes integer and floating-point samples"},
        {"a 20 ms tear", torn, {},
         "IM.A..BDF 0 20 300 STEIM-2; IM.A..BDF 14980000 20 300 STEIM-2"},
        {"0.4 ms per record adds up", drifting, {},
         "IM.A..BDF 0 20 200 INT32; IM.A..BDF 10000800 20 100 INT32"},
        {"another rate", trace("A", 0, 20, 300) + trace("A", 15 * second, 40, 300), {},
         "IM.A..BDF 0 20 300 STEIM-2; IM.A..BDF 15000000 40 300 STEIM-2"},
        {"a slightly other rate",
         trace("A", 0, 20, 300) + trace("A", 15 * second, 20.0019, 300), {},
         "IM.A..BDF 0 20 300 STEIM-2; IM.A..BDF 15000000 20.00189994 300 STEIM-2"},
        {"positive leap second", with_byte(steim, record_bytes + activity_at, 0x10), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:18.600000Z is flagged for a leap "
         "second, which POSIX time cannot hold"},
        {"negative leap second", with_byte(steim, activity_at, 0x20), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:00.000000Z is flagged for a leap "
         "second, which POSIX time cannot hold"},
        // The lowest bit of a difference word in the second frame of the second record.
        {"a flipped bit", flipped(steim, record_bytes + 64 + 64 + 15, 1), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:18.600000Z fails its Steim integrity "
         "check: its first and last samples decode to "},
        {"a flipped bit, Steim-1", flipped(steim1, 64 + 64 + 15, 1), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:00.000000Z fails its Steim integrity "
         "check"},
        {"little-endian", little, {}, "IM.A..BDF 0 20 2000 STEIM-2"},
        {"a flipped bit, little-endian", flipped(little, 64 + 64 + 12, 1), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:00.000000Z fails its Steim integrity "
         "check"},
        {"more samples than the record holds",
         with_byte(with_byte(steim, sample_count_at, 0x03), sample_count_at + 1, 0xe8), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:00.000000Z claims 1000 samples; its "
         "448 data bytes hold at most 721 in STEIM-2"},
        {"an unknown encoding", with_byte(steim, encoding_at, 99), {},
         "refused: record of IM.A..BDF at 2016-05-01T00:00:00.000000Z cannot be decoded ("},
        {"unselected traces are not checked", steim + others, {"IM.A.*"},
         "IM.A..BDF 0 20 2000 STEIM-2"},
        {"selected text", others, {"*.LOG"}, "refused: trace IM.B..LOG holds text, not samples"},
        {"selected leap second", others, {"IM.C.*"}, "refused: record of IM.C..BDF at "
                                                     "2016-05-01T00:00:00.000000Z is flagged"},
        {"a selected NaN", others, {"IM.B..BDF"},
         "refused: trace IM.B..BDF holds a value that is not a finite number at "
         "2016-05-01T00:00:00.350000Z"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string got = read_summary(row.bytes, row.patterns);
        EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << got;
    }
}

// A trace's records in several files join into one run; a window decodes only its records.
TEST(MiniseedRead, SeveralFilesWithinAWindow) {
    testrun::TempDir dir;
    // A's 2000 samples in two files (records of 372, 372, 256 samples each), B in the second.
    testrun::write_file(dir / "1", trace("A", 0, 20, 1000));
    testrun::write_file(dir / "2", trace("A", 50 * second, 20, 1000) + trace("B", 0, 20, 100));
    testrun::write_file(dir / "3", trace("A", 0, 20, 1000).substr(0, 700));
    const std::vector<std::string> both = {dir / "1", dir / "2"};
    const struct {
        std::vector<std::string> files, ids;
        std::int64_t from_s, to_s;
        std::string expected;  // "ID start rate values first_index" or the refusal
    } rows[] = {
        {both, {"IM.A..BDF"}, 0, 100, "IM.A..BDF 0 20 2000 STEIM-2 from 0"},
        {both, {"IM.B..BDF", "IM.A..BDF"}, 0, 60,
         "IM.B..BDF 0 20 100 STEIM-2 from 0; IM.A..BDF 0 20 1372 STEIM-2 from 0"},
        // Samples 1200 .. 1399 lie in the second file's first two records; B has none.
        {both, {"IM.B..BDF", "IM.A..BDF"}, 60, 70, "IM.A..BDF 0 20 744 STEIM-2 from 1000"},
        {both, {"IM.A..BDF"}, 100, 200, ""},
        {{dir / "1", dir / "3"}, {"IM.A..BDF"}, 0, 100,
         "refused: " + (dir / "3").string() + ": truncated miniSEED file: 188 bytes after the "
         "last whole record"},
    };
    for (const auto& row : rows) {
        std::string got;
        try {
            const auto segments = nvtools::read_miniseed_files(
                row.files, row.ids, {may_1_us + row.from_s * second, may_1_us + row.to_s * second});
            for (const nvtools::Segment& s : segments) {
                got += (got.empty() ? "" : "; ") + summary({s}) + " from " +
                       std::to_string(s.first_index);
                for (size_t i = 0; i < s.values.size(); ++i)
                    ASSERT_EQ(s.values[i], value_at(s.first_index + static_cast<std::int64_t>(i)));
            }
        } catch (const std::runtime_error& e) {
            got = std::string("refused: ") + e.what();
        }
        EXPECT_EQ(got, row.expected);
    }
}

// Overlapping segments of one trace: repeated samples are dropped, other values refused.
TEST(MiniseedRead, OverlapsKeepOnlyRepeatedValues) {
    const auto segment = [](std::int64_t start_us, double rate, std::vector<double> values) {
        nvtools::Segment s;
        s.id = "IM.A..BDF";
        s.start_us = may_1_us + start_us;
        s.rate_hz = rate;
        s.values = std::move(values);
        return s;
    };
    const struct {
        nvtools::Segment later;
        std::string expected;  // the block's values, or the refusal
    } rows[] = {
        {segment(100000, 20, {3, 4, 5}), "1 2 3 4 5"},
        {segment(50000, 20, {2}), "1 2 3"},
        {segment(50000, 20, {2, 9, 4}),
         "trace IM.A..BDF overlaps itself at 2016-05-01T00:00:00.100000Z with different values"},
        {segment(110000, 20, {3, 4, 5}),
         "trace IM.A..BDF overlaps itself at 2016-05-01T00:00:00.110000Z off its sampling"},
        {segment(150000, 40, {4, 5}), "trace IM.A..BDF is sampled at 40 Hz from "
                                      "2016-05-01T00:00:00.150000Z, not at 20 Hz"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        std::string got;
        try {
            const auto blocks = nvtools::align_traces({segment(0, 20, {1, 2, 3}), row.later},
                                                      {"IM.A..BDF"}, 20);
            for (const auto& block : blocks)
                for (const double v : block.channels.at(0))
                    got += (got.empty() ? "" : " ") + testwriters::formatted("%g", v);
        } catch (const std::runtime_error& e) {
            got = e.what();
        }
        EXPECT_EQ(got.substr(0, row.expected.size()), row.expected) << got;
    }
}

// nvinfo on a libmseed file with a gap, a change of rate and an overlap; on an empty file, a
// directory and a TM4 file whose data end early; --json with every hostile name.
TEST(Nvinfo, MiniseedTracesAndFilesWithoutData) {
    testrun::TempDir dir;
    testrun::write_file(dir / "m.mseed",
                        trace("A", 0, 20, 300) + trace("A", 16 * second, 20, 300, DE_INT32) +
                            trace("B", 0, 40, 400) + trace("B", 10 * second, 20, 200) +
                            trace("C", 0, 100, 1000, DE_STEIM1, "HDF") +
                            trace("C", 9 * second, 100, 200, DE_STEIM1, "HDF"));
    testrun::write_file(dir / "empty.nv24", "");
    fs::create_directory(dir / "dir.mseed");
    // Line 5 is blank: the reader takes three data lines.
    testrun::write_file(dir / "early.tm4", "!S512Tidserier sampfrek: 1 gain: 1 station: kiruna\n"
                                           "0 1 2 3\n1 1 2 3\n2 1 2 3\n\n3 1 2 3\n");
    const testrun::Result json = testrun::run(
        "nvinfo", {"--json", "m.mseed", "empty.nv24", "dir.mseed", "early.tm4"}, dir.path());
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "nvinfo: empty.nv24: empty file\nnvinfo: dir.mseed: is a directory\n");
    const std::string t0 = "\"2016-05-01T00:00:00.000000Z\"";
    EXPECT_NE(
        json.out.find(
            "{\"file\": \"m.mseed\", \"format\": \"miniSEED\", \"traces\": ["
            "{\"id\": \"IM.A..BDF\", \"start\": " + t0 + ", \"end\": \"2016-05-01T00:00:30.950000Z\", "
            "\"rates_hz\": [20], \"samples\": 600, \"encodings\": [\"INT32\", \"STEIM-2\"], \"gaps\": "
            "[{\"after\": \"2016-05-01T00:00:14.950000Z\", \"seconds\": 1}], \"overlaps\": []}, "
            "{\"id\": \"IM.B..BDF\", \"start\": " + t0 + ", \"end\": \"2016-05-01T00:00:19.950000Z\", "
            "\"rates_hz\": [40, 20], \"samples\": 600, \"encodings\": [\"STEIM-2\"], \"gaps\": [], "
            "\"overlaps\": []}, "
            "{\"id\": \"IM.C..HDF\", \"start\": " + t0 + ", \"end\": \"2016-05-01T00:00:10.990000Z\", "
            "\"rates_hz\": [100], \"samples\": 1200, \"encodings\": [\"STEIM-1\"], \"gaps\": [], "
            "\"overlaps\": [{\"after\": \"2016-05-01T00:00:09.990000Z\", \"seconds\": 1}]}]}"),
        std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"early_end\": {\"line\": 5, \"unread_bytes\": 9}}"), std::string::npos)
        << json.out;
    const testrun::Result text = testrun::run("nvinfo", {"m.mseed", "early.tm4"}, dir.path());
    EXPECT_NE(text.out.find("  trace      IM.B..BDF\n    start      2016-05-01T00:00:00.000000Z\n"
                            "    end        2016-05-01T00:00:19.950000Z\n    rate       40, 20 Hz\n"
                            "    samples    600\n    encoding   STEIM-2\n    gaps       0\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  unread     the data end early at line 5 (not a data line of the "
                            "file's channels); 9 bytes from there to the end of the file are left "
                            "unread\n"),
              std::string::npos)
        << text.out;
    // nvconvert warns in the same words and converts what the reader took.
    const testrun::Result converted = testrun::run("nvconvert", {"early.tm4", "early.mseed"}, dir.path());
    EXPECT_EQ(converted.status, 0);
    EXPECT_EQ(converted.err, "nvconvert: warning: early.tm4: the data end early at line 5 (not a data "
                             "line of the file's channels); 9 bytes from there to the end of the file "
                             "are left unread\n");

    // Every name as a JSON string of plain ASCII: no raw control character, no raw byte of a
    // name that is not UTF-8.
    std::vector<std::string> args{"--json", "--"};
    for (const auto& hostile : testwriters::hostile_names) {
        fs::copy_file(dir / "early.tm4", dir / std::string(hostile.name));
        args.emplace_back(hostile.name);
    }
    const testrun::Result names = testrun::run("nvinfo", args, dir.path());
    EXPECT_EQ(names.status, 0) << names.err;
    for (const char c : names.out)
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << static_cast<int>(c);
    for (const char* escaped : {R"("a\nb")", R"("a\rb")", R"("a\ufffd\ufffdb")", R"("a\\nb\\")",
                                R"("a b\tc")", R"("a\"; system \"touch PWNED\"; \"")"})
        EXPECT_NE(names.out.find("{\"file\": " + std::string(escaped) + ","), std::string::npos)
            << escaped;
}

// Valid UTF-8 passes; every byte of an overlong form, a surrogate, a code point beyond U+10FFFF
// or a cut sequence becomes U+FFFD; numbers and times that are not finite are null.
TEST(Json, StringsOfAnyBytesAndNumbersThatAreNotFinite) {
    const std::pair<std::string, std::string> rows[] = {
        {"\xc2\x80 \xe0\xa0\x80 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf",
         "\"\xc2\x80 \xe0\xa0\x80 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf\""},
        {"\xc0\xaf|\xe0\x80\x80|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82|\x80",
         R"("\ufffd\ufffd|\ufffd\ufffd\ufffd|\ufffd\ufffd\ufffd|\ufffd\ufffd\ufffd\ufffd|\ufffd\ufffd|\ufffd")"},
        {std::string("\x01\x1f\x7f\0", 4), R"("\u0001\u001f\u007f\u0000")"},
    };
    for (const auto& [text, json] : rows)
        EXPECT_EQ(nvtools::json_string(text), json);
    EXPECT_EQ(nvtools::json_number(std::nan("")) + nvtools::json_number(-HUGE_VAL) +
                  nvtools::json_time(HUGE_VAL) + nvtools::json_number(0.1),
              "nullnullnull0.1");
}
