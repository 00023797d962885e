// Faults around a run: analysis programs that fail a row, crash, hang or
// write short results, write errors, a second run on the same namebase, and
// interruption. Each case checks the message, the exit status and exactly
// what is left in the working directory: the earlier output untouched, no
// temporary output, no row files, no lock file.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "nv24_writer.h"
#include "run.h"

namespace {

using testrun::Expect;
const std::string earlier = "output of an earlier run\n", real = "exec \"$real\" \"$@\"",
                  whole = std::to_string(84 + 24 * 1028), ls = "k.bi1\nk.nv24\nlogfile\n";

// 3 channels of 4096 samples (24 rows, rows 0, 2, 4, ... for worker a), the
// output of an earlier run and a mavlin running script.
struct Folder : testrun::Workspace {
    explicit Folder(const std::string& script) {
        nv24w::File file = nv24w::make_file(3, 20.0, 1462060800);
        file.header.version = 1;
        file.header.station = 1;
        file.header.host_timestamp = 1462060800;
        for (uint32_t i = 0; i < 3 * 4096; ++i)
            file.samples.push_back(i % 7);
        put("k.nv24", nv24w::encode(file));
        put("k.bi1", earlier);
        mavlin(script);
    }
    // A long analysis: the process ids of the n sleepers once they run (at most 10 s).
    std::vector<std::string> sleepers(std::size_t n) const {
        for (int i = 0; i < 1000; std::this_thread::sleep_for(std::chrono::milliseconds(10)), ++i) {
            std::istringstream lines(testrun::read_file(tools / "pids"));
            std::vector<std::string> pids;
            for (std::string pid; std::getline(lines, pid);)
                pids.push_back(pid);
            if (pids.size() >= n)
                return pids;
        }
        return {};
    }
};
const char* const sleeper = "echo $$ >> \"$tools/pids\"; exec sleep 30";

bool alive(const std::string& pid) {  // and not a zombie
    const std::string stat = testrun::read_file("/proc/" + pid + "/stat");
    const auto end_of_name = stat.rfind(')');
    return end_of_name != std::string::npos && stat.substr(end_of_name + 2, 1) != "Z";
}

std::vector<Expect> untouched(const std::string& status, const std::string& message,
                              std::vector<Expect> also = {}) {
    also.insert(
        also.end(),
        {{"status", '=', status}, {"err", '~', message}, {"ls", '=', ls}, {"k.bi1", '=', earlier}});
    return also;
}

TEST(Robustness, FailuresOfTheAnalysisAndOfWritingOutputs) {
    const struct {
        std::string file_to_full, script, shell;
        std::vector<Expect> expect;
    } cases[] = {
        // clang-format off
        {"", "\"$real\" \"$@\"; rm -f vma0002.siw", "", untouched("1", "can't open vma0002.siw\n")},
        {"", "case \"$*\" in *vmb*) kill -SEGV 0;; esac; " + real, "",
         untouched("1", "can't open vmb0001.siw\n", {{"err", '~',
                   "Warning: worker b (pid #) ended by signal 11 (Segmentation fault)\n"}})},
        // A result file with another count than 512 numbers is kept with a warning. Row 3
        // belongs to slot 0, whose 8th record is then no longer whole and is left out.
        {"", "\"$real\" \"$@\" && case \"$*\" in *vmb*) echo '1 2 3' > vmb0003.siw;; esac", "",
         {{"status", '=', "0"}, {"ls", '=', ls}, {"k.bi1", '#', std::to_string(84 + 7 * 3 * 1028)},
          {"err", '~', "Warning: vmb0003.siw holds 3 numbers, not 512; the later values of its "
                       "channel are shifted\n"}}},
        {"logfile", real, "", {{"status", '=', "0"}, {"k.bi1", '#', whole},
         {"err", '~', "can't write logfile: No space left on device\nNo logfile entry\n"}}},
        // The job file of row 1 on a full device: row 0's job file goes as well, no worker starts.
        {"vmb0001.dat", real, "",
         untouched("1", "can't write vmb0001.dat: No space left on device\n",
                   {{"out", '!', "/bin/sh"}})},
        // An output larger than the file size limit: the earlier one stays.
        {"", real, "trap '' XFSZ; ulimit -f 32",
         untouched("1", "can't write k.bi1: File too large\n")},
        // clang-format on
    };
    for (const auto& c : cases) {
        Folder w(c.script);
        if (!c.file_to_full.empty())
            w.put(c.file_to_full, "->/dev/full");
        EXPECT_EQ(w.check(w.run({"--cpus=2", "k.nv24"}, c.shell), c.expect), "") << c.script;
    }
}

TEST(Robustness, SecondRunOnTheSameNamebaseStopsAtOnceAndOtherBasesGoSideBySide) {
    Folder w(sleeper);
    testrun::Child first("vimsor", {"--cpus=2", "k.nv24"}, w.dir.path(), {}, w.tools.path());
    ASSERT_EQ(w.sleepers(2).size(), 2u);
    w.mavlin(real);
    EXPECT_EQ(
        w.check(w.run({"k.nv24"}),
                {{"status", '=', "1"},
                 {"out", '!', "Found"},
                 {"vm.lock", '#', "0"},
                 {"err", '~', "can't lock vm.lock: another vimsor run uses the namebase vm\n"},
                 {"vma0000.dat", 'n', "513"}}),  // the first run's files are untouched
        "");
    EXPECT_EQ(w.check(w.run({"--namebase=nb", "-o", "other", "k.nv24"}),
                      {{"status", '=', "0"}, {"other.bi1", '#', whole}}),
              "");
    ASSERT_EQ(kill(first.pid(), SIGTERM), 0);
    EXPECT_EQ(first.wait().status, 143);
    EXPECT_EQ(w.get("ls", {}), ls + "other.bi1\n");
}

TEST(Robustness, InterruptedRunStopsItsWorkersAndRemovesItsFiles) {
    Folder w(sleeper);
    for (const auto& [signal_number, status] :
         {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        std::filesystem::remove(w.tools / "pids");
        testrun::Child run("vimsor", {"--cpus=2", "-b", "k.nv24"}, w.dir.path(), {},
                           w.tools.path());
        const auto pids = w.sleepers(2);
        ASSERT_EQ(pids.size(), 2u);
        ASSERT_EQ(kill(run.pid(), signal_number), 0);
        EXPECT_EQ(w.check(run.wait(), untouched(std::to_string(status), "")), "") << signal_number;
        for (const auto& pid : pids)
            EXPECT_FALSE(alive(pid)) << pid;
    }
}

}  // namespace
