#include "common.h"

#include <charconv>
#include <cstdio>

namespace Nevra {

int nevra_debug = 0;

void debug_trace(const char* source, int line, std::string_view text) {
    if (nevra_debug == 0)
        return;
    std::string trace = Formatter() << "Debug:" << source << "(" << line << ") " << text;
    // A trace that cannot be written is dropped: there is nowhere else to report it.
    if (std::fwrite(trace.data(), 1, trace.size(), stderr) != trace.size())
        std::clearerr(stderr);
}

const char* read_plain_decimal(const char* p, const char* last, double& value) {
    if (!starts_plain_number(p, last))
        return nullptr;
    const auto [end, ec] = std::from_chars(p, last, value);
    if (ec != std::errc() || (end != last && !is_scanf_space(*end)))
        return nullptr;
    return end;
}

std::string round_trip_text(double value) {
    char text[32];  // the longest shortest form of a double takes 24
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace Nevra
