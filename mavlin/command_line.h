#pragma once

// The command line the driver gives the analysis program: option words, then
// the job file names of one worker.

#include <cstddef>
#include <string>
#include <vector>

enum class normalisation { none, divide_by_sdev, multiply_by_sdev };

struct analysis_options {
    std::size_t block_size = 512;  // samples per job (the number after -p)
    double interval = 1.0;         // seconds between samples (after i)
    double threshold = 0.05;       // strong-signal threshold (after v)
    bool has_low_threshold = false;
    double low_threshold = 0.0;  // band-pass threshold (after w); accepted, not used
    bool test_form = false;      // job files hold values only (suffix o)
    normalisation norm = normalisation::none;
    bool quiet = false;  // a lone -#
};

struct command_line {
    analysis_options options;
    std::vector<std::string> job_names;
    std::vector<std::string> notes;  // option text that was ignored
};

// Parses argv[1..argc-1]. A malformed -p word throws std::invalid_argument
// with a message.
command_line parse_command_line(int argc, const char* const* argv);
