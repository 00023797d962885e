// vimsor's TM4 results of one piece, taken back as single-precision traces.
#pragma once

#include "day_pieces.h"

#include <filesystem>
#include <vector>

namespace sds {

// The values of vimsor's TM4 results file of piece, per element, as FLOAT32,
// read in one pass: lines starting with '!' are its header, every other line
// a row of the time (seconds since 1970 with six decimals) and one value per
// element. Row k lies at the piece's sample k: its time must agree with the
// sample's within 1 µs. Throws Error naming the file (and the line) when it
// cannot be read, holds no rows, more rows than the piece has samples, a row
// with another number of values, a row that lies elsewhere, or a value that
// does not keep its six-digit text as a float.
std::vector<std::vector<float>> read_piece_results(const std::filesystem::path& file,
                                                   const Piece& piece, size_t elements);

// The text vimsor writes a result value in: six significant digits.
std::string six_digit_text(double value);

}  // namespace sds
