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

const std::string help_text =
    "Usage: vimsor [-v threshold] [-l lowthreshold] filname(s)\n\n"
    "Reads a binary infrasound file and runs mavlin on it\n"
    "and produces a binary or ascii output file.\n\n"
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
    "                               adds to the common options\n\n"
    " -o name                       use name as base of output-filename\n"
    "                               also sets namebase\n"
    "           --namebase=name     use name as base of temporary files\n"
    "                               (default: vm)\n\n"
    "           --version           prints version\n"
    "           --mavlin=program    use program as mavlin (default: \"/bin/sh -c mavlin --\")\n"
    "           --ver-mavlin        runs mavlin without args\n\n"
    " -?,       --help              this help\n\n"
    "Note: filename(s) may include wildcards\n"
    "      Files must be of Helvor Binary format\n";
const std::string help_end =
    " - infrasound batch processor\nReport bugs to the vimsor maintainers\n";
const std::string banner = " - infrasound batch processor\nCopyright (C) the vimsor authors\n";

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
}

// The help text exactly, after before, then the copyright, version and bug lines.
std::vector<testrun::Expect> help(const std::string& before, const std::string& text = help_text) {
    const auto lines = std::count(before.begin(), before.end(), '\n') +
                       std::count(text.begin(), text.end(), '\n') + 3;
    return {{"status", '=', "0"},
            {"err", '~', before + text + "Copyright (C) the vimsor authors\n"},
            {"err", 'n', std::to_string(lines)},
            {"err", '>', help_end},
            {"out", '=', ""},
            {"ls", '=', ""}};
}

std::string summary(const std::string& scale, const std::string& threshold,
                    const std::string& low = "") {
    return "Using:\n\tScale: " + scale + "\n\tThreshold: " + threshold + "\n" +
           (low.empty() ? ""
                        : " LowThreshold: " + low + "  (Using only weak signal for bandpass)\n") +
           "missing.raw\n";
}

std::vector<testrun::Expect> fails(const std::string& where, char how, const std::string& text) {
    return {{"status", '=', "1"}, {where, how, text}};
}

