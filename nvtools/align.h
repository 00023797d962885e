// Lining up the segments of several traces sample by sample: the stretches
// of time every trace covers without a break become the blocks of a
// multi-channel recording.
#pragma once

#include "miniseed_read.h"

#include <cstdint>
#include <string>
#include <vector>

namespace nvtools {

struct AlignedBlock {
    std::int64_t start_us = 0;
    std::vector<std::vector<double>> channels;  // in the order of the ids
};

// The blocks of the traces ids, all sampled at rate_hz, in time order. A
// break in any trace (a gap, or an overlap, whose repeated samples are
// dropped) ends a block. Throws std::runtime_error when a segment has another
// rate, when a trace overlaps itself with other values or off its sampling
// instants, when traces covering the same time are not sampled at the same
// instants, or when no time is covered by all.
std::vector<AlignedBlock> align_traces(const std::vector<Segment>& segments,
                                       const std::vector<std::string>& ids, double rate_hz);

}  // namespace nvtools
