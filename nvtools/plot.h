// The gnuplot script of nvplot's picture: one panel per channel over a
// shared UTC time axis, each channel drawn as its min/max envelope.
#pragma once

#include "envelope.h"

#include <string>
#include <vector>

namespace nvtools {

struct PlotLayout {
    std::string title;
    std::string output;  // the PNG file gnuplot writes
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

std::string gnuplot_script(const PlotLayout& layout, const std::vector<Panel>& panels);

}  // namespace nvtools
