// The command line of the built vimsor: help text, exit statuses, number
// conversion, options, output names and the invocation log. Inputs are files
// that do not exist (or that carry the output name), so only what the command
// line does before and around the pipeline is looked at.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run.h"

namespace {

using testrun::Case;
using testrun::Expect;

// clang-format off
const std::string help_text = "Usage: vimsor [-v threshold] [-l lowthreshold] filname(s)\n\n"
    "Reads a binary infrasound file and runs mavlin on it\n"
    "and produces a binary or ascii output file.\n\n"
    " -v #,     --treshold=#        -v option for mavlin. Default 0.05\n"
    " -l #,     --lowthreshold=#    -w option for mavlin (bandpass).\n"
    " -w,       --weak              weak signal\n -s,       --strong            strong signal\n"
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
    "                               adds to the common options\n\n"
    " -o name                       use name as base of output-filename\n"
    "                               also sets namebase\n"
    "           --namebase=name     use name as base of temporary files\n"
    "                               (default: vm)\n\n"
    "           --version           prints version\n"
    "           --mavlin=program    use program as mavlin (default: \"/bin/sh -c mavlin --\")\n"
    "           --ver-mavlin        runs mavlin without args\n\n"
    " -?,       --help              this help\n\n"
    "Note: filename(s) may include wildcards\n      Files must be of Helvor Binary format\n";
// clang-format on

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
}

// Status 0, no log, and on stderr: before, the help text, then the copyright,
// version and bug report lines.
std::vector<Expect> help(const std::string& before, const std::string& text = help_text) {
    const auto lines = std::count(before.begin(), before.end(), '\n') +
                       std::count(text.begin(), text.end(), '\n') + 3;
    return {{"status", '=', "0"},
            {"err", '~', before + text + "Copyright (C) the vimsor authors\n"},
            {"err", 'n', std::to_string(lines)},
            {"err", '>', " - infrasound batch processor\nReport bugs to the vimsor maintainers\n"},
            {"out", '=', ""},
            {"ls", '=', ""}};
}

// The run ends with status 1; where (how) text.
std::vector<Expect> fails(const std::string& where, char how, const std::string& text) {
    return {{"status", '=', "1"}, {where, how, text}};
}

