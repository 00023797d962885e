// SEED names of the traces nvconvert writes and selects.
#pragma once

#include <string>
#include <vector>

namespace nvtools {

// The SEED band code of a sampling rate (the broadband column: ... B for 10
// to 80 Hz, H for 80 to 250 Hz, ...).
char band_code(double rate_hz);

// Band code followed by "DF": an infrasound (pressure) channel.
std::string infrasound_channel_code(double rate_hz);

// The station's code from the station table (Nevra::stationid2seedcode); for
// a station without one its name upper-cased and cut to the 5 characters of a
// SEED station code.
std::string default_station_code(const std::string& station);

// "NET.STA.LOC.CHA".
std::string seed_id(const std::string& network, const std::string& station,
                    const std::string& location, const std::string& channel);

// The ids to use, in order: with no patterns every id in sorted order;
// otherwise, pattern by pattern, the ids it matches (shell wildcards) in
// sorted order, each id once.
std::vector<std::string> select_ids(std::vector<std::string> ids,
                                    const std::vector<std::string>& patterns);

// The station code of a SEED id, "" when the id has no dots.
std::string station_of_id(const std::string& id);

}  // namespace nvtools
