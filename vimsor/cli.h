#pragma once

// The program's entry: command line, banner, settings summary, per-file loop.
int vimsor_main(int argc, char** argv);

// Prints the help text (with the current --options and --mavlin values) to the
// error stream and ends the process with status 0. fname is argv[0].
[[noreturn]] void usage(char* fname);

// Writes the output path of one input into path (output_name_size bytes): the input's file
// name, or the -o name, with the output extension; with -o it also becomes
// the namebase unless --namebase changed that. Ends the process with status 1
// when a name does not fit its buffer, since a cut name could overwrite some
// other file.
void output_path_for(const char* input, char* path);
