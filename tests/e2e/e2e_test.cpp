// The built programs end to end, each run in a temporary directory with the
// mavlin stand-in first on PATH.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "legacy_writer.h"
#include "nv24_writer.h"
#include "run.h"
#include "tm4_writer.h"

namespace {

namespace fs = std::filesystem;
using testwriters::formatted;
using File = std::pair<std::string, std::string>;  // a name and its bytes

// A check of where after a run: '=' equal to text, '~' contains it, '!' does not, '<' starts,
// '>' ends with it, '*' matches it as a regular expression, '#' has text bytes, 'n' text lines.
// where is "status", "out", "err" (process ids as '#'), "ls" (the working directory's names, one
// a line, sorted), "F/" (folder F's; saved/ the job files'), "runs" (the argument lists of the
// analysis runs, one a line, sorted), "saved/F" or a file ("" if missing).
struct Expect {
    std::string where;
    char how;
    std::string text;
};

// A working directory and a "mavlin" of its own first on PATH, which by
// default logs its arguments, saves the job files and runs the stand-in.
struct Workspace {
    testrun::TempDir dir, tools;
    Workspace() {
        fs::create_directories(tools / "logs");
        fs::create_directories(tools / "saved");
        mavlin(R"(for a; do printf '%s\n' "$a"; done > "$tools/logs/$$"
for a; do case "$a" in *.dat) [ -f "$a" ] && cp "$a" "$tools/saved/";; esac; done
exec "$real" "$@")");
    }
    void put(const std::string& name, const std::string& bytes) {  // "F/": a folder, "->T" a link
        if (name.ends_with('/'))
            fs::create_directories(dir / name);
        else if (bytes.starts_with("->"))
            fs::create_symlink(bytes.substr(2), dir / name);
        else
            testrun::write_file(dir / name, bytes);
    }
    void mavlin(const std::string& body) {  // $real is the stand-in, $tools the script's folder
        testrun::write_file(tools / "mavlin",
                            "#!/bin/sh\nreal='" + (testrun::bin_dir() / "mavlin").string() +
                                "'\ntools='" + tools.path().string() + "'\n" + body + "\n");
        fs::permissions(tools / "mavlin", fs::perms::owner_all);
    }
    // program with args, by /bin/sh running shell first when it is given.
    testrun::Result run(const std::vector<std::string>& args, const std::string& shell = "",
                        const std::string& program = "vimsor") {
        if (shell.empty())
            return testrun::run(program, args, dir.path(), tools.path());
        std::vector<std::string> sh_args{"-c", shell + "\nexec " + program + " \"$@\"", "sh"};
        sh_args.insert(sh_args.end(), args.begin(), args.end());
        return testrun::run("/bin/sh", sh_args, dir.path(), tools.path());
    }
    std::string get(const std::string& where, const testrun::Result& r) const {
        std::vector<std::string> lines;
        if (where == "status")
            return std::to_string(r.status);
        if (where == "out" || where == "err") {
            std::istringstream in(where == "out" ? r.out : r.err);
            for (std::string line; std::getline(in, line);)
                lines.push_back(line.starts_with("Waiting for pid ")
                                    ? std::regex_replace(line, std::regex("[0-9]+"), "#")
                                    : std::regex_replace(line, std::regex("pid [0-9]+"), "pid #"));
        } else if (where == "ls" || where == "runs" || where.ends_with('/')) {
            const fs::path folder = where == "ls"     ? dir.path()
                                    : where == "runs" ? tools / "logs"
                                                      : (where == "saved/" ? tools : dir) / where;
            for (const auto& entry : fs::directory_iterator(folder)) {
                std::string s =
                    where == "runs" ? testrun::read_file(entry) : entry.path().filename().string();
                std::replace(s.begin(), s.end(), '\n', ' ');
                lines.push_back(s);
            }
            std::sort(lines.begin(), lines.end());
        } else {
            return testrun::read_file((where.starts_with("saved/") ? tools : dir) / where);
        }
        std::string s;
        for (const auto& line : lines)
            s += line + "\n";
        return s;
    }
    std::string check(const testrun::Result& r, const std::vector<Expect>& expects) const {
        std::string failures;
        for (const auto& [where, how, text] : expects) {
            const std::string s = get(where, r);
            const bool ok = how == '='   ? s == text
                            : how == '~' ? s.find(text) != std::string::npos
                            : how == '!' ? s.find(text) == std::string::npos
                            : how == '<' ? s.starts_with(text)
                            : how == '>' ? s.ends_with(text)
                            : how == '*' ? std::regex_search(s, std::regex(text))
                            : how == '#' ? s.size() == std::stoul(text)
                                         : std::count(s.begin(), s.end(), '\n') == std::stol(text);
            if (!ok)
                failures += where + " " + how + " " + text.substr(0, 300) + "\n--- is ---\n" +
                            s.substr(0, 600) + "\n--- stderr ---\n" + r.err.substr(0, 600) + "\n";
        }
        return failures;
    }
};

