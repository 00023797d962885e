// Days, the SDS layout, the plan of an archive from its directory tree, and
// result day files read back with libmseed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "day_writer.h"
#include "days.h"
#include "layout.h"
#include "miniseed_writer.h"
#include "results.h"
#include "run.h"
#include "scan.h"
#include "sds_tree_writer.h"

using namespace sds;
namespace fs = std::filesystem;

namespace {

using testrun::error_text;

TEST(Days, BothFormsStrictlyAndTheirLinksToTime) {
    const std::pair<std::string, std::string> days[] = {
        // word, "YYYY-MM-DD year day-of-year"
        {"2024-02-29", "2024-02-29 2024 60"}, {"2024-060", "2024-02-29 2024 60"},
        {"2024-366", "2024-12-31 2024 366"},  {"2023-365", "2023-12-31 2023 365"},
        {"1970-001", "1970-01-01 1970 1"},    {"1969-12-31", "1969-12-31 1969 365"}};
    for (const auto& [word, expected] : days) {
        const Day day = parse_day(word);
        const YearDay yd = year_day(day);
        EXPECT_EQ(
            day_text(day) + " " + std::to_string(yd.year) + " " + std::to_string(yd.day_of_year),
            expected);
        EXPECT_EQ(day_of(year_day(day)), day);
        EXPECT_EQ(day_at(midnight_us(day)), day);
        EXPECT_EQ(day_at(midnight_us(day) - 1), day - 1);
    }
    for (const std::string word :
         {"2023-366", "2024-000", "2023-02-29", "2024-13-01", "2024-02-30", "2024-1-01", "24-001",
          "2024-001x", " 2024-001", "2024-+01", "+024-001", "2024/001", ""})
        EXPECT_EQ(error_text([&] { parse_day(word); }),
                  "\"" + word + "\" is not a day: expected YYYY-MM-DD or YYYY-DDD");
    EXPECT_EQ(midnight_us(parse_day("2024-02-28")), sdsw::feb28_2024_us);
    EXPECT_EQ(parse_day_range("2024-02-28", "2024-060").size(), 2);
    EXPECT_EQ(error_text([] { parse_day_range("2024-03-01", "2024-02-29"); }),
              "the first day 2024-03-01 lies after the last day 2024-02-29");
    EXPECT_EQ(error_text([] { day_of({2023, 366}); }), "day 366 does not exist in the year 2023");
}

TEST(Layout, OnePathForReadingAndWriting) {
    const SeedId id{"XX", "AR1", "", "BDF"};
    EXPECT_EQ(day_file("/r", id, parse_day("2024-060")),
              "/r/2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.060");
    EXPECT_EQ(parse_seed_id("XX.AR1..BDF"), id);
    const auto name = parse_day_file_name("IM.I53H1.00.BDF.D.0999.007");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->id.text(), "IM.I53H1.00.BDF");
    EXPECT_EQ(name->day, (YearDay{999, 7}));
    for (const char* other :
         {"XX.AR1..BDF.D.2024.60", "XX.AR1..BDF.D.2023.366", "XX..00.BDF.D.2024.060",
          ".XX.AR1..BDF.D.2024.060.77.0", "XX.AR1..BDF.Q.2024.060", "XX.AR1..BDF.D.24.060"})
        EXPECT_FALSE(parse_day_file_name(other)) << other;
    for (const char* other : {"XX.AR1.BDF", "XX.AR1..", ".AR1..BDF", "XX.A/1..BDF"})
        EXPECT_FALSE(parse_seed_id(other)) << other;
    EXPECT_EQ(channel_of_directory("BDF.D"), "BDF");
    EXPECT_FALSE(channel_of_directory(".D"));
    EXPECT_FALSE(channel_of_directory("BDF"));
}

using msw::read_records;
using msw::Record;

