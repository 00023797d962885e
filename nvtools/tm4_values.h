// The values of a TM4 file as the numbers written, fractions included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nvtools {

// The first `lines` data lines of the TM4 file (comment lines skipped), each
// with `channels` values after the time: values[channel][line]. libnevra has
// read the file before and fixed both counts. Throws std::runtime_error when
// a line holds fewer numbers or a value is not a finite number.
std::vector<std::vector<double>> read_tm4_values(const std::string& file, size_t lines,
                                                 size_t channels);

}  // namespace nvtools
