#include "tm4_values.h"

#include "common.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace nvtools {

namespace {

// The next number after white space, as strtod reads it (the reader's scanf
// accepts the same forms); false when there is none.
bool next_number(const char*& p, double& value) {
    char* end = nullptr;
    value = std::strtod(p, &end);
    if (end == p)
        return false;
    p = end;
    return true;
}

}  // namespace

std::vector<std::vector<double>> read_tm4_values(const std::string& file, size_t lines,
                                                 size_t channels) {
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("cannot open the file");
    std::vector<std::vector<double>> values(channels);
    for (auto& channel : values)
        channel.reserve(lines);
    std::string line;
    size_t line_number = 0;
    size_t taken = 0;
    while (taken < lines && std::getline(in, line)) {
        ++line_number;
        if (!line.empty() && line[0] == '!')
            continue;
        const char* p = line.c_str();
        double number = 0.0;
        if (!next_number(p, number))
            break;
        for (size_t c = 0; c < channels; ++c) {
            if (!next_number(p, number))
                throw std::runtime_error(Nevra::Formatter()
                                         << "line " << line_number << " has fewer than " << channels
                                         << " values");
            if (!std::isfinite(number))
                throw std::runtime_error(Nevra::Formatter()
                                         << "value " << number << " in line " << line_number
                                         << " is not a finite number");
            values[c].push_back(number);
        }
        ++taken;
    }
    if (taken != lines)
        throw std::runtime_error(Nevra::Formatter()
                                 << "the file changed while it was read (" << taken
                                 << " data lines instead of " << lines << ")");
    return values;
}

}  // namespace nvtools
