// The TM4 text the nv tools write: every value, time and rate as exactly as
// the format and its reader hold them (vimsor's own writer keeps six digits,
// right for its results and wrong for a conversion).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace nvtools {

// Microseconds since 1970 of sample index of a trace starting at start_us,
// rounded to the nearest.
std::int64_t sample_time_us(std::int64_t start_us, size_t index, double rate_hz);

// Writes comment (the comment line, see Nevra::compose_comment) and one line
// per sample i: its time sample_time_us(start_us, i, rate_hz) in seconds with
// six decimals, then the value of each channel, whole numbers as integers and
// others as the shortest text that reads back as the same double. The
// channels are of equal length. Throws std::runtime_error when a write fails.
void write_tm4(FILE* out, const std::string& comment, std::int64_t start_us, double rate_hz,
               const std::vector<std::vector<double>>& channels);

}  // namespace nvtools
