// Joining the records of one trace into segments by their times alone. A
// record continues a segment when it has the segment's rate and its start
// lies within 1 % of an interval of segment start + samples so far / rate.
// The rule is cumulative: every record is held against the segment's start,
// so small offsets per record cannot add up to a drift.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nvtools {

// What joining needs of a record.
struct RecordTiming {
    std::int64_t start_us = 0;
    double rate_hz = 0.0;  // positive
    std::int64_t samples = 0;
};

struct JoinedSegment {
    std::int64_t start_us = 0;
    double rate_hz = 0.0;
    std::int64_t samples = 0;
    std::vector<size_t> records;  // indexes of its records, in time order
};

// True when a record starting at start_us and sampled at rate_hz continues segment.
bool continues(const JoinedSegment& segment, std::int64_t start_us, double rate_hz);

// The segments of records (all of one trace) in order of their starts. The
// records are taken in order of their starts (records starting at the same
// time in their order in records); each continues the latest segment it fits
// or starts a new one, so a gap, an overlap or another rate begins a segment.
std::vector<JoinedSegment> join_records(const std::vector<RecordTiming>& records);

}  // namespace nvtools
