#pragma once

// Saves everything process-wide that the driver's tests change (the settings,
// the sample stores, the working directory and PATH) and puts it back when it
// goes out of scope, also when a test stops half-way at a failed ASSERT.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <type_traits>

#include "settings.h"
#include "stores.h"

namespace saved_settings_detail {

inline auto live() {
    return std::tie(MAVLIN, global_strength, mode, bandp, quiet, global_scale, firstline, namebase,
                    output_name, fout_extension, test, global_nr_cpus, sdev, debug, options);
}
inline auto stores() { return std::tie(time_array, original, processed, tid); }

// The values behind a tuple of references.
template <class... T>
std::tuple<std::decay_t<T>...> copy_of(const std::tuple<T&...>&);

}  // namespace saved_settings_detail

class saved_settings {
public:
    saved_settings()
        : m_settings(saved_settings_detail::live()),
          m_stores(saved_settings_detail::stores()),
          m_dir(std::filesystem::current_path()) {
        const char* path = std::getenv("PATH");
        m_path = path != nullptr ? path : "/usr/bin:/bin";
    }
    ~saved_settings() {
        saved_settings_detail::live() = m_settings;
        saved_settings_detail::stores() = m_stores;
        std::filesystem::current_path(m_dir);
        setenv("PATH", m_path.c_str(), 1);
    }
    saved_settings(const saved_settings&) = delete;
    saved_settings& operator=(const saved_settings&) = delete;

    // PATH with folder first.
    void put_first_on_path(const std::filesystem::path& folder) const {
        setenv("PATH", (folder.string() + ":" + m_path).c_str(), 1);
    }

private:
    decltype(saved_settings_detail::copy_of(saved_settings_detail::live())) m_settings;
    decltype(saved_settings_detail::copy_of(saved_settings_detail::stores())) m_stores;
    std::filesystem::path m_dir;
    std::string m_path;
};
