// Every input format through the whole program, in every output mode.

#include "legacy_writer.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace lw = legacywriter;
using testwriters::Tm4File;
using testwriters::tm4_comment;

namespace {

struct Input {
    const char* name;
    std::string file_name, bytes;
    size_t samples;          // per channel
    std::string comment;     // the output's comment line
    int minute_word, second_word;  // time words of the output's first block
    double start;            // whole second of the first sample time
};

// Records whose time words count on from minute word 60 (01:00:00 of the day).
std::vector<lw::Record> records(size_t count, size_t length, double frequency)
{
    std::vector<lw::Record> out;
    for (size_t r = 0; r < count; ++r) {
        const auto seconds = static_cast<int>(static_cast<double>(r * length) / frequency);
        out.push_back(lw::make_record(length, 60 + seconds / 60, seconds % 60, static_cast<int>(r)));
    }
    return out;
}

std::vector<Input> inputs()
{
    const std::string kiruna_18 = "!S512Tidserier sampfrek: 18 gain: 1 station: kiruna date: 2016-05-01 time: 01:00:00";
    const std::string s512 = lw::form3_line('S', 512, "18", "1", "k", "2016-05-01", "00:00:00");
    const std::string s128 = lw::form3_line('S', 128, "18", "2", "K", "2016-05-01", "00:00:00");
    const std::string unknown_15th = " gain: 1 station: unknown date: 2016-01-15 time: ";
    return {
        {"binary512", "in512.raw", lw::binary_image(s512, records(2, 512, 18)), 1024, kiruna_18, 60, 0, 1462064400},
        {"binary128", "in128.raw", lw::binary_image(s128, records(8, 128, 18)), 1024, kiruna_18, 60, 0, 1462064400},
        {"oldtype", "K6011512.raw", lw::binary_image("T old recorder", records(4, 128, 18), true), 512,
         "!S512Tidserier sampfrek: 18" + unknown_15th + "06:00:00", 360, 0, 1452837600},
        {"form1binary", "K6011512.bin", lw::binary_image("!Tidserier 18.0 3", records(4, 128, 18)), 512,
         "!S512Tidserier sampfrek: 18" + unknown_15th + "01:00:00", 60, 0, 1452819600},
        {"form2ascii", "K6011512.asc", lw::ascii_image("!Tidserier  sampfrek: 20 gain: 2", records(8, 128, 20)),
         1024, "!S512Tidserier sampfrek: 20" + unknown_15th + "01:00:00", 60, 0, 1452819600},
        {"ascii512crlf", "in.asc",
         lw::ascii_image(lw::form3_line('S', 512, "18", "1", "kiruna", "2016-05-01"), records(1, 512, 18), false, true),
         512, kiruna_18, 60, 0, 1462064400},
        {"tm4", "in.tm4",
         Tm4File().comment(tm4_comment(20, "lycksele"))
             .samples(1462060800, 20, 1536, 4, [](size_t i, size_t c) { return std::sin(0.1 * i + c) * 200; }).text(),
         1536, "!S512Tidserier sampfrek: 20 gain: 1 station: lycksele date: 2016-05-01 time: 00:00:00", 0, 0, 1462060800},
    };
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t count_numbers(std::istringstream&& numbers)
{
    size_t count = 0;
    for (double v; numbers >> v;)
        ++count;
    return count;
}

std::string first_word(const std::string& line) { return line.substr(0, line.find(' ')); }

// The output file of one mode holds the comment line and one block (or line) per sample that was analysed.
void expect_output(const Input& input, const std::string& ext, const std::string& output)
{
    const size_t channels = input.file_name == "in.tm4" ? 4 : 3;
    const size_t blocks = input.samples / 512 * channels;
    if (ext == ".bi1") {
        const size_t head = input.comment.size() + 1;
        ASSERT_EQ(output.size(), head + blocks * 1028);
        EXPECT_EQ(output.substr(0, head), input.comment + "\r");
        const auto word = [&](size_t k) {
            return static_cast<unsigned char>(output[head + 2 * k]) | static_cast<unsigned char>(output[head + 2 * k + 1]) << 8;
        };
        EXPECT_EQ(word(0), input.minute_word);
        EXPECT_EQ(word(1), input.second_word);
        return;
    }
    const std::vector<std::string> lines = lines_of(output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], input.comment);
    if (ext == ".da1") {
        ASSERT_EQ(lines.size(), 1 + blocks);
        EXPECT_EQ(lines[1].rfind(std::to_string(input.minute_word) + " " + std::to_string(input.second_word) + " ", 0), 0u)
            << lines[1].substr(0, 40);
        EXPECT_EQ(count_numbers(std::istringstream(lines[1])), 514u);
    } else {
        ASSERT_EQ(lines.size(), 1 + input.samples);
        EXPECT_EQ(count_numbers(std::istringstream(lines[1])), channels + 1);
        const double time = std::stod(first_word(lines[1]));
        EXPECT_GE(time, input.start);
        EXPECT_LT(time, input.start + 1.0);
    }
}

class FormatsTest : public ::testing::Test {
protected:
    testrun::Result vimsor(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"--quiet", "--cpus=2"};
        all.insert(all.end(), args.begin(), args.end());
        return testrun::run_vimsor(all, dir.path());
    }
    testrun::TempDir dir;
};

}  // namespace

