// The block-format reader on arbitrary bytes. A file it loads is decoded once
// more here, straight from the bytes, and the samples and times must agree.
#include "fuzz_input.h"
#include "nevra24.h"

namespace {

uint32_t u32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void compare_with_bytes(const Nevra::Nevra_Base& recording, const uint8_t* data, size_t size) {
    const size_t channels = data[20];
    const size_t header_end = data[4] == 1 ? 36 : data[4] == 2 ? 40 : 32;
    const size_t first_word = header_end + 8 + 32 * channels + 8;
    const size_t words = size > first_word ? (size - first_word) / 4 : 0;
    if (recording.get_channels().size() != channels ||
        recording.get_time().size() != words / channels)
        fuzz::fail("channel or frame count differs from the file's");
    for (size_t k = 0; k < channels; ++k)
        if (recording.get_data(k).size() != words / channels + (k < words % channels ? 1 : 0))
            fuzz::fail("a channel's sample count differs from the file's");
    for (size_t w = 0; w < words; ++w) {
        const auto word = static_cast<int32_t>(u32le(data + first_word + 4 * w));
        if (recording.get_data(w % channels)[w / channels] != word)
            fuzz::fail("a sample differs from its word in the file");
    }
    const double t0 = recording.get_header().time();
    const double hz = recording.get_frequency();
    for (size_t i = 0; i < recording.get_time().size(); ++i) {
        const double expected = static_cast<double>(i) / hz + t0;
        const double got = recording.get_time()[i];
        if (got != expected && !(got != got && expected != expected))
            fuzz::fail("a sample time is not start + index / frequency");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::run_load(data, size, [data, size](const char* name) {
        std::unique_ptr<Nevra::NEVRA24> recording(new Nevra::NEVRA24(name));
        compare_with_bytes(*recording, data, size);
        return recording.release();
    });
    return 0;
}
