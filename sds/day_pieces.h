// The common pieces of a day: the stretches of one UTC day on which every
// element of the array has samples, at the same instants, from one run each.
// A gap, an overlap or another rate in any element ends a piece.
#pragma once

#include "days.h"
#include "miniseed_read.h"

#include <cstdint>
#include <span>
#include <vector>

namespace sds {

// Pieces shorter than one analysis row get no results and are left out.
inline constexpr size_t min_piece_samples = 512;

struct Piece {
    int64_t start_ns = 0;  // first sample, nanoseconds since 1970
    int64_t start_us = 0;  // the same to the nearest microsecond
    double rate_hz = 0.0;
    std::vector<std::span<const double>> channels;  // per element, each of the same length
    size_t samples() const { return channels.empty() ? 0 : channels.front().size(); }
};

struct DayPieces {
    std::vector<Piece> pieces;  // in time order, each of at least min_piece_samples
    std::vector<uint64_t> day_samples;  // per element: its samples within the day
};

// The pieces of day from each element's runs (element_runs[e] holds the
// segments of element e as read; a sample at midnight belongs to the day it
// opens). ids name the elements in messages. Throws Error naming two
// elements whose samples in a common stretch lie more than 1 % of an
// interval apart. The pieces view the segments' values.
DayPieces common_pieces(const std::vector<std::vector<const nvtools::Segment*>>& element_runs,
                        const std::vector<std::string>& ids, Day day);

}  // namespace sds