// The archive of the test writer, plus: XX.AR4..BDF on 03-02 only, six more ids on 02-29, a file
// under another station's directory, a temporary file, and a directory with a day file's name.
class Archive : public ::testing::Test {
protected:
    void SetUp() override {
        sdsw::write_tree(root(), sdsw::three_element_array());
        const int64_t feb29 = sdsw::feb28_2024_us + sdsw::day_us;
        sdsw::touch_day_file(root(), {"XX", "AR4", "", "BDF", 20, {}}, feb29 + 2 * sdsw::day_us);
        for (int k = 1; k <= 6; ++k)
            sdsw::touch_day_file(root(), {"YY", "E" + std::to_string(k), "", "BDF", 20, {}}, feb29);
        const fs::path ar1 = root() / "2024/XX/AR1/BDF.D";
        testrun::write_file(ar1 / "XX.AR9..BDF.D.2024.060", "");
        testrun::write_file(ar1 / ".XX.AR1..BDF.D.2024.062.77.0", "");
        fs::create_directories(root() / "2024/XX/AR3/BDF.D/XX.AR3..BDF.D.2024.062");
        // The writer's records straddle midnight: the last one filed under 02-28 ends on 02-29.
        const Record last = read_records(ar1 / "XX.AR1..BDF.D.2024.059").back();
        ASSERT_GT(last.start_us + static_cast<int64_t>(last.values.size()) * 50'000, feb29);
    }
    fs::path root() const { return dir / "archive"; }
    testrun::TempDir dir;
};

// "D:present..." per day, "1" for an element's file, "-" for none; each stamp checked against the file.
std::string files_by_day(const fs::path& root, const ArchiveScan& scan) {
    std::string text;
    for (const DayFiles& day : scan.days) {
        text += (text.empty() ? "" : " ") + day_text(day.day).substr(5) + ":";
        for (size_t k = 0; k < day.files.size(); ++k) {
            text += day.files[k] ? "1" : "-";
            EXPECT_EQ(day.files[k], stamp_of(day_file(root, scan.elements[k], day.day)));
        }
    }
    return text;
}

TEST_F(Archive, ScanFindsTheElementsAndTheirDayFiles) {
    const std::string ids3 = "XX.AR1..BDF XX.AR2..BDF XX.AR3..BDF";
    const std::string need = ", where 3 to 8 are needed";
    const struct {
        std::vector<std::string> patterns;
        std::string from, to, elements, files;  // files: or the refusal after the root
    } cases[] = {
        // clang-format off
        {{"XX.*"}, "2024-02-28", "2024-03-01", ids3,
         "02-27:--- 02-28:111 02-29:111 03-01:111 03-02:---"},
        {{"XX.AR3..BD?", "XX.AR[12]..BDF"}, "2024-059", "2024-061", ids3,
         "02-27:--- 02-28:111 02-29:111 03-01:111 03-02:---"},
        {{"XX.AR?..BDF"}, "2024-02-28", "2024-02-28", ids3, "02-27:--- 02-28:111 02-29:111"},
        {{"XX.*"}, "2024-02-29", "2024-03-03", ids3 + " XX.AR4..BDF",
         "02-28:111- 02-29:111- 03-01:111- 03-02:---1 03-03:---- 03-04:----"},
        {{"XX.AR1..BDF", "XX.AR2..BDF"}, "2024-02-28", "2024-03-01", "",
         ": the channels XX.AR1..BDF, XX.AR2..BDF match 2 ids with day files from 2024-02-28 to "
         "2024-03-01" + need + ": XX.AR1..BDF, XX.AR2..BDF"},
        {{"*"}, "2024-02-28", "2024-03-01", "",
         ": the channels * match 9 ids with day files from 2024-02-28 to 2024-03-01" + need +
         ": XX.AR1..BDF, XX.AR2..BDF, XX.AR3..BDF, YY.E1..BDF, YY.E2..BDF, YY.E3..BDF, "
         "YY.E4..BDF, YY.E5..BDF, YY.E6..BDF"},
        {{"XX.*"}, "2024-03-05", "2024-03-06", "",
         ": the channels XX.* match 0 ids with day files from 2024-03-05 to 2024-03-06" + need},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.patterns.front() + " " + c.from);
        try {
            const ArchiveScan scan =
                scan_archive(root(), c.patterns, parse_day_range(c.from, c.to));
            std::string elements;
            for (const SeedId& id : scan.elements)
                elements += (elements.empty() ? "" : " ") + id.text();
            EXPECT_EQ(elements, c.elements);
            EXPECT_EQ(files_by_day(root(), scan), c.files);
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), root().string() + c.files);
        }
    }
    EXPECT_EQ(error_text(
                  [&] { scan_archive(dir / "none", {}, parse_day_range("2024-001", "2024-001")); }),
              (dir / "none").string() + ": No such file or directory");
}

// A row of vimsor's results at sample i of a 20 Hz piece from 2024-01-02.
constexpr int64_t results_start_us = 1'704'153'600'000'000;
std::string result_row(size_t i, const std::string& values) {
    const int64_t us = results_start_us + static_cast<int64_t>(i) * 50'000;
    return std::to_string(us / 1'000'000) + "." +
           std::to_string(1'000'000 + us % 1'000'000).substr(1) + " " + values + "\n";
}

