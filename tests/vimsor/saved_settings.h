#pragma once

// Saves everything process-wide that the driver's tests change (the settings,
// the sample stores and the working directory) and puts it back when it goes
// out of scope, also when a test stops half-way at a failed ASSERT.

#include <filesystem>
#include <tuple>
#include <type_traits>

#include "settings.h"
#include "stores.h"

inline auto saved_settings_live() {
    return std::tie(MAVLIN, global_strength, mode, bandp, quiet, global_scale, firstline, namebase,
                    output_name, fout_extension, test, global_nr_cpus, sdev, debug, options,
                    time_array, original, processed, tid);
}

template <class... T>
std::tuple<std::decay_t<T>...> saved_settings_values(const std::tuple<T&...>&);  // no definition

class saved_settings {
public:
    ~saved_settings() {
        saved_settings_live() = m_values;
        std::filesystem::current_path(m_dir);
    }

private:
    decltype(saved_settings_values(saved_settings_live())) m_values = saved_settings_live();
    std::filesystem::path m_dir = std::filesystem::current_path();
};
