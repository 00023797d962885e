// The pure format decision on the first bytes of a file.
#include "fuzz_input.h"
#include "nevra.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view head(reinterpret_cast<const char*>(data), size);
    const Nevra::input_format format = Nevra::classify_input(head);
    const bool block = size >= 5 && head.substr(0, 4) == "nv24";
    const bool marked = size >= 5 && (head.substr(0, 5) == "!S512" || head.substr(0, 5) == "!S128");
    if (block != (format == Nevra::INPUT_FORMAT_BLOCK))
        fuzz::fail("the \"nv24\" mark and the block decision disagree");
    if (!marked && !block && format != Nevra::INPUT_FORMAT_LEGACY)
        fuzz::fail("an unmarked file is not given to the legacy reader");
    // Only the first 3072 bytes may count.
    if (size > 3072 && Nevra::classify_input(head.substr(0, 3072)) != format)
        fuzz::fail("bytes past 3072 changed the decision");
    return 0;
}
