// The legacy conversion (binary and ASCII, chosen by legacy detection) on
// arbitrary bytes, then the same file delivered once more with look-ahead,
// which joins contiguous records and counts time gaps. Runs under AFL++, since
// the legacy reader ends the process with status 1 on some inputs.
#include "fuzz_input.h"
#include "nevra.h"
#include "nevra16.h"

namespace {

void deliver_with_lookahead(const char* name) {
    Nevra::NEVRA_arguments args;
    args.m_concat = true;
    args.m_quiet = true;
    const std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(name, &args));
    const size_t length = reader->get_length();
    if (length != 128 && length != 512)
        fuzz::fail("a block length other than 128 or 512");
    while (reader->getdata() == 0) {
        volatile double sink = reader->current[0][length - 1] + reader->current[2][2 * length - 1];
        sink = static_cast<double>(reader->get_nvtime(0));
        (void)sink;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_load(data, size, [](const char* name) { return new Nevra::NEVRA16(name, 0.0); });
    fuzz::run_load(data, size, [](const char* name) {
        deliver_with_lookahead(name);
        return static_cast<Nevra::Nevra_Base*>(nullptr);
    });
    return 0;
}