struct Case {
    std::vector<File> files;
    std::vector<std::string> args;
    std::vector<Expect> expect;
    std::string shell = "", script = "";  // see Workspace::run and mavlin
};

// Each case in a fresh Workspace with its files put first.
void expect_cases(const std::vector<Case>& cases, const std::string& program = "vimsor") {
    for (const Case& c : cases) {
        Workspace w;
        for (const auto& [name, bytes] : c.files)
            w.put(name, bytes);
        if (!c.script.empty())
            w.mavlin(c.script);
        EXPECT_EQ(w.check(w.run(c.args, c.shell, program), c.expect), "")
            << program << " " << testing::PrintToString(c.args);
    }
}

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

std::string repeated(const std::string& text, int times) {
    std::string s;
    for (int i = 0; i < times; ++i)
        s += text;
    return s;
}

// clang-format off
// Status 0, no log; on stderr before, the help text, the copyright, version and bug lines.
Case help(std::vector<std::string> args, const std::string& before,
          const std::string& text = help_text) {
    const auto lines = std::ranges::count(before + text, '\n') + 3;
    return {{}, args, {{"status", '=', "0"}, {"out", '=', ""}, {"ls", '=', ""},
        {"err", '~', before + text + "Copyright (C) the vimsor authors\n"},
        {"err", 'n', std::to_string(lines)},
        {"err", '>', " - infrasound batch processor\nReport bugs to the vimsor maintainers\n"}}};
}

// Status 1 and, on stderr, message and nothing else.
Case error(std::vector<std::string> args, const std::string& message) {
    return {{}, args,
            {{"status", '=', "1"}, {"err", '=', message}, {"out", '=', ""}, {"ls", '=', ""}}};
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
    return {{}, args, {{"status", '=', "1"}, {"out", '<', "Using:\n\tScale: " + scale +
        "\n\tThreshold: " + threshold + "\n" + (low.empty() ? "" : band) + "missing.raw\n"}}};
}
// clang-format on

