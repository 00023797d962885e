// UTC times as the field's tools print them: ISO 8601 with microseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nvtools {

// Seconds since 1970 rounded to the microsecond.
std::int64_t to_microseconds(double seconds);

// "2016-05-01T00:00:00.000000Z" of seconds since 1970 (rounded to the microsecond).
std::string iso_time(double seconds);
std::string iso_time_us(std::int64_t microseconds);

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SS[.ffffff][Z]" or of a plain
// number of seconds; nothing when text is neither.
std::optional<double> parse_time(std::string_view text);

}  // namespace nvtools
