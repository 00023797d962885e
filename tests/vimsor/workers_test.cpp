#include "workers.h"

#include <fnmatch.h>
#include <signal.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "saved_settings.h"

namespace {

TEST(WorkerCount, OneWhenTheSystemCannotTellAndTwentySixTakenAsAsked) {
    const saved_settings saved;
    EXPECT_EQ(processors_or_one(0), 1u);
    EXPECT_EQ(processors_or_one(8), 8u);
    quiet = 1;
    global_nr_cpus = max_workers;
    testing::internal::CaptureStderr();
    set_worker_count();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(global_nr_cpus, max_workers);
}

TEST(ShellWord, QuotesOnlyWhereTheShellWouldChangeTheText) {
    // The ends of the plain ranges, the bytes beyond and the characters next to them.
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"azAZ09\x80", "azAZ09\x80"},
        {"a`b", "'a`b'"},
        {"a{b", "'a{b'"},
        {"v[1]", "'v[1]'"},
        {"/tmp/run-1/x_2.3,a:b@c%d+e=f", "/tmp/run-1/x_2.3,a:b@c%d+e=f"},
        {"it's", "'it'\\''s'"}};
    for (const auto& [text, word] : cases)
        EXPECT_EQ(shell_word(text), word) << text;
}

// Every job file of worker k is matched by exactly one pattern, no other
// worker's file by any, and no run expands to more than the budget.
void expect_cover(std::size_t workers, std::size_t rows, std::size_t budget) {
    global_nr_cpus = workers;
    for (std::size_t k = 0; k < workers; ++k) {
        const std::string command = worker_command("mavlin", k, rows, budget);
        std::vector<std::pair<std::string, std::size_t>> patterns;  // and the run of each
        std::istringstream words(command);
        std::size_t runs = 0;
        for (std::string word; words >> word;) {
            if (word == "mavlin")
                ++runs;
            else
                patterns.push_back({word.substr(0, word.find(';')), runs - 1});
        }
        std::vector<std::size_t> run_bytes(runs, 0);
        for (std::size_t r = 0; r < rows; ++r) {
            char name[32];
            const int length = std::snprintf(name, sizeof name, "vm%c%04zu.dat",
                                             static_cast<char>('a' + r % workers), r);
            int matches = 0;
            for (const auto& [pattern, run] : patterns)
                if (fnmatch(pattern.c_str(), name, 0) == 0) {
                    ++matches;
                    run_bytes[run] += length + 1 + sizeof(char*);
                }
            ASSERT_EQ(matches, r % workers == k ? 1 : 0) << name << " in " << command;
        }
        for (std::size_t i = 0; i < runs; ++i)
            EXPECT_LE(run_bytes[i], budget) << "run " << i << " of " << command;
    }
}

// Up to 10000 rows one pattern; beyond, one per number length the worker has rows
// of, in further runs when the budget is used up (fewer rows are checked end to end).
TEST(WorkerCommand, PatternsCoverEveryRowOnceWithinTheBudget) {
    const saved_settings saved;
    namebase = "my dir/vm";
    global_nr_cpus = 2;
    EXPECT_EQ(worker_command("mavlin -x", 1, 10000, 1000), "mavlin -x 'my dir/vm'b????.dat");
    EXPECT_EQ(worker_command("mavlin -x", 1, 10001, 1 << 20), "mavlin -x 'my dir/vm'b????.dat");
    namebase = "vm";  // 5000 names of 20 bytes fit 100000 bytes; the 5-digit ones need a run
    EXPECT_EQ(worker_command("mavlin -x", 1, 10002, 100000),
              "mavlin -x vmb????.dat; mavlin -x vmb?????.dat");
    expect_cover(2, 30001, 16 * 1024);  // the four-digit names are split as well
    expect_cover(3, 123457, 256 * 1024);
}

TEST(RunWorkers, InterruptedWaitIsRepeated) {
    const saved_settings saved;
    quiet = 1;
    struct sigaction action = {}, old_action = {};
    action.sa_handler = [](int) {};  // no SA_RESTART: the signal interrupts waitpid
    ASSERT_EQ(sigaction(SIGALRM, &action, &old_action), 0);
    itimerval timer{{0, 100000}, {0, 100000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    run_workers({"sleep 0.6"});
    const auto waited = std::chrono::steady_clock::now() - start;
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &old_action, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_GE(waited, std::chrono::milliseconds(550));
}

}  // namespace