TEST_F(FormatsTest, EveryInputFormatInEveryOutputMode)
{
    const std::pair<std::string, std::string> modes[] = {{"--mode=bin", ".bi1"}, {"--mode=ascii", ".da1"}, {"--mode=tm4", ".tm4_1"}};
    for (const Input& input : inputs()) {
        testrun::write_file(dir / input.file_name, input.bytes);
        for (const auto& [option, ext] : modes) {
            SCOPED_TRACE(std::string(input.name) + " " + option);
            const testrun::Result r = vimsor({option, "-o", "out", input.file_name});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.err.find(std::to_string(input.samples) + " 0\n"), std::string::npos) << r.err;
            expect_output(input, ext, testrun::read_file(dir / ("out" + ext)));
        }
    }
}

TEST_F(FormatsTest, TM4OutputReadsBackAsInput)
{
    for (const Input& input : inputs()) {
        SCOPED_TRACE(input.name);
        testrun::write_file(dir / input.file_name, input.bytes);
        const testrun::Result first = vimsor({"-4", "-o", "first", input.file_name});
        ASSERT_EQ(first.status, 0) << first.err;
        // the analysis results are read back as samples, with the same times
        const testrun::Result again = vimsor({"-4", "-o", "again", "first.tm4_1"});
        ASSERT_EQ(again.status, 0) << again.err;
        const std::vector<std::string> was = lines_of(testrun::read_file(dir / "first.tm4_1"));
        const std::vector<std::string> now = lines_of(testrun::read_file(dir / "again.tm4_1"));
        ASSERT_EQ(now.size(), was.size());
        EXPECT_EQ(now[0], was[0]);
        EXPECT_EQ(first_word(now[1]), first_word(was[1]));
        EXPECT_EQ(first_word(now.back()), first_word(was.back()));
    }
}

// Each reader's own refusals are checked with their exact text in the reader tests;
// here one of each path through the pipeline.
TEST_F(FormatsTest, RefusedInputsNameTheFile)
{
    struct Case {
        const char* name;
        std::string file_name, bytes, reason;
    };
    const auto ramp = [](size_t i, size_t c) { return static_cast<double>(i % 100) + static_cast<double>(c); };
    const Case cases[] = {
        {"unknown station letter", "x.raw",
         lw::binary_image(lw::form3_line('S', 512, "18", "1", "X", "2016-05-01"), records(2, 512, 18)), "map::at"},
        {"no records", "empty.raw", lw::binary_image(lw::form3_line('S', 512, "18", "1", "k"), {}) + std::string(500, '\0'),
         "no records in empty.raw"},
        {"tm4 equal first times", "same.tm4", Tm4File().comment(tm4_comment(-1, "k")).data(5, {1, 2, 3}).data(5, {1, 2, 3}).text(),
         "have the same time"},
        {"tm4 second line raises the channel count", "grow.tm4",
         Tm4File().comment(tm4_comment(20, "k")).data(1e9, {1, 2, 3}).samples(1e9 + 0.05, 20, 600, 5, ramp).text(),
         "fewer than the"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testrun::write_file(dir / c.file_name, c.bytes);
        const testrun::Result r = vimsor({"-o", "out", c.file_name});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.file_name), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bi1"));
    }
}
