// Inputs through the whole program with the mavlin stand-in: job files, worker
// command lines, every output mode byte for byte against bytes computed here
// (each result is the sample minus the mean of its 512-sample block), refusals
// and the clean-up.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "legacy_writer.h"
#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

namespace {

using testrun::Case;
using testrun::Expect;
namespace lw = legacywriter;
using Sample = std::function<int32_t(std::size_t, unsigned)>;

const std::string kiruna = "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01";

struct Recording {
    unsigned channels = 3;
    double hz = 20.0;
    std::size_t frames = 1024;
    std::string comment = kiruna + " time: 00:00:00";
    // +m, -m, ... within a block, so that every block's mean is 0; m = 1 + row
    // number (up to 30000) names the row a value comes from.
    Sample sample = [](std::size_t i, unsigned c) {
        const auto m = static_cast<int32_t>(1 + ((i / 512) * 3 + c) % 30000);
        return i % 2 == 0 ? m : -m;
    };
    uint32_t start = 1462060800;  // 2016-05-01 00:00:00 UTC
};

std::string nv24(const Recording& r, uint8_t station = 1, uint32_t host_offset = 0) {
    nv24w::File file = nv24w::make_file(r.channels, r.hz, r.start);
    file.header.version = 1;
    file.header.station = station;
    file.header.host_timestamp = r.start + host_offset;
    for (std::size_t i = 0; i < r.frames; ++i)
        for (unsigned c = 0; c < r.channels; ++c)
            file.samples.push_back(static_cast<uint32_t>(r.sample(i, c)));
    return nv24w::encode(file);
}

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The output of r in mode 'b' (binary), 'a' (ascii) or '4' (tm4).
std::string expected(const Recording& r, char mode, double scale = 1) {
    const std::size_t blocks = r.frames / 512;
    std::vector<std::vector<double>> results(r.channels);
    for (unsigned c = 0; c < r.channels; ++c)
        for (std::size_t b = 0; b < blocks; ++b) {
            double sum = 0.0;
            for (std::size_t i = 0; i < 512; ++i)
                sum += r.sample(b * 512 + i, c);
            for (std::size_t i = 0; i < 512; ++i)
                results[c].push_back((r.sample(b * 512 + i, c) - sum / 512) * scale);
        }
    const auto time = [&](std::size_t i) { return static_cast<double>(i) / r.hz + r.start; };
    std::string out = r.comment + (mode == 'b' ? "\r" : "\n");
    for (std::size_t i = 0; mode == '4' && i < blocks * 512; ++i) {
        out += printed("%.6f", time(i));
        for (const auto& channel : results)
            out += " " + printed("%g", channel[i]);
        out += "\n";
    }
    // Legacy modes: one block per channel, stamped with the minute of the day and the second.
    const auto word = [&](long long w) {
        out += mode == 'a' ? (out.back() == '\n' ? "" : " ") + std::to_string(w)
                           : std::string{static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
    };
    for (std::size_t b = 0; mode != '4' && b < blocks; ++b)
        for (const auto& channel : results) {
            const auto s = static_cast<long long>(std::floor(time(b * 512)));
            word(s / 60 % 1440);
            word(s % 60);
            for (std::size_t i = 0; i < 512; ++i)
                word(std::llround(channel[b * 512 + i]));
            out += mode == 'a' ? "\n" : "";
        }
    return out;
}

// A worker's arguments as "runs" lists them: options, then rows from..to step.
std::string run_line(const std::string& options, char worker, int from, int to, int step = 1) {
    std::string s = "--swatch " + options;
    for (int row = from; row <= to; row += step) {
        char name[16];
        std::snprintf(name, sizeof name, " vm%c%04d.dat", worker, row);
        s += name;
    }
    return s + " \n";
}

// Records whose time words count on from minute word 60 (01:00:00 of the day).
std::vector<lw::Record> records(std::size_t count, std::size_t length, double hz) {
    std::vector<lw::Record> out;
    for (std::size_t r = 0; r < count; ++r) {
        const auto seconds = static_cast<int>(static_cast<double>(r * length) / hz);
        out.push_back(
            lw::make_record(length, 60 + seconds / 60, seconds % 60, static_cast<int>(r)));
    }
    return out;
}

// An input the driver refuses (bytes "": none): status 1, message last on
// stderr, no job file, nothing left but the input and the log.
Case refused(const std::string& file, const std::string& bytes, const std::string& message) {
    const std::string ls = bytes.empty()      ? "logfile\n"
                           : file < "logfile" ? file + "\nlogfile\n"
                                              : "logfile\n" + file + "\n";
    std::vector<std::pair<std::string, std::string>> files;
    if (!bytes.empty())
        files.push_back({file, bytes});
    return {files,
            {file},
            {{"status", '=', "1"}, {"err", '>', message}, {"saved/", '=', ""}, {"ls", '=', ls}}};
}

TEST(Pipeline, InputsWorkersOutputsAndRefusals) {
    const Recording k;  // 3 channels of 2 blocks: rows 0 to 5
    const Recording example{
        3, 18, 7680, "!S512Tidserier sampfrek: 18" + kiruna.substr(27) + " time: 00:00:00",
        [](std::size_t i, unsigned c) { return int32_t(i % 100) - 12 - int32_t(c); }};
    const Recording fast{1, 20000, 512, k.comment, [](std::size_t i, unsigned) {
                             return i == 0 ? 1234567 : i == 1 ? -200 : int32_t(i);
                         }};
    // Mean 0; only the magnitudes 100 reach half the largest.
    const Recording pulses{1, 20, 512, k.comment, [](std::size_t i, unsigned) {
                               return i % 2 == 0 ? 100 - 200 * (i % 4 == 2)
                                                 : 10 - 20 * (i % 4 == 3);
                           }};
    const Recording b{
        2, 10, 600,
        "!S512Tidserier sampfrek: 10 gain: 1 station: uppsala date: 2016-05-01 time: 00:00:00"};
    const Recording one_block{3, 20, 512}, short_one{3, 20, 100}, rows_10002{3, 20, 3334 * 512};
    const std::string k_tm4 =
        testwriters::Tm4File()
            .comment(k.comment)
            .samples(k.start, 20, k.frames, 3,
                     [&](std::size_t i, std::size_t c) { return k.sample(i, c); })
            .text();
    const std::pair<std::string, std::string> k_in{"k.nv24", nv24(k)};
    const std::string k18 = "!S512Tidserier sampfrek: 18" + kiruna.substr(27) + " time: 01:00:00",
                      s128 = lw::form3_line('S', 128, "18", "2", "K", "2016-05-01", "00:00:00"),
                      tm4_values = "\\.[0-9]{6}( [-0-9.e+]+){3}\n";
    const std::string job = "saved/vma0000.dat",
                      cmd = "/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 ", q = "--quiet";
    std::string example_out, example_runs;
    for (char w = 'a'; w <= 'd'; ++w) {
        example_out += "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vm" + std::string{w} +
                       "????.dat\n";
        example_runs += run_line("-#2sf128 -p512i0.0555556v0.05", w, w - 'a', 44, 4);
    }
    const auto workers = [&](const std::string& o) { return run_line(o, 'a', 0, 5); };
    // clang-format off
    const std::vector<Case> cases = {
        {{{"data/", ""}, {"data/k0105.raw", nv24(example)}}, {"--cpus=4", "data/k0105.raw"},
         {{"status", '=', "0"},
          {"out", '=', "Using:\n\tScale: 1\n\tThreshold: 0.05\ndata/k0105.raw\n"
               "Found 4 cpus\nUsing options: --swatch -#2sf128\n" + example_out +
               "Waiting for pid #.#.#.#.\nWrites file: k0105.bi1\n"},
          {"err", '>', "INFO: Time diff: 0 seconds\n7680 0\n"}, {"runs", '=', example_runs},
          {job, '<', "512\n0 -12\n0.0555556 -11\n0.111111 -10\n"}, {job, '>', "\n28.3889 -1\n"},
          {job, 'n', "513"}, {"saved/vmb0001.dat", '<', "512\n0 -13\n"},  // block 0 of slot 1
          {"k0105.bi1", '=', expected(example, 'b')}, {"ls", '=', "data\nk0105.bi1\nlogfile\n"}}},
        // Job files write numbers in the general format; the test form holds values only.
        {{{"fast.nv24", nv24(fast)}}, {"--cpus=1", "fast.nv24"},
         {{job, '<', "512\n0 1.23457e+06\n5e-05 -200\n0.0001 2\n"}, {job, '>', "\n0.02555 511\n"},
          {job, 'n', "513"}}},
        {{{"fast.nv24", nv24(fast)}}, {"--cpus=1", "--test", "fast.nv24"},
         {{job, '<', "1.23457e+06\n-200\n2\n"}, {job, '>', "\n511\n"}, {job, 'n', "512"}}},
        // Options reach the worker command lines.
        {{k_in}, {"--cpus=1", "--sdev-div", "-v", "0.2", "-l", "0.1", "k.nv24"},
         {{"out", '~', "/bin/sh mavlin --swatch -#2sf128z1 -p512i0.05v0.2w0.1 vma????.dat\n"},
          {"runs", '=', workers("-#2sf128z1 -p512i0.05v0.2w0.1")},
          {"ls", '=', "k.bi3\nk.nv24\nlogfile\n"}}},  // band-pass: the "3" file only
        {{k_in}, {"--cpus=1", q, "--test", "--sdev-mul", "k.nv24"},
         {{"out", '=', ""}, {"runs", '=', workers("-#2sf128oz2 -# -p512i0.05v0.05")}}},
        {{{"k.nv24", nv24(pulses)}}, {"-b", "-a", "-v", "0.5", "-d", "2", "k.nv24"},
         {{"k.da1", '=', expected(pulses, 'a', 2)}, {"k.da2", '~', "\n0 0 200 0 -200 0 200 "},
          {"k.da2", 'n', "2"}, {"ls", '=', "k.da1\nk.da2\nk.nv24\nlogfile\n"}}},
        // A TM4 input, its bytes as the TM4 output mode writes them.
        {{{"k.tm4", k_tm4}}, {"-4", q, "--cpus=2", "k.tm4"},
         {{"k.tm4_1", '=', expected(k, '4')}, {"ls", '=', "k.tm4\nk.tm4_1\nlogfile\n"}}},
        // Fewer samples than a block; more workers than rows.
        {{{"short.nv24", nv24(short_one)}}, {"--cpus=2", "--mode=tm4", "short.nv24"},
         {{"out", '~', "vma????.dat\n" + cmd + "vmb????.dat\n"}, {"err", '~', "\n100 0\n"},
          {"short.tm4_1", '=', k.comment + "\n"}, {"saved/", '=', ""}}},
        {{{"k.nv24", nv24(one_block)}}, {"--cpus=30", "-4", "k.nv24"},
         {{"err", '~',
          "Warning: 30 workers asked for, using 26 (worker letters run from a to z)\n"},
          {"out", '*', "Found 26 cpus\nUsing options: [^\n]*(\n/bin/sh [^\n]*){26}\nWaiting"},
          {"out", '~', " vmz????.dat\nWaiting"}, {"runs", 'n', "26"},
          {"k.tm4_1", '=', expected(one_block, '4')}}},
        // Every file of a run is processed on its own; the rows are numbered from 0 again.
        {{{"a.nv24", nv24(k)}, {"b.nv24", nv24(b, 4, 3)}}, {"--cpus=1", "--test", "--mode=tm4",
         "a.nv24", "b.nv24"},
         {{"out", '*', "(Using options: --swatch -#2sf128o\n[^]*){2}"}, {"out", '!', "-#2sf128oo"},
          {"a.tm4_1", '=', expected(k, '4')}, {"b.tm4_1", '=', expected(b, '4')},
          {"runs", '=', workers("-#2sf128o -p512i0.05v0.05") + run_line("-#2sf128o -p512i0.1v0.05",
           'a', 0, 1)},
          {"ls", '=', "a.nv24\na.tm4_1\nb.nv24\nb.tm4_1\nlogfile\n"}}},
        {{{"long.nv24", nv24(rows_10002)}}, {"--cpus=2", "long.nv24"},
         {{"status", '=', "0"}, {"long.bi1", '=', expected(rows_10002, 'b')},
          {"ls", '=', "logfile\nlong.bi1\nlong.nv24\n"}}, "", "exec \"$real\" \"$@\""},
        // Without the namebase's folder no job file can be made.
        {{k_in}, {"--namebase=nodir/vm", "k.nv24"},
         {{"status", '=', "1"}, {"err", '~', "can't open nodir/vma0000.dat\n"}}},
        // A namebase with blanks is quoted for the shell.
        {{k_in, {"my dir/", ""}}, {"--cpus=1", "--namebase=my dir/v m", "k.nv24"},
         {{"status", '=', "0"}, {"k.bi1", '=', expected(k, 'b')}, {"my dir/", '=', ""},
          {"ls", '=', "k.bi1\nk.nv24\nlogfile\nmy dir\n"}}},
        // Legacy inputs, binary and old-type (of station unknown, dated by its name): the
        // comment line made of the header, the first time, a line per analysed sample.
        {{{"in128.raw", lw::binary_image(s128, records(8, 128, 18))}}, {q, "-4", "in128.raw"},
         {{"err", '~', "\n1024 0\n"}, {"in128.tm4_1", 'n', "1025"},
          {"in128.tm4_1", '*', "^" + k18 + "\n1462064400" + tm4_values}}},
        {{{"K6011512.raw", lw::binary_image("T old recorder", records(4, 128, 18), true)}},
         {q, "-4", "K6011512.raw"}, {{"err", '~', "\n512 0\n"}, {"K6011512.tm4_1", 'n', "513"},
          {"K6011512.tm4_1", '*', "^!S512Tidserier sampfrek: 18 gain: 1 station: unknown date: "
                                  "2016-01-15 time: 06:00:00\n1452837600" + tm4_values}}},
        // The driver's refusals: no reader (no file, no line end), a reader's error, no station.
        refused("missing.nv24", "", "can't read missing.nv24: No such file or directory\n"),
        refused("noeol.raw", "!S512" + std::string(3100, 'x'),
                "can't read noeol.raw: no line end in the first 3072 bytes\n"),
        refused("cut.nv24", nv24({}).substr(0, 20), "can't read cut.nv24: Unknown magic chns\n"),
        refused("station9.nv24", nv24({}, 9), "can't read station9.nv24: unknown station id 9\n"),
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(testrun::run_case(c), "");
}

// About 1.4 million row files: run on request (VIMSOR_SLOW_TESTS=1).
TEST(Pipeline, WeekOf100HzDataGoesThroughOnTwoCoresSlow) {
    if (std::getenv("VIMSOR_SLOW_TESTS") == nullptr)
        GTEST_SKIP() << "set VIMSOR_SLOW_TESTS=1 to run the week-long recording";
    const Recording r{3, 100, 7 * 86400 * 100};  // 354375 rows; the row marks wrap at 30000
    testrun::Workspace w;
    w.put("week.nv24", nv24(r));
    w.mavlin("exec \"$real\" \"$@\"");
    ASSERT_EQ(w.run({"--cpus=2", "--quiet", "week.nv24"}).status, 0);
    const std::string binary = testrun::read_file(w.dir / "week.bi1");
    ASSERT_EQ(binary.size(), r.comment.size() + 2 + 354375 * std::size_t{1028});
    const auto word = [&](std::size_t k) {  // in the last record
        const std::size_t at = binary.size() - 3 * 1028 + 2 * k;
        return int16_t(uint8_t(binary[at]) | uint8_t(binary[at + 1]) << 8);
    };
    EXPECT_EQ(word(2), 1 + 354372 % 30000);
    EXPECT_EQ(word(2 * 514 + 3), -(1 + 354374 % 30000));
    EXPECT_EQ(w.get("ls", {}), "logfile\nweek.bi1\nweek.nv24\n");
}

}  // namespace
