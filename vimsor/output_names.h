#pragma once

// The names of vimsor's output files: the extension of the output mode, whose
// last digit tells the strength, after the input's file name or the -o name.

#include <cstddef>
#include <string>
#include <vector>

#include "options.h"

// The buffers vimsor forms output names in, each with its NUL: a piece of a
// path (the input's file name, the -o name) and the whole output name.
constexpr std::size_t output_name_piece_size = 256;
constexpr std::size_t output_name_size = 260;

// The name of the output of the given strength (weak or strong) from the name
// of the weak output: its last character becomes 2 for strong and 3 for
// band-pass. An empty name stays empty.
std::string name_of_strength(std::string weak_name, enum global_strength which, bool bandp);

// The extension of the output of the given strength (weak or strong): the
// mode's extension, whose last digit becomes 2 for strong and 3 for band-pass.
std::string output_extension(output_modes_t mode, enum global_strength which, bool bandp);

// The extensions of the outputs one run writes, in the order it writes them.
std::vector<std::string> output_extensions(const option_values& values);

// What keeps an output name from being formed.
enum output_name_fault {
    OUTPUT_NAME_FITS = 0,
    OUTPUT_NAME_INPUT_TOO_LONG,  // the input's file name fills its piece
    OUTPUT_NAME_O_TOO_LONG,      // the -o name fills its piece
    OUTPUT_NAME_TOO_LONG         // the whole name does not fit
};

// The output's name for input: the input's file name without directory and
// extension, or output_name (-o, which may carry a directory) when that is
// not empty, followed by extension. On OUTPUT_NAME_TOO_LONG name holds the
// name that does not fit, for a message; on the other faults it is left alone.
output_name_fault form_output_name(const std::string& input, const std::string& output_name,
                                   const std::string& extension, std::string& name);

// The output file's name for input as vimsor forms it (form_output_name with
// the -o value). Returns 0 or ENAMETOOLONG; on ENAMETOOLONG name is unchanged.
int output_file_name(const std::string& input, const option_values& values,
                     const std::string& extension, std::string& name);

// The base of the job files' names: the -o name takes the place of the
// namebase while that is still the text "vm" (also when --namebase=vm was
// given).
std::string job_namebase(const std::string& namebase, const std::string& output_name);
