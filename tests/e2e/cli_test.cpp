// The command line of the built vimsor: help text, exit statuses, number
// conversion, options and the invocation log. Inputs are files that do not
// exist (or that carry the output name), so only what the command line does
// before and around the pipeline is looked at.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "run.h"

namespace {

using testrun::read_file;
using testrun::run_vimsor;
using testrun::TempDir;
using testrun::write_file;

const std::string help_text =
    "Usage: vimsor [-v threshold] [-l lowthreshold] filname(s)\n"
    "\n"
    "Reads a binary infrasound file and runs mavlin on it\n"
    "and produces a binary or ascii output file.\n"
    "\n"
    " -v #,     --treshold=#        -v option for mavlin. Default 0.05\n"
    " -l #,     --lowthreshold=#    -w option for mavlin (bandpass).\n"
    " -w,       --weak              weak signal\n"
    " -s,       --strong            strong signal\n"
    " -b,       --both              both strong & weak signal\n"
    "           --mode=(bin,ascii,tm4)\n"
    "                               Select output mode:\n"
    "                                   bin = old nv16-format (default)\n"
    "                                   ascii = old ascii nv16 format\n"
    "                                   tm4 = use this for nv24\n"
    " -d scale, --scale=scale       scale. Default 1.0\n"
    "           --cpus=nr           sets number of threads\n"
    "           --sdev-div          normalizing by dividing with std deviation\n"
    "           --sdev-mul          normalizing by multiplying with std deviation\n"
    "           --options=\"mavlin-options\"\n"
    "                               sets the common options for\n"
    "                               mavlin. (default: \"--swatch -#2sf128\")\n"
    "           --add-options=\"mavlin-options\"\n"
    "                               adds to the common options\n"
    "\n"
    " -o name                       use name as base of output-filename\n"
    "                               also sets namebase\n"
    "           --namebase=name     use name as base of temporary files\n"
    "                               (default: vm)\n"
    "\n"
    "           --version           prints version\n"
    "           --mavlin=program    use program as mavlin (default: \"/bin/sh -c mavlin --\")\n"
    "           --ver-mavlin        runs mavlin without args\n"
    "\n"
    " -?,       --help              this help\n"
    "\n"
    "Note: filename(s) may include wildcards\n"
    "      Files must be of Helvor Binary format\n";

const std::string same_file = "output is the same file as input\n";

std::size_t count_lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

// The help text, then the copyright, version and bug-report lines.
void expect_help(const testrun::Result& r, const std::string& before = "", const std::string& help = help_text) {
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(r.err.starts_with(before + help)) << r.err;
    EXPECT_EQ(count_lines(r.err.substr(before.size() + help.size())), 3u) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Help, IsPrintedByteForByteAfterTheBannerWhenNoInputIsGivenWithTheCurrentOptions) {
    TempDir dir;
    expect_help(run_vimsor({"-?"}, dir.path()));
    expect_help(run_vimsor({"--help", "a.raw"}, dir.path()));
    expect_help(run_vimsor({"--he"}, dir.path()));
    const testrun::Result r = run_vimsor({"-d", "2"}, dir.path());
    const std::size_t banner_end = r.err.find('\n', r.err.find('\n') + 1) + 1;
    expect_help(r, r.err.substr(0, banner_end));
    EXPECT_TRUE(r.err.starts_with("vimsor ")) << r.err;
    expect_help(run_vimsor({"--quiet"}, dir.path()), "vimsor\n");
    std::string help = help_text;
    help.replace(help.find("--swatch -#2sf128"), 17, "--swatch -#2sf128z");
    help.replace(help.find("/bin/sh -c mavlin --"), 20, "mv");
    expect_help(run_vimsor({"--add-options=z", "--mavlin", "mv", "-?"}, dir.path()), "", help);
    help.replace(help.find("--swatch -#2sf128z"), 18, "-x");
    expect_help(run_vimsor({"--add-options=z", "--options=-x", "--mavlin=mv", "--help"}, dir.path()), "", help);
    EXPECT_FALSE(std::filesystem::exists(dir / "logfile"));
}

TEST(Help, AnswersUnknownOptionsAndMissingArguments) {
    TempDir dir;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--lowthreshold=0.2", "a.raw"}, {"-x", "a.raw"}, {"a.raw", "-v"}, {"--s", "a.raw"}}) {
        const testrun::Result r = run_vimsor(args, dir.path());
        const std::size_t help_at = r.err.find(help_text);
        ASSERT_NE(help_at, std::string::npos) << args[0] << "\n" << r.err;
        EXPECT_GT(help_at, 0u) << "the option parser's own diagnostic comes first";
        EXPECT_EQ(r.status, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "logfile"));
}

