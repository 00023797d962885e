#pragma once

// vimsor's command line read without side effects: getopt_long over vimsor's
// option table, giving the values, the options seen, the file names and how
// vimsor would go on. Nothing process-wide is set (beyond getopt's own
// variables), nothing is run and the process is never ended; the driver
// applies the result.

#include <string>
#include <vector>

#include "option_types.h"

enum options_outcome {
    OPTIONS_RUN,         // process the operands (none: vimsor shows its help text after its banner)
    OPTIONS_HELP,        // -?, --help, or an option getopt_long refused: the help text
    OPTIONS_VERSION,     // --version: vimsor ends at once with status 0
    OPTIONS_VER_MAVLIN,  // --ver-mavlin: vimsor runs the mavlin value and ends with status 0
    OPTIONS_BAD_VALUE    // a number that does not convert: vimsor ends with status 1
};

// Every value the options set, with vimsor's defaults.
struct option_values {
    output_modes_t mode = OUTPUT_MODE_BINARY;
    enum global_strength strength = weak;  // as given; band-pass makes vimsor use weak
    bool bandp = false;                    // -l given
    double treshold = 0.05, lowtreshold = 0.0, scale = 1.0;
    unsigned long cpus = 0;  // 0: as many as the system has
    int sdev = SDEV_NONE;
    bool test = false, debug = false, quiet = false;
    std::string output_name;  // -o
    std::string namebase = "vm";
    std::string options = "--swatch -#2sf128";  // mavlin's options
    std::string mavlin = "/bin/sh -c mavlin --";
};

struct parsed_options {
    options_outcome outcome = OPTIONS_RUN;
    // OPTIONS_BAD_VALUE: the line vimsor prints (without its line end), e.g.
    // "Error converting x to double", and the word that is no number.
    std::string message;
    std::string bad_word;
    // OPTIONS_HELP from an option getopt_long refused (unknown, ambiguous, its
    // argument missing or not allowed): that option as given, the whole word
    // of a long one ("--lowthreshold=2"), "-" and the letter of a short one.
    // Empty after -? and --help.
    std::string refused_option;
    // The values as far as the parse went: it stops at the option that decides
    // any outcome but OPTIONS_RUN, as vimsor does.
    option_values values;
    // --mode words that named no format; vimsor keeps the mode and says nothing.
    std::vector<std::string> unknown_mode_words;
    // One entry per option given, in order, abbreviations and upper-case
    // letters resolved: the option's long name ("treshold" for -v, -V and
    // --tr), or its letter where it has none ("4", "o"). -? gives "help".
    std::vector<std::string> seen;
    // OPTIONS_RUN: the file names, in order.
    std::vector<std::string> operands;
};

// Reads argv as after argument-file expansion (argv[0] is the program name),
// from its start. Like getopt_long it permutes argv, options first and file
// names last, and, with diagnostics, reports an option it refuses on the error
// stream under argv[0].
parsed_options parse_vimsor_options(int argc, char** argv, bool diagnostics = true);

// The strength vimsor collects: band-pass (-l) makes it weak whatever was asked.
enum global_strength strength_in_use(const option_values& values);
