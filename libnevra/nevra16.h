// Conversion of legacy 16-bit sample files (binary or ASCII) into the
// channel data model, with a sub-second refinement of the time axis.
#pragma once

#include "nevra_base.h"

#include <cstddef>
#include <vector>

namespace Nevra {

class NEVRA;

class NEVRA16 : public Nevra_Base {
public:
    // Reads the whole file. initial_basetime replaces the file's start time
    // when the two lie less than 2 s apart.
    NEVRA16(const char* filename, double initial_basetime);

    ORIGIN get_origin() const override;

private:
    // Whole-second record times of consecutive records, one list per segment.
    using segments = std::vector<std::vector<long>>;

    void set_fixed_header();
    void append_record_times(const NEVRA& nevra, double& t0, segments& time_org);
    void take_first_record(const NEVRA& nevra, const char* filename, double initial_basetime);
    void copy_samples(const NEVRA& nevra, const char* filename);
    void refine_segment(const std::vector<long>& t_org, size_t record_length);
};

}  // namespace Nevra
