#include "nevra_tm4.h"

#include "common.h"
#include "nevra.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

namespace Nevra {

namespace {

// The time and at most 8 channel values; numbers after the ninth are ignored.
constexpr int max_channels = NEVRA_TM4::max_channels;

// Fewer samples than one analysis block need no usable frequency.
constexpr size_t lines_needing_frequency = 512;

// Scans a data line as "%lf %lf %lf %lf %lf %lf %lf %lf %lf" does, into t and
// values, and returns the same count: plain decimal numbers through the fast
// path, a line with anything else through sscanf itself.
int scan_data_line(const char* line, double& t, std::array<double, max_channels>& values) {
    double* const targets[] = {&t,         &values[0], &values[1], &values[2], &values[3],
                               &values[4], &values[5], &values[6], &values[7]};
    const char* p = line;
    const char* const last = line + std::strlen(line);
    int count = 0;
    for (double* target : targets) {
        while (p != last && is_scanf_space(*p))
            ++p;
        if (p == last)
            return count == 0 ? -1 : count;
        double value = 0.0;
        const char* const end = read_plain_decimal(p, last, value);
        if (end == nullptr)
            return std::sscanf(line, "%lf %lf %lf %lf %lf %lf %lf %lf %lf", &t, &values[0],
                               &values[1], &values[2], &values[3], &values[4], &values[5],
                               &values[6], &values[7]);
        *target = value;
        p = end;
        ++count;
    }
    return count;
}

}  // namespace

NEVRA_TM4::NEVRA_TM4(const char* filename, double initial_basetime) {
    set_fixed_header();

    std::ifstream in(filename);
    size_t line_number = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++line_number;
        if (!line.empty() && line[0] == '!') {
            read_comment(line);
            continue;
        }

        double t = 0.0;
        std::array<double, max_channels> values{};
        const int ret = scan_data_line(line.c_str(), t, values);
        if (ret <= 3)
            break;
        const int count = ret - 1;  // values after the time
        if (m_first_lines_left != 0)
            take_first_line(t, count, initial_basetime);
        if (count != m_header.common.m_num_channels)
            break;
        append_line(t, values, count, line_number, filename);
    }
    check_frequency(filename);
}

// The first two data lines set the start time, the frequency (unless a
// comment line gave it) and the channel count.
void NEVRA_TM4::take_first_line(double t, int count, double initial_basetime) {
    if (m_first_lines_left == 2)
        m_first_time = t;
    else if (m_header.common.m_sample_freq_hz < 0)
        m_header.common.m_sample_freq_hz = 1.0 / (t - m_first_time);
    set_start_time(m_first_time, initial_basetime);
    if (count != 3 && m_header.common.m_num_channels == 3)
        m_header.common.m_num_channels = static_cast<uint8_t>(count);
    // Existing channels keep their samples when the second data line raises the count.
    set_channel_records(m_header.common.m_num_channels, 1.0);
    m_first_time = m_header.time();
    --m_first_lines_left;
}

void NEVRA_TM4::append_line(double t, const std::array<double, max_channels>& values, int count,
                            size_t line_number, const char* filename) {
    for (int c = 0; c < count; ++c) {
        if (!fits_int32(values[c]))
            throw std::runtime_error(Formatter() << "value " << values[c] << " in line "
                                                 << line_number << " of " << filename
                                                 << " lies outside the range of a 32-bit sample\n");
        m_data[c].push_back(static_cast<int32_t>(values[c]));
    }
    m_time.push_back(t);
}

ORIGIN NEVRA_TM4::get_origin() const { return ORIGIN_TM4; }

void NEVRA_TM4::set_fixed_header() {
    m_header.header.m_magic = magic_nv24;
    m_header.header.m_version = 1;
    m_header.header.m_station = test;
    m_header.common.m_num_channels = 3;
    m_header.common.m_bits_per_sample = 32;
    m_header.common.m_bytes_per_sample = 4;
    m_header.common.m_channel_bitmap = 7;
    m_header.common.m_sample_freq_hz = -1.0;
}

// Only the frequency and the station word are taken; the line is used as far
// as the scan got, even when it is rejected.
void NEVRA_TM4::read_comment(const std::string& line) {
    double frequency = -1.0;
    int gain = -1;
    std::string station;
    char letter = '\0';
    int length = 0;
    bool unixtime = false;
    std::string date;
    std::string time;
    const arguments args(frequency, gain, station, letter, length, unixtime, date, time);
    valid_comment_type3(line.c_str(), args);

    if (frequency > -1)
        m_header.common.m_sample_freq_hz = frequency;

    const auto found = station_string2stationid.find(station);
    if (found != station_string2stationid.end()) {
        m_header.header.m_station = found->second;
    } else {
        std::cerr << "WARNING: Unknown station: <" << station << ">\n";
        m_header.header.m_station = unknown;
    }
}

void NEVRA_TM4::set_start_time(double t0, double initial_basetime) {
    m_header.set_time(t0);
    adopt_initial_basetime(initial_basetime);
}

// Job files need a positive, finite sampling interval; a file too short for
// one block is kept whatever its frequency.
void NEVRA_TM4::check_frequency(const char* filename) const {
    const double frequency = m_header.common.m_sample_freq_hz;
    if (std::isinf(frequency))
        throw std::runtime_error(Formatter() << "the first two data lines of " << filename
                                             << " have the same time, so they give no sampling"
                                                " frequency\n");
    if (m_time.size() >= lines_needing_frequency && !is_usable_frequency(frequency))
        throw std::runtime_error(Formatter() << "sampling frequency " << frequency << " of "
                                             << filename << " is not positive\n");
}

}  // namespace Nevra