TEST(CommandLine, HelpVersionNumbersSummaryAndLog) {
    const std::string same = "output is the same file as input\n";
    const std::string exe = (testrun::bin_dir() / "vimsor").string();
    const std::string log_tail =
        " " + exe + " -d 2 --options=\"--swatch -#2sf128\" missing.raw b.raw\n";
    const std::string help_z =
        replaced(replaced(help_text, "-#2sf128", "-#2sf128z"), "/bin/sh -c mavlin --", "mv");
    const std::string o255(255, 'o'), o256(256, 'o');
    std::vector<Case> cases = {
        {{}, {"-?"}, help("")},
        {{}, {"--help", "a.raw"}, help("")},
        {{}, {"--he"}, help("")},
        {{}, {"-d", "2"}, help(banner)},
        {{}, {"--quiet"}, help("vimsor\n")},
        {{}, {"--add-options=z", "--mavlin", "mv", "-?"}, help("", help_z)},
        {{},
         {"--add-options=z", "--options=-x", "--mavlin=mv", "--help"},
         help("", replaced(help_z, "--swatch -#2sf128z", "-x"))},
        // The option parser's own diagnostic comes before the help.
        {{}, {"--lowthreshold=0.2", "a.raw"}, help("'\n")},
        {{}, {"-x", "a.raw"}, help("'\n")},
        {{}, {"a.raw", "-v"}, help("'\n")},
        {{}, {"--s", "a.raw"}, help("'\n")},
        {{},
         {"--version", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', ""}, {"err", '=', ""}, {"ls", '=', ""}}},
        {{},
         {"--mavlin=echo mavlin here; exit 3", "--ver-mavlin", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', "mavlin here\n"}, {"ls", '=', ""}}},
        {{},
         {"-v", "abc", "a.raw"},
         {{"status", '=', "1"},
          {"err", '=', "Error converting abc to double\n"},
          {"out", '=', ""},
          {"ls", '=', ""}}},
        {{},
         {"--cpus=four", "a.raw"},
         {{"status", '=', "1"},
          {"err", '=', "Error converting four to double\n"},
          {"out", '=', ""},
          {"ls", '=', ""}}},
        {{},
         {"-c", "99999999999999999999999", "a.raw"},
         {{"status", '=', "1"},
          {"err", '=', "strtoul: Numerical result out of range\n"},
          {"out", '=', ""},
          {"ls", '=', ""}}},
        {{},
         {"--quiet", "missing.raw"},
         {{"status", '=', "1"}, {"err", '<', "vimsor\n"}, {"out", '=', ""}}},
        {{{"opts", "-d\n2.5\n#a comment\n-v\n0.5\n"}},
         {"@opts", "#dropped", "missing.raw"},
         {{"out", '<', summary("2.5", "0.5")}, {"logfile", '>', " -d 2.5 -v 0.5 missing.raw\n"}}},
        {{},
         {"missing.raw", "-d", "2", "--options=--swatch -#2sf128", "b.raw"},
         {{"logfile", '>', log_tail}, {"logfile", 'n', "1"}, {"logfile", '*', "^[^ ]"}}},
        // A run that fails later is logged, after the earlier entries.
        {{{"logfile", "earlier\n"}},
         {"-o", o256, "a.raw"},
         {{"status", '=', "1"},
          {"err", '~', "-o " + o256 + ": output name too long"},
          {"err", '!', "a.raw"},
          {"logfile", '<', "earlier\n"},
          {"logfile", 'n', "2"}}},
        {{},
         {"-4", "-o", o255, "a.raw"},
         fails("err", '~', "a.raw: output name " + o255 + ".tm4_1 too long")},
        // The pipeline refuses an output name equal to the input's before it reads anything.
        {{}, {"x.bi1"}, fails("err", '~', same)},
        {{}, {"-a", "x.da1"}, fails("err", '~', same)},
        {{}, {"-4", "x.tm4_1"}, fails("err", '~', same)},
        {{}, {"--mode=TM4", "x.tm4_1"}, fails("err", '~', same)},
        {{}, {"--mode", "Ascii", "x.da1"}, fails("err", '~', same)},
        {{}, {"-a", "--mode=binary", "x.bi1"}, fails("err", '~', same)},
        {{},
         {"-a", "--mode=text", "x.da1"},
         fails("err", '~', same)},  // unknown words change nothing
        {{}, {"-o", "out", "out.bi1"}, fails("err", '~', same)},
        {{}, {"-O", "res/out", "-a", "res/out.da1"}, fails("err", '~', same)},
        // The output lies in the working directory.
        {{}, {"x.da1"}, fails("err", '!', same)},
        {{}, {"sub/x.bi1"}, fails("err", '!', same)},
        {{}, {"-o", "out", "x.bi1"}, fails("err", '!', same)},
    };
    const std::pair<std::vector<std::string>, std::string> summaries[] = {
        {{}, summary("1", "0.05")},
        {{"-v", "0.1", "-d", "2.5"}, summary("2.5", "0.1")},
        {{"-V", "0.1x", "-D2"}, summary("2", "0.1")},
        {{"--tres=0.3", "--sc", "3"}, summary("3", "0.3")},
        {{"--low=0.2"}, summary("1", "0.05", "0.2")},
        {{"--lowtreshold", "0.2", "-b"}, summary("1", "0.05", "0.2")},
        {{"-L", "-1e-3", "-s"}, summary("1", "0.05", "-0.001")},
        {{"-d", "1", "-d", "0"}, summary("0", "0.05")},
        {{"-c", "0", "-C", "0x10", "--test", "-T", "--debug", "--sdev-div", "-w", "-W"},
         summary("1", "0.05")},
    };
    for (auto [args, text] : summaries) {
        args.push_back("missing.raw");
        cases.push_back({{}, args, fails("out", '<', text)});
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
    EXPECT_EQ(
        testrun::run_case({{{"mib", mebibyte}, {"many", many}},
                           {"@many"},
                           {{"status", '=', "1"},
                            {"err", '=', "vimsor: out of memory while expanding argument files\n"},
                            {"ls", '=', "many\nmib\n"}},
                           "ulimit -v 262144"}),
        "");
}
#endif

}  // namespace
