// The TM4 text reader, and the number forms of both text readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "describe.h"
#include "nevra.h"
#include "nevra_tm4.h"
#include "run.h"
#include "tm4_writer.h"

using namespace Nevra;
using nevratest::describe;
using testwriters::tm4_comment;
using testwriters::Tm4File;
using samples = data_channel_type;

namespace {

class Tm4 : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.tm4_1").string(); }
    std::unique_ptr<NEVRA_TM4> load(const Tm4File& file, double initial_basetime = 0.0) {
        file.save(path());
        return std::make_unique<NEVRA_TM4>(path().c_str(), initial_basetime);
    }
    std::string error_of(const Tm4File& file) {
        return nevratest::error_of([&] { load(file); });
    }
    testrun::TempDir dir;
};

// The samples and times of a file with a comment line are compared byte for byte end to end
// (Pipeline.OutputBytesOfNv24AndTm4Recordings).
TEST_F(Tm4, ReadsCommentAndDataLines) {
    const auto rec = load(Tm4File()
                              .comment(tm4_comment(20, "kiruna"))
                              .data(1462060800.0, {12, -3, 7})
                              .data(1462060800.05, {11, -2, 6}));
    EXPECT_EQ(describe(rec->get_header()),
              "nv24 v1 length 0 station 1 1462060800.0 bitmap 7 channels 3 unused 0 20 Hz 32/4 "
              "bits host 0 device 0");
    EXPECT_EQ(rec->get_origin(), ORIGIN_TM4);
    EXPECT_EQ(rec->get_data(2), (samples{7, 6}));
    EXPECT_EQ(describe(rec->get_channel_info(2)), "chan 2 gain 1 -10..10 x1");
    // Without a comment line: the frequency from the times, values truncated toward zero, a
    // carriage return is white space.
    const auto bare = load(Tm4File().raw("100.0 2.9 -2.9 0.5\r").raw("100.05 -0.5 1e3 -7"));
    EXPECT_NEAR(bare->get_frequency(), 20.0, 1e-9);
    EXPECT_EQ(bare->get_header().header.m_station, test);
    EXPECT_EQ(bare->get_data(0), (samples{2, 0}));
    EXPECT_EQ(bare->get_data(1), (samples{-2, 1000}));
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

TEST_F(Tm4, InitialBasetimeAdoptedOnlyWithinTwoSeconds) {
    const Tm4File file = Tm4File().data(1462060800.5, {1, 2, 3}).data(1462060801.0, {1, 2, 3});
    const auto adopted = load(file, 1462060799.0);
    // The spacing counts from the adopted start.
    EXPECT_EQ(describe(adopted->get_header()),
              "nv24 v1 length 0 station 254 1462060799.0 bitmap 7 channels 3 unused 0 0.5 Hz 32/4 "
              "bits host 1462060799 device 0");
    EXPECT_EQ(adopted->get_time(0), 1462060800.5);
    EXPECT_EQ(describe(load(file, 1462060797.0)->get_header()),
              "nv24 v1 length 0 station 254 1462060800.500000000 bitmap 7 channels 3 unused 0 2 Hz "
              "32/4 bits host 0 device 0");
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

}  // namespace