TEST(CommandLine, HelpVersionNumbersSummaryOutputNamesAndLog) {
    const std::string o255(255, 'o'), o256(256, 'o'), f256(256, 'f');
    const std::string help_z =
        replaced(replaced(help_text, "-#2sf128", "-#2sf128z"), "/bin/sh -c mavlin --", "mv");
    const std::string vimsor = (testrun::bin_dir() / "vimsor").string();
    // clang-format off
    expect_cases({
        help({"-d", "2"}, " - infrasound batch processor\nCopyright (C) the vimsor authors\n"),
        help({"--quiet"}, "vimsor\n"), help({"--help", "a.raw"}, ""),
        help({"--add-options=z", "--mavlin", "mv", "-?"}, "", help_z),
        help({"--add-options=z", "--options=-x", "--mavlin=mv", "--help"}, "",
             replaced(help_z, "--swatch -#2sf128z", "-x")),
        // The option parser's own diagnostic (one line) comes before the help.
        help({"-x", "a.raw"}, "'\n"), help({"a.raw", "-v"}, "'\n"), help({"--s", "a.raw"}, "'\n"),
        help({"--lowthreshold=2", "a.raw"}, "'\n"),
        {{}, {"--version", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', ""}, {"err", '=', ""}, {"ls", '=', ""}}},
        {{}, {"--mavlin=echo mavlin here; exit 3", "--ver-mavlin", "a.raw"},
         {{"status", '=', "0"}, {"out", '=', "mavlin here\n"}, {"ls", '=', ""}}},
        error({"-v", "abc", "a.raw"}, "Error converting abc to double\n"),
        error({"-A", "--sc", "x1", "-l", "abc", "a.raw"}, "Error converting x1 to double\n"),
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
        {{}, {"-o", "x", "d/" + f256 + ".raw"}, {{"status", '=', "1"}, {"err", '>',
          "vimsor: d/" + f256 + ".raw: file name too long (at most 255 bytes)\n"}}},
        // Output names from the mode words (any case; unknown words change nothing) and -O.
        same({"x.bi1"}), same({"-4", "x.tm4_1"}), same({"--mode=TM4", "x.tm4_1"}),
        same({"--mode", "Ascii", "x.da1"}), same({"-a", "--mode=binary", "x.bi1"}),
        same({"-a", "--mode=text", "x.da1"}), same({"-O", "res/out", "-A", "res/out.da1"}),
        // Options, abbreviations, upper case and repetition reach the summary.
        summary("1", "0.05", "", {"-c", "0", "-C", "0x10", "--test", "-T", "--debug", "--sdev-div",
                                  "-w", "-W"}),
        summary("2", "0.1", "-0.001", {"-V", "0.1x", "-D2", "-L", "-1e-3", "-s"}),
        summary("3", "0.3", "0.2", {"--tres=0.3", "--sc", "3", "--low=0.2"}),
        summary("0", "0.05", "0.2", {"--lowtreshold", "0.2", "-b", "-d", "1", "-d", "0"}),
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves far more address space
        // Running out of memory while expanding argument files ends the run.
        {{{"mib", repeated(std::string(4095, 'x') + "\n", 256)}, {"many", repeated("@mib\n", 512)}},
         {"@many"}, {{"status", '=', "1"}, {"ls", '=', "many\nmib\n"},
          {"err", '=', "vimsor: out of memory while expanding argument files\n"}},
         "ulimit -v 262144"},
#endif
    });
    // clang-format on
}

// Inputs through the whole program: job files, worker command lines, every output mode byte
// for byte against bytes computed here (each result is the sample minus its block's mean).
namespace lw = legacywriter;

const std::string kiruna = "!S512Tidserier sampfrek: 20 gain: 1 station: kiruna date: 2016-05-01";

struct Recording {
    unsigned channels = 3;
    double hz = 20.0;
    std::size_t frames = 1024;
    std::string comment = kiruna + " time: 00:00:00";
    // +m, -m, ...: every block's mean is 0, and m = 1 + row number % 30000 names the row.
    std::function<int32_t(std::size_t, unsigned)> sample = [](std::size_t i, unsigned c) {
        const auto m = static_cast<int32_t>(1 + ((i / 512) * 3 + c) % 30000);
        return i % 2 == 0 ? m : -m;
    };
    uint32_t start = 1462060800;  // 2016-05-01 00:00:00 UTC
};

std::string nv24(const Recording& r, uint8_t station = 1, uint32_t host_offset = 0) {
    nv24w::File file = nv24w::make_file(r.channels, r.hz, r.start);
    file.header.version = 1;
    file.header.station = station;
    file.header.host_timestamp = r.start + host_offset;
    for (std::size_t i = 0; i < r.frames; ++i)
        for (unsigned c = 0; c < r.channels; ++c)
            file.samples.push_back(static_cast<uint32_t>(r.sample(i, c)));
    return nv24w::encode(file);
}

// The output of r in mode 'b' (binary), 'a' (ascii) or '4' (tm4).
std::string expected(const Recording& r, char mode, double scale = 1) {
    const std::size_t blocks = r.frames / 512;
    std::vector<std::vector<double>> results(r.channels);
    for (unsigned c = 0; c < r.channels; ++c)
        for (std::size_t b = 0; b < blocks; ++b) {
            double sum = 0.0;
            for (std::size_t i = 0; i < 512; ++i)
                sum += r.sample(b * 512 + i, c);
            for (std::size_t i = 0; i < 512; ++i)
                results[c].push_back((r.sample(b * 512 + i, c) - sum / 512) * scale);
        }
    const auto time = [&](std::size_t i) { return static_cast<double>(i) / r.hz + r.start; };
    std::string out = r.comment + (mode == 'b' ? "\r" : "\n");
    for (std::size_t i = 0; mode == '4' && i < blocks * 512; ++i) {
        out += formatted("%.6f", time(i));
        for (const auto& channel : results)
            out += " " + formatted("%g", channel[i]);
        out += "\n";
    }
    // Legacy modes: one block per channel, stamped with the minute of the day and the second.
    const auto word = [&](long long w) {
        out += mode == 'a' ? (out.back() == '\n' ? "" : " ") + std::to_string(w)
                           : std::string{static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
    };
    for (std::size_t b = 0; mode != '4' && b < blocks; ++b)
        for (const auto& channel : results) {
            const auto s = static_cast<long long>(std::floor(time(b * 512)));
            word(s / 60 % 1440);
            word(s % 60);
            for (std::size_t i = 0; i < 512; ++i)
                word(std::llround(channel[b * 512 + i]));
            out += mode == 'a' ? "\n" : "";
        }
    return out;
}

// A worker's arguments as "runs" lists them: options, then rows from..to step.
std::string run_line(const std::string& options, char worker, int from, int to, int step = 1) {
    std::string s = "--swatch " + options;
    for (int row = from; row <= to; row += step)
        s += " vm" + std::string{worker} + formatted("%04.0f", row) + ".dat";
    return s + " \n";
}

// Records whose time words count on from minute word 60 (01:00:00 of the day).
std::vector<lw::Record> records(std::size_t count, std::size_t length, double hz) {
    std::vector<lw::Record> out;
    for (std::size_t r = 0; r < count; ++r) {
        const auto seconds = static_cast<int>(static_cast<double>(r * length) / hz);
        out.push_back(
            lw::make_record(length, 60 + seconds / 60, seconds % 60, static_cast<int>(r)));
    }
    return out;
}

// An input refused (bytes "": none): status 1, message last, no job file, nothing else left.
Case refused(const std::string& file, const std::string& bytes, const std::string& message) {
    const std::string ls = bytes.empty()      ? "logfile\n"
                           : file < "logfile" ? file + "\nlogfile\n"
                                              : "logfile\n" + file + "\n";
    return {bytes.empty() ? std::vector<File>{} : std::vector<File>{{file, bytes}},
            {file},
            {{"status", '=', "1"}, {"err", '>', message}, {"saved/", '=', ""}, {"ls", '=', ls}}};
}

// Faults around a run: an input of 24 rows (0, 2, 4, ... for worker a), an earlier output.
const std::string earlier = "output of an earlier run\n", real = "exec \"$real\" \"$@\"",
                  whole = std::to_string(84 + 24 * 1028), ls = "k.bi1\nk.nv24\nlogfile\n";
const File input{"k.nv24", nv24({3, 20, 4096})}, old{"k.bi1", earlier};
const std::vector<std::string> two_workers{"--cpus=2", "k.nv24"};
const char* const sleeper = "echo $$ >> \"$tools/pids\"; exec sleep 30";

// A long analysis: the process ids of the n sleepers once they run (at most 10 s).
std::vector<std::string> sleepers(const Workspace& w, std::size_t n) {
    for (int i = 0; i < 1000; std::this_thread::sleep_for(std::chrono::milliseconds(10)), ++i) {
        std::istringstream lines(testrun::read_file(w.tools / "pids"));
        const std::vector<std::string> pids{std::istream_iterator<std::string>(lines), {}};
        if (pids.size() >= n)
            return pids;
    }
    return {};
}

bool alive(const std::string& pid) {  // and not a zombie
    const std::string stat = testrun::read_file("/proc/" + pid + "/stat");
    const auto end_of_name = stat.rfind(')');
    return end_of_name != std::string::npos && stat.substr(end_of_name + 2, 1) != "Z";
}

// The message and status; the earlier output untouched, no temporary output, no row files, no lock.
std::vector<Expect> untouched(const std::string& status, const std::string& message,
                              std::vector<Expect> also = {}) {
    also.insert(
        also.end(),
        {{"status", '=', status}, {"err", '~', message}, {"ls", '=', ls}, {"k.bi1", '=', earlier}});
    return also;
}

TEST(Pipeline, InputsWorkersOutputsAndRefusals) {
    const Recording k;  // 3 channels of 2 blocks: rows 0 to 5
    const Recording example{
        3, 18, 7680, "!S512Tidserier sampfrek: 18" + kiruna.substr(27) + " time: 00:00:00",
        [](std::size_t i, unsigned c) { return int32_t(i % 100) - 12 - int32_t(c); }};
    const Recording fast{1, 20000, 512, k.comment, [](std::size_t i, unsigned) {
                             return i == 0 ? 1234567 : i == 1 ? -200 : int32_t(i);
                         }};
    // Mean 0; only the magnitudes 100 reach half the largest.
    const Recording pulses{1, 20, 512, k.comment, [](std::size_t i, unsigned) {
                               return i % 2 == 0 ? 100 - 200 * (i % 4 == 2)
                                                 : 10 - 20 * (i % 4 == 3);
                           }};
    const Recording b{
        2, 10, 600,
        "!S512Tidserier sampfrek: 10 gain: 1 station: uppsala date: 2016-05-01 time: 00:00:00"};
    const Recording one_block{3, 20, 512}, short_one{3, 20, 100};
    const std::string k_tm4 =
        testwriters::Tm4File()
            .comment(k.comment)
            .samples(k.start, 20, k.frames, 3,
                     [&](std::size_t i, std::size_t c) { return k.sample(i, c); })
            .text();
    const File k_in{"k.nv24", nv24(k)};
    const std::string k18 = "!S512Tidserier sampfrek: 18" + kiruna.substr(27) + " time: 01:00:00",
                      s128 = lw::form3_line('S', 128, "18", "2", "K", "2016-05-01", "00:00:00"),
                      tm4_values = "\\.[0-9]{6}( [-0-9.e+]+){3}\n";
    const std::string job = "saved/vma0000.dat",
                      cmd = "/bin/sh mavlin --swatch -#2sf128 -p512i0.05v0.05 ", q = "--quiet";
    std::string example_out, example_runs;
    for (char w = 'a'; w <= 'd'; ++w) {
        example_out += "/bin/sh mavlin --swatch -#2sf128 -p512i0.0555556v0.05 vm" + std::string{w} +
                       "????.dat\n";
        example_runs += run_line("-#2sf128 -p512i0.0555556v0.05", w, w - 'a', 44, 4);
    }
    const auto workers = [&](const std::string& o) { return run_line(o, 'a', 0, 5); };
    // clang-format off
    expect_cases({
        {{{"data/", ""}, {"data/k0105.raw", nv24(example)}}, {"--cpus=4", "data/k0105.raw"},
         {{"status", '=', "0"},
          {"out", '=', "Using:\n\tScale: 1\n\tThreshold: 0.05\ndata/k0105.raw\n"
               "Found 4 cpus\nUsing options: --swatch -#2sf128\n" + example_out +
               "Waiting for pid #.#.#.#.\nWrites file: k0105.bi1\n"},
          {"err", '>', "INFO: Time diff: 0 seconds\n7680 0\n"}, {"runs", '=', example_runs},
          {job, '<', "512\n0 -12\n0.0555556 -11\n0.111111 -10\n"}, {job, '>', "\n28.3889 -1\n"},
          {job, 'n', "513"}, {"saved/vmb0001.dat", '<', "512\n0 -13\n"},  // block 0 of slot 1
          {"k0105.bi1", '=', expected(example, 'b')}, {"ls", '=', "data\nk0105.bi1\nlogfile\n"}}},
        // Job files write numbers in the general format; the test form holds values only.
        {{{"fast.nv24", nv24(fast)}}, {"--cpus=1", "fast.nv24"},
         {{job, '<', "512\n0 1.23457e+06\n5e-05 -200\n0.0001 2\n"}, {job, '>', "\n0.02555 511\n"},
          {job, 'n', "513"}}},
        {{{"fast.nv24", nv24(fast)}}, {"--cpus=1", "--test", "fast.nv24"},
         {{job, '<', "1.23457e+06\n-200\n2\n"}, {job, '>', "\n511\n"}, {job, 'n', "512"}}},
        // Options reach the worker command lines.
        {{k_in}, {"--cpus=1", "--sdev-div", "-v", "0.2", "-l", "0.1", "k.nv24"},
         {{"out", '~', "/bin/sh mavlin --swatch -#2sf128z1 -p512i0.05v0.2w0.1 vma????.dat\n"},
          {"runs", '=', workers("-#2sf128z1 -p512i0.05v0.2w0.1")},
          {"ls", '=', "k.bi3\nk.nv24\nlogfile\n"}}},  // band-pass: the "3" file only
        {{k_in}, {"--cpus=1", q, "--test", "--sdev-mul", "k.nv24"},
         {{"out", '=', ""}, {"runs", '=', workers("-#2sf128oz2 -# -p512i0.05v0.05")}}},
        {{{"k.nv24", nv24(pulses)}}, {"-b", "-a", "-v", "0.5", "-d", "2", "k.nv24"},
         {{"k.da1", '=', expected(pulses, 'a', 2)}, {"k.da2", '~', "\n0 0 200 0 -200 0 200 "},
          {"k.da2", 'n', "2"}, {"ls", '=', "k.da1\nk.da2\nk.nv24\nlogfile\n"}}},
        // A TM4 input, its bytes as the TM4 output mode writes them.
        {{{"k.tm4", k_tm4}}, {"-4", q, "--cpus=2", "k.tm4"},
         {{"k.tm4_1", '=', expected(k, '4')}, {"ls", '=', "k.tm4\nk.tm4_1\nlogfile\n"}}},
        // Fewer samples than a block; more workers than rows.
        {{{"short.nv24", nv24(short_one)}}, {"--cpus=2", "--mode=tm4", "short.nv24"},
         {{"out", '~', "vma????.dat\n" + cmd + "vmb????.dat\n"}, {"err", '~', "\n100 0\n"},
          {"short.tm4_1", '=', k.comment + "\n"}, {"saved/", '=', ""}}},
        {{{"k.nv24", nv24(one_block)}}, {"--cpus=30", "-4", "k.nv24"},
         {{"err", '~',
          "Warning: 30 workers asked for, using 26 (worker letters run from a to z)\n"},
          {"out", '*', "Found 26 cpus\nUsing options: [^\n]*(\n/bin/sh [^\n]*){26}\nWaiting"},
          {"out", '~', " vmz????.dat\nWaiting"}, {"runs", 'n', "26"},
          {"k.tm4_1", '=', expected(one_block, '4')}}},
        // Every file of a run is processed on its own; the rows are numbered from 0 again.
        {{{"a.nv24", nv24(k)}, {"b.nv24", nv24(b, 4, 3)}}, {"--cpus=1", "--test", "--mode=tm4",
         "a.nv24", "b.nv24"},
         {{"out", '*', "(Using options: --swatch -#2sf128o\n[^]*){2}"}, {"out", '!', "-#2sf128oo"},
          {"a.tm4_1", '=', expected(k, '4')}, {"b.tm4_1", '=', expected(b, '4')},
          {"runs", '=', workers("-#2sf128o -p512i0.05v0.05") + run_line("-#2sf128o -p512i0.1v0.05",
           'a', 0, 1)},
          {"ls", '=', "a.nv24\na.tm4_1\nb.nv24\nb.tm4_1\nlogfile\n"}}},
        // Without the namebase's folder no job file can be made.
        {{k_in}, {"--namebase=nodir/vm", "k.nv24"},
         {{"status", '=', "1"}, {"err", '~', "can't open nodir/vma0000.dat\n"}}},
        // A namebase with blanks is quoted for the shell.
        {{k_in, {"my dir/", ""}}, {"--cpus=1", "--namebase=my dir/v m", "k.nv24"},
         {{"status", '=', "0"}, {"k.bi1", '=', expected(k, 'b')}, {"my dir/", '=', ""},
          {"ls", '=', "k.bi1\nk.nv24\nlogfile\nmy dir\n"}}},
        // Legacy inputs, binary and old-type (station unknown, dated by its name): the header's
        // comment line, the first time, a line per analysed sample.
        {{{"in128.raw", lw::binary_image(s128, records(8, 128, 18))}}, {q, "-4", "in128.raw"},
         {{"err", '~', "\n1024 0\n"}, {"in128.tm4_1", 'n', "1025"},
          {"in128.tm4_1", '*', "^" + k18 + "\n1462064400" + tm4_values}}},
        {{{"K6011512.raw", lw::binary_image("T old recorder", records(4, 128, 18), true)}},
         {q, "-4", "K6011512.raw"}, {{"err", '~', "\n512 0\n"}, {"K6011512.tm4_1", 'n', "513"},
          {"K6011512.tm4_1", '*', "^!S512Tidserier sampfrek: 18 gain: 1 station: unknown date: "
                                  "2016-01-15 time: 06:00:00\n1452837600" + tm4_values}}},
        // The driver's refusals: no reader (no file, no line end), a reader's error, no station.
        refused("missing.nv24", "", "can't read missing.nv24: No such file or directory\n"),
        refused("noeol.raw", "!S512" + std::string(3100, 'x'),
                "can't read noeol.raw: no line end in the first 3072 bytes\n"),
        refused("cut.nv24", nv24({}).substr(0, 20), "can't read cut.nv24: Unknown magic chns\n"),
        refused("station9.nv24", nv24({}, 9), "can't read station9.nv24: unknown station id 9\n"),
    });
    // clang-format on
}

// More than 10000 rows: longer row names, several runs per worker.
TEST(Pipeline, TenThousandAndTwoRows) {
    const Recording r{3, 20, 3334 * 512};
    expect_cases({{{{"long.nv24", nv24(r)}},
                   {"--cpus=2", "long.nv24"},
                   {{"status", '=', "0"},
                    {"long.bi1", '=', expected(r, 'b')},
                    {"ls", '=', "logfile\nlong.bi1\nlong.nv24\n"}},
                   "",
                   real}});
}

TEST(Robustness, FaultsAroundARun) {
    // clang-format off
    expect_cases({
        // Faults around a run (see untouched): a failing, crashing or short-writing analysis,
        // a full device, the file size limit.
        {{input, old}, two_workers, untouched("1", "can't open vma0002.siw\n"), "",
         "\"$real\" \"$@\"; rm -f vma0002.siw"},
        {{input, old}, two_workers, untouched("1", "can't open vmb0001.siw\n", {{"err", '~',
         "Warning: worker b (pid #) ended by signal 11 (Segmentation fault)\n"}}), "",
         "case \"$*\" in *vmb*) kill -SEGV 0;; esac; " + real},
        // A result file with another count than 512 numbers is kept with a warning. Row 3
        // belongs to slot 0, whose 8th record is then no longer whole and is left out.
        {{input, old}, two_workers,
         {{"status", '=', "0"}, {"ls", '=', ls}, {"k.bi1", '#', std::to_string(84 + 7 * 3 * 1028)},
          {"err", '~', "Warning: vmb0003.siw holds 3 numbers, not 512; the later values of its "
                       "channel are shifted\n"}}, "",
         "\"$real\" \"$@\" && case \"$*\" in *vmb*) echo '1 2 3' > vmb0003.siw;; esac"},
        {{input, old, {"logfile", "->/dev/full"}}, two_workers,
         {{"status", '=', "0"}, {"k.bi1", '#', whole},
          {"err", '~', "can't write logfile: No space left on device\nNo logfile entry\n"}}},
        // The job file of row 1 on a full device: row 0's job file goes as well, no worker starts.
        {{input, old, {"vmb0001.dat", "->/dev/full"}}, two_workers, untouched("1",
         "can't write vmb0001.dat: No space left on device\n", {{"out", '!', "/bin/sh"}})},
        // An output larger than the file size limit: the earlier one stays.
        {{input, old}, two_workers, untouched("1", "can't write k.bi1: File too large\n"),
         "trap '' XFSZ; ulimit -f 32"},
    });
    // clang-format on
}

// A run holds its namebase's lock to the end: a second run on the same namebase stops at once,
// one on another goes side by side. Interrupted, a run stops its workers and removes its files.
TEST(Robustness, LockedNamebaseAndInterruptedRuns) {
    // clang-format off
    const std::vector<Expect> locked = {{"status", '=', "1"}, {"out", '!', "Found"},
        {"err", '~', "can't lock vm.lock: another vimsor run uses the namebase vm\n"},
        {"vm.lock", '#', "0"}, {"vma0000.dat", 'n', "513"}};  // the first run's files stay
    // clang-format on
    Workspace w;
    w.put(input.first, input.second);
    w.put(old.first, old.second);
    for (const auto& [signal_number, status] :
         {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        std::filesystem::remove(w.tools / "pids");
        w.mavlin(sleeper);
        testrun::Child run("vimsor", {"--cpus=2", "-b", "k.nv24"}, w.dir.path(), w.tools.path());
        const auto pids = sleepers(w, 2);
        ASSERT_EQ(pids.size(), 2u);
        w.mavlin(real);
        EXPECT_EQ(w.check(w.run({"k.nv24"}), locked), "");
        EXPECT_EQ(w.check(w.run({"--namebase=nb", "-o", "other", "k.nv24"}),
                          {{"status", '=', "0"}, {"other.bi1", '#', whole}}),
                  "");
        std::filesystem::remove(w.dir / "other.bi1");
        ASSERT_EQ(kill(run.pid(), signal_number), 0);
        EXPECT_EQ(w.check(run.wait(), untouched(std::to_string(status), "")), "") << signal_number;
        for (const auto& pid : pids)
            EXPECT_FALSE(alive(pid)) << pid;
    }
}

// The mavlin stand-in on its own. A job file of 512 samples repeating pattern, shifted by
// offset: normal form with the size line and offset/value pairs, test form with values only.
std::string job_text(const std::vector<double>& pattern, double offset, bool test_form) {
    std::string s = test_form ? "" : "512\n";
    for (std::size_t i = 0; i < 512; ++i)
        s += (test_form ? "" : std::to_string(i / 20.0) + " ") +
             std::to_string(pattern[i % pattern.size()] + offset) + "\n";
    return s;
}

// A result series: 512 lines repeating pattern (small whole numbers).
std::string series(const std::vector<double>& pattern) {
    std::string s;
    for (std::size_t i = 0; i < 512; ++i)
        s += formatted("%g", pattern[i % pattern.size()]) + "\n";
    return s;
}

const std::string p512 = "-p512i0.05v0.05";

// Test form, deviation 3, with the method word's suffix: both results are weak.
Case normalised(const std::string& suffix, const std::vector<double>& weak) {
    // clang-format off
    return {{{"vmb0001.dat", job_text({13, 7}, 0, true)}}, {"--swatch", "-#2sf128" + suffix, p512,
            "vmb0001.dat"}, {{"status", '=', "0"}, {"vmb0001.siw", '=', series(weak)},
            {"vmb0001.sis", '=', series(weak)}}};
    // clang-format on
}

TEST(MavlinStandIn, Results) {
    const std::string wave = job_text({8, 2, -8, -2}, 0, false);
    char sdev[32];
    *std::to_chars(sdev, sdev + 31, std::sqrt(34.0)).ptr = '\0';
    // clang-format off
    expect_cases({
        {{}, {}, {{"status", '=', "0"}, {"out", '~', "stand-in"}, {"out", '~', "usage: mavlin"}}},
        // Mean 1000, magnitudes 8 and 2, population deviation sqrt(34).
        {{{"vma0000.dat", job_text({8, 2, -8, -2}, 1000, false)}},
         {"--swatch", "-#2sf128", "-p512i0.05v0.5", "vma0000.dat"},
         {{"status", '=', "0"}, {"err", '=', ""}, {"vma0000.siw", '=', series({8, 2, -8, -2})},
          {"vma0000.sis", '=', series({8, 0, -8, 0})},
          {"vma0000.kto", '=', "1000 " + std::string(sdev) + "\n"}}},
        // 0.25 of 8 is 2: the magnitude 2 is kept, the threshold is inclusive.
        {{{"vm0.dat", wave}}, {"-#2sf128", "-p512i0.05v0.25w0.1", "-#", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 2, -8, -2})}}},
        {{{"vm0.dat", wave}}, {"-#2sf128", "-p512i0.05v1", "vm0.dat"},
         {{"status", '=', "0"}, {"vm0.sis", '=', series({8, 0, -8, 0})}}},
        {{{"c.dat", job_text({-200}, 0, true)}}, {"-#2sf128oz1", p512, "c.dat"},
         {{"status", '=', "0"}, {"c.siw", '=', series({0})}, {"c.sis", '=', series({0})},
          {"c.kto", '=', "-200 0\n"}}},
        {{{"vma0000.dat", job_text({1, -1}, 0, false)},
          {"vma0002.dat", job_text({2, -2}, 0, false)}},
         {"--swatch", "-#2sf128", p512, "vma0000.dat", "vmb????.dat", "vma0002.dat"},
         {{"status", '=', "0"}, {"err", '=', "mavlin: skipping vmb????.dat: no such file\n"},
          {"vma0000.siw", '=', series({1, -1})}, {"vma0002.siw", '=', series({2, -2})}}},
        // As it is, divided by and multiplied with the deviation.
        normalised("o", {3, -3}), normalised("oz1", {1, -1}), normalised("oz2", {9, -9}),
    }, "mavlin");
    // clang-format on
}

}  // namespace
