// The SDS layout of an archive, for reading and writing, in one place:
//   ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY
// (YEAR four digits, DOY three, "D" the data type of waveform files).
#pragma once

#include "days.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sds {

// A SEED trace id; the location may be empty, the other codes may not, and
// no code holds a '.' or a '/'.
struct SeedId {
    std::string network, station, location, channel;

    std::string text() const;  // "NET.STA.LOC.CHA"
    bool operator==(const SeedId&) const = default;
};

// The id of "NET.STA.LOC.CHA", nothing for any other text.
std::optional<SeedId> parse_seed_id(std::string_view text);

// ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY
std::filesystem::path day_file(const std::filesystem::path& root, const SeedId& id, Day day);

// The year directory's name: four digits.
std::string year_directory(int year);

// The channel code of a channel directory "CHA.D"; nothing for another name.
std::optional<std::string> channel_of_directory(std::string_view name);

struct DayFileName {
    SeedId id;
    YearDay day;
};

// What a day file's own name (the last part of day_file) says; nothing for
// any other name, including temporary files beside day files.
std::optional<DayFileName> parse_day_file_name(std::string_view name);

}  // namespace sds
