#include "command_line.h"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace {

// The option word that carries the analysis suffixes.
constexpr std::string_view method_word = "-#2sf128";

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Reads the number at the front of text and drops it from text.
template <class Number>
bool take_number(std::string_view& text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr == text.data())
        return false;
    text.remove_prefix(static_cast<std::size_t>(ptr - text.data()));
    return true;
}

bool take_letter(std::string_view& text, char letter) {
    if (text.empty() || text.front() != letter)
        return false;
    text.remove_prefix(1);
    return true;
}

// -p<size>i<interval>v<threshold>[w<low>]
void parse_block_word(std::string_view word, analysis_options& options) {
    std::string_view text = word.substr(2);
    const bool ok = take_number(text, options.block_size) && options.block_size > 0 &&
                    take_letter(text, 'i') && take_number(text, options.interval) &&
                    take_letter(text, 'v') && take_number(text, options.threshold);
    options.has_low_threshold = ok && take_letter(text, 'w');
    if (!ok || (options.has_low_threshold && !take_number(text, options.low_threshold)) ||
        !text.empty())
        throw std::invalid_argument("mavlin: malformed option " + std::string(word) +
                                    " (expected -p<size>i<interval>v<threshold>[w<low>])");
}

// The suffixes after -#2sf128: o, z1, z2 in any order.
void parse_method_suffixes(std::string_view word, command_line& line) {
    std::string_view text = word.substr(method_word.size());
    while (!text.empty()) {
        if (take_letter(text, 'o')) {
            line.options.test_form = true;
        } else if (starts_with(text, "z1") || starts_with(text, "z2")) {
            line.options.norm =
                text[1] == '1' ? normalisation::divide_by_sdev : normalisation::multiply_by_sdev;
            text.remove_prefix(2);
        } else {
            line.notes.push_back("mavlin: ignoring unknown suffix " + std::string(text) + " of " +
                                 std::string(word));
            return;
        }
    }
}

}  // namespace

command_line parse_command_line(int argc, const char* const* argv) {
    command_line line;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string_view word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        if (word == "-#")
            line.options.quiet = true;
        else if (starts_with(word, method_word))
            parse_method_suffixes(word, line);
        else if (starts_with(word, "-p"))
            parse_block_word(word, line.options);
        else if (word != "--swatch")
            line.notes.push_back("mavlin: ignoring unknown option " + std::string(word));
    }
    line.job_names.assign(argv + i, argv + argc);
    return line;
}
