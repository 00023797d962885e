#include "seed_codes.h"

#include "nevra_base.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>

namespace nvtools {

namespace {

constexpr size_t station_code_length = 5;

struct Band {
    double from_hz;  // lowest rate of the band
    char code;
};

// Highest band first; the first band whose lower limit the rate reaches.
constexpr Band bands[] = {
    {1000.0, 'F'}, {250.0, 'C'}, {80.0, 'H'},  {10.0, 'B'},   {1.0001, 'M'},
    {0.5, 'L'},    {0.05, 'V'},  {0.005, 'U'}, {0.0005, 'R'}, {0.00005, 'P'},
};

}  // namespace

char band_code(double rate_hz) {
    for (const Band& band : bands)
        if (rate_hz >= band.from_hz)
            return band.code;
    return 'T';
}

std::string infrasound_channel_code(double rate_hz) {
    return std::string(1, band_code(rate_hz)) + "DF";
}

std::string default_station_code(const std::string& station) {
    const std::string table_code = Nevra::seed_code_of_station(station);
    if (!table_code.empty())
        return table_code;
    std::string code = station.substr(0, station_code_length);
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return code;
}

std::string seed_id(const std::string& network, const std::string& station,
                    const std::string& location, const std::string& channel) {
    return network + "." + station + "." + location + "." + channel;
}

std::vector<std::string> select_ids(std::vector<std::string> ids,
                                    const std::vector<std::string>& patterns) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (patterns.empty())
        return ids;
    std::vector<std::string> chosen;
    for (const std::string& pattern : patterns)
        for (const std::string& id : ids)
            if (fnmatch(pattern.c_str(), id.c_str(), 0) == 0 &&
                std::find(chosen.begin(), chosen.end(), id) == chosen.end())
                chosen.push_back(id);
    return chosen;
}

std::string station_of_id(const std::string& id) {
    const size_t first = id.find('.');
    if (first == std::string::npos)
        return "";
    const size_t second = id.find('.', first + 1);
    return id.substr(first + 1,
                     second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace nvtools
