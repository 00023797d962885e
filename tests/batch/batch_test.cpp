// vimsor-batch's plan and status without GNU parallel or Slurm, the pieces
// that keep names as data, and one run under GNU parallel over hostile names.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>

#include "batch_error.h"
#include "error_message.h"
#include "files.h"
#include "hostile_names.h"
#include "manifest.h"
#include "plan.h"
#include "status.h"
#include "submit.h"
#include "tm4_writer.h"
#include "write_file.h"

// The runner of the built programs (tests/e2e/run.h), not the batch's run.h.
#include "../e2e/run.h"

namespace {

using testrun::TempDir;
namespace fs = std::filesystem;

std::string day_file(int day) {
    return testwriters::Tm4File()
        .comment(testwriters::tm4_comment(20, "lycksele"))
        .samples(1462060800 + 86400.0 * day, 20, 2000, 3, [day](size_t i, size_t c) -> double {
            return std::round(900 * std::sin(static_cast<double>(i) / 20 + day + static_cast<double>(c)));
        })
        .text();
}

// The hostile names of the table, the longest name and one that filled staging's names before.
std::vector<std::string> hostile_inputs() {
    std::vector<std::string> names;
    for (const auto& hostile : testwriters::hostile_names)
        names.push_back(std::string(hostile.name) + ".tm4");
    names.push_back(testwriters::longest_name(".tm4"));
    names.push_back(std::string(244, 'm'));
    return names;
}

TEST(BatchPlan, RefusesWhatTheBatchCannotMeanNamingTheWord) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--mode=nonsense"}, "nonsense"}, {{"--help"}, "--help"},       {{"-?"}, "--help"},
        {{"--version"}, "--version"},      {{"--ver-m"}, "--ver-mavlin"}, {{"-v", "x1"}, "x1"},
        {{"-c", "q"}, "q"},                {{"-o", "x"}, "-o"},           {{"--nameb", "x"}, "--namebase"},
        {{"-C", "2"}, "--cpus"},           {{"@args"}, "@args"},          {{"-b", "in.nv24"}, "in.nv24"},
        {{"--", "in.nv24"}, "in.nv24"},    {{"--bogus"}, "--bogus"},
    };
    for (const auto& [words, named] : refused) {
        try {
            read_run_options(words);
            ADD_FAILURE() << words.front() << " was taken";
        } catch (const batch_error& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    }
    // Empty words are kept; the extensions are vimsor's.
    const run_options kept = read_run_options({"--add-options", "", "-4", "--both"});
    EXPECT_EQ(kept.words, (std::vector<std::string>{"--add-options", "", "-4", "--both"}));
    EXPECT_EQ(kept.extensions, (std::vector<std::string>{".tm4_1", ".tm4_2"}));
}

TEST(BatchPlan, KeepsEveryNameWholeAndRefusesClashes) {
    TempDir dir;
    std::vector<std::string> inputs;
    for (const std::string& name : hostile_inputs()) {
        testwriters::write_file(dir / name, "");
        inputs.push_back((dir / name).string());
    }
    const run_options options = read_run_options({"--mode=ascii"});
    const std::vector<planned_input> planned = plan_inputs(inputs, options);
    ASSERT_EQ(planned.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(planned[i].input, inputs[i]);
        EXPECT_EQ(planned[i].outputs, output_names(inputs[i], options));
    }
    const std::vector<planned_input> read = parse_manifest(manifest_text(planned), "m");
    ASSERT_EQ(read.size(), planned.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_TRUE(read[i].input == planned[i].input && read[i].outputs == planned[i].outputs);

    const fs::path copy = dir / "copy" / fs::path(inputs.front()).filename();
    fs::create_directory(dir / "copy");
    testwriters::write_file(copy, "");
    EXPECT_THROW(plan_inputs(std::vector<std::string>{inputs.front(), copy.string()}, options), batch_error);
    EXPECT_THROW(plan_inputs(std::vector<std::string>{(dir / "missing").string()}, options), batch_error);
    EXPECT_THROW(parse_manifest(std::string("a\0b\0", 4), "m"), batch_error);
}

struct status_case : ::testing::Test {
    TempDir dir;
    batch_layout layout{dir.path().string()};
    std::vector<planned_input> inputs;
    std::time_t now = std::time(nullptr);

    void SetUp() override {
        for (int i = 1; i <= 6; ++i)
            inputs.push_back({"/in/" + std::to_string(i), {std::to_string(i) + ".bi1"}});
        fs::create_directories(layout.shard(1));
    }
    void record(std::size_t index, record_state state, const std::string& text, std::time_t age = 0) {
        const std::string path = layout.record(index, state);
        testwriters::write_file(path, text);
        const timespec times[2] = {{now - age, 0}, {now - age, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
};

TEST_F(status_case, CountsNamesFailuresAndEstimates) {
    // 1 done, 2 failed, 3 run by a live runner, 4 failed with a dead runner's
    // record, 5 in an active array, 6 pending.
    record(1, record_state::done, "", 600);
    record(2, record_state::failed, "can't read /in/2: why\nvimsor-batch: vimsor ended with status 1\n", 300);
    record(3, record_state::running, running_record_text({"here", {3, 33}, "", {}, {}, 0, "/tmp/x\ny"}));
    record(4, record_state::failed, "fork: Resource temporarily unavailable\nTerminating\n", 7200);
    record(4, record_state::running, running_record_text({"here", {4, 44}, "", {}, {}, 0, ""}));
    record(5, record_state::running, running_record_text({"there", {}, "77", {}, {}, 0, ""}));
    liveness live{"here", {"77"}, [](const process_id& p) { return p == process_id{3, 33}; }};
    const batch_summary summary = summarize(layout, inputs, live, now);
    char end[32];
    const std::time_t expected_end = now + 3 * 3600 / 12;  // 2 finished in the last 600 s: 12 an hour
    std::tm local;
    std::strftime(end, sizeof end, "%Y-%m-%d %H:%M", localtime_r(&expected_end, &local));
    EXPECT_EQ(status_text(summary, slurm_task_counts{1, 4}),
              "done 1, failed 2, pending 1, running 2 (of 6)\n"
              "failed: /in/2: can't read /in/2: why\n"
              "failed: /in/4: fork: Resource temporarily unavailable\n"
              "progress: 1 done, 2 failed, 3 pending of 6; 12.0 inputs/hour; estimated end " +
                  std::string(end) + "\nSlurm: 1 task(s) running, 4 pending\n");
    EXPECT_EQ(status_exit(summary), 1);
    EXPECT_EQ(parse_running_record(running_record_text({"h", {1, 2}, "9", {3, 4}, {5, 6}, 7, "/a\nb"})).scratch,
              "/a\nb");
}

TEST_F(status_case, AllDoneEndsWithStatusZeroAndNoRate) {
    for (std::size_t i = 1; i <= inputs.size(); ++i)
        record(i, record_state::done, "", 7200);
    const batch_summary summary = summarize(layout, inputs, liveness{}, now);
    EXPECT_EQ(status_text(summary, std::nullopt),
              "done 6, failed 0, pending 0, running 0 (of 6)\n"
              "progress: 6 done, 0 failed, 0 pending of 6; no input finished in the last hour\n");
    EXPECT_EQ(status_exit(summary), 0);
}

TEST(BatchErrors, TheLastMessageIsVimsorsError) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"vimsor\n", "can't read x: why", "\n"}, "can't read x: why"},
        {{"vimsor\n", "INFO: a ", "5", " s\n", "fork: Resource busy\nTerminating", "\n"},
         "fork: Resource busy\nTerminating"},
        {{"INFO: a ", "5", " s\n"}, "INFO: a 5 s"},
        {{}, ""},
    };
    for (const auto& [writes, message] : cases) {
        error_stream stream;
        for (const std::string& write : writes)
            stream.add_write(write);
        EXPECT_EQ(stream.last_message(), message);
    }
}

