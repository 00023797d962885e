#include "nevra16.h"

#include "common.h"
#include "nevra.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>

namespace Nevra {

namespace {

// External amplifier gain by legacy gain code minus 1.
constexpr std::array<double, 4> gains{10.0, 20.0, 30.0, 40.0};

// The legacy reader's gain when the comment line names none (old-type files,
// Form 1 or 2 lines without a gain, files without a comment line).
constexpr int gain_not_given = -1;
constexpr int default_gain_code = 1;

// Segment lists start with room for this many record times.
constexpr size_t segment_reserve = 64;

// With more segments than this the time axis is left as built.
constexpr size_t max_refined_segments = 3;

// A record further than this from the running clock starts a new segment.
constexpr double segment_jump_seconds = 1.5;

constexpr int trial_count = 100;
constexpr double trial_step = 0.01;

void debug_line(int line, const std::string& text) {
    if (nevra_debug != 0)
        std::cerr << "nevra16.cpp:" << line << ":: debug: " << text;
}

std::unique_ptr<NEVRA> open_legacy(const char* filename) {
    NEVRA_arguments args;
    args.m_concat = false;
    args.m_old_file_type = false;
    args.m_fail_parse_path = false;
    args.m_quiet = true;
    return std::unique_ptr<NEVRA>(detect(filename, &args));
}

}  // namespace

NEVRA16::NEVRA16(const char* filename, double initial_basetime) {
    set_fixed_header();
    const std::unique_ptr<NEVRA> nevra = open_legacy(filename);

    segments time_org;  // empty until the first record
    double t0 = 0.0;    // the running clock of the time axis
    while (nevra->getdata() == 0) {
        if (time_org.empty()) {
            take_first_record(*nevra, filename, initial_basetime);
            t0 = m_header.time();
            time_org.emplace_back().reserve(segment_reserve);
        }
        copy_samples(*nevra, filename);
        append_record_times(*nevra, t0, time_org);
    }
    if (time_org.empty())
        throw std::runtime_error(Formatter() << "no records in " << filename << "\n");

    if (time_org.size() <= max_refined_segments)
        for (const auto& t_org : time_org)
            refine_segment(t_org, nevra->get_length());
}

// A record whose time is too far from the running clock starts a new
// segment and resets the clock; every sample then gets the clock's time.
void NEVRA16::append_record_times(const NEVRA& nevra, double& t0, segments& time_org) {
    const auto record_time = nevra.get_nvtime(0);
    if (std::fabs(static_cast<double>(record_time) - t0) > segment_jump_seconds) {
        time_org.emplace_back().reserve(segment_reserve);
        t0 = static_cast<double>(record_time);
    }
    time_org.back().push_back(static_cast<long>(record_time));

    const double dt = m_header.delta_t();
    for (size_t s = 0; s < nevra.get_length(); ++s) {
        m_time.push_back(t0);
        t0 += dt;
    }
}

ORIGIN NEVRA16::get_origin() const { return ORIGIN_NV16; }

void NEVRA16::set_fixed_header() {
    m_header = nv_header{};
    m_header.header.m_magic = magic_nv24;
    m_header.header.m_version = 1;
    m_header.common.m_num_channels = 3;
    m_header.common.m_bits_per_sample = 16;
    m_header.common.m_bytes_per_sample = 2;
    m_header.common.m_channel_bitmap = 7;
}

void NEVRA16::take_first_record(const NEVRA& nevra, const char* filename, double initial_basetime) {
    nv_header_common& common = m_header.common;
    common.m_sample_freq_hz = nevra.get_frequency();
    common.m_seconds = static_cast<uint32_t>(nevra.get_nvtime(0));
    common.m_nanoseconds = 0;

    // A file without a station in its comment line has an empty station text.
    const char letter = nevra.get_station();
    std::cerr << ">" << filename << " " << nevra.firstline() << "< >";
    if (letter != '\0')
        std::cerr << letter;
    std::cerr << "\n";
    m_header.header.m_station = letter == '\0' ? unknown : station_char2stationid.at(letter);

    adopt_initial_basetime(initial_basetime);

    int gain_code = nevra.get_gain();
    if (gain_code == gain_not_given)
        gain_code = default_gain_code;
    // at() raises the out-of-range error for codes outside 1 to 4.
    const double ext_gain = gains.at(static_cast<size_t>(gain_code - 1));

    set_channel_records(3, ext_gain);

    // The time axis advances by 1 / frequency.
    if (!is_usable_frequency(common.m_sample_freq_hz))
        throw std::runtime_error(Formatter()
                                 << "sampling frequency " << common.m_sample_freq_hz << " of "
                                 << filename << " is not a positive number\n");
}

void NEVRA16::copy_samples(const NEVRA& nevra, const char* filename) {
    const size_t length = nevra.get_length();
    for (size_t ch = 0; ch < 3; ++ch) {
        const std::vector<double>& samples = nevra.current[ch];
        for (size_t s = 0; s < length; ++s) {
            if (!fits_int32(samples[s]))
                throw std::runtime_error(Formatter()
                                         << "sample value " << samples[s] << " of " << filename
                                         << " lies outside the range of a 32-bit sample\n");
            m_data[ch].push_back(static_cast<int32_t>(samples[s]));
        }
    }
}

// Finds the fraction of a second that, added to the segment's first whole-second
// time, makes the record durations reproduce every recorded record time, and
// shifts the segment's samples by the middle of the range of such fractions.
void NEVRA16::refine_segment(const std::vector<long>& t_org, size_t record_length) {
    if (t_org.size() <= 3)
        return;

    const double delta = static_cast<double>(record_length) / m_header.common.m_sample_freq_hz;
    double n_min = -1.0;
    double n_max = -1.0;
    std::vector<long> time_new(t_org.size());
    for (int n = 0; n < trial_count; ++n) {
        const double nn = n * trial_step;
        for (size_t i = 0; i < t_org.size(); ++i)
            time_new[i] = static_cast<long>((static_cast<double>(t_org[0]) + nn) +
                                            static_cast<double>(i) * delta);
        if (time_new == t_org) {
            debug_line(__LINE__, Formatter() << "For " << nn << " vectors are equal\n");
            if (n_min < 0)
                n_min = nn;
            if (nn > n_max)
                n_max = nn;
        } else if (n_min > -1 && nn > n_max) {
            break;  // only the first unbroken run of matches counts
        }
    }
    if (n_min < 0 || n_max < 0)
        return;

    const double offset = (n_min + n_max) * 0.5;
    const auto it = std::find(m_time.begin(), m_time.end(), static_cast<double>(t_org[0]));
    if (it == m_time.end())
        return;
    debug_line(__LINE__, Formatter() << "Time offset equal between " << n_min << " & " << n_max
                                     << ". Using " << offset << "\n");

    const auto available = static_cast<size_t>(m_time.end() - it);
    const size_t count = std::min(t_org.size() * record_length, available);
    std::for_each(it, it + static_cast<std::ptrdiff_t>(count),
                  [offset](double& t) { t += offset; });
}

}  // namespace Nevra
