// Header and channel records as one line of text, so that a test compares every field at once;
// doubles with 17 digits, so that the comparison stays exact.
#pragma once

#include <exception>
#include <iomanip>
#include <string>

#include "common.h"
#include "nevra_base.h"

namespace nevratest {

inline std::string describe(const Nevra::nv_header& h) {
    const auto& c = h.common;
    return Nevra::Formatter() << std::setprecision(17)
                              << std::string(h.header.m_magic.begin(), h.header.m_magic.end())
                              << " v" << +h.header.m_version << " length "
                              << h.header.m_header_length << " station " << +h.header.m_station
                              << " " << c.m_seconds << "." << c.m_nanoseconds << " bitmap "
                              << c.m_channel_bitmap << " channels " << +c.m_num_channels
                              << " unused " << +c.m_unused << " " << c.m_sample_freq_hz << " Hz "
                              << +c.m_bits_per_sample << "/" << +c.m_bytes_per_sample
                              << " bits host " << h.v.v2.m_host_timestamp << " device "
                              << h.v.v2.m_device_id;
}

inline std::string describe(const Nevra::nv_channel& c) {
    return Nevra::Formatter() << std::setprecision(17)
                              << std::string(c.m_magic.begin(), c.m_magic.end()) << " "
                              << c.m_channel << " gain " << c.m_gain << " " << c.m_v_min << ".."
                              << c.m_v_max << " x" << c.m_ext_gain;
}

// The text of the exception f throws, or "" when it throws none.
template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace nevratest