TEST(Version, PrintsNothingAndLogsNothing) {
    TempDir dir;
    const testrun::Result r = run_vimsor({"--version", "a.raw"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    const testrun::Result m = run_vimsor({"--mavlin=echo mavlin here; exit 3", "--ver-mavlin", "a.raw"}, dir.path());
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.out, "mavlin here\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "logfile"));
}

TEST(Numbers, UnconvertibleArgumentsEndWithStatus1) {
    TempDir dir;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-v", "abc", "a.raw"}, "Error converting abc to double\n"},
        {{"--cpus=four", "a.raw"}, "Error converting four to double\n"},
        {{"-c", "99999999999999999999999", "a.raw"}, "strtoul: Numerical result out of range\n"},
    };
    for (const auto& [args, err] : cases) {
        const testrun::Result r = run_vimsor(args, dir.path());
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "logfile"));
}

// stdout of a run over the missing input missing.raw, up to the input's name.
std::string summary_of(const std::vector<std::string>& options) {
    TempDir dir;
    std::vector<std::string> args = options;
    args.push_back("missing.raw");
    const testrun::Result r = run_vimsor(args, dir.path());
    EXPECT_EQ(r.status, 1) << "the missing input fails";
    const std::size_t end = r.out.find("missing.raw\n");
    return end == std::string::npos ? r.out : r.out.substr(0, end + 12);
}

std::string summary(const std::string& scale, const std::string& threshold, const std::string& low = "") {
    std::string s = "Using:\n\tScale: " + scale + "\n\tThreshold: " + threshold + "\n";
    if (!low.empty())
        s += " LowThreshold: " + low + "  (Using only weak signal for bandpass)\n";
    return s + "missing.raw\n";
}

