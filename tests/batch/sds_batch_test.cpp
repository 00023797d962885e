// vimsor-batch over an SDS archive under GNU parallel: the plan's refusals, then runs held
// against plain vimsor runs on the test's own cuts.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../sds/sds_results.h"
#include "sds_tree_writer.h"

namespace {

using namespace sdsresults;
using testrun::TempDir;

const char* const first_day = "2024-02-27";
const char* const last_day = "2024-03-02";

// The test archive of three elements, and six more ids on 02-29 (empty files:
// enough for the plan, which reads no miniSEED).
void write_archive(const fs::path& root) {
    sdsw::write_tree(root, sdsw::three_element_array());
    for (int k = 1; k <= 6; ++k)
        sdsw::touch_day_file(root, {"YY", "E" + std::to_string(k), "", "BDF", 20, {}},
                             sdsw::feb28_2024_us + sdsw::day_us);
}

std::vector<std::string> plan_args(const fs::path& dir, const fs::path& root,
                                   const std::string& channels,
                                   const std::vector<std::string>& options) {
    std::vector<std::string> args{"plan",       dir.string(), "--sds", root.string(),
                                  "--channels", channels,     "--from", first_day,
                                  "--to=" + std::string(last_day)};
    if (!options.empty())
        args.push_back("--");
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

// The results plain vimsor runs give over the days of the plan.
Trees expected_results(const std::vector<std::string>& options) {
    std::vector<std::string> plain{"-4", "--quiet"};
    plain.insert(plain.end(), options.begin(), options.end());
    Trees all;
    const int64_t first = sdsw::feb28_2024_us - sdsw::day_us;
    for (int64_t day = 0; day < 5; ++day)
        for (auto& [name, samples] : plain_runs(sdsw::three_element_array(),
                                                first + day * sdsw::day_us, plain))
            all[name].insert(all[name].end(), samples.begin(), samples.end());
    return all;
}

// Inode of every file under dir, hidden ones (temporaries) included.
std::map<std::string, ino_t> inodes(const fs::path& dir) {
    std::map<std::string, ino_t> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) {
            struct stat info {};
            EXPECT_EQ(::stat(entry.path().c_str(), &info), 0);
            files[fs::relative(entry.path(), dir).string()] = info.st_ino;
        }
    return files;
}

bool has_parallel() { return std::system("command -v parallel >/dev/null") == 0; }

TEST(SdsBatch, PlanRefusesNamingTheWordAndWritesNothing) {
    TempDir top;
    write_archive(top / "archive");
    const struct {
        std::string channels;
        std::vector<std::string> options;
        std::string said;
    } cases[] = {
        {"XX.AR1..BDF,XX.AR2..BDF", {}, "match 2 ids with day files from 2024-02-27 to 2024-03-02"},
        {"*", {}, "match 9 ids with day files"},
        {"XX.*", {"--cpus=2"}, "--cpus is not taken"},  // the others: BatchPlan's table
        {"XX.*", {"--mode=bin"}, "--mode is not taken: the results of an SDS archive"},
        {"XX.*", {"-4", "--mode=ascii"}, "--mode is not taken"},
    };
    for (const auto& c : cases) {
        const testrun::Result plan = testrun::run(
            "vimsor-batch", plan_args(top / "b", top / "archive", c.channels, c.options), top.path());
        EXPECT_EQ(plan.status, 2) << c.said;
        EXPECT_NE(plan.err.find(c.said), std::string::npos) << plan.err;
        EXPECT_FALSE(fs::exists(top / "b/manifest")) << c.said;
    }
    const testrun::Result missing = testrun::run(
        "vimsor-batch", {"plan", "b", "--sds", "archive", "--channels", "XX.*", "--from", first_day},
        top.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "vimsor-batch: plan: an SDS archive needs --to\n");
}

// The value of "key=" in a running record, up to the line's end.
std::string record_value(const std::string& record, const std::string& key) {
    const size_t at = record.find("\n" + key + "=");
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size() + 2;
    return record.substr(from, record.find('\n', from) - from);
}

// A first run whose task on day 3 (02-29, two pieces) is killed with SIGKILL after the first
// piece; a rerun redoes that day only. Then a rerun that redoes nothing, and changed days redone.
TEST(SdsBatch, KilledDayRerunAgreesWithPlainRunsAndOnlyChangedDaysAreRedone) {
    if (!has_parallel())
        GTEST_SKIP() << "GNU parallel is not installed";
    TempDir top;
    const fs::path root = top / "archive", dir = top / "batch", slow = top / "slow";
    write_archive(root);
    fs::create_directories(slow);
    testrun::write_file(slow / "mavlin", "#!/bin/sh\nsleep 2\nexec '" +
                                             (testrun::bin_dir() / "mavlin").string() + "' \"$@\"\n");
    fs::permissions(slow / "mavlin", fs::perms::owner_all);
    const auto batch = [&](std::vector<std::string> args) {
        return testrun::run("vimsor-batch", args, top.path());
    };
    const testrun::Result plan = batch(plan_args(dir, root, "XX.AR?..BDF", {"-b"}));
    ASSERT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(plan.out, "vimsor-batch: planned 5 input(s) in " + dir.string() + "/manifest\n");
    std::string killed;  // the running record of day 3 when its task was killed
    {
        testrun::Child runner("vimsor-batch", {"run", dir.string(), "-j", "1"}, top.path(), slow);
        bool first_piece_done = false;
        for (int wait = 0; wait < 600 && !first_piece_done; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            first_piece_done =
                testrun::read_file(dir / "logs/3.log").find("Writes file") != std::string::npos;
        }
        killed = testrun::read_file(dir / "records/0/3.running");
        const int task = std::atoi(record_value(killed, "task").c_str());
        ASSERT_TRUE(first_piece_done && task > 0) << killed;
        ASSERT_EQ(::kill(task, SIGKILL), 0);
        EXPECT_EQ(runner.wait().status, 1);  // the other days are done
    }
    EXPECT_FALSE(fs::exists(dir / "records/0/3.done"));
    for (const auto& [name, inode] : inodes(dir / "out"))
        EXPECT_EQ(name.find("2024.060"), std::string::npos) << name << " of the killed day";
    // What a commit cut short leaves goes with the rerun's claim; a lookalike stays.
    const fs::path day_files = dir / "out/weak/2024/XX/AR1/BDF.D";
    fs::create_directories(day_files);
    testrun::write_file(day_files / ".XX.AR1..BDF.D.2024.060.4242.0", "");
    testrun::write_file(day_files / ".XX.AR1..BDF.D.2024.060.keep", "");
    const testrun::Result rerun = batch({"run", dir.string(), "-j", "2"});
    EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    EXPECT_NE(rerun.out.find("1 input(s) to run"), std::string::npos) << rerun.out;
    const Trees expected = expected_results({"-b"});
    ASSERT_EQ(expected.size(), 6u);  // weak and strong of three elements
    EXPECT_TRUE(read_result_trees(dir / "out") == expected);
    EXPECT_TRUE(fs::exists(day_files / ".XX.AR1..BDF.D.2024.060.keep"));
    EXPECT_FALSE(fs::exists(day_files / ".XX.AR1..BDF.D.2024.060.4242.0"));
    fs::remove(day_files / ".XX.AR1..BDF.D.2024.060.keep");
    const std::string scratch = killed.substr(killed.find("\nscratch=") + 9);
    EXPECT_FALSE(fs::exists(scratch)) << "the killed task's scratch " << scratch;
    // 02-28: 176 per element; 02-29: 264; 03-01: 864, 264, 864.
    const std::string counts = "done 5 (2 with no data), failed 0, pending 0, running 0 (of 5)\n"
                               "samples without a result: 3312 ";
    EXPECT_EQ(batch({"status", dir.string()}).out.substr(0, counts.size()), counts);

    const auto written = inodes(dir / "out");
    for (const auto& [name, inode] : written)
        EXPECT_EQ(fs::path(name).filename().string().front(), 'X') << name << " left behind";
    EXPECT_NE(batch({"run", dir.string()}).out.find("0 input(s) to run"), std::string::npos);
    EXPECT_EQ(inodes(dir / "out"), written);

    // A day file of 03-01 is read by the days 02-29 to 03-02.
    const fs::path touched = root / "2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.061";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(10));
    const testrun::Result status = batch({"status", dir.string()});
    EXPECT_EQ(status.status, 0);
    for (const char* day : {"2024-02-29", "2024-03-01", "2024-03-02"})
        EXPECT_NE(status.out.find(std::string("changed: ") + day + " ("), std::string::npos)
            << status.out;
    EXPECT_EQ(status.out.find("changed: 2024-02-28"), std::string::npos);
    const testrun::Result redo = batch({"run", dir.string(), "--changed"});
    EXPECT_EQ(redo.status, 0) << redo.err;
    EXPECT_NE(redo.out.find("3 changed day(s) to redo"), std::string::npos) << redo.out;
    EXPECT_NE(redo.out.find("3 input(s) to run"), std::string::npos) << redo.out;
    EXPECT_EQ(batch({"status", dir.string()}).out.find("changed:"), std::string::npos);
    EXPECT_TRUE(read_result_trees(dir / "out") == expected);
    const auto rewritten = inodes(dir / "out");
    const std::string feb28 = "weak/2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.059";
    const std::string mar01 = "weak/2024/XX/AR1/BDF.D/XX.AR1..BDF.D.2024.061";
    EXPECT_EQ(rewritten.at(feb28), written.at(feb28));
    EXPECT_NE(rewritten.at(mar01), written.at(mar01));
}

}  // namespace
