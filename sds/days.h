// UTC calendar days: the words that name them, inclusive ranges of them, and
// their links to (year, day of year) and to microseconds since 1970.
#pragma once

#include <compare>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace sds {

// An error about the archive or its days, worded for the user.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int64_t us_per_day = 86'400'000'000;

// A day, counted from 1970-01-01 (day 0; earlier days are negative).
struct Day {
    int64_t number = 0;
    auto operator<=>(const Day&) const = default;
    Day operator+(int64_t days) const { return {number + days}; }
    Day operator-(int64_t days) const { return {number - days}; }
};

struct YearDay {
    int year = 1970;
    int day_of_year = 1;  // 1 .. 365, or 366 in a leap year
    auto operator<=>(const YearDay&) const = default;
};

// Both ends included; first <= last.
struct DayRange {
    Day first, last;
    int64_t size() const { return last.number - first.number + 1; }
    bool contains(Day day) const { return first <= day && day <= last; }
};

// "YYYY-MM-DD" or "YYYY-DDD" (digits only, a real date of a year 0000 .. 9999).
// Throws Error naming the word otherwise.
Day parse_day(const std::string& word);

// The days from `from` to `to`, both parsed with parse_day; throws Error when
// either is not a day or `from` lies after `to`.
DayRange parse_day_range(const std::string& from, const std::string& to);

// True when the year has that day: 1 .. 365, or 366 in a leap year.
bool exists(YearDay year_day);

YearDay year_day(Day day);
// Throws Error when the day of year does not exist in that year.
Day day_of(YearDay year_day);

int64_t midnight_us(Day day);  // the day's first microsecond since 1970
Day day_at(int64_t us);        // the day that microsecond lies in

std::string day_text(Day day);  // "YYYY-MM-DD"

}  // namespace sds
