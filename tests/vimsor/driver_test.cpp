#include <fnmatch.h>
#include <signal.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <cerrno>
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
#include "hostile_names.h"
#include "nevra_base.h"
#include "options.h"
#include "output_formats.h"
#include "output_names.h"
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

// What a parse found besides outcome, seen and operands: the values that differ from the defaults,
// the --mode words that named no format, the refused option, the bad number and its message.
std::string parse_found(const parsed_options& p) {
    const option_values d;
    const option_values& v = p.values;
    std::ostringstream out;
    const auto put = [&out](const char* name, const auto& value, const auto& initial) {
        if (value != initial)
            out << name << '=' << value << ' ';
    };
    put("mode", v.mode, d.mode);
    put("strength", v.strength, d.strength);
    put("bandp", v.bandp, d.bandp);
    put("treshold", v.treshold, d.treshold);
    put("low", v.lowtreshold, d.lowtreshold);
    put("scale", v.scale, d.scale);
    put("cpus", v.cpus, d.cpus);
    put("sdev", v.sdev, d.sdev);
    put("test", v.test, d.test);
    put("debug", v.debug, d.debug);
    put("quiet", v.quiet, d.quiet);
    put("o", v.output_name, d.output_name);
    put("namebase", v.namebase, d.namebase);
    put("options", v.options, d.options);
    put("mavlin", v.mavlin, d.mavlin);
    for (const std::string& word : p.unknown_mode_words)
        out << "unknown=" << word << ' ';
    put("refused", p.refused_option, std::string());
    put("bad", p.bad_word, std::string());
    out << p.message;
    return out.str();
}

// Parses vimsor and args without diagnostics.
parsed_options parse(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"vimsor"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return parse_vimsor_options(static_cast<int>(words.size()), argv.data(), false);
}

// The parse stops where vimsor would stop; what it prints is checked end to end.
TEST(ParseOptions, OutcomeSeenOperandsValuesAndTheWordThatEndedIt) {
    using strings = std::vector<std::string>;
    const struct {
        strings args;
        options_outcome outcome;
        strings seen, operands;
        std::string found;
    } cases[] = {
        // clang-format off
        {{"-V", "0.1x", "a", "-D2", "--low=-1e-3", "b", "--sdev-d", "-4", "--", "-c"}, OPTIONS_RUN,
         {"treshold", "scale", "lowtreshold", "sdev-div", "4"}, {"a", "b", "-c"},
         "mode=2 bandp=1 treshold=0.1 low=-0.001 scale=2 sdev=1 "},
        {{"-c0x1f", "--cp", "010", "-C", "0", "-C12"}, OPTIONS_RUN, {"cpus", "cpus", "cpus", "cpus"},
         {}, "cpus=12 "},
        {{"--cpus=0x1f", "f", "-l0", "-b"}, OPTIONS_RUN, {"cpus", "lowtreshold", "both"}, {"f"},
         "strength=2 bandp=1 cpus=31 "},
        {{"-4", "-A", "--mode=TM4", "--mode", "text", "-O", "res/o", "--nameb=nb", "--mav=m",
          "--opt=-x", "--add-options", " y", "--sdev-m", "--q", "--deb", "-T", "-s", "-Wb", "f"},
         OPTIONS_RUN,
         {"4", "ascii", "mode", "mode", "o", "namebase", "mavlin", "options", "add-options",
          "sdev-mul", "quiet", "debug", "test", "strong", "weak", "both"}, {"f"},
         "mode=2 strength=2 sdev=2 test=1 debug=1 quiet=1 o=res/o namebase=nb options=-x y "
         "mavlin=m unknown=text "},
        {{"--options=x", "--he", "a", "-v", "bad"}, OPTIONS_HELP, {"options", "help"}, {},
         "options=x "},
        {{"--deb", "-xs", "a"}, OPTIONS_HELP, {"debug"}, {}, "debug=1 refused=-x "},
        // No refusal, nor the rest of the word, is left over for the next parse.
        {{"-s?w"}, OPTIONS_HELP, {"strong", "help"}, {}, "strength=1 "},
        {{"--lowthreshold=2", "a"}, OPTIONS_HELP, {}, {}, "refused=--lowthreshold=2 "},
        {{"--s", "a"}, OPTIONS_HELP, {}, {}, "refused=--s "},  // ambiguous
        {{"--version=1"}, OPTIONS_HELP, {}, {}, "refused=--version=1 "},
        {{"a", "--tr"}, OPTIONS_HELP, {}, {}, "refused=--tr "},
        {{"a", "-sv"}, OPTIONS_HELP, {"strong"}, {}, "strength=1 refused=-v "},
        {{"--vers", "-v", "x"}, OPTIONS_VERSION, {"version"}, {}, ""},
        {{"-w", "--ver-m", "--version"}, OPTIONS_VER_MAVLIN, {"weak", "ver-mavlin"}, {}, ""},
        {{"-l", "x1", "a"}, OPTIONS_BAD_VALUE, {"lowtreshold"}, {},
         "bad=x1 Error converting x1 to double"},
        {{"--cpus=four"}, OPTIONS_BAD_VALUE, {"cpus"}, {}, "bad=four Error converting four to double"},
        {{"-c", "99999999999999999999999"}, OPTIONS_BAD_VALUE, {"cpus"}, {},
         "bad=99999999999999999999999 strtoul: Numerical result out of range"},
        // clang-format on
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& arg : c.args)
            label += arg + " ";
        const parsed_options p = parse(c.args);
        EXPECT_EQ(p.outcome, c.outcome) << label;
        EXPECT_EQ(p.seen, c.seen) << label;
        EXPECT_EQ(p.operands, c.operands) << label;
        EXPECT_EQ(parse_found(p), c.found) << label;
    }
}

