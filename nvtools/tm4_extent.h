// Where reading a TM4 file stops. libnevra's reader takes data lines until
// the first that does not hold a time and the channels' values (a short or
// blank line, or one with another number of values) and ignores the rest
// of the file, as vimsor must. The tools say so in the same words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nvtools {

struct Tm4EarlyEnd {
    size_t line = 0;                // number of the line where reading stopped, from 1
    std::uintmax_t unread_bytes = 0;  // from the start of that line to the end of the file
};

// Where reading stopped in file after its first `data_lines` data lines
// (comment lines aside), when anything but white space was left unread.
// Throws std::runtime_error when the file cannot be read.
std::optional<Tm4EarlyEnd> tm4_early_end(const std::string& file, size_t data_lines);

// "the data end early at line L (...); B bytes from there to the end of the
// file are left unread": what nvinfo reports and nvconvert warns.
std::string early_end_words(const Tm4EarlyEnd& end);

}  // namespace nvtools
