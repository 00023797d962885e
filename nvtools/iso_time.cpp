#include "iso_time.h"

#include "nevra.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace nvtools {

namespace {

constexpr std::int64_t us_per_second = 1000000;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

std::int64_t to_microseconds(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * 1e6));
}

std::string iso_time(double seconds) { return iso_time_us(to_microseconds(seconds)); }

std::string iso_time_us(std::int64_t microseconds) {
    const std::int64_t whole = floor_div(microseconds, us_per_second);
    const std::int64_t fraction = microseconds - whole * us_per_second;
    const auto t = static_cast<std::time_t>(whole);
    std::tm utc{};
    if (gmtime_r(&t, &utc) == nullptr)
        return "invalid-time";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long long>(fraction));
    return text;
}

std::optional<double> parse_time(std::string_view text) {
    double number = 0.0;
    const char* const last = text.data() + text.size();
    if (const auto [end, ec] = std::from_chars(text.data(), last, number);
        ec == std::errc() && end == last)
        return std::isfinite(number) ? std::optional<double>(number) : std::nullopt;

    const std::string copy(text);
    std::tm fields{};
    int consumed = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                    &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                    &consumed) != 6 ||
        consumed != 19)
        return std::nullopt;
    double fraction = 0.0;
    std::string_view rest = text.substr(19);
    if (!rest.empty() && rest.front() == '.') {
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), fraction);
        if (ec != std::errc())
            return std::nullopt;
        rest.remove_prefix(static_cast<size_t>(end - rest.data()));
    }
    if (rest == "Z")
        rest.remove_prefix(1);
    if (!rest.empty())
        return std::nullopt;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    return static_cast<double>(Nevra::my_timegm(&fields)) + fraction;
}

}  // namespace nvtools
