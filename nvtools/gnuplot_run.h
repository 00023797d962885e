// Running gnuplot on a script fed through a pipe.
#pragma once

#include <string>

namespace nvtools {

// Runs "gnuplot" (found on PATH) with script on its standard input; its
// messages go to the error stream. Throws std::runtime_error when gnuplot
// cannot be started (naming the Debian package gnuplot-nox when it is
// missing) or does not end with status 0.
void run_gnuplot(const std::string& script);

}  // namespace nvtools
