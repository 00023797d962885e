// Writer of the tagged 24-bit block format ("nv24" files): the counterpart of
// NEVRA24, which loads what it writes back with every word, the start time to
// the nanosecond and the rate unchanged. Its words hold any 32-bit integer.
#pragma once

#include "nevra_base.h"

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace Nevra {

// One channel: its record's fields and its samples.
struct NV24Channel {
    uint16_t gain = 1;
    double v_min = -10.0;
    double v_max = 10.0;
    double ext_gain = 1.0;
    std::span<const int32_t> samples;  // every channel holds the same number
};

struct NV24Recording {
    int64_t start_ns = 0;  // first sample, nanoseconds since 1970 (UTC); 0 .. 2^32 s
    double sample_freq_hz = 0.0;
    STATIONS station = unknown;
    std::vector<NV24Channel> channels;  // written as channel numbers 0, 1, ...; 1 to 255 of them
};

// Writes the recording to out as a version-0 file: header, channel records,
// then the samples frame by frame (word w is channel w mod n, sample w div n),
// everything little-endian. The reader's time axis is then
// start + index / sample_freq_hz. Throws std::runtime_error, before anything
// is written, for what the format cannot hold exactly (a start outside its
// 32-bit seconds, no usable rate, no channels or more than 255, channels of
// unequal length), and when the stream fails.
void write_nv24(std::ostream& out, const NV24Recording& recording);

// The same into the file filename (created or truncated); errors name the file.
void write_nv24_file(const std::string& filename, const NV24Recording& recording);

}  // namespace Nevra