TEST(Options, PrefixesFoldingAndOrderReachTheSummary) {
    struct Case {
        std::vector<std::string> options;
        std::string expected;
    };
    const Case cases[] = {
        {{}, summary("1", "0.05")},
        {{"-v", "0.1", "-d", "2.5"}, summary("2.5", "0.1")},
        {{"-V", "0.1x", "-D2"}, summary("2", "0.1")},
        {{"--tres=0.3", "--sc", "3"}, summary("3", "0.3")},
        {{"--low=0.2"}, summary("1", "0.05", "0.2")},
        {{"--lowtreshold", "0.2", "-b"}, summary("1", "0.05", "0.2")},
        {{"-L", "-1e-3", "-s"}, summary("1", "0.05", "-0.001")},
        {{"-d", "1", "-d", "0"}, summary("0", "0.05")},
        {{"-c", "0", "-C", "0x10", "--test", "-T", "--debug", "--sdev-div", "-w", "-W"}, summary("1", "0.05")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(summary_of(c.options), c.expected) << testing::PrintToString(c.options);
}

TEST(Options, QuietReplacesBannerAndSummary) {
    TempDir dir;
    const testrun::Result r = run_vimsor({"--quiet", "missing.raw"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("vimsor\n")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Options, ArgumentFilesAreExpandedBeforeParsing) {
    TempDir dir;
    write_file(dir / "opts", "-d\n2.5\n#a comment\n-v\n0.5\n");
    const testrun::Result r = run_vimsor({"@opts", "#dropped", "missing.raw"}, dir.path());
    EXPECT_TRUE(r.out.starts_with(summary("2.5", "0.5"))) << r.out;
    EXPECT_TRUE(read_file(dir / "logfile").ends_with(" -d 2.5 -v 0.5 missing.raw\n"));
}

// Whether the run's output name equals its input name: the pipeline refuses
// that before it reads anything.
bool maps_to_itself(const std::vector<std::string>& args) {
    TempDir dir;
    const testrun::Result r = run_vimsor(args, dir.path());
    EXPECT_EQ(r.status, 1);
    return r.err.find(same_file) != std::string::npos;
}

TEST(OutputName, FollowsTheModeAndTheOutputOption) {
    const std::vector<std::string> itself[] = {{"x.bi1"}, {"-a", "x.da1"}, {"-4", "x.tm4_1"}, {"--mode=TM4", "x.tm4_1"},
        {"--mode", "Ascii", "x.da1"}, {"-a", "--mode=binary", "x.bi1"},
        {"-a", "--mode=text", "x.da1"},  // unknown words change nothing
        {"-o", "out", "out.bi1"}, {"-O", "res/out", "-a", "res/out.da1"}};
    for (const auto& args : itself)
        EXPECT_TRUE(maps_to_itself(args)) << testing::PrintToString(args);
    // The output lies in the working directory.
    for (const auto& args : {std::vector<std::string>{"x.da1"}, {"sub/x.bi1"}, {"-o", "out", "x.bi1"}})
        EXPECT_FALSE(maps_to_itself(args)) << testing::PrintToString(args);
}

TEST(OutputName, TooLongForItsBufferIsAnErrorNamingTheArgument) {
    TempDir dir;
    const std::string long_name(256, 'o');
    testrun::Result r = run_vimsor({"-o", long_name, "a.raw"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("-o " + long_name + ": output name too long"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("a.raw"), std::string::npos) << "nothing was handed to the pipeline";
    r = run_vimsor({"-4", "-o", std::string(255, 'o'), "a.raw"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.raw: output name " + std::string(255, 'o') + ".tm4_1 too long"), std::string::npos)
        << r.err;
}

TEST(Log, EntryListsProgramOptionsThenInputs) {
    TempDir dir;
    const std::string exe = (testrun::bin_dir() / "vimsor").string();
    run_vimsor({"missing.raw", "-d", "2", "--options=--swatch -#2sf128", "second.raw"}, dir.path());
    const std::string log = read_file(dir / "logfile");
    EXPECT_EQ(count_lines(log), 1u);
    EXPECT_TRUE(log.ends_with(" " + exe + " -d 2 --options=\"--swatch -#2sf128\" missing.raw second.raw\n")) << log;
    EXPECT_GT(log.find(' '), 0u) << "the entry starts with its time stamp";
    run_vimsor({"-o", std::string(256, 'o'), "a.raw"}, dir.path());
    EXPECT_EQ(count_lines(read_file(dir / "logfile")), 2u) << "a run that fails later is logged";
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_space_limit_works = false;  // the sanitizer reserves far more
#else
constexpr bool address_space_limit_works = true;
#endif

TEST(ArgumentFiles, RunningOutOfMemoryEndsTheRunWithStatus1) {
    if (!address_space_limit_works)
        GTEST_SKIP() << "address-space limits do not work under the address sanitizer";
    TempDir dir;
    std::string mebibyte;
    for (int i = 0; i < 256; ++i)
        mebibyte += std::string(4095, 'x') + "\n";
    write_file(dir / "mib", mebibyte);
    std::string many;
    for (int i = 0; i < 512; ++i)
        many += "@mib\n";
    write_file(dir / "many", many);
    const std::string exe = (testrun::bin_dir() / "vimsor").string();
    const testrun::Result r = testrun::run("/bin/sh", {"-c", "ulimit -v 262144 && exec " + exe + " @many"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vimsor: out of memory while expanding argument files\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "logfile"));
}

}  // namespace