TEST(CommandLine, HelpVersionNumbersSummaryOutputNamesAndLog) {
    const std::string same = "output is the same file as input\n", o255(255, 'o'), o256(256, 'o');
    const std::string help_z =
        replaced(replaced(help_text, "-#2sf128", "-#2sf128z"), "/bin/sh -c mavlin --", "mv");
    const std::string log = " " + testrun::bin_dir().string() +
                            "/vimsor -d 2 --options=\"--swatch -#2sf128\" missing.raw b.raw\n";
    const auto error = [](const std::string& message) {
        return std::vector<Expect>{
            {"status", '=', "1"}, {"err", '=', message}, {"out", '=', ""}, {"ls", '=', ""}};
    };
    // clang-format off
    std::vector<Case> cases = {
        {{}, {"-?"}, help("")}, {{}, {"--help", "a.raw"}, help("")}, {{}, {"--he"}, help("")},
        {{}, {"-d", "2"},
         help(" - infrasound batch processor\nCopyright (C) the vimsor authors\n")},
        {{}, {"--quiet"}, help("vimsor\n")},
        {{}, {"--add-options=z", "--mavlin", "mv", "-?"}, help("", help_z)},
        {{}, {"--add-options=z", "--options=-x", "--mavlin=mv", "--help"},
         help("", replaced(help_z, "--swatch -#2sf128z", "-x"))},
        // The option parser's own diagnostic (one line) comes before the help.
        {{}, {"--lowthreshold=0.2", "a.raw"}, help("'\n")}, {{}, {"-x", "a.raw"}, help("'\n")},
        {{}, {"a.raw", "-v"}, help("'\n")}, {{}, {"--s", "a.raw"}, help("'\n")},
        {{}, {"--version", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', ""}, {"err", '=', ""}, {"ls", '=', ""}}},
        {{}, {"--mavlin=echo mavlin here; exit 3", "--ver-mavlin", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', "mavlin here\n"}, {"ls", '=', ""}}},
        {{}, {"-v", "abc", "a.raw"}, error("Error converting abc to double\n")},
        {{}, {"--cpus=four", "a.raw"}, error("Error converting four to double\n")},
        {{}, {"-c", "99999999999999999999999", "a.raw"},
         error("strtoul: Numerical result out of range\n")},
        {{}, {"--quiet", "missing.raw"},
         {{"status", '=', "1"}, {"err", '<', "vimsor\n"}, {"out", '=', ""}}},
        {{{"opts", "-d\n2.5\n#a comment\n-v\n0.5\n"}}, {"@opts", "#dropped", "missing.raw"},
         {{"out", '<', "Using:\n\tScale: 2.5\n\tThreshold: 0.5\nmissing.raw\n"},
          {"logfile", '>', " -d 2.5 -v 0.5 missing.raw\n"}}},
        // The log entry: time stamp, program, options, inputs.
        {{}, {"missing.raw", "-d", "2", "--options=--swatch -#2sf128", "b.raw"},
         {{"logfile", '>', log}, {"logfile", 'n', "1"}, {"logfile", '*', "^[^ ]"}}},
        // A run that fails later is logged, after the earlier entries.
        {{{"logfile", "earlier\n"}}, {"-o", o256, "a.raw"},
         {{"status", '=', "1"},
          {"err", '~', "vimsor: -o " + o256 + ": output name too long (at most 255 bytes)\n"},
          {"err", '!', "a.raw"}, {"logfile", '<', "earlier\n"}, {"logfile", 'n', "2"}}},
        {{}, {"-4", "-o", o255, "a.raw"},
         fails("err", '~',
               "vimsor: a.raw: output name " + o255 + ".tm4_1 too long (at most 259 bytes)\n")},
        // The output lies in the working directory.
        {{}, {"x.da1"}, fails("err", '!', same)}, {{}, {"sub/x.bi1"}, fails("err", '!', same)},
        {{}, {"-o", "out", "x.bi1"}, fails("err", '!', same)},
    };
    // The pipeline refuses an output name equal to the input's before it reads anything.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"x.bi1"}, {"-a", "x.da1"}, {"-4", "x.tm4_1"}, {"--mode=TM4", "x.tm4_1"},
             {"--mode", "Ascii", "x.da1"}, {"-a", "--mode=binary", "x.bi1"},
             {"-a", "--mode=text", "x.da1"},  // unknown words change nothing
             {"-o", "out", "out.bi1"}, {"-O", "res/out", "-a", "res/out.da1"}})
        cases.push_back({{}, args, fails("err", '~', same)});
    // Options, abbreviations, upper case and repetition reach the summary.
    const std::vector<std::string> summaries[] = {
        {"1", "0.05", ""}, {"2.5", "0.1", "", "-v", "0.1", "-d", "2.5"},
        {"2", "0.1", "", "-V", "0.1x", "-D2"}, {"3", "0.3", "", "--tres=0.3", "--sc", "3"},
        {"1", "0.05", "0.2", "--low=0.2"}, {"1", "0.05", "0.2", "--lowtreshold", "0.2", "-b"},
        {"1", "0.05", "-0.001", "-L", "-1e-3", "-s"},
        {"0", "0.05", "", "-d", "1", "-d", "0"},
        {"1", "0.05", "", "-c", "0", "-C", "0x10", "--test", "-T", "--debug", "--sdev-div", "-w",
         "-W"}};
    // clang-format on
    for (const auto& s : summaries) {
        std::vector<std::string> args(s.begin() + 3, s.end());
        args.push_back("missing.raw");
        const std::string low =
            " LowThreshold: " + s[2] + "  (Using only weak signal for bandpass)\n";
        cases.push_back({{},
                         args,
                         fails("out", '<',
                               "Using:\n\tScale: " + s[0] + "\n\tThreshold: " + s[1] + "\n" +
                                   (s[2].empty() ? "" : low) + "missing.raw\n")});
    }
    for (const Case& c : cases)
        EXPECT_EQ(testrun::run_case(c), "");
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves far more address space
TEST(CommandLine, RunningOutOfMemoryInArgumentFilesEndsTheRunWithStatus1) {
    std::string mebibyte, many;
    for (int i = 0; i < 256; ++i)
        mebibyte += std::string(4095, 'x') + "\n";
    for (int i = 0; i < 512; ++i)
        many += "@mib\n";
    const std::vector<Expect> expect{
        {"status", '=', "1"},
        {"ls", '=', "many\nmib\n"},
        {"err", '=', "vimsor: out of memory while expanding argument files\n"}};
    EXPECT_EQ(testrun::run_case(
                  {{{"mib", mebibyte}, {"many", many}}, {"@many"}, expect, "ulimit -v 262144"}),
              "");
}
#endif

}  // namespace
