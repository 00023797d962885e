#include "plot.h"

#include "iso_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string_view>

namespace nvtools {

namespace {

constexpr double seconds_per_day = 86400.0;

// A gnuplot string in single quotes, where '' stands for one quote and
// nothing else is special (no backslash escapes, no command substitution).
// With line ends escaped by shown(), no text can end the string or the line.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : shown(text))
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// The length of the UTF-8 sequence at the start of text, 0 when it is not one.
size_t utf8_length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    if (lead < 0x80)
        length = 1;
    else if (lead >= 0xC2 && lead < 0xE0)
        length = 2;
    else if (lead >= 0xE0 && lead < 0xF0)
        length = 3;
    else if (lead >= 0xF0 && lead < 0xF5)
        length = 4;
    if (length == 0 || length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80)
            return 0;
    return length;
}

constexpr double seconds_per_ten_minutes = 600.0;

// Labels as short as the span allows, so they do not run into each other.
const char* tick_format(double span) {
    if (span > 2 * seconds_per_day)
        return "%Y-%m-%d";
    if (span > seconds_per_day / 2)
        return "%d %H:%M";
    if (span > seconds_per_ten_minutes)
        return "%H:%M";
    return "%H:%M:%S";
}

// A step of 1, 2 or 5 times a power of ten giving about four y tics.
double y_tic_step(const std::vector<Column>& columns) {
    double low = 0.0;
    double high = 0.0;
    bool any = false;
    for (const Column& column : columns) {
        if (column.empty)
            continue;
        low = any ? std::min(low, column.min) : column.min;
        high = any ? std::max(high, column.max) : column.max;
        any = true;
    }
    const double rough = (high - low) / 4.0;
    if (!(rough > 0))
        return 0.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough)
            return factor * power;
    return 10.0 * power;
}

// Each column is drawn as a stroke from its minimum to its maximum, joined
// to the next; an empty column breaks the line.
void write_columns(std::ostringstream& out, const std::vector<Column>& columns) {
    char line[96];
    for (const Column& column : columns) {
        if (column.empty) {
            out << "\n";
            continue;
        }
        std::snprintf(line, sizeof line, "%.6f %.9g\n%.6f %.9g\n", column.time, column.min,
                      column.time, column.max);
        out << line;
    }
    out << "e\n";
}

}  // namespace

std::string shown(const std::string& text) {
    std::string out;
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto c = static_cast<unsigned char>(rest[0]);
        const size_t length = utf8_length(rest);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (length == 0 || c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += rest.substr(0, length);
            rest.remove_prefix(length);
            continue;
        }
        rest.remove_prefix(1);
    }
    return out;
}

std::string gnuplot_script(const PlotLayout& layout, const std::vector<Panel>& panels) {
    std::ostringstream out;
    out << "set terminal pngcairo noenhanced size " << layout.width << "," << layout.height
        << " font 'sans,9'\n"
        << "set multiplot layout " << panels.size() << ",1 title " << quoted(layout.title) << "\n"
        << "set lmargin 12\nset rmargin 3\nset grid\nunset key\n"
        << "set xrange [" << std::to_string(layout.from) << ":" << std::to_string(layout.to)
        << "]\n"
        << "set xtics time\nset format x ''\n";
    for (size_t p = 0; p < panels.size(); ++p) {
        out << "set ylabel " << quoted(panels[p].label) << "\n";
        if (const double step = y_tic_step(panels[p].columns); step > 0)
            out << "set ytics " << step << "\n";
        else
            out << "set ytics autofreq\n";
        // The time labels only under the last panel.
        if (p + 1 == panels.size())
            out << "set format x " << quoted(tick_format(layout.to - layout.from)) << " timedate\n"
                << "set xlabel " << quoted("UTC from " + iso_time(layout.from)) << "\n";
        out << "plot '-' using 1:2 with lines lw 1 lc rgb '" << trace_colour << "'\n";
        write_columns(out, panels[p].columns);
    }
    out << "unset multiplot\nunset output\n";
    return out.str();
}

}  // namespace nvtools
