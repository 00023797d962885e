#include "layout.h"

#include <cstdio>
#include <vector>

namespace sds {

namespace {

constexpr std::string_view data_type = "D";
constexpr std::string_view channel_directory_suffix = ".D";

// The text split at every '.'.
std::vector<std::string_view> fields(std::string_view text) {
    std::vector<std::string_view> parts;
    for (size_t from = 0;;) {
        const size_t dot = text.find('.', from);
        parts.push_back(text.substr(from, dot - from));
        if (dot == std::string_view::npos)
            return parts;
        from = dot + 1;
    }
}

bool is_code(std::string_view code, bool may_be_empty) {
    return (may_be_empty || !code.empty()) && code.find_first_of("./") == std::string_view::npos;
}

// A decimal number of exactly `digits` digits.
std::optional<int> number(std::string_view text, size_t digits) {
    if (text.size() != digits)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<SeedId> id_of_fields(const std::vector<std::string_view>& f) {
    SeedId id{std::string(f[0]), std::string(f[1]), std::string(f[2]), std::string(f[3])};
    if (!is_code(id.network, false) || !is_code(id.station, false) || !is_code(id.location, true) ||
        !is_code(id.channel, false))
        return std::nullopt;
    return id;
}

std::string day_of_year_text(int day_of_year) {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", day_of_year);
    return text;
}

}  // namespace

std::string SeedId::text() const {
    return network + "." + station + "." + location + "." + channel;
}

std::optional<SeedId> parse_seed_id(std::string_view text) {
    const auto f = fields(text);
    return f.size() == 4 ? id_of_fields(f) : std::nullopt;
}

std::string year_directory(int year) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", year);
    return text;
}

std::filesystem::path day_file(const std::filesystem::path& root, const SeedId& id, Day day) {
    const YearDay yd = year_day(day);
    const std::string year = year_directory(yd.year);
    return root / year / id.network / id.station /
           (id.channel + std::string(channel_directory_suffix)) /
           (id.text() + "." + std::string(data_type) + "." + year + "." +
            day_of_year_text(yd.day_of_year));
}

std::optional<std::string> channel_of_directory(std::string_view name) {
    if (name.size() <= channel_directory_suffix.size() || !name.ends_with(channel_directory_suffix))
        return std::nullopt;
    const std::string_view channel = name.substr(0, name.size() - channel_directory_suffix.size());
    return is_code(channel, false) ? std::optional<std::string>(channel) : std::nullopt;
}

std::optional<DayFileName> parse_day_file_name(std::string_view name) {
    const auto f = fields(name);
    if (f.size() != 7 || f[4] != data_type)
        return std::nullopt;
    const auto id = id_of_fields(f);
    const auto year = number(f[5], 4), doy = number(f[6], 3);
    if (!id || !year || !doy || !exists({*year, *doy}))
        return std::nullopt;
    return DayFileName{*id, {*year, *doy}};
}

}  // namespace sds
