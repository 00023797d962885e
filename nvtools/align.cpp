#include "align.h"

#include "common.h"
#include "common_stretches.h"
#include "iso_time.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace nvtools {

namespace {

// One trace's stretch of samples, on the microsecond time line.
struct Span {
    const Segment* segment;
    size_t first;  // index of its first sample in the segment
    size_t count;
    double start_us;
    double end_us;  // one interval after the last sample
};

struct Trace {
    std::string id;
    std::vector<Span> spans;  // in time order, not overlapping
};

// Samples closer than this to the same instant count as simultaneous.
double tolerance_us(double period_us) { return 0.01 * period_us + 1.0; }

// The span of trace holding the instant t, or null.
const Span* holding(const Trace& trace, double t, double tolerance) {
    for (const Span& span : trace.spans)
        if (span.start_us - tolerance <= t && t < span.end_us - tolerance)
            return &span;
    return nullptr;
}

// The first `overlapping` samples of segment lie where the trace has samples
// already: they are dropped, but only when they repeat those samples.
void check_overlap(const Trace& trace, const Segment& segment, size_t overlapping,
                   double period_us) {
    const double tolerance = tolerance_us(period_us);
    for (size_t i = 0; i < overlapping && i < segment.values.size(); ++i) {
        const double t = static_cast<double>(segment.start_us) + static_cast<double>(i) * period_us;
        const std::string where =
            "trace " + trace.id + " overlaps itself at " + iso_time_us(std::llround(t));
        const Span* span = holding(trace, t, tolerance);
        const double position = span == nullptr ? 0.0 : (t - span->start_us) / period_us;
        const double index = std::round(position);
        if (span == nullptr || std::fabs(position - index) * period_us > tolerance)
            throw std::runtime_error(where + " off its sampling instants");
        if (span->segment->values[span->first + static_cast<size_t>(index)] != segment.values[i])
            throw std::runtime_error(where + " with different values");
    }
}

Trace trace_spans(const std::vector<Segment>& segments, const std::string& id, double rate_hz) {
    const double period_us = 1e6 / rate_hz;
    std::vector<const Segment*> mine;
    for (const Segment& segment : segments)
        if (segment.id == id && !segment.values.empty())
            mine.push_back(&segment);
    std::sort(mine.begin(), mine.end(),
              [](const Segment* a, const Segment* b) { return a->start_us < b->start_us; });
    Trace trace{id, {}};
    for (const Segment* segment : mine) {
        if (segment->rate_hz != rate_hz)
            throw std::runtime_error("trace " + id + " is sampled at " +
                                     Nevra::round_trip_text(segment->rate_hz) + " Hz from " +
                                     iso_time_us(segment->start_us) + ", not at " +
                                     Nevra::round_trip_text(rate_hz) + " Hz");
        const auto start = static_cast<double>(segment->start_us);
        size_t first = 0;
        // Samples already covered by the spans before are dropped.
        if (!trace.spans.empty() && start < trace.spans.back().end_us - tolerance_us(period_us))
            first = static_cast<size_t>(std::ceil(
                (trace.spans.back().end_us - start - tolerance_us(period_us)) / period_us));
        check_overlap(trace, *segment, first, period_us);
        if (first >= segment->values.size())
            continue;
        const size_t count = segment->values.size() - first;
        const double span_start = start + static_cast<double>(first) * period_us;
        trace.spans.push_back({segment, first, count, span_start,
                               span_start + static_cast<double>(count) * period_us});
    }
    return trace;
}

// The span of trace covering [from, to), or null.
const Span* covering(const Trace& trace, double from, double to, double tolerance) {
    for (const Span& span : trace.spans)
        if (span.start_us <= from + tolerance && span.end_us >= to - tolerance)
            return &span;
    return nullptr;
}

// The samples of every trace from `from` for count samples.
AlignedBlock cut_block(const std::vector<Trace>& traces, const std::vector<const Span*>& spans,
                       double from, double to, double period_us) {
    const double tolerance = tolerance_us(period_us);
    std::vector<size_t> offsets;
    size_t count = static_cast<size_t>(std::llround((to - from) / period_us));
    for (size_t t = 0; t < traces.size(); ++t) {
        const double position = (from - spans[t]->start_us) / period_us;
        const double index = std::round(position);
        if (std::fabs(position - index) * period_us > tolerance)
            throw std::runtime_error("traces " + traces.front().id + " and " + traces[t].id +
                                     " are not sampled at the same instants");
        const auto offset = static_cast<size_t>(index);
        offsets.push_back(offset);
        count = std::min(count, spans[t]->count - offset);
    }
    AlignedBlock block;
    block.start_us = std::llround(spans[0]->start_us + static_cast<double>(offsets[0]) * period_us);
    for (size_t t = 0; t < traces.size(); ++t) {
        const auto& values = spans[t]->segment->values;
        const auto begin =
            values.begin() + static_cast<std::ptrdiff_t>(spans[t]->first + offsets[t]);
        block.channels.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(count));
    }
    return block;
}

}  // namespace

std::vector<AlignedBlock> align_traces(const std::vector<Segment>& segments,
                                       const std::vector<std::string>& ids, double rate_hz) {
    const double period_us = 1e6 / rate_hz;
    const double tolerance = tolerance_us(period_us);
    std::vector<Trace> traces;
    std::vector<double> bounds;
    for (const std::string& id : ids) {
        traces.push_back(trace_spans(segments, id, rate_hz));
        for (const Span& span : traces.back().spans) {
            bounds.push_back(span.start_us);
            bounds.push_back(span.end_us);
        }
    }
    merge_bounds(bounds, tolerance);

    // Every stretch where each trace stays in one span is a block.
    std::vector<AlignedBlock> blocks;
    for_each_common_stretch(
        bounds, traces.size(),
        [&](double from, double to) {
            std::vector<const Span*> spans;
            for (const Trace& trace : traces)
                if (const Span* span = covering(trace, from, to, tolerance))
                    spans.push_back(span);
            return spans;
        },
        [&](const std::vector<const Span*>& spans, double from, double to) {
            blocks.push_back(cut_block(traces, spans, from, to, period_us));
        });
    if (blocks.empty())
        throw std::runtime_error("the selected traces share no time");
    return blocks;
}

}  // namespace nvtools
