#include "nevra24.h"

#include <stdexcept>

namespace Nevra {

NEVRA24::NEVRA24(const char* filename)
{
    throw std::runtime_error(std::string("NEVRA24: the block reader is not built yet: ") + filename + "\n");
}

ORIGIN NEVRA24::get_origin() const
{
    return ORIGIN_NV24;
}

}  // namespace Nevra
