#include "tm4_extent.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

namespace nvtools {

namespace {

bool is_blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isspace(c) != 0; });
}

}  // namespace

std::optional<Tm4EarlyEnd> tm4_early_end(const std::string& file, size_t data_lines) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open the file");
    std::string line;
    size_t line_number = 0;
    size_t taken = 0;
    while (std::getline(in, line)) {
        ++line_number;
        const bool is_comment = !line.empty() && line[0] == '!';
        if (!is_comment && taken++ == data_lines) {
            // The reader stopped here: is there anything left but white space?
            std::uintmax_t unread = line.size() + (in.eof() ? 0 : 1);
            bool blank = is_blank(line);
            while (std::getline(in, line)) {
                unread += line.size() + (in.eof() ? 0 : 1);
                blank = blank && is_blank(line);
            }
            if (!in.eof())
                throw std::runtime_error("cannot read the file");
            if (blank)
                return std::nullopt;
            return Tm4EarlyEnd{line_number, unread};
        }
    }
    if (!in.eof())
        throw std::runtime_error("cannot read the file");
    return std::nullopt;
}

std::string early_end_words(const Tm4EarlyEnd& end) {
    return "the data end early at line " + std::to_string(end.line) +
           " (not a data line of the file's channels); " + std::to_string(end.unread_bytes) +
           " bytes from there to the end of the file are left unread";
}

}  // namespace nvtools
