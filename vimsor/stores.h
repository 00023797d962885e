#pragma once

// Process-wide sample stores of the driver and the block constants. The
// pipeline fills them for one input file at a time; result collection fills
// processed and reads time_array.

#include <cstddef>
#include <vector>

// Samples per row: the block length handed to the analysis program.
inline constexpr std::size_t size = 512;
// Size of the buffer that receives the date and time of the comment line.
inline constexpr int STRLEN = 256;

// The time of every sample, seconds since 1970-01-01 00:00:00 UTC.
extern std::vector<double> time_array;
// The raw samples, one slot per channel number.
extern std::vector<std::vector<double>> original;
// The analysis results, one slot per channel number.
extern std::vector<std::vector<double>> processed;
// The time of the first sample of every row; its length is the row count.
extern std::vector<double> tid;
