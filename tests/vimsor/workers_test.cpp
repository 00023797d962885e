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

class WorkersTest : public ::testing::Test {
protected:
    saved_settings m_saved;
};

TEST(ProcessorCount, FallsBackToOneWorkerWhenTheSystemCannotTell) {
    EXPECT_EQ(processors_or_one(-1), 1u);
    EXPECT_EQ(processors_or_one(0), 1u);
    EXPECT_EQ(processors_or_one(8), 8u);
    EXPECT_GE(get_number_of_cpus(), 1u);
}

TEST_F(WorkersTest, TwentySixWorkersAreTakenAsAsked) {
    quiet = 1;
    global_nr_cpus = max_workers;
    testing::internal::CaptureStderr();
    set_worker_count();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(global_nr_cpus, max_workers);
}

TEST(ShellWord, QuotesOnlyWhereTheShellWouldChangeTheText) {
    const std::pair<std::string, std::string> cases[] = {
        {"vm", "vm"},
        {"/tmp/run-1/x_2.3,a:b@c%d+e=f", "/tmp/run-1/x_2.3,a:b@c%d+e=f"},
        {"", ""},
        {"my dir/vm", "'my dir/vm'"},
        {"it's", "'it'\\''s'"},
        {"a*b", "'a*b'"},
        {"x;touch y", "'x;touch y'"},
        {"$HOME", "'$HOME'"},
        {"~vm", "'~vm'"},
        {"#vm", "'#vm'"},
        {"a\tb", "'a\tb'"},
        {"v[1]", "'v[1]'"},
        {"gr\xc3\xbcn", "gr\xc3\xbcn"},
        {"azAZ09\x80", "azAZ09\x80"},  // the ends of the plain ranges
        {"a`b", "'a`b'"},
        {"a{b", "'a{b'"},
    };
    for (const auto& [text, word] : cases)
        EXPECT_EQ(shell_word(text), word) << text;
}

TEST_F(WorkersTest, UpTo10000RowsTheCommandIsOneRunOverFourDigitNames) {
    namebase = "vm";
    global_nr_cpus = 4;
    for (std::size_t rows : {0, 3, 45, 10000})
        EXPECT_EQ(worker_command("mavlin -x", 3, rows, 1000), "mavlin -x vmd????.dat") << rows;
    namebase = "my dir/vm";
    EXPECT_EQ(worker_command("mavlin -x", 0, 45, 1000), "mavlin -x 'my dir/vm'a????.dat");
}

TEST_F(WorkersTest, BeyondTenThousandRowsLongerNumbersAreCovered) {
    namebase = "vm";
    global_nr_cpus = 2;
    EXPECT_EQ(worker_command("mavlin -x", 0, 10002, 1 << 20), "mavlin -x vma????.dat vma?????.dat");
    EXPECT_EQ(worker_command("mavlin -x", 1, 10001, 1 << 20), "mavlin -x vmb????.dat");
    // 5000 names of 20 bytes fit a budget of 100000 bytes; the 5-digit names need further runs.
    EXPECT_EQ(worker_command("mavlin -x", 1, 10002, 100000),
              "mavlin -x vmb????.dat; mavlin -x vmb?????.dat");
}

// Every job file of worker k is matched by exactly one pattern, no other
// worker's file by any, and no run expands to more than the budget.
void expect_cover(std::size_t workers, std::size_t rows, std::size_t budget) {
    global_nr_cpus = workers;
    for (std::size_t k = 0; k < workers; ++k) {
        const std::string command = worker_command("mavlin", k, rows, budget);
        std::vector<std::vector<std::string>> runs;
        std::istringstream words(command);
        for (std::string word; words >> word;) {
            if (word == "mavlin" || word == "mavlin;")
                runs.emplace_back();
            else
                runs.back().push_back(word.back() == ';' ? word.substr(0, word.size() - 1) : word);
        }
        std::vector<std::size_t> run_bytes(runs.size(), 0);
        for (std::size_t r = 0; r < rows; ++r) {
            char name[32];
            std::snprintf(name, sizeof name, "vm%c%04zu.dat", static_cast<char>('a' + r % workers),
                          r);
            int matches = 0;
            for (std::size_t i = 0; i < runs.size(); ++i)
                for (const std::string& pattern : runs[i])
                    if (fnmatch(pattern.c_str(), name, 0) == 0) {
                        ++matches;
                        run_bytes[i] += std::string(name).size() + 1 + sizeof(char*);
                    }
            ASSERT_EQ(matches, r % workers == k ? 1 : 0) << name << " in " << command;
        }
        for (std::size_t i = 0; i < runs.size(); ++i)
            EXPECT_LE(run_bytes[i], budget) << "run " << i << " of " << command;
    }
}

TEST_F(WorkersTest, PatternsCoverEveryRowOnceWithinTheBudget) {
    namebase = "vm";
    expect_cover(2, 30001, 16 * 1024);  // the four-digit names are split as well
    expect_cover(3, 123457, 256 * 1024);
    expect_cover(1, 20001, 32 * 1024);
}

void ignore_signal(int) {}

TEST_F(WorkersTest, InterruptedWaitIsRepeated) {
    quiet = 1;
    struct sigaction action {};
    struct sigaction old_action {};
    action.sa_handler = ignore_signal;  // no SA_RESTART: the signal interrupts waitpid
    ASSERT_EQ(sigaction(SIGALRM, &action, &old_action), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 100000;
    timer.it_interval.tv_usec = 100000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    run_workers({"sleep 0.6"});
    const auto waited = std::chrono::steady_clock::now() - start;
    const std::string err = ::testing::internal::GetCapturedStderr();

    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    sigaction(SIGALRM, &old_action, nullptr);
    EXPECT_EQ(err, "");
    EXPECT_GE(waited, std::chrono::milliseconds(550));
}

}  // namespace
