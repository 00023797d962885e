#include "days.h"

#include <chrono>
#include <cstdio>

namespace sds {

namespace {

using std::chrono::sys_days;

bool is_digits(const std::string& text, size_t first, size_t count) {
    for (size_t i = first; i < first + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

int number_at(const std::string& text, size_t first, size_t count) {
    return std::stoi(text.substr(first, count));
}

Error not_a_day(const std::string& word) {
    return Error("\"" + word + "\" is not a day: expected YYYY-MM-DD or YYYY-DDD");
}

Day from_sys_days(sys_days days) { return {days.time_since_epoch().count()}; }

sys_days to_sys_days(Day day) { return sys_days(std::chrono::days(day.number)); }

}  // namespace

Day parse_day(const std::string& word) {
    const bool year_first = word.size() >= 5 && is_digits(word, 0, 4) && word[4] == '-';
    if (year_first && word.size() == 8 && is_digits(word, 5, 3)) {
        const int year = number_at(word, 0, 4), doy = number_at(word, 5, 3);
        if (!exists({year, doy}))
            throw not_a_day(word);
        return day_of({year, doy});
    }
    if (year_first && word.size() == 10 && is_digits(word, 5, 2) && word[7] == '-' &&
        is_digits(word, 8, 2)) {
        const std::chrono::year_month_day date{
            std::chrono::year(number_at(word, 0, 4)),
            std::chrono::month(static_cast<unsigned>(number_at(word, 5, 2))),
            std::chrono::day(static_cast<unsigned>(number_at(word, 8, 2)))};
        if (!date.ok())
            throw not_a_day(word);
        return from_sys_days(sys_days(date));
    }
    throw not_a_day(word);
}

DayRange parse_day_range(const std::string& from, const std::string& to) {
    const DayRange range{parse_day(from), parse_day(to)};
    if (range.last < range.first)
        throw Error("the first day " + from + " lies after the last day " + to);
    return range;
}

bool exists(YearDay yd) {
    return yd.day_of_year >= 1 &&
           yd.day_of_year <= (std::chrono::year(yd.year).is_leap() ? 366 : 365);
}

YearDay year_day(Day day) {
    const std::chrono::year year = std::chrono::year_month_day(to_sys_days(day)).year();
    const sys_days new_year{year / std::chrono::January / 1};
    return {static_cast<int>(year), static_cast<int>((to_sys_days(day) - new_year).count()) + 1};
}

Day day_of(YearDay yd) {
    if (!exists(yd))
        throw Error("day " + std::to_string(yd.day_of_year) + " does not exist in the year " +
                    std::to_string(yd.year));
    const sys_days new_year{std::chrono::year(yd.year) / std::chrono::January / 1};
    return from_sys_days(new_year) + (yd.day_of_year - 1);
}

int64_t midnight_us(Day day) { return day.number * us_per_day; }

Day day_at(int64_t us) {
    // Division rounding toward minus infinity, so times before 1970 land in their day.
    return {us / us_per_day - (us % us_per_day < 0 ? 1 : 0)};
}

std::string day_text(Day day) {
    const std::chrono::year_month_day date(to_sys_days(day));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

}  // namespace sds
