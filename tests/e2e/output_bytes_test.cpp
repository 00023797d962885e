// The outputs of whole runs against bytes computed here from the samples,
// with the stand-in's arithmetic (each result is the sample minus the mean of
// its 512-sample block) and C formatting, so that any change in the readers,
// the job files, the result collection or the writers that alters a byte
// shows up.

#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t block = 512;
constexpr size_t blocks = 5;
constexpr size_t samples = blocks * block + 100;  // a partial block at the end
constexpr double hz = 20.0;
constexpr uint32_t start = 1462064461;  // 2016-05-01 01:01:01 UTC
const std::string comment =
    "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01 time: 01:01:01";

int32_t sample(size_t i, size_t c) {
    return static_cast<int32_t>((i * 7919 + c * 104729) % 400001) - 200000;
}

double sample_time(size_t i) { return static_cast<double>(i) / hz + start; }

// results[c][i] for every sample of a whole block.
std::vector<std::vector<double>> stand_in_results() {
    std::vector<std::vector<double>> results(3);
    for (size_t c = 0; c < 3; ++c)
        for (size_t b = 0; b < blocks; ++b) {
            double sum = 0.0;
            for (size_t i = 0; i < block; ++i)
                sum += sample(b * block + i, c);
            const double mean = sum / static_cast<double>(block);
            for (size_t i = 0; i < block; ++i)
                results[c].push_back(sample(b * block + i, c) - mean);
        }
    return results;
}

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string expected_tm4() {
    const auto results = stand_in_results();
    std::string out = comment + "\n";
    for (size_t i = 0; i < blocks * block; ++i) {
        out += printed("%.6f", sample_time(i));
        for (const auto& channel : results)
            out += " " + printed("%g", channel[i]);
        out += "\n";
    }
    return out;
}

// The legacy formats: one record per block, one block per channel, stamped
// with the minute of the day and the second of the block's first sample.
template <typename PutBlock>
std::string expected_legacy(char terminator, PutBlock put_block) {
    const auto results = stand_in_results();
    std::string out = comment + terminator;
    for (size_t b = 0; b < blocks; ++b) {
        const auto s = static_cast<long long>(std::floor(sample_time(b * block)));
        for (const auto& channel : results) {
            std::vector<long long> values;
            for (size_t i = 0; i < block; ++i)
                values.push_back(std::llround(channel[b * block + i]));
            put_block(out, s / 60 % 1440, s % 60, values);
        }
    }
    return out;
}

std::string expected_binary() {
    return expected_legacy('\r', [](std::string& out, long long minute, long long second,
                                    const std::vector<long long>& values) {
        auto word = [&out](long long w) {
            out += static_cast<char>(w & 0xFF);
            out += static_cast<char>((w >> 8) & 0xFF);
        };
        word(minute);
        word(second);
        for (long long v : values)
            word(v);
    });
}

std::string expected_ascii() {
    return expected_legacy('\n', [](std::string& out, long long minute, long long second,
                                    const std::vector<long long>& values) {
        out += std::to_string(minute) + " " + std::to_string(second);
        for (long long v : values)
            out += " " + std::to_string(v);
        out += "\n";
    });
}

void write_nv24(const std::filesystem::path& path) {
    nv24w::File file = nv24w::make_file(3, hz, start);
    file.header.version = 1;
    file.header.station = 1;  // kiruna
    for (size_t i = 0; i < samples; ++i)
        nv24w::add_frame(file, {sample(i, 0), sample(i, 1), sample(i, 2)});
    nv24w::write(path.string(), file);
}

void write_tm4(const std::filesystem::path& path) {
    testwriters::Tm4File file;
    file.comment(testwriters::tm4_comment(hz, "kiruna", 1, "2016-05-01", "01:01:01"));
    file.samples(start, hz, samples, 3, [](size_t i, size_t c) { return sample(i, c); });
    file.save(path);
}

struct Case {
    const char* input;
    void (*write_input)(const std::filesystem::path&);
    std::vector<std::string> options;
    const char* output;
    std::string (*expected)();
};

TEST(OutputBytes, EveryModeMatchesTheIndependentExpectation) {
    const std::vector<Case> cases = {
        {"rec.nv24", write_nv24, {}, "rec.bi1", expected_binary},
        {"rec.nv24", write_nv24, {"-a"}, "rec.da1", expected_ascii},
        {"rec.nv24", write_nv24, {"-4"}, "rec.tm4_1", expected_tm4},
        {"rec.tm4", write_tm4, {"-4"}, "rec.tm4_1", expected_tm4},
        {"rec.tm4", write_tm4, {}, "rec.bi1", expected_binary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " to " + c.output);
        testrun::TempDir dir;
        c.write_input(dir / c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--quiet", "--cpus=2", c.input});
        const testrun::Result result = testrun::run_vimsor(args, dir.path());
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string output = testrun::read_file(dir / c.output);
        const std::string expected = c.expected();
        ASSERT_EQ(output.size(), expected.size());
        EXPECT_TRUE(output == expected) << "first difference at byte "
                                        << std::mismatch(output.begin(), output.end(), expected.begin()).first -
                                               output.begin();
    }
}

}  // namespace
