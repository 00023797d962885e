#include "cli.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "at_file.h"
#include "compat.h"
#include "fatal.h"
#include "logfile.h"
#include "mypath.h"
#include "output_formats.h"
#include "pipeline.h"
#include "settings.h"
#include "version.h"

namespace {

constexpr std::size_t piece_size = 256;   // a piece of a path, as explode_path fills it
constexpr std::size_t output_size = 260;  // the output path, as combine_path fills it

const char* const short_options = "?4ABC:D:L:O:STV:W4abc:d:l:o:stv:w";

const struct option long_options[] = {
    {"mode", required_argument, nullptr, OPT_MODE},
    {"debug", no_argument, &debug, 1},
    {"ascii", no_argument, nullptr, 'a'},
    {"both", no_argument, nullptr, 'b'},
    {"cpus", required_argument, nullptr, 'c'},
    {"scale", required_argument, nullptr, 'd'},
    {"lowtreshold", required_argument, nullptr, 'l'},
    {"strong", no_argument, nullptr, 's'},
    {"treshold", required_argument, nullptr, 'v'},
    {"weak", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, '?'},
    {"test", no_argument, nullptr, 't'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"ver-mavlin", no_argument, nullptr, OPT_MLVERSION},
    {"sdev-div", no_argument, &sdev, SDEV_DIV},
    {"sdev-mul", no_argument, &sdev, SDEV_MUL},
    {"quiet", no_argument, &quiet, 1},
    {"options", required_argument, nullptr, OPT_OPTIONS},
    {"add-options", required_argument, nullptr, OPT_ADD_OPTIONS},
    {"mavlin", required_argument, nullptr, OPT_MAVLIN},
    {"namebase", required_argument, nullptr, OPT_NAMEBASE},
    {nullptr, 0, nullptr, 0},
};

void print_version_line() {
    std::cerr << "vimsor " VIMSOR_VERSION " - infrasound batch processor\n";
}
void print_copyright_line() { std::cerr << "Copyright (C) the vimsor authors\n"; }
void print_bug_report_line() { std::cerr << "Report bugs to the vimsor maintainers\n"; }

[[noreturn]] void fail(const std::string& message) { fatal("vimsor: " + message); }

void expand_argument_files(int& argc, char**& argv) {
    const int status = rebuild_argv(&argc, &argv);
    if (status == ENOMEM)
        fail("out of memory while expanding argument files");
    if (status != 0)
        fail(std::string("cannot expand argument files: ") + std::strerror(status));
}

// The analysis program's option suffixes that the settings call for, added
// once per run.
void complete_options() {
    if (test)
        options += "o";
    if (sdev == SDEV_DIV)
        options += "z1";
    else if (sdev == SDEV_MUL)
        options += "z2";
    if (quiet)
        options += " -#";
}

// Dates in the log follow the user's locale; where the environment names one
// that is not installed, the "C" form stays, which serves as well.
void use_local_time_format() {
    if (std::setlocale(LC_TIME, "") == nullptr)
        std::setlocale(LC_TIME, "C");
}

// Any word that names no format leaves the mode as it is.
void select_mode(const char* word) {
    std::string w = word;
    for (char& c : w)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (const output_format* format = output_format_named(w))
        mode = format->mode;
}

[[noreturn]] void print_mavlin_version() {
    // What mavlin reports, and whether it runs at all, is its own affair.
    const int ignored = std::system(MAVLIN.c_str());
    (void)ignored;
    std::exit(0);
}

struct Thresholds {
    double treshold = 0.05;
    double lowtreshold = 0.0;
};

// Applies one option code returned by getopt_long.
void apply_option(int code, const char* arg, char* program, Thresholds& t) {
    switch (code) {
    case 0: break;  // a flag entry: getopt_long has set it
    case OPT_MODE: select_mode(arg); break;
    case 'a': mode = OUTPUT_MODE_ASCII; break;
    case '4': mode = OUTPUT_MODE_TM4; break;
    case 'b': global_strength = both; break;
    case 's': global_strength = strong; break;
    case 'w': global_strength = weak; break;
    case 'c': global_nr_cpus = get_unsigned(arg); break;
    case 'd': global_scale = get_double(arg); break;
    case 'l':
        t.lowtreshold = get_double(arg);
        bandp = true;
        break;
    case 'v': t.treshold = get_double(arg); break;
    case 't': test = 1; break;
    case 'o': output_name = arg; break;
    case OPT_VERSION: std::exit(0);
    case OPT_MLVERSION: print_mavlin_version();
    case OPT_OPTIONS: options = arg; break;
    case OPT_ADD_OPTIONS: options += arg; break;
    case OPT_MAVLIN: MAVLIN = arg; break;
    case OPT_NAMEBASE: namebase = arg; break;
    default: usage(program);  // '?': help, unknown option or missing argument
    }
}

Thresholds parse_options(int argc, char** argv) {
    Thresholds t;
    int code;
    while ((code = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1) {
        if (code >= 'A' && code <= 'Z')
            code = code - 'A' + 'a';
        apply_option(code, optarg, argv[0], t);
    }
    return t;
}

// The --mode lines of the help text.
std::string mode_help() {
    std::string words;
    std::string lines;
    for (const output_format& format : output_formats) {
        words += (words.empty() ? "" : ",") + std::string(format.words.front());
        lines += "                                   " + std::string(format.help) + "\n";
    }
    return "           --mode=(" + words + ")\n" +
           "                               Select output mode:\n" + lines;
}

void print_banner() {
    if (quiet) {
        std::cerr << "vimsor\n";
        return;
    }
    print_version_line();
    print_copyright_line();
}

void print_summary(const Thresholds& t) {
    if (quiet)
        return;
    std::cout << "Using:\n\tScale: " << global_scale << "\n\tThreshold: " << t.treshold << "\n";
    if (bandp)
        std::cout << " LowThreshold: " << t.lowtreshold
                  << "  (Using only weak signal for bandpass)\n";
}

}  // namespace

void output_path_for(const char* input, char* path) {
    char filename[piece_size] = "";
    // Only the file name is used; a long directory or extension does no harm.
    if (explode_path_n(input, nullptr, 0, nullptr, 0, filename, sizeof filename, nullptr, 0) != 0)
        fail(std::string(input) + ": file name too long (at most " +
             std::to_string(piece_size - 1) + " bytes)");
    if (!output_name.empty()) {
        if (compat::strlcpy(filename, output_name.c_str(), sizeof filename) >= sizeof filename)
            fail("-o " + output_name + ": output name too long (at most " +
                 std::to_string(piece_size - 1) + " bytes)");
        if (namebase == "vm")
            namebase = output_name;
    }
    if (combine_path(path, nullptr, nullptr, filename, fout_extension.c_str()) != 0)
        fail(std::string(input) + ": output name " + filename + fout_extension +
             " too long (at most " + std::to_string(output_size - 1) + " bytes)");
}

double get_double(const char* s) {
    char* end = nullptr;
    const double value = std::strtod(s, &end);
    if (value == 0.0 && end == s)
        fatal(std::string("Error converting ") + s + " to double");
    return value;
}

unsigned long get_unsigned(const char* s) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(s, &end, 0);
    if (const int reason = errno; reason != 0)
        fatal(std::string("strtoul: ") + std::strerror(reason));
    if (end == s)
        fatal(std::string("Error converting ") + s + " to double");
    return value;
}

