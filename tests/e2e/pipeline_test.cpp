// One input file through the whole program: job files, worker command lines,
// result collection, the output files and the clean-up, with the mavlin
// stand-in. A "mavlin" script placed before it on PATH logs every command
// line it is given and keeps a copy of the job files, which the run removes.

#include <sys/statvfs.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "nv24_writer.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using testrun::read_file;
using testrun::TempDir;

constexpr uint32_t may_first_2016 = 1462060800;  // 2016-05-01 00:00:00 UTC

// Sample of frame i, channel c: +m, -m, +m, ... within a block, so every
// block's mean is 0 and the stand-in's weak series is the samples themselves;
// m = 1 + row number names the row the value comes from.
int32_t row_marked(std::size_t i, unsigned c, unsigned channels) {
    const auto row = static_cast<int32_t>((i / 512) * channels + c);
    const int32_t magnitude = 1 + row % 30000;
    return i % 2 == 0 ? magnitude : -magnitude;
}

struct Recording {
    unsigned channels = 3;
    double hz = 20.0;
    std::size_t frames = 1024;
    uint8_t station = 1;  // kiruna
    uint32_t host_offset = 0;
    std::function<int32_t(std::size_t, unsigned)> sample;
};

void write_recording(const fs::path& path, const Recording& r) {
    nv24w::File file = nv24w::make_file(r.channels, r.hz, may_first_2016);
    file.header.version = 1;
    file.header.station = r.station;
    file.header.host_timestamp = may_first_2016 + r.host_offset;
    file.samples.reserve(r.frames * r.channels);
    for (std::size_t i = 0; i < r.frames; ++i)
        for (unsigned c = 0; c < r.channels; ++c)
            file.samples.push_back(static_cast<uint32_t>(r.sample ? r.sample(i, c) : row_marked(i, c, r.channels)));
    nv24w::write_bytes(path.string(), nv24w::encode(file));
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string without_pids(const std::string& out) {
    return std::regex_replace(out, std::regex("Waiting for pid ([0-9]+\\.)*"), "Waiting for pid ");
}

// The 16-bit little-endian word at byte offset at.
int word_at(const std::string& bytes, std::size_t at) {
    return static_cast<int16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

const std::string kiruna_line =
    "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00";

class PipelineRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "fakebin");
        fs::create_directories(dir / "saved");
        fs::create_directories(dir / "logs");
        testrun::write_file(dir / "fakebin/mavlin",
                            "#!/bin/sh\n"
                            "here=$(dirname \"$0\")/..\n"
                            "for a; do printf '%s\\n' \"$a\"; done > \"$here/logs/$$\"\n"
                            "for a; do case \"$a\" in *.dat) [ -f \"$a\" ] && cp \"$a\" \"$here/saved/\";; esac; done\n"
                            "exec '" + (testrun::bin_dir() / "mavlin").string() + "' \"$@\"\n");
        fs::permissions(dir / "fakebin/mavlin", fs::perms::owner_all);
    }

    // vimsor in dir, with the logging mavlin first on PATH.
    testrun::Result vimsor(const std::vector<std::string>& args) {
        std::vector<std::string> sh_args{"-c", "PATH=\"$0:$PATH\" exec vimsor \"$@\"", (dir / "fakebin").string()};
        sh_args.insert(sh_args.end(), args.begin(), args.end());
        return testrun::run("/bin/sh", sh_args, dir.path());
    }

    // The argument lists the analysis program was given, one per run, in the
    // order of their first job file name.
    std::vector<std::vector<std::string>> mavlin_runs() {
        std::vector<std::vector<std::string>> runs;
        for (const auto& entry : fs::directory_iterator(dir / "logs"))
            runs.push_back(lines_of(read_file(entry.path())));
        std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.back() < b.back(); });
        return runs;
    }

    std::string saved(const std::string& name) { return read_file(dir / "saved" / name); }

    // Files of the working directory whose names start with prefix.
    std::vector<std::string> files_starting(const std::string& prefix) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }

    TempDir dir;
};

