#include "record_pack.h"

#include "miniseed_write.h"

#include <new>
#include <stdexcept>

namespace sds {

namespace {

struct Output {
    std::string& bytes;
    bool failed = false;  // exceptions cannot cross libmseed
};

void append_record(char* record, int length, void* context) {
    auto* out = static_cast<Output*>(context);
    try {
        out->bytes.append(record, static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        out->failed = true;
    }
}

}  // namespace

void pack_float32_records(const SeedId& id, double rate_hz, int64_t start_us,
                          std::span<const float> values, std::string& out) {
    const nvtools::TraceHeader header{id.network, id.station, id.location, id.channel, rate_hz,
                                      start_us};
    nvtools::TraceSamples samples;
    samples.single = values.data();
    samples.count = values.size();
    Output output{out};
    try {
        nvtools::pack_trace(header, samples, record_length, append_record, &output);
    } catch (const std::runtime_error& e) {
        throw Error(id.text() + ": " + e.what());
    }
    if (output.failed)
        throw Error(id.text() + ": no memory for its records");
}

}  // namespace sds
