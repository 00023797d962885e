// Faults around a run: analysis programs that fail a row, crash, hang or
// write short results, write errors, a second run on the same namebase, and
// interruption. Each case checks the message, the exit status and exactly
// what is left in the working directory: the earlier output untouched, no
// temporary output, no row files, no lock file.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nv24_writer.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using testrun::read_file;
using testrun::TempDir;
using Names = std::set<std::string>;

const std::string earlier = "output of an earlier run\n";
const Names inputs_and_earlier_output{"k.nv24", "k.bi1", "logfile"};
const std::string comment = "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01 time: 00:00:00";

// The stand-in of a long analysis: it notes its process id and sleeps.
const char* const sleeper = "echo $$ >> \"$tools/pids\"; exec sleep 30";

// Alive and not a zombie.
bool alive(const std::string& pid) {
    const std::string stat = read_file("/proc/" + pid + "/stat");
    const auto end_of_name = stat.rfind(')');
    return end_of_name != std::string::npos && stat.substr(end_of_name + 2, 1) != "Z";
}

class Robustness : public ::testing::Test {
protected:
    // 3 channels of 4096 samples: 24 rows, rows 0, 2, 4, ... for worker a.
    void SetUp() override {
        nv24w::File file = nv24w::make_file(3, 20.0, 1462060800);
        file.header.version = 1;
        file.header.station = 1;
        file.header.host_timestamp = 1462060800;
        for (std::size_t i = 0; i < 3 * 4096; ++i)
            file.samples.push_back(static_cast<uint32_t>(i % 7));
        nv24w::write_bytes((dir / "k.nv24").string(), nv24w::encode(file));
        testrun::write_file(dir / "k.bi1", earlier);
    }

    // The "mavlin" found first on PATH: a shell script running body, with
    // $real the build's stand-in and $tools the folder of the script.
    void stand_in(const std::string& body) {
        testrun::write_file(tools / "mavlin", "#!/bin/sh\nreal='" + (testrun::bin_dir() / "mavlin").string() +
                                                  "'\ntools='" + tools.path().string() + "'\n" + body + "\n");
        fs::permissions(tools / "mavlin", fs::perms::owner_all);
    }

    testrun::Result vimsor(const std::vector<std::string>& args) {
        return testrun::run_vimsor(args, dir.path(), {}, tools.path());
    }

    Names left() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // The process ids the sleepers noted, once n of them run (at most 10 s).
    std::vector<std::string> sleepers(std::size_t n) const {
        for (int i = 0; i < 1000; ++i) {
            std::istringstream lines(read_file(tools / "pids"));
            std::vector<std::string> pids;
            for (std::string pid; std::getline(lines, pid);)
                pids.push_back(pid);
            if (pids.size() >= n)
                return pids;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    TempDir dir;
    TempDir tools;
};

TEST_F(Robustness, FailedAnalysisEndsTheRunLeavingOnlyTheEarlierOutput) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"$real\" \"$@\"; rm -f vma0002.siw", "can't open vma0002.siw\n"},                          // one row fails
        {"case \"$*\" in *vmb*) kill -SEGV $$;; esac; exec \"$real\" \"$@\"", "can't open vmb0001.siw\n"},  // a crash
        {"sleep 1", "can't open vma0000.siw\n"},  // a short hang, and no results at all
    };
    for (const auto& [script, message] : cases) {
        stand_in(script);
        const auto result = vimsor({"--cpus=2", "k.nv24"});
        EXPECT_EQ(result.status, 1) << script;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(left(), inputs_and_earlier_output) << script;
        EXPECT_EQ(read_file(dir / "k.bi1"), earlier) << script;
    }
}