TEST_F(PipelineRun, ExampleRunOfFourWorkers) {
    fs::create_directory(dir / "data");
    Recording r;
    r.hz = 18.0;
    r.frames = 7680;
    r.sample = [](std::size_t i, unsigned c) { return static_cast<int32_t>(i % 100) - 12 - static_cast<int32_t>(c); };
    write_recording(dir / "data/k0105.raw", r);

    const auto result = vimsor({"--cpus=4", (dir / "data/k0105.raw").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(without_pids(result.out),
              "Using:\n\tScale: 1\n\tThreshold: 0.05\n" + (dir / "data/k0105.raw").string() +
                  "\nFound 4 cpus\nUsing options: --swatch -#2sf128\n"
                  "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vma????.dat\n"
                  "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vmb????.dat\n"
                  "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vmc????.dat\n"
                  "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vmd????.dat\n"
                  "Waiting for pid \n"
                  "Writes file: k0105.bi1\n");
    EXPECT_TRUE(std::regex_search(result.out, std::regex("Waiting for pid [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\\.\n")));
    const std::string tail = "INFO: Time diff: 0 seconds\n7680 0\n";
    ASSERT_GE(result.err.size(), tail.size());
    EXPECT_EQ(result.err.substr(result.err.size() - tail.size()), tail);

    // 15 blocks of 3 rows; worker a has rows 0, 4, ... 44 in the shell's order.
    const auto runs = mavlin_runs();
    ASSERT_EQ(runs.size(), 4u);
    std::vector<std::string> expected{"--swatch", "-#2sf128", "-p512i0.0555556v0.05"};
    for (int row = 0; row < 45; row += 4) {
        char name[16];
        std::snprintf(name, sizeof name, "vma%04d.dat", row);
        expected.push_back(name);
    }
    EXPECT_EQ(runs[0], expected);
    EXPECT_EQ(runs[3].back(), "vmd0043.dat");

    const auto job = lines_of(saved("vma0000.dat"));
    ASSERT_EQ(job.size(), 513u);
    EXPECT_EQ(job[0], "512");
    EXPECT_EQ(job[1], "0 -12");
    EXPECT_EQ(job[2], "0.0555556 -11");
    EXPECT_EQ(job[3], "0.111111 -10");
    EXPECT_EQ(job[512], "28.3889 -1");  // sample 511 is 511 % 100 - 12
    EXPECT_EQ(lines_of(saved("vmb0001.dat"))[1], "0 -13");  // block 0 of slot 1

    const std::string output = read_file(dir / "k0105.bi1");
    const std::string comment = "!S512Tidserier sampfrek: 18 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00";
    ASSERT_EQ(output.size(), comment.size() + 1 + 45 * 1028);
    EXPECT_EQ(output.substr(0, comment.size() + 1), comment + "\r");
    EXPECT_TRUE(files_starting("vm").empty());
}

TEST_F(PipelineRun, JobFilesWriteNumbersInGeneralFormatAndTestFormHoldsValuesOnly) {
    Recording r;
    r.hz = 20000.0;
    r.frames = 512;
    r.channels = 1;
    r.sample = [](std::size_t i, unsigned) { return i == 0 ? 1234567 : i == 1 ? -200 : static_cast<int32_t>(i); };
    write_recording(dir / "fast.nv24", r);

    auto result = vimsor({"--cpus=1", "fast.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("/bin/sh mavlin --swatch -#2sf128 -p512i5e-05v0.05 vma????.dat\n"), std::string::npos);
    auto job = lines_of(saved("vma0000.dat"));
    ASSERT_EQ(job.size(), 513u);
    EXPECT_EQ(job[1], "0 1.23457e+06");
    EXPECT_EQ(job[2], "5e-05 -200");
    EXPECT_EQ(job[3], "0.0001 2");
    EXPECT_EQ(job[512], "0.02555 511");

    fs::remove(dir / "saved/vma0000.dat");
    result = vimsor({"--cpus=1", "--test", "fast.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Using options: --swatch -#2sf128o\n"), std::string::npos);
    job = lines_of(saved("vma0000.dat"));
    ASSERT_EQ(job.size(), 512u);
    EXPECT_EQ(job[0], "1.23457e+06");
    EXPECT_EQ(job[1], "-200");
    EXPECT_EQ(job[511], "511");
}

TEST_F(PipelineRun, OptionsReachTheWorkerCommandLines) {
    write_recording(dir / "k.nv24", Recording{});
    struct Case {
        std::vector<std::string> args;
        std::string stdout_part;
        std::vector<std::string> mavlin_options;
    };
    const Case cases[] = {
        {{"--sdev-div"}, "/bin/sh mavlin --swatch -#2sf128z1 -p512i0.05v0.05 vma????.dat\n",
         {"--swatch", "-#2sf128z1", "-p512i0.05v0.05"}},
        {{"--sdev-mul", "--test"}, "Using options: --swatch -#2sf128oz2\n", {"--swatch", "-#2sf128oz2", "-p512i0.05v0.05"}},
        {{"-v", "0.2", "-l", "0.1"}, "/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.2w0.1 vma????.dat\n",
         {"--swatch", "-#2sf128", "-p512i0.05v0.2w0.1"}},
        {{"--quiet", "--test", "--sdev-mul"}, "", {"--swatch", "-#2sf128oz2", "-#", "-p512i0.05v0.05"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir / "logs");
        fs::create_directory(dir / "logs");
        std::vector<std::string> args{"--cpus=1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("k.nv24");
        const auto result = vimsor(args);
        ASSERT_EQ(result.status, 0) << result.err;
        if (c.stdout_part.empty())
            EXPECT_EQ(result.out, "");
        else
            EXPECT_NE(result.out.find(c.stdout_part), std::string::npos) << result.out;
        const auto runs = mavlin_runs();
        ASSERT_EQ(runs.size(), 1u);
        std::vector<std::string> expected = c.mavlin_options;
        for (const char* name : {"vma0000.dat", "vma0001.dat", "vma0002.dat", "vma0003.dat", "vma0004.dat", "vma0005.dat"})
            expected.push_back(name);
        EXPECT_EQ(runs[0], expected) << c.args[0];
    }
    // The band-pass run wrote the "3" file only.
    EXPECT_TRUE(fs::exists(dir / "k.bi3"));
    EXPECT_FALSE(fs::exists(dir / "k.bi2"));
}

TEST_F(PipelineRun, CpusOptionSetsTheWorkerCount) {
    write_recording(dir / "k.nv24", Recording{});
    const auto result = vimsor({"--cpus=3", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Found 3 cpus\n"), std::string::npos);
    EXPECT_NE(result.out.find("vmc????.dat\nWaiting for pid"), std::string::npos);
    EXPECT_EQ(mavlin_runs().size(), 3u);
}

TEST_F(PipelineRun, EveryOutputModeCarriesTheCollectedResults) {
    write_recording(dir / "k.nv24", Recording{});  // 2 blocks, rows 0 to 5
    auto result = vimsor({"k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string binary = read_file(dir / "k.bi1");
    ASSERT_EQ(binary.size(), kiruna_line.size() + 1 + 6 * 1028);
    const std::size_t body = kiruna_line.size() + 1;
    EXPECT_EQ(word_at(binary, body), 0);                  // minute word
    EXPECT_EQ(word_at(binary, body + 4), 1);              // row 0, sample 0
    EXPECT_EQ(word_at(binary, body + 1028 + 6), -2);      // row 1, sample 1
    const std::size_t second_record = body + 3 * 1028;
    EXPECT_EQ(word_at(binary, second_record + 2), 25);    // 512 samples at 20 Hz: second 25.6
    EXPECT_EQ(word_at(binary, second_record + 2 * 1028 + 4), 6);  // row 5

    result = vimsor({"-a", "-d", "2", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto ascii = lines_of(read_file(dir / "k.da1"));
    ASSERT_EQ(ascii.size(), 7u);
    EXPECT_EQ(ascii[0], kiruna_line);
    EXPECT_EQ(ascii[1].substr(0, 10), "0 0 2 -2 2");  // scaled by 2
    EXPECT_EQ(ascii[6].substr(0, 14), "0 25 12 -12 12");

    result = vimsor({"--mode=tm4", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto tm4 = lines_of(read_file(dir / "k.tm4_1"));
    ASSERT_EQ(tm4.size(), 1025u);
    EXPECT_EQ(tm4[0], kiruna_line);
    EXPECT_EQ(tm4[1], "1462060800.000000 1 2 3");
    EXPECT_EQ(tm4[1024], "1462060851.150000 -4 -5 -6");
    EXPECT_TRUE(files_starting("vm").empty());
}

TEST_F(PipelineRun, BothStrengthsWriteTheWeakAndTheStrongFile) {
    Recording r;
    r.frames = 512;
    r.channels = 1;
    // Mean 0; only the samples of magnitude 100 reach half the largest magnitude.
    r.sample = [](std::size_t i, unsigned) { return i % 4 == 0 ? 100 : i % 4 == 2 ? -100 : i % 4 == 1 ? 10 : -10; };
    write_recording(dir / "k.nv24", r);
    const auto result = vimsor({"-b", "-a", "-v", "0.5", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Writes file: k.da1\nWrites file: k.da2\n"), std::string::npos);
    const auto weak = lines_of(read_file(dir / "k.da1"));
    const auto strong = lines_of(read_file(dir / "k.da2"));
    ASSERT_EQ(weak.size(), 2u);
    ASSERT_EQ(strong.size(), 2u);
    EXPECT_EQ(weak[1].substr(0, 19), "0 0 100 10 -100 -10");
    EXPECT_EQ(strong[1].substr(0, 16), "0 0 100 0 -100 0");
    EXPECT_TRUE(files_starting("vm").empty());
}

TEST_F(PipelineRun, FewerThan512SamplesMakeNoRows) {
    Recording r;
    r.frames = 100;
    write_recording(dir / "short.nv24", r);
    const auto result = vimsor({"--cpus=2", "--mode=tm4", "short.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("vma????.dat\n/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 vmb????.dat\n"),
              std::string::npos);
    EXPECT_NE(result.err.find("\n100 0\n"), std::string::npos);
    EXPECT_EQ(read_file(dir / "short.tm4_1"), kiruna_line + "\n");
    EXPECT_TRUE(fs::is_empty(dir / "saved"));
}

TEST_F(PipelineRun, MoreWorkersThanRows) {
    Recording r;
    r.frames = 512;  // 3 rows
    write_recording(dir / "k.nv24", r);
    const auto result = vimsor({"--cpus=5", "--mode=tm4", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("vme????.dat\nWaiting for pid"), std::string::npos);
    EXPECT_EQ(mavlin_runs().size(), 5u);
    const auto tm4 = lines_of(read_file(dir / "k.tm4_1"));
    ASSERT_EQ(tm4.size(), 513u);
    EXPECT_EQ(tm4[512], "1462060825.550000 -1 -2 -3");
}

TEST_F(PipelineRun, EveryFileOfARunIsProcessedOnItsOwn) {
    write_recording(dir / "a.nv24", Recording{});
    Recording b;
    b.channels = 2;
    b.hz = 10.0;
    b.frames = 600;
    b.station = 4;  // uppsala
    b.host_offset = 3;
    write_recording(dir / "b.nv24", b);

    const auto result = vimsor({"--cpus=1", "--test", "--mode=tm4", "a.nv24", "b.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto out = lines_of(result.out);
    EXPECT_EQ(std::count(out.begin(), out.end(), "Using options: --swatch -#2sf128o"), 2);
    EXPECT_NE(result.out.find("/bin/sh mavlin --swatch -#2sf128o -p512i0.1v0.05 vma????.dat\n"), std::string::npos);
    EXPECT_NE(result.err.find("INFO: Time diff: 0 seconds\n1024 0\n"), std::string::npos);
    EXPECT_NE(result.err.find("INFO: Time diff: 3 seconds\n600 0\n"), std::string::npos);

    const auto a = lines_of(read_file(dir / "a.tm4_1"));
    ASSERT_EQ(a.size(), 1025u);
    EXPECT_EQ(a[0], kiruna_line);
    const auto bl = lines_of(read_file(dir / "b.tm4_1"));
    ASSERT_EQ(bl.size(), 513u);
    EXPECT_EQ(bl[0], "!S512Tidserier sampfrek: 10 gain: 1 station: uppsala date: 2016-05-01 time: 00:00:00");
    EXPECT_EQ(bl[1], "1462060800.000000 1 2");
    EXPECT_EQ(bl[512], "1462060851.100000 -1 -2");

    // The second file's rows are numbered from 0 again.
    const auto runs = mavlin_runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"--swatch", "-#2sf128o", "-p512i0.1v0.05", "vma0000.dat", "vma0001.dat"}));
    EXPECT_TRUE(files_starting("vm").empty());
}

TEST_F(PipelineRun, RowsFrom10000OnAreAnalysedAndCollected) {
    Recording r;
    r.frames = 3334 * 512;  // 10002 rows
    write_recording(dir / "long.nv24", r);
    const auto result = testrun::run_vimsor({"--cpus=2", "long.nv24"}, dir.path());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 vma????.dat vma?????.dat\n"
                              "/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 vmb????.dat vmb?????.dat\n"),
              std::string::npos)
        << result.out;
    const std::string binary = read_file(dir / "long.bi1");
    ASSERT_EQ(binary.size(), kiruna_line.size() + 1 + 10002 * 1028);
    // The last record holds rows 9999, 10000 and 10001.
    const std::size_t last_record = binary.size() - 3 * 1028;
    EXPECT_EQ(word_at(binary, last_record + 4), 10000);
    EXPECT_EQ(word_at(binary, last_record + 1028 + 4), 10001);
    EXPECT_EQ(word_at(binary, last_record + 2 * 1028 + 6), -10002);
    EXPECT_TRUE(files_starting("vm").empty());
}

TEST_F(PipelineRun, UnwritableOutputsEndTheRunNamingTheFile) {
    write_recording(dir / "k.nv24", Recording{});
    fs::create_symlink("/dev/full", dir / "full.bi1");
    auto result = vimsor({"-o", "full", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't write full.bi1: No space left on device\n"), std::string::npos) << result.err;

    result = vimsor({"--namebase=nb", "-o", "nodir/out", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't open nodir/out.bi1\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Writes file:"), std::string::npos);

    result = vimsor({"--namebase=nodir/vm", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't open nodir/vma0000.dat\n"), std::string::npos) << result.err;

    fs::create_symlink("/dev/full", dir / "fa0000.dat");
    result = vimsor({"--namebase=f", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't write fa0000.dat: No space left on device\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("/bin/sh"), std::string::npos);  // no worker started
}

TEST_F(PipelineRun, RefusedInputsNameTheFileAndWriteNoJobFile) {
    Recording unknown_station;
    unknown_station.station = 9;
    write_recording(dir / "station9.nv24", unknown_station);
    write_recording(dir / "cut.nv24", Recording{});
    std::string cut = read_file(dir / "cut.nv24");
    testrun::write_file(dir / "cut.nv24", cut.substr(0, 20));
    testrun::write_file(dir / "noeol.raw", "!S512" + std::string(3100, 'x'));

    const std::pair<std::string, std::string> cases[] = {
        {"missing.nv24", "can't read missing.nv24: No such file or directory\n"},
        {"noeol.raw", "can't read noeol.raw: no line end in the first 3072 bytes\n"},
        {"cut.nv24", "can't read cut.nv24: Unknown magic chns\n"},
        {"station9.nv24", "can't read station9.nv24: unknown station id 9\n"},
    };
    for (const auto& [input, message] : cases) {
        const auto result = vimsor({input});
        EXPECT_EQ(result.status, 1) << input;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_TRUE(fs::is_empty(dir / "saved")) << input;
        EXPECT_TRUE(files_starting("vm").empty()) << input;
    }
}

TEST_F(PipelineRun, NamebaseWithBlanksAndShellMetacharactersIsQuoted) {
    write_recording(dir / "k.nv24", Recording{});
    fs::create_directory(dir / "my dir");
    auto result = vimsor({"--cpus=1", "--namebase=my dir/v m", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 'my dir/v m'a????.dat\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(read_file(dir / "k.bi1").size(), kiruna_line.size() + 1 + 6 * 1028);
    EXPECT_TRUE(fs::is_empty(dir / "my dir"));

    result = vimsor({"--cpus=1", "--namebase=x;touch pwned;", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(dir / "pwned"));
    EXPECT_TRUE(files_starting("x;").empty());
}

TEST_F(PipelineRun, WorkerCountIsCappedAt26) {
    Recording r;
    r.frames = 512;
    write_recording(dir / "k.nv24", r);
    const auto result = vimsor({"--cpus=30", "k.nv24"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("Warning: 30 workers asked for, using 26 (worker letters run from a to z)\n"),
              std::string::npos);
    const auto out = lines_of(result.out);
    EXPECT_EQ(std::count_if(out.begin(), out.end(), [](const std::string& l) { return l.rfind("/bin/sh ", 0) == 0; }),
              26);
    EXPECT_NE(result.out.find("Found 26 cpus\n"), std::string::npos);
    EXPECT_NE(result.out.find(" vmz????.dat\nWaiting"), std::string::npos);
}

TEST_F(PipelineRun, WorkerEndedBySignalIsReportedAndItsMissingResultsEndTheRun) {
    write_recording(dir / "k.nv24", Recording{});
    const auto result = vimsor({"--cpus=1", "--options=--swatch; kill -9 $$; :", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(std::regex_search(result.err, std::regex("Warning: worker a \\(pid [0-9]+\\) ended by signal 9 \\(Killed\\)\n")))
        << result.err;
    EXPECT_NE(result.err.find("can't open vma0000.siw\n"), std::string::npos);
}

// The week's 1.4 million row files are created and removed many times faster
// in memory than on a disk file system; /dev/shm is used when it and the free
// memory have room for the row files (about 5 GB) besides vimsor's stores
// (about 3.5 GB).
class MemoryDir {
public:
    MemoryDir() {
        struct statvfs fs_info {};
        constexpr unsigned long long needed = 12ULL << 30;
        const unsigned long long free_memory =
            static_cast<unsigned long long>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
        if (statvfs("/dev/shm", &fs_info) != 0 ||
            static_cast<unsigned long long>(fs_info.f_bavail) * fs_info.f_frsize < needed || free_memory < needed)
            return;
        char pattern[] = "/dev/shm/vimsor-week-XXXXXX";
        if (mkdtemp(pattern) != nullptr)
            m_path = pattern;
    }
    ~MemoryDir() {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// About 1.4 million row files: run on request (VIMSOR_SLOW_TESTS=1), since on
// a busy disk the clean-up alone can take longer than the test time limit.
TEST_F(PipelineRun, WeekOf100HzDataGoesThroughOnTwoCoresSlow) {
    if (std::getenv("VIMSOR_SLOW_TESTS") == nullptr)
        GTEST_SKIP() << "set VIMSOR_SLOW_TESTS=1 to run the week-long recording";
    const MemoryDir memory;
    const fs::path work = memory.path().empty() ? dir.path() : memory.path();
    Recording r;
    r.hz = 100.0;
    r.frames = 7 * 86400 * 100;  // 354375 rows
    write_recording(work / "week.nv24", r);
    const auto result = testrun::run_vimsor({"--cpus=2", "--quiet", "week.nv24"}, work);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string comment = "!S512Tidserier sampfrek: 100 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00";
    const std::string binary = read_file(work / "week.bi1");
    ASSERT_EQ(binary.size(), comment.size() + 1 + 354375 * std::size_t{1028});
    const std::size_t last_record = binary.size() - 3 * 1028;
    // Rows 354372 to 354374; the row marks wrap at 30000.
    EXPECT_EQ(word_at(binary, last_record + 4), 1 + 354372 % 30000);
    EXPECT_EQ(word_at(binary, last_record + 2 * 1028 + 6), -(1 + 354374 % 30000));
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 3);  // input, output, log
}

}  // namespace
