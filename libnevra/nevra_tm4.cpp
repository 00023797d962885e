#include "nevra_tm4.h"

#include <stdexcept>

namespace Nevra {

NEVRA_TM4::NEVRA_TM4(const char*, double)
{
    throw std::runtime_error("TM4 reader not built yet\n");
}

ORIGIN NEVRA_TM4::get_origin() const
{
    return ORIGIN_TM4;
}

}  // namespace Nevra
