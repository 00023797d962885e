// Reader of TM4 text files: an optional comment line, then one line per
// sampling instant with the time and one value per channel.
#pragma once

#include "nevra_base.h"

#include <array>
#include <cstddef>
#include <string>

namespace Nevra {

class NEVRA_TM4 : public Nevra_Base {
public:
    // Reads the whole file. initial_basetime replaces the file's start time
    // when the two lie less than 2 s apart.
    NEVRA_TM4(const char* filename, double initial_basetime);

    ORIGIN get_origin() const override;

    // The most channels a TM4 line holds.
    static constexpr int max_channels = 8;

private:
    void set_fixed_header();
    void take_first_line(double t, int count, double initial_basetime);
    // Appends one data line of count values (the channel count) and its time.
    void append_line(double t, const std::array<double, max_channels>& values, int count,
                     size_t line_number, const char* filename);
    void read_comment(const std::string& line);
    void set_start_time(double t0, double initial_basetime);
    void check_frequency(const char* filename) const;

    int m_first_lines_left = 2;
    double m_first_time = 0.0;  // of the first data line, then the start time
};

}  // namespace Nevra
