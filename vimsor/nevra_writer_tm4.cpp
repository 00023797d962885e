#include "nevra_writer_tm4.h"

#include <algorithm>
#include <charconv>

#include "fatal.h"

namespace {

// The longest fixed-notation double with 6 decimals (sign, 309 digits,
// point, decimals) and the longest general one with 6 digits, each with a
// separator.
constexpr std::size_t max_time_bytes = 1 + 309 + 1 + 6 + 1;
constexpr std::size_t max_value_bytes = 1 + 16;

// Lines the time axis and every channel have values for.
std::size_t line_count(const std::vector<double>& t, const std::vector<std::vector<double>>& data) {
    if (data.empty())
        return 0;
    std::size_t lines = t.size();
    for (const auto& channel : data)
        lines = std::min(lines, channel.size());
    return lines;
}

}  // namespace

nevra_writer_tm4::nevra_writer_tm4(const char* fname, const char* comnt)
    : nevra_writer(fname, comnt, 0x0A, std::ios::out | std::ios::trunc) {}

int nevra_writer_tm4::write(double, std::size_t, const std::vector<double>&, std::size_t) const {
    fatal("Not implemented");
}

// Values are unscaled; size does not apply to this format.
int nevra_writer_tm4::write(const std::vector<double>& t,
                            const std::vector<std::vector<double>>& data, std::size_t) const {
    const std::size_t lines = line_count(t, data);
    for (std::size_t i = 0; i < lines; ++i) {
        char* p = room(max_time_bytes);
        commit(std::to_chars(p, p + max_time_bytes, t[i], std::chars_format::fixed, 6).ptr);
        for (const auto& channel : data) {
            p = room(max_value_bytes);
            *p++ = ' ';
            commit(std::to_chars(p, p + max_value_bytes, channel[i], std::chars_format::general, 6)
                       .ptr);
        }
        put("\n", 1);
    }
    check_written();
    return 0;
}