TEST(PieceResults, ReadToTheNearestFloatOrRefusedNamingTheLine) {
    const std::vector<double> samples(40'000);
    const Piece piece{results_start_us * 1000, results_start_us, 20.0, {samples, samples}};
    std::string many;  // over a megabyte: lines cross the reader's buffer
    std::vector<std::vector<float>> many_values(2);
    for (size_t i = 0; i < samples.size(); ++i) {
        many += result_row(i, std::to_string(i % 997) + ".125 -0.00" + std::to_string(i % 97));
        many_values[0].push_back(static_cast<float>(i % 997) + 0.125f);
        many_values[1].push_back(-std::stof("0.00" + std::to_string(i % 97)));
    }
    const std::string long_line = "!" + std::string(1 << 20, 'x') + "\n";
    const struct {
        std::string text;
        std::vector<std::vector<float>> values;  // or the refusal after the file's name
        std::string error;
    } cases[] = {
        {"!S512Tidserier\n" + result_row(0, "-1.5 0.000123") + "\r\n \n" +
             result_row(1, "999999\t1.5e-05\r"),
         {{-1.5f, 999999.f}, {0.000123f, 1.5e-05f}},
         ""},
        {result_row(0, "0.1 -7") + "1704153600.05 3.3 4", {{0.1f, 3.3f}, {-7.f, 4.f}}, ""},
        {many, many_values, ""},
        {result_row(0, "123456789 0.0000000001") + result_row(1, "-98765432.1 .5") +
             result_row(2, "0.00000000001 7"),
         {{123456789.f, -98765432.1f, 1e-11f}, {1e-10f, 0.5f, 7.f}},
         ""},  // past six digits or ten decimals (read the careful way), no whole part
        {many + result_row(samples.size(), "1 2"),
         {},
         "line 40001: more rows than the 40000 samples of its piece"},
        {"!only a header\n", {}, "holds no result rows"},
        {long_line, {}, "line 1 is longer than 1048576 bytes"},
        {result_row(0, "1"), {}, "line 1: holds fewer numbers than a time and a value per element"},
        {result_row(0, "1 2 3"), {}, "line 1: holds more values than the 2 elements"},
        {"1704153600.000002 1 2\n",
         {},
         "line 1: row 1 lies at 1704153600000002 µs since 1970, not at sample 0 of its piece "
         "(1704153600000000)"},
        {"x 1 2\n", {}, "line 1: its time \"x\" is no number"},
        {"1704153600.0000:0 1 2\n", {}, "line 1: its time \"1704153600.0000:0\" is no number"},
        {"1704153600x000000 1 2\n", {}, "line 1: its time \"1704153600x000000\" is no number"},
        {result_row(0, "1 4e38"), {}, "line 1: \"4e38\" is no finite single-precision number"},
        {result_row(0, "1 1.2.3"), {}, "line 1: \"1.2.3\" is no finite single-precision number"},
        {result_row(0, "1 1.00000495"),
         {},
         "line 1: the value 1.00000495 does not keep its six digits as a float"},
    };
    testrun::TempDir dir;
    const fs::path file = dir.path() / "results.tm4_1";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        testrun::write_file(file, c.text);
        if (c.error.empty())
            EXPECT_EQ(read_piece_results(file, piece, 2), c.values);
        else
            EXPECT_EQ(error_text([&] { read_piece_results(file, piece, 2); }),
                      file.string() + ": " + c.error);
    }
    EXPECT_EQ(error_text([&] { read_piece_results(dir.path() / "none", piece, 2); }),
              (dir.path() / "none").string() + ": cannot be opened: No such file or directory");
}

// Regular files under dir, relative and sorted.
std::vector<std::string> files_under(const fs::path& dir) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (!entry.is_directory())
            files.push_back(fs::relative(entry.path(), dir).string());
    std::sort(files.begin(), files.end());
    return files;
}

// Six significant digits, as vimsor's results have them.
std::vector<float> result_values(size_t count) {
    std::vector<float> values(count);
    for (size_t i = 0; i < count; ++i)
        values[i] =
            std::stof(std::to_string((i * 7919) % 999983) + "e" + std::to_string(int(i % 9) - 4));
    return values;
}

