#include "common.h"

#include <cstdio>

namespace Nevra {

int nevra_debug = 0;

void debug_trace(const char* source, int line, std::string_view text)
{
    if (nevra_debug == 0)
        return;
    std::string trace = Formatter() << "Debug:" << source << "(" << line << ") " << text;
    // A trace that cannot be written is dropped: there is nowhere else to report it.
    if (std::fwrite(trace.data(), 1, trace.size(), stderr) != trace.size())
        std::clearerr(stderr);
}

}  // namespace Nevra
