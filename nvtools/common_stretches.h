// The sweep that lines traces up: between neighbouring bounds of their
// spans every trace is covered by the same span or by none, so the time all
// of them cover splits into stretches where each trace stays in one span.
// nvconvert's alignment and the SDS day pieces both cut with it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace nvtools {

// Sorts bounds and makes bounds closer than tolerance one bound.
template <class Time>
void merge_bounds(std::vector<Time>& bounds, Time tolerance) {
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end(),
                             [tolerance](Time a, Time b) { return b - a <= tolerance; }),
                 bounds.end());
}

// Calls close(spans, from, to) for every longest stretch [from, to) between
// merged bounds on which cover(from, to) finds a span for each of the traces
// and the same spans throughout. cover returns the spans it found, one per
// covered trace, in trace order.
template <class Time, class Cover, class Close>
void for_each_common_stretch(const std::vector<Time>& bounds, std::size_t traces, Cover cover,
                             Close close) {
    decltype(cover(Time{}, Time{})) current;
    Time from{}, to{};
    for (std::size_t b = 0; b + 1 < bounds.size(); ++b) {
        auto spans = cover(bounds[b], bounds[b + 1]);
        const bool all = spans.size() == traces;
        if (!current.empty() && (!all || spans != current)) {
            close(current, from, to);
            current.clear();
        }
        if (!all)
            continue;
        if (current.empty()) {
            current = std::move(spans);
            from = bounds[b];
        }
        to = bounds[b + 1];
    }
    if (!current.empty())
        close(current, from, to);
}

}  // namespace nvtools