TEST(DayWriter, SplitsAtMidnightAndEveryRecordStartsWithinItsDay) {
    const int64_t feb29 = sdsw::feb28_2024_us + sdsw::day_us;
    const SeedId id{"XX", "AR1", "", "BDF"};
    const struct {
        int64_t start_us;
        size_t count;
        std::vector<std::pair<std::string, size_t>> files;  // day, samples
    } cases[] = {
        {feb29 - 1'000'000, 40, {{"2024.059", 20}, {"2024.060", 20}}},  // sample 20 at midnight
        {feb29 - 999'877, 40, {{"2024.059", 20}, {"2024.060", 20}}},
        {feb29 + 123'456, 100, {{"2024.060", 100}}},
        // clang-format off
        {feb29 - 60'000'000, (86400 + 120) * 20,
         {{"2024.059", 1200}, {"2024.060", 1728000}, {"2024.061", 1200}}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start_us);
        testrun::TempDir dir;
        const std::vector<float> values = result_values(c.count);
        DayFileSet set(dir.path());
        set.add(id, 20.0, c.start_us, values);
        const std::vector<fs::path> written = set.commit();
        ASSERT_EQ(written.size(), c.files.size());
        size_t index = 0;  // of the next sample of the piece
        for (size_t f = 0; f < c.files.size(); ++f) {
            EXPECT_EQ(written[f], dir / ("2024/XX/AR1/BDF.D/XX.AR1..BDF.D." + c.files[f].first));
            const Day day = day_of({2024, std::stoi(c.files[f].first.substr(5))});
            size_t in_file = 0;
            for (const Record& r : read_records(written[f])) {
                EXPECT_EQ(day_at(r.start_us), day);
                EXPECT_EQ(r.start_us, c.start_us + static_cast<int64_t>(index) * 50'000);
                EXPECT_EQ(r.rate, 20.0);
                EXPECT_EQ(r.encoding, DE_FLOAT32);
                EXPECT_TRUE(r.microseconds);
                ASSERT_LE(index + r.values.size(), values.size());
                EXPECT_TRUE(std::equal(r.values.begin(), r.values.end(), values.begin() + index));
                index += r.values.size();
                in_file += r.values.size();
            }
            EXPECT_EQ(in_file, c.files[f].second);
        }
        EXPECT_EQ(index, c.count);
        EXPECT_EQ(files_under(dir.path()).size(), c.files.size());  // no temporary left
    }
}

TEST(DayWriter, ASetAppearsWholeOrNotAtAll) {
    const int64_t feb29 = sdsw::feb28_2024_us + sdsw::day_us;
    const SeedId ar1{"XX", "AR1", "", "BDF"}, ar2{"XX", "AR2", "", "BDF"};
    const std::vector<float> values = result_values(100);
    testrun::TempDir dir;
    const fs::path ar2_file = day_file(dir.path(), ar2, day_at(feb29));
    {
        DayFileSet set(dir.path());
        set.add(ar1, 20.0, feb29, values);
        set.add(ar2, 20.0, feb29 + 2'000'000, std::span(values).first(30));
        set.add(ar2, 20.0, feb29, std::span(values).first(30));  // written in time order
        EXPECT_EQ(set.commit().size(), 2u);
        EXPECT_EQ(read_records(ar2_file).front().start_us, feb29);
        set.add(ar1, 20.0, feb29, values);  // dropped with the set: nothing written
    }
    EXPECT_EQ(files_under(dir.path()),
              (std::vector<std::string>{"2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.060",
                                        "2024/XX/AR2/BDF.D/XX.AR2..BDF.D.2024.060"}));
    {  // a day's set replaces the day's files as a whole: AR2's, not written again, goes
        DayFileSet set(dir.path());
        set.replaces(day_file(dir.path(), ar1, day_at(feb29)));
        set.replaces(ar2_file);
        set.add(ar1, 20.0, feb29, values);
        EXPECT_EQ(set.commit().size(), 1u);
    }
    EXPECT_EQ(files_under(dir.path()),
              std::vector<std::string>{"2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.060"});
    // A failed commit leaves none of the set's files and no temporary: only what was there.
    const auto failure = [&](auto fill) {
        testrun::TempDir out;
        DayFileSet set(out.path());
        set.add(ar1, 20.0, feb29, values);
        fill(set, day_file(out.path(), ar2, day_at(feb29)));
        std::string error = error_text([&] { set.commit(); });
        for (const std::string& file : files_under(out.path()))
            error += " | " + file;
        return error.replace(0, out.path().string().size() + 1, "");
    };
    const std::string ar2_name = "2024/XX/AR2/BDF.D/XX.AR2..BDF.D.2024.060";
    EXPECT_EQ(failure([&](DayFileSet& set, const fs::path&) {
                  set.add(ar2, 20.0, feb29, values);
                  set.add(ar2, 20.0, feb29 + 4'950'000, values);
              }),
              ar2_name + ": two pieces of its trace overlap");
    EXPECT_EQ(failure([&](DayFileSet& set, const fs::path& place) {
                  set.add(ar2, 20.0, feb29, values);
                  fs::create_directories(place);
                  testrun::write_file(place / "x", "");
              }),
              ar2_name + ": is not a regular file and is not replaced | " + ar2_name + "/x");
    DayFileSet set(dir.path());
    EXPECT_EQ(
        error_text([&] { set.add(ar2, 100.0012283, feb29, values); }),
        "XX.AR2..BDF: the sampling rate 100.0012283 Hz has no exact form in miniSEED: neither "
        "a factor and multiplier nor Blockette 100's 32-bit float holds it");
    EXPECT_EQ(error_text([&] { set.add(ar2, std::nan(""), feb29, values); }),
              "XX.AR2..BDF: no positive, finite rate");
}

}  // namespace
