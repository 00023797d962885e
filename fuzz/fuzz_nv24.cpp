// The block-format reader on arbitrary bytes.
#include "fuzz_input.h"
#include "nevra24.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::run_load(data, size, [](const char* name) { return new Nevra::NEVRA24(name); });
    return 0;
}
