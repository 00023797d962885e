// The gnuplot script of nvplot's picture: one panel per channel over a
// shared UTC time axis, each channel drawn as its min/max envelope. The
// picture goes to gnuplot's standard output; the script names no file.
#pragma once

#include "envelope.h"

#include <string>
#include <vector>

namespace nvtools {

struct PlotLayout {
    std::string title;
    int width = 1200;
    int height = 800;
    double from = 0.0;
    double to = 0.0;
};

struct Panel {
    std::string label;  // y axis label
    std::vector<Column> columns;
};

// The colour of the traces, "#rrggbb".
inline constexpr const char* trace_colour = "#1f4e9c";

// text as it is shown: control characters, backslashes and bytes that are
// not UTF-8 as escapes ("\n", "\\", "\xff"), so a title shows every name
// on one line and as it is.
std::string shown(const std::string& text);

std::string gnuplot_script(const PlotLayout& layout, const std::vector<Panel>& panels);

}  // namespace nvtools
