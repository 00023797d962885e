// Writing traces as miniSEED records through libmseed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace nvtools {

// The samples of one contiguous trace: whole numbers, numbers with fractions,
// or single-precision numbers (results, which hold six significant digits).
struct TraceSamples {
    const std::int32_t* whole = nullptr;  // set for whole numbers
    const double* fractional = nullptr;   // set for numbers with fractions
    size_t count = 0;
    const float* single = nullptr;        // set for single-precision numbers
};

struct TraceHeader {
    std::string network, station, location, channel;
    double rate_hz = 0.0;
    std::int64_t start_us = 0;  // first sample, microseconds since 1970
};

// libmseed's encodings used here.
enum class Encoding { steim2, int32, float32, float64 };

// Where the records keep the sampling rate: the fixed header's factor and
// multiplier when they give the rate back exactly, otherwise Blockette 100
// when its 32-bit float holds the rate exactly. Throws std::runtime_error
// naming the rate when neither holds it.
enum class RateField { factor_multiplier, blockette_100 };
RateField rate_field(double rate_hz);

// Steim-2 when every sample and every difference between neighbours fits
// its 30 bits, INT32 otherwise; FLOAT64 for numbers with fractions, FLOAT32
// for single-precision ones.
Encoding encoding_for(const TraceSamples& samples);

// Packs the trace into records of record_length bytes (big-endian, quality
// "D", the rate as rate_field says, the start times to the microsecond with
// Blockette 1001) and writes them to out. Throws std::runtime_error when the
// rate has no exact form, libmseed refuses the trace or a write fails.
void write_trace(FILE* out, const TraceHeader& header, const TraceSamples& samples,
                 int record_length);

// Packs into records handed to record(...) and counted; for measuring the
// packer alone. Returns the number of records.
long pack_trace(const TraceHeader& header, const TraceSamples& samples, int record_length,
                void (*record)(char*, int, void*), void* context);

// True for a power of two libmseed can write.
bool valid_record_length(long length);

}  // namespace nvtools
