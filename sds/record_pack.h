// Packing of result samples into miniSEED records.
#pragma once

#include "layout.h"

#include <cstdint>
#include <span>
#include <string>

namespace sds {

inline constexpr int record_length = 4096;

// Appends to out the values as FLOAT32 miniSEED records of record_length
// bytes, packed by the nv tools' writer: big-endian, quality "D", the first
// sample at start_us (microseconds since 1970, kept to the microsecond by
// Blockette 1001) and the rate exactly (factor and multiplier, or Blockette
// 100). Throws Error naming the id when the rate has no exact form or the
// values cannot be packed.
void pack_float32_records(const SeedId& id, double rate_hz, int64_t start_us,
                          std::span<const float> values, std::string& out);

}  // namespace sds
