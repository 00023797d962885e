// Packing of result samples into miniSEED records.
#pragma once

#include "layout.h"

#include <cstdint>
#include <span>
#include <string>

namespace sds {

inline constexpr int record_length = 4096;

// Appends to out the values as big-endian FLOAT32 miniSEED records of
// record_length bytes, quality "D", whose first sample lies at start_us
// (microseconds since 1970, kept to the microsecond by Blockette 1001) and
// whose rate is rate_hz exactly. Throws Error naming the id when the rate
// cannot be written exactly or libmseed cannot pack the values.
void pack_float32_records(const SeedId& id, double rate_hz, int64_t start_us,
                          std::span<const float> values, std::string& out);

}  // namespace sds
