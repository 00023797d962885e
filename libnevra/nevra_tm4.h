// Reader of TM4 text files: an optional comment line, then one line per
// sampling instant with the time and one value per channel.
#pragma once

#include "nevra_base.h"

namespace Nevra {

class NEVRA_TM4 : public Nevra_Base {
public:
    // Reads the whole file. initial_basetime replaces the file's start time
    // when the two lie less than 2 s apart.
    NEVRA_TM4(const char* filename, double initial_basetime);

    ORIGIN get_origin() const override;
};

}  // namespace Nevra
