#pragma once

// What the batch asks of vimsor's own command-line code: whether the option
// words meant for every run can be taken, and the names of the outputs a run
// writes. This is the one place that calls vimsor's options and output-naming
// units; no option, mode word, extension or naming rule is repeated here.

#include <string>
#include <vector>

#include "options.h"

struct run_options {
    std::vector<std::string> words;       // as given, for every run
    std::vector<std::string> extensions;  // of the outputs one run writes
    option_values values;                 // as vimsor reads them
    std::vector<std::string> seen;        // the options given, by name (see parsed_options)
};

// The options of every run; throws batch_error naming the word the batch
// cannot take: an option that processes no file, a --mode word that names no
// format, a bad number, -o, --namebase or --cpus (the batch sets them), an
// argument file, or a file name.
run_options read_run_options(const std::vector<std::string>& words);

// The output names of input under options; throws batch_error naming the
// input when vimsor could not form one.
std::vector<std::string> output_names(const std::string& input, const run_options& options);