// Every format's words select it, and every strength and band-pass give its
// extension with their digit.
TEST(OutputNames, EveryFormatRowGivesItsWordsAndItsExtensionsInEveryStrength) {
    const std::pair<std::vector<std::string>, std::string> strengths[] = {
        {{}, "1"},          {{"-s"}, "2"},        {{"-b"}, "12"},       {{"-w"}, "1"},
        {{"-l", "1"}, "3"}, {{"-s", "-l1"}, "3"}, {{"-l1", "-b"}, "3"},
    };
    for (const output_format& format : output_formats) {
        const std::string stem(format.extension.substr(0, format.extension.size() - 1));
        for (const std::string_view word : format.words)
            for (const auto& [args, digits] : strengths) {
                std::vector<std::string> words = args;
                words.insert(words.begin(), "--mode=" + std::string(word));
                const option_values values = parse(words).values;
                EXPECT_EQ(values.mode, format.mode) << word;
                std::vector<std::string> expected;
                for (char digit : digits)
                    expected.push_back(stem + digit);
                EXPECT_EQ(output_extensions(values), expected) << word << " " << digits;
            }
    }
    EXPECT_EQ(output_extension(static_cast<output_modes_t>(7), weak, false), ".bi1");
    EXPECT_EQ(name_of_strength("", strong, true), "");
}

// The output name: the input's file name, or the -o name, and the extension.
// The driver's messages for names that do not fit are checked end to end.
TEST(OutputNames, FromTheInputFileNameOrTheOutputName) {
    const std::string d300(300, 'd'), f256(256, 'f'), o255(255, 'o'), o256(256, 'o');
    const std::string n251(251, 'n'), n255(255, 'n');
    const struct {
        std::string input, output_name, extension;
        output_name_fault fault;
        std::string name;  // "" where the name is not formed
    } cases[] = {
        {"/data/k0105.raw", "", ".bi1", OUTPUT_NAME_FITS, "k0105.bi1"},
        {d300 + "/f.raw", "", ".da1", OUTPUT_NAME_FITS, "f.da1"},  // a long directory is no harm
        {"a.raw", "res/out", ".tm4_2", OUTPUT_NAME_FITS, "res/out.tm4_2"},
        {"c:\\in\\a.b.raw", "", ".bi3", OUTPUT_NAME_FITS, "a.b.bi3"},
        {"x.bi1", "", ".bi1", OUTPUT_NAME_FITS, "x.bi1"},
        {testwriters::longest_name(".raw"), "", ".tm4_1", OUTPUT_NAME_FITS, n251 + ".tm4_1"},
        {testwriters::longest_name(""), "", ".bi1", OUTPUT_NAME_FITS, n255 + ".bi1"},  // 259
        {"a.raw", o255, ".bi1", OUTPUT_NAME_FITS, o255 + ".bi1"},
        {testwriters::longest_name(""), "", ".tm4_1", OUTPUT_NAME_TOO_LONG, n255 + ".tm4_1"},
        {"dir/" + f256 + ".raw", "", ".bi1", OUTPUT_NAME_INPUT_TOO_LONG, ""},
        {"dir/" + f256, "out", ".bi1", OUTPUT_NAME_INPUT_TOO_LONG, ""},  // checked even with -o
        {"a.raw", o256, ".bi1", OUTPUT_NAME_O_TOO_LONG, ""},
    };
    for (const auto& c : cases) {
        std::string name = "before";
        EXPECT_EQ(form_output_name(c.input, c.output_name, c.extension, name), c.fault) << c.input;
        EXPECT_EQ(name, c.name.empty() ? "before" : c.name) << c.input;
        option_values values;
        values.output_name = c.output_name;
        name = "before";
        const bool fits = c.fault == OUTPUT_NAME_FITS;
        EXPECT_EQ(output_file_name(c.input, values, c.extension, name), fits ? 0 : ENAMETOOLONG);
        EXPECT_EQ(name, fits ? c.name : "before") << c.input;
    }
    // Without -o the output lies in the working directory, whatever the name.
    for (const auto& [label, hostile] : testwriters::hostile_names) {
        std::string name;
        EXPECT_EQ(form_output_name("in/" + std::string(hostile) + ".raw", "", ".bi1", name),
                  OUTPUT_NAME_FITS)
            << label;
        EXPECT_EQ(name.find('/'), std::string::npos) << label;
        EXPECT_TRUE(name.ends_with(".bi1")) << label;
    }
}

// -o gives the namebase while that is still the text "vm".
TEST(OutputNames, TheOutputNameIsTheNamebaseUnlessOneWasGiven) {
    EXPECT_EQ(job_namebase("vm", ""), "vm");
    EXPECT_EQ(job_namebase("vm", "res/out"), "res/out");
    EXPECT_EQ(job_namebase("tmp", "res/out"), "tmp");
    const saved_settings saved;
    output_name = "res/out";
    namebase = "vm";
    fout_extension = ".bi1";
    char path[output_name_size];
    output_path_for("/data/a.raw", path);
    EXPECT_EQ(std::string(path), "res/out.bi1");
    EXPECT_EQ(namebase, "res/out");
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

// Six rows over three slots: rows 0 and 3 fill slot 0, 1 and 4 slot 1, 2 and 5 slot 2. Strong
// results, band-pass names and short result files are checked end to end.
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
