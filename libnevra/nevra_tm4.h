// Reader of TM4 text files: an optional comment line, then one line per
// sampling instant with the time and one value per channel.
#pragma once

#include "nevra_base.h"

#include <string>

namespace Nevra {

class NEVRA_TM4 : public Nevra_Base {
public:
    // Reads the whole file. initial_basetime replaces the file's start time
    // when the two lie less than 2 s apart.
    NEVRA_TM4(const char* filename, double initial_basetime);

    ORIGIN get_origin() const override;

private:
    void set_fixed_header();
    void read_comment(const std::string& line);
    void set_start_time(double t0, double initial_basetime);
    void check_frequency(const char* filename) const;
};

}  // namespace Nevra
