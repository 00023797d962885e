#include "shell_quote.h"

std::string shell_quoted(const std::string& word) {
    // Inside single quotes every byte stands for itself but the quote, which
    // closes, escapes and reopens them.
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
