#include "day_pieces.h"

#include "common_stretches.h"
#include "day_writer.h"
#include "iso_time.h"
#include "tm4_write.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace sds {

namespace {

// The part of a run within the day: values [first, last) of its segment.
struct DayRun {
    const nvtools::Segment* segment;
    size_t first, last;
    int64_t begin_us, end_us;  // times of values first and last (just after the run)
};

// The time of values[i] of segment, to the nearest microsecond.
int64_t time_of(const nvtools::Segment& segment, size_t i) {
    return nvtools::sample_time_us(segment.start_us, static_cast<size_t>(segment.first_index) + i,
                                   segment.rate_hz);
}

// The index into segment.values of its first value at or after boundary_us.
size_t first_value_from(const nvtools::Segment& segment, int64_t boundary_us) {
    const auto skipped = static_cast<size_t>(segment.first_index);
    const size_t index = first_sample_from(segment.start_us, segment.rate_hz,
                                           skipped + segment.values.size(), boundary_us);
    return index > skipped ? index - skipped : 0;
}

std::vector<DayRun> day_runs(const std::vector<const nvtools::Segment*>& segments, Day day) {
    std::vector<DayRun> runs;
    for (const nvtools::Segment* segment : segments) {
        const size_t first = first_value_from(*segment, midnight_us(day));
        const size_t last = first_value_from(*segment, midnight_us(day + 1));
        if (first < last)
            runs.push_back({segment, first, last, time_of(*segment, first), time_of(*segment, last)});
    }
    return runs;
}

// The one run of runs covering [from, to) give or take tolerance; null when
// none or several do.
const DayRun* sole_cover(const std::vector<DayRun>& runs, int64_t from, int64_t to,
                         int64_t tolerance) {
    const DayRun* found = nullptr;
    for (const DayRun& run : runs)
        if (run.begin_us <= from + tolerance && to <= run.end_us + tolerance) {
            if (found != nullptr)
                return nullptr;
            found = &run;
        }
    return found;
}

// The exact time of values[i] of segment in nanoseconds since 1970.
double exact_ns(const nvtools::Segment& segment, size_t i) {
    return static_cast<double>(segment.start_us) * 1e3 +
           static_cast<double>(static_cast<size_t>(segment.first_index) + i) * 1e9 /
               segment.rate_hz;
}

// The piece of [from_us, to_us) with one run per element; nothing when the
// runs have different rates.
std::optional<Piece> cut_piece(const std::vector<const DayRun*>& runs,
                               const std::vector<std::string>& ids, int64_t from_us,
                               int64_t to_us, int64_t tolerance) {
    const double rate = runs.front()->segment->rate_hz;
    for (const DayRun* run : runs)
        if (run->segment->rate_hz != rate)
            return std::nullopt;
    std::vector<size_t> starts;
    size_t count = SIZE_MAX;
    for (const DayRun* run : runs) {
        const nvtools::Segment& segment = *run->segment;
        const size_t from = std::max(run->first, first_value_from(segment, from_us - tolerance));
        const size_t to = std::min(run->last, first_value_from(segment, to_us - tolerance));
        starts.push_back(from);
        count = std::min(count, to > from ? to - from : 0);
    }
    const double first_ns = exact_ns(*runs.front()->segment, starts.front());
    for (size_t e = 1; e < runs.size(); ++e)
        if (std::fabs(exact_ns(*runs[e]->segment, starts[e]) - first_ns) > 0.01 * 1e9 / rate)
            throw Error(ids.front() + " and " + ids[e] + " are not sampled at the same instants at " +
                        nvtools::iso_time_us(from_us));
    Piece piece;
    piece.start_ns = std::llround(first_ns);
    piece.start_us = time_of(*runs.front()->segment, starts.front());
    piece.rate_hz = rate;
    for (size_t e = 0; e < runs.size(); ++e)
        piece.channels.push_back(std::span(runs[e]->segment->values).subspan(starts[e], count));
    return piece;
}

double highest_rate(const std::vector<std::vector<const nvtools::Segment*>>& element_runs) {
    double rate = 1.0;
    for (const auto& segments : element_runs)
        for (const nvtools::Segment* segment : segments)
            rate = std::max(rate, segment->rate_hz);
    return rate;
}

}  // namespace

DayPieces common_pieces(const std::vector<std::vector<const nvtools::Segment*>>& element_runs,
                        const std::vector<std::string>& ids, Day day) {
    DayPieces result;
    std::vector<std::vector<DayRun>> runs;
    std::vector<int64_t> bounds;
    for (const auto& segments : element_runs) {
        runs.push_back(day_runs(segments, day));
        uint64_t samples = 0;
        for (const DayRun& run : runs.back()) {
            samples += run.last - run.first;
            bounds.push_back(run.begin_us);
            bounds.push_back(run.end_us);
        }
        result.day_samples.push_back(samples);
    }
    // Samples of different elements less than 1 % of an interval apart are
    // simultaneous, and so are their bounds.
    const int64_t tolerance = std::llround(0.01 * 1e6 / highest_rate(element_runs));
    nvtools::merge_bounds(bounds, tolerance);

    // Neighbouring stretches with the same sole run per element are one piece.
    nvtools::for_each_common_stretch(
        bounds, runs.size(),
        [&](int64_t from_us, int64_t to_us) {
            std::vector<const DayRun*> covering;
            for (const auto& element : runs)
                if (const DayRun* run = sole_cover(element, from_us, to_us, tolerance))
                    covering.push_back(run);
            return covering;
        },
        [&](const std::vector<const DayRun*>& current, int64_t from_us, int64_t to_us) {
            if (auto piece = cut_piece(current, ids, from_us, to_us, tolerance);
                piece && piece->samples() >= min_piece_samples)
                result.pieces.push_back(std::move(*piece));
        });
    return result;
}

}  // namespace sds
