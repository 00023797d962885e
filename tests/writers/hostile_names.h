// File names that break programs which splice names into shell lines, scripts, gnuplot commands or
// JSON text. Every program that takes a name from its user is tested against the whole table.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace testwriters {

struct hostile_name {
    std::string_view label;  // what the name tries, for the test's message
    std::string_view name;   // a valid file name: no '/' and no NUL
};

inline constexpr std::array<hostile_name, 14> hostile_names{{
    {"line break", "a\nb"},
    {"carriage return", "a\rb"},
    {"double quote", "a\"b"},
    {"single quote", "a'b"},
    {"backquote", "a`touch PWNED`b"},
    {"command substitution", "a$(touch PWNED)b"},
    {"semicolon", "a;touch PWNED;b"},
    {"percent", "a%jb%%"},
    {"backslash", "a\\nb\\"},
    {"leading dash", "-rf"},
    {"blank and tab", "a b\tc"},
    {"glob and braces", "a*?[x]{y}"},
    {"not UTF-8", "a\xff\xfe" "b"},
    {"gnuplot command", "a\"; system \"touch PWNED\"; \""},
}};

// A name of the longest length a Linux file system takes (255 bytes), ending
// in the given extension.
inline std::string longest_name(std::string_view extension) {
    return std::string(255 - extension.size(), 'n') + std::string(extension);
}

}  // namespace testwriters
