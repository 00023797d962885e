// Reader of the tagged 24-bit block format ("nv24" files).
#pragma once

#include "nevra_base.h"

namespace Nevra {

class NEVRA24 : public Nevra_Base {
public:
    // Reads the whole file; throws std::runtime_error on a file it cannot read.
    explicit NEVRA24(const char* filename);

    ORIGIN get_origin() const override;
};

}  // namespace Nevra
