// Reading miniSEED files through libmseed into contiguous segments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nvtools {

// One contiguous run of one trace: libmseed joins records that follow each
// other within half a sample and starts a new segment at a gap or an overlap.
struct Segment {
    std::string id;  // NET.STA.LOC.CHA
    double rate_hz = 0.0;
    std::int64_t start_us = 0;
    std::vector<double> values;
};

// True when the bytes start like a miniSEED data record.
bool looks_like_miniseed(std::string_view head);

// Every segment of every trace in file. Throws std::runtime_error with the
// reason when libmseed cannot read the whole file, or a sample is not a
// finite number.
std::vector<Segment> read_miniseed(const std::string& file);

}  // namespace nvtools
