// Running gnuplot on a script fed through a pipe.
#pragma once

#include <string>

namespace nvtools {

// Runs "gnuplot" (found on PATH) with script on its standard input and
// output (the picture, when the script sets no output file) to the file open
// as output_fd; its messages go to the error stream. gnuplot gets no file
// name from here, so no name can become part of a command. Throws
// std::runtime_error when gnuplot cannot be started (naming the Debian
// package gnuplot-nox when it is missing) or does not end with status 0.
void run_gnuplot(const std::string& script, int output_fd);

}  // namespace nvtools
