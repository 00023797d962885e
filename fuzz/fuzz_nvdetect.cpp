// The program's way in: detection of the format and whichever reader it picks.
// The legacy reader ends the process with status 1 on some inputs (an
// unterminated comment line), so this target runs under AFL++, where such
// an exit is an ordinary end of one input.
#include "fuzz_input.h"
#include "nevra.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_load(data, size, [](const char* name) { return Nevra::nvdetect(name, 0.0); });
    return 0;
}