// The array script, run by sh with a stand-in for the batch program, hands
// on every name as it is.
TEST(BatchSubmit, ScriptQuotesEveryName) {
    TempDir dir;
    for (const auto& hostile : testwriters::hostile_names) {
        const std::string name(hostile.name);
        const fs::path self = dir / ("self " + name);
        testwriters::write_file(self, "#!/bin/sh\nprintf '%s\\0' \"$@\" >\"$SAID\"\n");
        fs::permissions(self, fs::perms::owner_all);
        const std::string script = array_script(self.string(), (dir / name).string(), name, 9, 2, 5, 1, 3);
        EXPECT_NE(script.find("\n#SBATCH --array=0-4%3\n"), std::string::npos);
        testwriters::write_file(dir / "job.sh", script);
        const std::string said = (dir / "said").string();
        const std::string command = "cd '" + dir.path().string() + "' && SAID='" + said + "' sh job.sh";
        ASSERT_EQ(std::system(command.c_str()), 0) << hostile.label;
        EXPECT_EQ(read_file(said), nul_terminated({"array-task", (dir / name).string(), name, "2"}))
            << hostile.label;
        EXPECT_FALSE(fs::exists(dir / "PWNED")) << hostile.label;
    }
}

// End to end under GNU parallel: a batch directory whose name holds every
// hostile name, inputs with hostile names planned by relative names from a
// working directory with a backslash; the outputs are a plain run's.
TEST(BatchRun, HostileNamesArePlannedRunAndNamedAsVimsorNamesThem) {
    if (std::system("command -v parallel >/dev/null") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    TempDir top;
    const fs::path inputs = top / "in\\put", reference = top / "ref";
    fs::create_directories(inputs);
    fs::create_directories(reference);
    std::vector<std::string> args{"plan", "../-rf"};
    for (const auto& hostile : testwriters::hostile_names)
        args[1] += hostile.name;
    int day = 0;
    for (const std::string& name : hostile_inputs()) {
        testwriters::write_file(inputs / name, day_file(++day));
        args.push_back("./" + name);
        ASSERT_EQ(testrun::run("vimsor", {"--quiet", (inputs / name).string()}, reference).status, 0);
    }
    fs::remove(reference / "logfile");
    ASSERT_EQ(testrun::run("vimsor-batch", args, inputs).status, 0);
    const testrun::Result run = testrun::run("vimsor-batch", {"run", args[1], "-j", "2"}, inputs);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const fs::path out = inputs / args[1] / "out";
    ASSERT_EQ(testrun::names_in(out), testrun::names_in(reference));
    for (const std::string& name : testrun::names_in(reference))
        EXPECT_EQ(testrun::read_file(out / name), testrun::read_file(reference / name)) << name;
    for (const fs::path& place : {top.path(), inputs, inputs / args[1], fs::current_path()})
        EXPECT_FALSE(fs::exists(place / "PWNED")) << place;
}

}  // namespace
