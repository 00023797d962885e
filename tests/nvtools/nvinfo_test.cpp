// nvinfo on every input format the test writers make, and on files no reader takes.

#include "legacy_writer.h"
#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace lw = legacywriter;

namespace {

struct Expected {
    const char* file;
    std::string bytes;
    const char* format;
    const char* station;
    double start;  // seconds since 1970 (the legacy reader's clock may drift by a few microseconds)
    double end;
    size_t samples;
    std::vector<int> external_gains;  // one per channel
    bool has_comment;
    std::vector<std::pair<double, double>> gaps;  // after, seconds
    double mean0;                                 // mean of channel 0
};

std::string nv24_file() {
    nv24w::File file = nv24w::make_file(3, 100.0, 1462060800, 500000000);
    file.header.station = 1;  // kiruna
    for (size_t c = 0; c < 3; ++c)
        file.channels[c].gain = static_cast<uint16_t>(c + 1);
    for (int i = 0; i < 1000; ++i)
        nv24w::add_frame(file, {i % 10, 100 + i % 10, -7});
    return nv24w::encode(file);
}

// 512-sample records at 18 Hz from 01:00:00; the third comes a minute late.
std::vector<lw::Record> records_with_gap() {
    return {lw::make_record(512, 60, 0), lw::make_record(512, 60, 28), lw::make_record(512, 62, 0)};
}

std::vector<Expected> expectations() {
    const std::string s512 = lw::form3_line('S', 512, "18", "2", "k", "2016-05-01", "00:00:00");
    const double may_1 = 1462060800;   // 2016-05-01 00:00:00
    const double jan_15 = 1452816000;  // 2016-01-15 00:00:00
    return {
        {"a.nv24",
         nv24_file(),
         "24-bit block",
         "kiruna",
         may_1 + 0.5,
         may_1 + 10.49,
         1000,
         {1, 1, 1},
         false,
         {},
         4.5},
        {"gap.bi1",
         lw::binary_image(s512, records_with_gap()),
         "legacy binary",
         "kiruna",
         may_1 + 3600,
         may_1 + 3720 + 511 / 18.0,
         1536,
         {20, 20, 20},
         true,
         {{may_1 + 3600 + 1023 / 18.0, 120 - 1024 / 18.0}},
         255.5},
        {"one.da1",
         lw::ascii_image(lw::form3_line('S', 512, "20", "3", "lycksele", "2016-05-01"),
                         {lw::make_record(512, 60, 0)}),
         "legacy ASCII",
         "lycksele",
         may_1 + 3600,
         may_1 + 3600 + 511 / 20.0,
         512,
         {30, 30, 30},
         true,
         {},
         255.5},
        // Old-type records carry no time, so the reader starts every record at the file's hour: a step back.
        {"K6011512.raw",
         lw::binary_image("T old recorder",
                          {lw::make_record(128, 0, 0), lw::make_record(128, 0, 0)}, true),
         "old-type legacy",
         "unknown",
         jan_15 + 6 * 3600,
         jan_15 + 6 * 3600 + 127 / 18.0,
         256,
         {10, 10, 10},
         true,
         {{jan_15 + 6 * 3600 + 127 / 18.0, -128 / 18.0}},
         63.5},
        {"r.tm4",
         testwriters::Tm4File()
             .comment(testwriters::tm4_comment(20, "lycksele"))
             .samples(may_1 + 0.25, 20, 600, 4, [](size_t i, size_t c) { return 0.5 * i + c; })
             .text(),
         "TM4",
         "lycksele",
         may_1 + 0.25,
         may_1 + 30.2,
         600,
         {1, 1, 1, 1},
         true,
         {},
         149.75},
    };
}

// The line of the JSON array describing file (nvinfo writes one object per line).
std::string object_of(const std::string& json, const std::string& file) {
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);)
        if (line.find("{\"file\": \"" + file + "\"") != std::string::npos)
            return line;
    return "";
}

// Every number following "key": in text.
std::vector<double> numbers_of(const std::string& text, const std::string& key) {
    std::vector<double> numbers;
    const std::string label = "\"" + key + "\": ";
    for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
        numbers.push_back(std::strtod(text.c_str() + at + label.size(), nullptr));
    return numbers;
}

std::string quoted_field(const std::string& key, const std::string& value) {
    return "\"" + key + "\": \"" + value + "\"";
}

