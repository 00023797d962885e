// The min/max envelope of a long trace: one column per pixel, each holding
// the smallest and largest value of the samples that fall in it, the way
// long traces are drawn in the field's plotting tools.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace nvtools {

struct Column {
    double time = 0.0;  // middle of the column
    double min = 0.0;
    double max = 0.0;
    bool empty = true;  // no sample falls in it (a gap)
};

// columns columns of equal width over [from, to]; the samples are those of
// values whose time lies in that range.
template <typename T>
std::vector<Column> envelope(const std::vector<double>& time, const T* values, double from,
                             double to, size_t columns) {
    std::vector<Column> out(columns);
    const double width = (to - from) / static_cast<double>(columns);
    for (size_t k = 0; k < columns; ++k)
        out[k].time = from + (static_cast<double>(k) + 0.5) * width;
    // Every sample is looked at: a legacy clock may step back, so the time
    // axis need not be in order.
    for (size_t i = 0; i < time.size(); ++i) {
        if (time[i] < from || time[i] > to)
            continue;
        const auto k = std::min(columns - 1, static_cast<size_t>((time[i] - from) / width));
        Column& column = out[k];
        const auto v = static_cast<double>(values[i]);
        if (column.empty) {
            column.min = column.max = v;
            column.empty = false;
        } else {
            column.min = std::min(column.min, v);
            column.max = std::max(column.max, v);
        }
    }
    return out;
}

// Adds the columns of another stretch of the same trace (an envelope over
// the same range and width) into columns.
inline void merge_columns(std::vector<Column>& columns, const std::vector<Column>& more) {
    for (size_t k = 0; k < columns.size() && k < more.size(); ++k) {
        if (more[k].empty)
            continue;
        Column& column = columns[k];
        column.min = column.empty ? more[k].min : std::min(column.min, more[k].min);
        column.max = column.empty ? more[k].max : std::max(column.max, more[k].max);
        column.empty = false;
    }
}

}  // namespace nvtools
