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
Case help(std::vector<std::string> args, const std::string& before,
          const std::string& text = help_text) {
    const auto lines = std::count(before.begin(), before.end(), '\n') +
                       std::count(text.begin(), text.end(), '\n') + 3;
    return {{},
            args,
            {{"status", '=', "0"},
             {"err", '~', before + text + "Copyright (C) the vimsor authors\n"},
             {"err", 'n', std::to_string(lines)},
             {"err", '>', " - infrasound batch processor\nReport bugs to the vimsor maintainers\n"},
             {"out", '=', ""},
             {"ls", '=', ""}}};
}

// Status 1 and, on stderr, message and nothing else.
Case error(std::vector<std::string> args, const std::string& message) {
    return {
        {}, args, {{"status", '=', "1"}, {"err", '=', message}, {"out", '=', ""}, {"ls", '=', ""}}};
}

// The run reaches the pipeline, which refuses an output named like its input.
Case same(std::vector<std::string> args) {
    return {{}, args, {{"status", '=', "1"}, {"err", '~', "output is the same file as input\n"}}};
}

// The summary of scale, threshold and low threshold ("": none) before the input.
Case summary(const std::string& scale, const std::string& threshold, const std::string& low,
             std::vector<std::string> args) {
    args.push_back("missing.raw");
    const std::string band = " LowThreshold: " + low + "  (Using only weak signal for bandpass)\n";
    return {{},
            args,
            {{"status", '=', "1"},
             {"out", '<',
              "Using:\n\tScale: " + scale + "\n\tThreshold: " + threshold + "\n" +
                  (low.empty() ? "" : band) + "missing.raw\n"}}};
}

TEST(CommandLine, HelpVersionNumbersSummaryOutputNamesAndLog) {
    const std::string o255(255, 'o'), o256(256, 'o');
    const std::string help_z =
        replaced(replaced(help_text, "-#2sf128", "-#2sf128z"), "/bin/sh -c mavlin --", "mv");
    const std::string vimsor = (testrun::bin_dir() / "vimsor").string();
    // clang-format off
    const Case cases[] = {
        help({"-?"}, ""), help({"--help", "a.raw"}, ""),
        help({"-d", "2"}, " - infrasound batch processor\nCopyright (C) the vimsor authors\n"),
        help({"--quiet"}, "vimsor\n"),
        help({"--add-options=z", "--mavlin", "mv", "-?"}, "", help_z),
        help({"--add-options=z", "--options=-x", "--mavlin=mv", "--help"}, "",
             replaced(help_z, "--swatch -#2sf128z", "-x")),
        // The option parser's own diagnostic (one line) comes before the help.
        help({"-x", "a.raw"}, "'\n"), help({"a.raw", "-v"}, "'\n"),
        {{}, {"--version", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', ""}, {"err", '=', ""}, {"ls", '=', ""}}},
        {{}, {"--mavlin=echo mavlin here; exit 3", "--ver-mavlin", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', "mavlin here\n"}, {"ls", '=', ""}}},
        error({"-v", "abc", "a.raw"}, "Error converting abc to double\n"),
        error({"--cpus=four", "a.raw"}, "Error converting four to double\n"),
        error({"-c", "99999999999999999999999", "a.raw"},
              "strtoul: Numerical result out of range\n"),
        // Argument files are expanded first; the log entry: time stamp, program, arguments.
        {{{"opts", "-d\n2.5\n#a comment\n-v\n0.5\n"}}, {"@opts", "#dropped", "missing.raw"},
         {{"out", '<', "Using:\n\tScale: 2.5\n\tThreshold: 0.5\nmissing.raw\n"},
          {"logfile", '>', " " + vimsor + " -d 2.5 -v 0.5 missing.raw\n"}, {"logfile", 'n', "1"},
          {"logfile", '*', "^[^ ]"}}},
        // A run that fails later is logged, after the earlier entries.
        {{{"logfile", "earlier\n"}}, {"-o", o256, "a.raw"},
         {{"status", '=', "1"},
          {"err", '~', "vimsor: -o " + o256 + ": output name too long (at most 255 bytes)\n"},
          {"err", '!', "a.raw"}, {"logfile", '<', "earlier\n"}, {"logfile", 'n', "2"}}},
        {{}, {"-4", "-o", o255, "a.raw"}, {{"status", '=', "1"}, {"err", '~',
          "vimsor: a.raw: output name " + o255 + ".tm4_1 too long (at most 259 bytes)\n"}}},
        // Output names from the mode words (any case; unknown words change nothing) and -O.
        same({"x.bi1"}), same({"-4", "x.tm4_1"}), same({"--mode=TM4", "x.tm4_1"}),
        same({"--mode", "Ascii", "x.da1"}), same({"-a", "--mode=binary", "x.bi1"}),
        same({"-a", "--mode=text", "x.da1"}), same({"-O", "res/out", "-a", "res/out.da1"}),
        // Options, abbreviations, upper case and repetition reach the summary.
        summary("1", "0.05", "", {"-c", "0", "-C", "0x10", "--test", "-T", "--debug", "--sdev-div",
                                  "-w", "-W"}),
        summary("2.5", "0.1", "", {"-v", "0.1", "-d", "2.5"}),
        summary("2", "0.1", "-0.001", {"-V", "0.1x", "-D2", "-L", "-1e-3", "-s"}),
        summary("3", "0.3", "0.2", {"--tres=0.3", "--sc", "3", "--low=0.2"}),
        summary("0", "0.05", "0.2", {"--lowtreshold", "0.2", "-b", "-d", "1", "-d", "0"}),
    };
    // clang-format on
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
    const Case c{{{"mib", mebibyte}, {"many", many}},
                 {"@many"},
                 {{"status", '=', "1"},
                  {"ls", '=', "many\nmib\n"},
                  {"err", '=', "vimsor: out of memory while expanding argument files\n"}},
                 "ulimit -v 262144"};
    EXPECT_EQ(testrun::run_case(c), "");
}
#endif

}  // namespace
