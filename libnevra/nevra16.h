// Conversion of legacy 16-bit sample files (binary or ASCII) into the
// channel data model, with a sub-second refinement of the time axis.
#pragma once

#include "nevra_base.h"

namespace Nevra {

class NEVRA16 : public Nevra_Base {
public:
    // Reads the whole file. initial_basetime replaces the file's start time
    // when the two lie less than 2 s apart.
    NEVRA16(const char* filename, double initial_basetime);

    ORIGIN get_origin() const override;
};

}  // namespace Nevra