// Every "key": "YYYY-MM-DDTHH:MM:SS.ffffffZ" in text, as seconds since 1970.
std::vector<double> times_of(const std::string& text, const std::string& key) {
    std::vector<double> times;
    const std::string label = "\"" + key + "\": \"";
    for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1)) {
        std::tm utc{};
        double seconds = 0;
        if (std::sscanf(text.c_str() + at + label.size(), "%d-%d-%dT%d:%d:%lfZ", &utc.tm_year,
                        &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &seconds) != 6)
            continue;
        utc.tm_year -= 1900;
        utc.tm_mon -= 1;
        times.push_back(static_cast<double>(timegm(&utc)) + seconds);
    }
    return times;
}

constexpr double time_tolerance = 1e-4;

}  // namespace

TEST(Nvinfo, JsonOfEveryInputFormat) {
    testrun::TempDir dir;
    std::vector<std::string> args{"--json"};
    for (const Expected& e : expectations()) {
        testrun::write_file(dir / e.file, e.bytes);
        args.push_back(e.file);
    }
    const testrun::Result r = testrun::run("nvinfo", args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Expected& e : expectations()) {
        SCOPED_TRACE(e.file);
        const std::string object = object_of(r.out, e.file);
        ASSERT_FALSE(object.empty()) << r.out;
        EXPECT_NE(object.find(quoted_field("format", e.format)), std::string::npos) << object;
        EXPECT_NE(object.find(quoted_field("station", e.station)), std::string::npos) << object;
        ASSERT_EQ(times_of(object, "start").size(), 1u) << object;
        EXPECT_NEAR(times_of(object, "start").front(), e.start, time_tolerance);
        ASSERT_EQ(times_of(object, "end").size(), 1u) << object;
        EXPECT_NEAR(times_of(object, "end").front(), e.end, time_tolerance);
        EXPECT_EQ(numbers_of(object, "samples"),
                  std::vector<double>{static_cast<double>(e.samples)});
        const std::vector<double> gains = numbers_of(object, "external_gain");
        EXPECT_EQ(gains, std::vector<double>(e.external_gains.begin(), e.external_gains.end()));
        EXPECT_EQ(object.find("\"comment\": null") == std::string::npos, e.has_comment) << object;
        ASSERT_EQ(numbers_of(object, "seconds").size(), e.gaps.size()) << object;
        for (size_t g = 0; g < e.gaps.size(); ++g) {
            EXPECT_NEAR(times_of(object, "after")[g], e.gaps[g].first, time_tolerance);
            EXPECT_NEAR(numbers_of(object, "seconds")[g], e.gaps[g].second, time_tolerance);
        }
        EXPECT_DOUBLE_EQ(numbers_of(object, "mean").front(), e.mean0);
    }
    // The block file's channel records: gains 1, 2, 3; channel 0 counts 0 to 9.
    const std::string block = object_of(r.out, "a.nv24");
    EXPECT_EQ(numbers_of(block, "gain"), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(numbers_of(block, "min").front(), 0);
    EXPECT_EQ(numbers_of(block, "max").front(), 9);
    EXPECT_DOUBLE_EQ(numbers_of(block, "std").front(), std::sqrt(8.25));
    EXPECT_DOUBLE_EQ(numbers_of(block, "std").back(), 0.0);
}

// A file no reader takes, a missing one and one on which the legacy reader
// ends the process: one line each, the others still reported, status 1.
TEST(Nvinfo, UnreadableFilesAmongGoodOnes) {
    testrun::TempDir dir;
    testrun::write_file(dir / "good.nv24", nv24_file());
    testrun::write_file(dir / "noend.bi1", "!S512Tidserier sampfrek: 18");
    // A binary comment line ends with a carriage return; this one has none, so the reader exits.
    testrun::write_file(dir / "exits.bi1",
                        "!S512Tidserier sampfrek: 18 gain: 1\n" + std::string(400, 'x'));
    const testrun::Result r =
        testrun::run("nvinfo", {"noend.bi1", "missing.nv24", "exits.bi1", "good.nv24"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("good.nv24\n  format     24-bit block\n"), std::string::npos) << r.out;
    for (const char* file : {"noend.bi1", "missing.nv24", "exits.bi1"})
        EXPECT_NE(r.err.find(std::string("nvinfo: ") + file + ": "), std::string::npos)
            << file << "\n"
            << r.err;
    EXPECT_NE(r.err.find("nvinfo: exits.bi1: fgetc: EOF"), std::string::npos) << r.err;
}
