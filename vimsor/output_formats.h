#pragma once

// The output formats, one row per output mode: the words that select it with
// --mode, its line in the help text and the output file's extension. The
// writer of each mode is looked up by the driver (nevra_writer_detect).
// Everything else that depends on the output mode reads this table; adding a
// format is one row here plus one writer.

#include <array>
#include <string_view>

#include "option_types.h"

struct output_format {
    output_modes_t mode;
    // Lower-case words that select the format with --mode; the first is the
    // one the help text shows.
    std::array<std::string_view, 2> words;
    std::string_view help;  // its description under --mode in the help text
    // Ends in '1', which becomes '2' for the strong-signal output and '3' for
    // band-pass results.
    std::string_view extension;
};

// Indexed by the mode: one row for every mode below OUTPUT_MODE_LAST.
extern const std::array<output_format, OUTPUT_MODE_LAST> output_formats;

// The format of mode m; any value that is not a mode gives the binary format.
const output_format& output_format_of(output_modes_t m);

// The format the lower-case word selects, or null when no format has it.
const output_format* output_format_named(std::string_view word);
