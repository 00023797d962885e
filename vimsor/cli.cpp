#include "cli.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "at_file.h"
#include "fatal.h"
#include "logfile.h"
#include "mypath.h"
#include "options.h"
#include "output_formats.h"
#include "output_names.h"
#include "pipeline.h"
#include "settings.h"
#include "version.h"

namespace {

constexpr std::size_t piece_size = 256;  // a piece of a path, as explode_path fills it

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

[[noreturn]] void print_mavlin_version() {
    // What mavlin reports, and whether it runs at all, is its own affair.
    const int ignored = std::system(MAVLIN.c_str());
    (void)ignored;
    std::exit(0);
}

void apply_settings(const option_values& v) {
    mode = v.mode;
    global_strength = v.strength;
    bandp = v.bandp;
    global_scale = v.scale;
    global_nr_cpus = v.cpus;
    sdev = v.sdev;
    test = v.test;
    debug = v.debug;
    quiet = v.quiet;
    output_name = v.output_name;
    namebase = v.namebase;
    options = v.options;
    MAVLIN = v.mavlin;
}

// Help, --version, --ver-mavlin and a bad number end the run here, with the
// settings as far as the command line got.
void end_unless_run(const parsed_options& parsed, char* program) {
    switch (parsed.outcome) {
    case OPTIONS_RUN: return;
    case OPTIONS_HELP: usage(program);
    case OPTIONS_VERSION: std::exit(0);
    case OPTIONS_VER_MAVLIN: print_mavlin_version();
    case OPTIONS_BAD_VALUE: fatal(parsed.message);
    }
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

void print_summary(const option_values& v) {
    if (quiet)
        return;
    std::cout << "Using:\n\tScale: " << global_scale << "\n\tThreshold: " << v.treshold << "\n";
    if (bandp)
        std::cout << " LowThreshold: " << v.lowtreshold
                  << "  (Using only weak signal for bandpass)\n";
}

}  // namespace

void output_path_for(const char* input, char* path) {
    const std::string too_long = " too long (at most ";
    std::string name;
    switch (form_output_name(input, output_name, fout_extension, name)) {
    case OUTPUT_NAME_INPUT_TOO_LONG:
        fail(std::string(input) + ": file name" + too_long +
             std::to_string(output_name_piece_size - 1) + " bytes)");
    case OUTPUT_NAME_O_TOO_LONG:
        fail("-o " + output_name + ": output name" + too_long +
             std::to_string(output_name_piece_size - 1) + " bytes)");
    case OUTPUT_NAME_TOO_LONG:
        fail(std::string(input) + ": output name " + name + too_long +
             std::to_string(output_name_size - 1) + " bytes)");
    case OUTPUT_NAME_FITS: break;
    }
    namebase = job_namebase(namebase, output_name);
    std::memcpy(path, name.c_str(), name.size() + 1);
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
    use_local_time_format();
    expand_argument_files(argc, argv);
    const parsed_options parsed = parse_vimsor_options(argc, argv);
    apply_settings(parsed.values);
    end_unless_run(parsed, argv[0]);

    fout_extension = output_extension(mode, weak, false);
    print_banner();
    if (parsed.operands.empty())
        usage(argv[0]);
    logfile(argc, argv);
    print_summary(parsed.values);
    global_strength = strength_in_use(parsed.values);
    complete_options();

    for (const std::string& input : parsed.operands) {
        char path[output_name_size];
        output_path_for(input.c_str(), path);
        if (!quiet)
            std::cout << input << "\n";
        if (calculate(input.c_str(), path, parsed.values.treshold, parsed.values.lowtreshold) != 0)
            break;
    }
    return 0;
}
