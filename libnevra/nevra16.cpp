#include "nevra16.h"

#include <stdexcept>

namespace Nevra {

NEVRA16::NEVRA16(const char*, double)
{
    throw std::runtime_error("legacy reader not built yet\n");
}

ORIGIN NEVRA16::get_origin() const
{
    return ORIGIN_NV16;
}

}  // namespace Nevra
