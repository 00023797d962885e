#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr std::time_t hour = 3600;
constexpr std::time_t shortest_span = 60;

}  // namespace

progress_figures progress_of(const std::vector<input_records>& inputs, std::time_t now) {
    progress_figures figures;
    std::size_t lately = 0;
    std::time_t first = now;
    for (std::size_t index = 1; index < inputs.size(); ++index) {
        const input_records& input = inputs[index];
        ++figures.total;
        if (input.done)
            ++figures.done;
        else if (input.failed && !input.running)
            ++figures.failed;
        else
            continue;
        if (input.finished > now - hour) {
            ++lately;
            first = std::min(first, input.finished);
        }
    }
    figures.pending = figures.total - figures.done - figures.failed;
    if (lately > 0)
        figures.per_hour = static_cast<double>(lately) * hour /
                           static_cast<double>(std::max(now - first, shortest_span));
    if (figures.per_hour > 0 && figures.pending > 0)
        figures.end = now + static_cast<std::time_t>(
                                std::ceil(static_cast<double>(figures.pending) / figures.per_hour * hour));
    return figures;
}

std::string progress_line(const progress_figures& figures) {
    char rate[64] = "no input finished in the last hour";
    if (figures.per_hour > 0)
        std::snprintf(rate, sizeof rate, "%.1f inputs/hour", figures.per_hour);
    std::string line = "progress: " + std::to_string(figures.done) + " done, " +
                       std::to_string(figures.failed) + " failed, " +
                       std::to_string(figures.pending) + " pending of " +
                       std::to_string(figures.total) + "; " + rate;
    if (figures.end != 0) {
        char end[32];
        std::tm local;
        std::strftime(end, sizeof end, "%Y-%m-%d %H:%M", localtime_r(&figures.end, &local));
        line += std::string("; estimated end ") + end;
    }
    return line;
}