void usage(char* fname) {
    char program[piece_size];
    explode_path(fname, nullptr, nullptr, program, nullptr);
    std::cerr << "Usage: " << program
              << " [-v threshold] [-l lowthreshold] filname(s)\n"
                 "\n"
                 "Reads a binary infrasound file and runs mavlin on it\n"
                 "and produces a binary or ascii output file.\n"
                 "\n"
                 " -v #,     --treshold=#        -v option for mavlin. Default 0.05\n"
                 " -l #,     --lowthreshold=#    -w option for mavlin (bandpass).\n"
                 " -w,       --weak              weak signal\n"
                 " -s,       --strong            strong signal\n"
                 " -b,       --both              both strong & weak signal\n"
              << mode_help()
              << " -d scale, --scale=scale       scale. Default 1.0\n"
                 "           --cpus=nr           sets number of threads\n"
                 "           --sdev-div          normalizing by dividing with std deviation\n"
                 "           --sdev-mul          normalizing by multiplying with std deviation\n"
                 "           --options=\"mavlin-options\"\n"
                 "                               sets the common options for\n"
                 "                               mavlin. (default: \""
              << options
              << "\")\n"
                 "           --add-options=\"mavlin-options\"\n"
                 "                               adds to the common options\n"
                 "\n"
                 " -o name                       use name as base of output-filename\n"
                 "                               also sets namebase\n"
                 "           --namebase=name     use name as base of temporary files\n"
                 "                               (default: vm)\n"
                 "\n"
                 "           --version           prints version\n"
                 "           --mavlin=program    use program as mavlin (default: \""
              << MAVLIN
              << "\")\n"
                 "           --ver-mavlin        runs mavlin without args\n"
                 "\n"
                 " -?,       --help              this help\n"
                 "\n"
                 "Note: filename(s) may include wildcards\n"
                 "      Files must be of Helvor Binary format\n";
    print_copyright_line();
    print_version_line();
    print_bug_report_line();
    std::exit(0);
}

int vimsor_main(int argc, char** argv) {
    optind = 0;
    use_local_time_format();
    expand_argument_files(argc, argv);
    const Thresholds t = parse_options(argc, argv);

    fout_extension = output_format_of(mode).extension;
    print_banner();
    if (optind >= argc)
        usage(argv[0]);
    logfile(argc, argv);
    print_summary(t);
    if (bandp)
        global_strength = weak;
    complete_options();

    for (int i = optind; i < argc; ++i) {
        char path[output_size];
        output_path_for(argv[i], path);
        if (!quiet)
            std::cout << argv[i] << "\n";
        if (calculate(argv[i], path, t.treshold, t.lowtreshold) != 0)
            break;
    }
    return 0;
}
