// The TM4 text reader on arbitrary bytes, with and without a caller's start
// time close to the file's own.
#include "fuzz_input.h"
#include "nevra_tm4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const double basetime = size > 0 && (data[0] & 1) ? 1462060800.0 : 0.0;
    fuzz::run_load(data, size,
                   [basetime](const char* name) { return new Nevra::NEVRA_TM4(name, basetime); });
    return 0;
}
