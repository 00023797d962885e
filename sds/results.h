// vimsor's TM4 results of one piece, taken back as single-precision traces.
#pragma once

#include "day_pieces.h"

#include <filesystem>
#include <vector>

namespace sds {

// The values of the TM4 results file of piece, per element, as FLOAT32. The
// file is read by the tools' TM4 reading (libnevra's reader, the values with
// their fractions). Row k lies at the piece's sample k: its time column is
// seconds since 1970 with six decimals, which must agree with the sample's
// time within 1 µs. Throws Error naming the file when it cannot be read,
// holds another number of channels or more rows than the piece has samples,
// when a row lies elsewhere, or when a value does not keep its six-digit
// text as a float.
std::vector<std::vector<float>> read_piece_results(const std::filesystem::path& file,
                                                   const Piece& piece, size_t elements);

// The text vimsor writes a result value in: six significant digits.
std::string six_digit_text(double value);

}  // namespace sds