TEST_F(Robustness, ResultFileWithAnotherCountIsKeptWithAWarning) {
    const std::pair<const char*, const char*> cases[] = {
        {"1 2 3", "Warning: vmb0003.siw holds 3 numbers, not 512; the later values of its channel are shifted\n"},
        {"1 2 x 4", "Warning: vmb0003.siw holds 2 numbers, not 512; the later values of its channel are shifted\n"},
    };
    for (const auto& [numbers, warning] : cases) {
        stand_in(std::string("\"$real\" \"$@\" && case \"$*\" in *vmb*) echo '") + numbers +
                 "' > vmb0003.siw;; esac");
        const auto result = vimsor({"--cpus=2", "k.nv24"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.err.find(warning), std::string::npos) << result.err;
        // Row 3 belongs to slot 0, which then holds 7 * 512 values and a
        // few: the 8th record is no longer whole and is left out.
        EXPECT_EQ(read_file(dir / "k.bi1").size(), comment.size() + 1 + 7 * 3 * 1028) << numbers;
        EXPECT_EQ(left(), inputs_and_earlier_output);
    }
}

TEST_F(Robustness, WriteErrorsNameTheFile) {
    stand_in("exec \"$real\" \"$@\"");
    fs::create_symlink("/dev/full", dir / "logfile");
    auto result = vimsor({"k.nv24"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("can't write logfile: No space left on device\nNo logfile entry\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(dir / "k.bi1").size(), comment.size() + 1 + 24 * 1028);

    // The job file of row 1 on a full device: row 0's job file goes as well.
    testrun::write_file(dir / "k.bi1", earlier);
    fs::create_symlink("/dev/full", dir / "vmb0001.dat");
    result = vimsor({"--cpus=2", "k.nv24"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't write vmb0001.dat: No space left on device\n"), std::string::npos) << result.err;
    EXPECT_EQ(left(), inputs_and_earlier_output);
    EXPECT_EQ(read_file(dir / "k.bi1"), earlier);

    // An output larger than the file size limit: the earlier one stays.
    result = testrun::run("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 32; exec vimsor \"$@\"", "sh", "k.nv24"},
                          dir.path(), {}, tools.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("can't write k.bi1: File too large\n"), std::string::npos) << result.err;
    EXPECT_EQ(left(), inputs_and_earlier_output);
    EXPECT_EQ(read_file(dir / "k.bi1"), earlier);
}

TEST_F(Robustness, SecondRunOnTheSameNamebaseStopsAtOnceAndOtherBasesGoSideBySide) {
    stand_in(sleeper);
    testrun::Child first("vimsor", {"--cpus=2", "k.nv24"}, dir.path(), {}, tools.path());
    ASSERT_EQ(sleepers(2).size(), 2u);
    stand_in("exec \"$real\" \"$@\"");

    const auto second = vimsor({"k.nv24"});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("can't lock vm.lock: another vimsor run uses the namebase vm\n"), std::string::npos)
        << second.err;
    EXPECT_EQ(second.out.find("Found"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "vma0000.dat"));  // the first run's files are untouched
    EXPECT_TRUE(fs::exists(dir / "vm.lock"));

    const auto other = vimsor({"--namebase=nb", "-o", "other", "k.nv24"});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(read_file(dir / "other.bi1").size(), comment.size() + 1 + 24 * 1028);

    ASSERT_EQ(kill(first.pid(), SIGTERM), 0);
    EXPECT_EQ(first.wait().status, 143);
    Names expected = inputs_and_earlier_output;
    expected.insert("other.bi1");
    EXPECT_EQ(left(), expected);
}

TEST_F(Robustness, InterruptedRunStopsItsWorkersAndRemovesItsFiles) {
    stand_in(sleeper);
    for (const auto& [signal_number, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
        fs::remove(tools / "pids");
        testrun::Child run("vimsor", {"--cpus=2", "-b", "k.nv24"}, dir.path(), {}, tools.path());
        const auto pids = sleepers(2);
        ASSERT_EQ(pids.size(), 2u);
        ASSERT_EQ(kill(run.pid(), signal_number), 0);
        EXPECT_EQ(run.wait().status, status);
        EXPECT_EQ(left(), inputs_and_earlier_output) << signal_number;
        EXPECT_EQ(read_file(dir / "k.bi1"), earlier);
        for (const auto& pid : pids)
            EXPECT_FALSE(alive(pid)) << pid;
    }
}

}  // namespace
