#include <fnmatch.h>
#include <signal.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "cleanup.h"
#include "cli.h"
#include "collect.h"
#include "nevra_base.h"
#include "pipeline.h"
#include "row_files.h"
#include "run.h"
#include "settings.h"
#include "stores.h"
#include "workers.h"

namespace {

namespace fs = std::filesystem;

// Saves everything process-wide that the driver's tests change (the settings,
// the sample stores and the working directory) and puts it back when it goes
// out of scope, also when a test stops half-way at a failed ASSERT.
auto saved_settings_live() {
    return std::tie(MAVLIN, global_strength, mode, bandp, quiet, global_scale, firstline, namebase,
                    output_name, fout_extension, test, global_nr_cpus, sdev, debug, options,
                    time_array, original, processed, tid);
}

template <class... T>
std::tuple<std::decay_t<T>...> saved_settings_values(const std::tuple<T&...>&);  // no definition

class saved_settings {
public:
    ~saved_settings() {
        saved_settings_live() = m_values;
        fs::current_path(m_dir);
    }

private:
    decltype(saved_settings_values(saved_settings_live())) m_values = saved_settings_live();
    fs::path m_dir = fs::current_path();
};

// Decimal text and errors are checked end to end through -v, -d, --cpus and -c.
TEST(GetUnsigned, ConvertsTheLeadingNumberDecimalHexAndOctal) {
    const std::pair<const char*, unsigned long> cases[] = {
        {"12", 12}, {"0x1f", 31}, {"010", 8}, {"4cpus", 4}, {"0", 0}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(get_unsigned(text), value) << text;
}

std::string path_for(const std::string& input) {
    char path[260];
    output_path_for(input.c_str(), path);
    return path;
}

// Output names one byte too long are checked end to end.
TEST(OutputPath, IsTheInputFileNameOrTheOutputNameWithTheExtension) {
    const saved_settings saved;
    const std::string o255(255, 'o');
    const struct {
        std::string output_name, namebase, input, path, namebase_after;
    } cases[] = {
        {"", "vm", std::string(300, 'd') + "/f.raw", "f.bi1", "vm"},  // a long directory is no harm
        {"res/out", "vm", "/data/a.raw", "res/out.bi1", "res/out"},
        {"out", "tmp", "a.raw", "out.bi1", "tmp"},   // a namebase given on its own stays
        {o255, "vm", "a.raw", o255 + ".bi1", o255},  // 259 bytes just fit
    };
    fout_extension = ".bi1";
    for (const auto& c : cases) {
        output_name = c.output_name;
        namebase = c.namebase;
        EXPECT_EQ(path_for(c.input), c.path) << c.input;
        EXPECT_EQ(namebase, c.namebase_after) << c.input;
    }
}

TEST(OutputPathDeathTest, InputFileNamesThatDoNotFitEndTheRun) {
    const saved_settings saved;
    output_name.clear();
    EXPECT_EXIT(path_for("dir/" + std::string(256, 'f') + ".raw"), testing::ExitedWithCode(1),
                "^vimsor: dir/f{256}\\.raw: file name too long \\(at most 255 bytes\\)\n$");
}

TEST(RowFiles, NamesCarryTheWorkerLetterAndThePaddedRowNumber) {
    const saved_settings saved;
    const struct {
        std::string base;
        std::size_t workers, row;
        const char* name;
    } cases[] = {
        {"vm", 4, 0, "vma0000"}, {"vm", 4, 12345, "vmb12345"},      {"vm", 0, 7, "vma0007"},
        {"", 3, 7, "b0007"},     {"out/x y", 2, 3, "out/x yb0003"},
    };
    for (const auto& c : cases) {
        namebase = c.base;
        global_nr_cpus = c.workers;
        EXPECT_EQ(row2basename(c.row), c.name) << c.base << " " << c.workers << " " << c.row;
        char name[64];
        ASSERT_TRUE(row_file_name(name, sizeof name, c.base.c_str(), c.workers, c.row, ".siw"));
        EXPECT_EQ(name, std::string(c.name) + ".siw");
    }
    char name[12];
    EXPECT_FALSE(row_file_name(name, 11, "vm", 4, 0, ".siw"));  // vma0000.siw needs 12 bytes
    EXPECT_TRUE(row_file_name(name, 12, "vm", 4, 0, ".siw"));
}

// Stopping the workers is checked end to end; here that only the files recorded
// and not forgotten go: row 2 lies beyond the rows recorded.
TEST(Cleanup, RunNowRemovesRecordedFilesOnly) {
    testrun::TempDir dir;
    for (const char* name : {"ta0000.dat", "tb0001.siw", "ta0002.dat", "out.tmp", "kept.tmp"})
        testrun::write_file(dir / name, "x");
    cleanup::add_rows((dir / "t").c_str(), 2, 2);
    cleanup::add_file((dir / "out.tmp").c_str());
    cleanup::add_file((dir / "kept.tmp").c_str());
    cleanup::forget_file((dir / "kept.tmp").c_str());
    cleanup::run_now();
    for (const char* name : {"ta0000.dat", "tb0001.siw", "out.tmp"})
        EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : {"ta0002.dat", "kept.tmp"})
        EXPECT_TRUE(fs::exists(dir / name)) << name;
}

// Three channels of times samples in memory, with channel records of the
// given numbers; channel 1 holds samples_1 samples.
class fake_recording : public Nevra::Nevra_Base {
public:
    fake_recording(const std::vector<uint16_t>& numbers, std::size_t times, std::size_t samples_1,
                   double hz = 20.0) {
        m_header.common.m_num_channels = 3;
        m_header.common.m_sample_freq_hz = hz;
        m_data = {Nevra::data_channel_type(times), Nevra::data_channel_type(samples_1),
                  Nevra::data_channel_type(times)};
        m_time.assign(times, 0.0);
        for (uint16_t number : numbers)
            m_channels.push_back({{}, number, 0, 0.0, 0.0, 0.0});
    }
};

TEST(CheckRecordingDeathTest, RefusesWhatCannotBeStoredOrCutIntoRows) {
    const struct {
        fake_recording recording;
        int status;
        const char* message;
    } cases[] = {
        {fake_recording({}, 4, 4), 1, "^can't read f.nv24: no channel records\n$"},
        {fake_recording({0, 1, 2}, 4, 3), 1,
         "^can't read f.nv24: channel 1 holds 3 samples, fewer than the 4 sample times\n$"},
        {fake_recording({0, 1, 2}, 4, 4, 0.0), 1,
         "^can't read f.nv24: sampling frequency 0 Hz is not a positive number\n$"},
        {fake_recording({2, 0, 1}, 4, 4), 0, "^$"},  // channels in any order
        {fake_recording({0, 1, 2}, 4, 5), 0, "^$"},  // a channel longer than the time axis
        {fake_recording({0, 1, 2}, 0, 0), 0, "^$"},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(
            {
                check_recording("f.nv24", c.recording);
                std::exit(0);
            },
            ::testing::ExitedWithCode(c.status), c.message)
            << c.message;
}

// append_numbers appends to what is there exactly the doubles, bit for bit,
// that the stream's extraction reads one after another from the text.
TEST(AppendNumbers, ReadsExactlyWhatStreamExtractionReads) {
    // clang-format off
    const char* texts[] = {
        "1 2 3", "  -0.5\n+2e3\t.5\r\n", "1e", "1e+", "7 1e5e3", "2 inf 3", "nan", "+-1", "-inf",
        "1x2", "1e400 5", "-1e400", "1e-400 5", "4e-320 1", "0x1p3", "-.e5", "1..2", "+.5", "",
        "   ", "5-3", "1.5E-3", "1e5.3", ".", "-", "0.1 0.2 0.30000000000000004",
        "123456789012345678901234567890", "1e-5 -0", "1.7976931348623157e308 1.8e308"};
    // clang-format on
    for (const char* text : texts) {
        std::istringstream in(text);
        std::vector<double> expected{42.0};
        for (double x; in >> x;)
            expected.push_back(x);
        std::vector<double> got{42.0};
        EXPECT_EQ(append_numbers(text, text + std::strlen(text), got), expected.size() - 1) << text;
        ASSERT_EQ(got.size(), expected.size()) << '"' << text << '"';
        EXPECT_EQ(std::memcmp(got.data(), expected.data(), got.size() * sizeof(double)), 0)
            << '"' << text << '"';
    }
}

// Six rows over three slots: rows 0 and 3 fill slot 0, 1 and 4 slot 1, 2 and 5
// slot 2. Strong results, band-pass names and short result files are checked
// end to end.
TEST(WriteFile, FillsSlotsRowByRowInRowOrderListingTheNamesInDebug) {
    testrun::TempDir dir;
    const saved_settings saved;  // made after dir, so put back before it goes
    fs::current_path(dir.path());
    namebase = "vm";
    global_nr_cpus = 2;
    mode = OUTPUT_MODE_TM4;
    quiet = 1;
    debug = 1;
    firstline = "!S512Tidserier test";
    time_array = {10.0, 10.5, 11.0, 11.5};
    processed = {{}, {99.0}, {}};  // a previous collection's values are dropped
    for (std::size_t r = 0; r < 6; ++r)
        testrun::write_file(dir / (row2basename(r) + ".siw"),
                            std::to_string(r * 10) + "\n" + std::to_string(r * 10 + 1) + "\n");
    ::testing::internal::CaptureStderr();
    write_file("k.tm4_1", weak, 6, 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vma0000.siw\nvmb0001.siw\nvma0002.siw\nvmb0003.siw\nvma0004.siw\nvmb0005.siw\n");
    EXPECT_EQ(testrun::read_file(dir / "k.tm4_1"),
              "!S512Tidserier test\n"
              "10.000000 0 10 20\n10.500000 1 11 21\n11.000000 30 40 50\n11.500000 31 41 51\n");
}

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
    EXPECT_EQ(worker_command("mavlin -x", 1, 10002, 100021),  // exactly the budget: one run
              "mavlin -x vmb????.dat vmb?????.dat");
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
