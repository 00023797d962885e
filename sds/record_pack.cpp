#include "record_pack.h"

#include <libmseed.h>

#include <charconv>
#include <cstring>
#include <new>

namespace sds {

namespace {

constexpr int8_t big_endian = 1;

void copy_code(char (&field)[11], const std::string& code) {
    std::strncpy(field, code.c_str(), sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

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

// The rate in the shortest text that reads back to it.
Error refusal(const SeedId& id, double rate_hz, const std::string& cause) {
    char rate[32];
    const auto end = std::to_chars(rate, rate + sizeof rate, rate_hz).ptr;
    return Error(id.text() + " at " + std::string(rate, end) + " Hz: " + cause);
}

// Only a rate whose factor and multiplier give it back unchanged is exact.
void check_rate(const SeedId& id, double rate_hz) {
    int16_t factor = 0, multiplier = 0;
    if (ms_genfactmult(rate_hz, &factor, &multiplier) != 0 ||
        ms_nomsamprate(factor, multiplier) != rate_hz)
        throw refusal(id, rate_hz, "the rate cannot be written exactly");
}

}  // namespace

void pack_float32_records(const SeedId& id, double rate_hz, int64_t start_us,
                          std::span<const float> values, std::string& out) {
    check_rate(id, rate_hz);
    MSRecord* msr = msr_init(nullptr);
    if (msr == nullptr)
        throw refusal(id, rate_hz, "libmseed could not set up a record");
    copy_code(msr->network, id.network);
    copy_code(msr->station, id.station);
    copy_code(msr->location, id.location);
    copy_code(msr->channel, id.channel);
    msr->dataquality = 'D';
    msr->starttime = start_us;  // libmseed's high-precision time is in microseconds
    msr->samprate = rate_hz;
    msr->reclen = record_length;
    msr->byteorder = big_endian;
    msr->encoding = DE_FLOAT32;
    msr->sampletype = 'f';
    // Blockette 1001 carries the microseconds below the header's 100 µs units.
    blkt_1001_s b1001{};
    const bool has_b1001 =
        msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0) != nullptr;
    // The packer only reads the samples; the pointer is taken back before msr_free.
    msr->datasamples = const_cast<float*>(values.data());
    msr->numsamples = static_cast<int64_t>(values.size());
    int64_t packed = 0;
    Output output{out};
    const int records = has_b1001 ? msr_pack(msr, append_record, &output, &packed, 1, 0) : -1;
    msr->datasamples = nullptr;
    msr_free(&msr);
    if (records < 0 || output.failed || packed != static_cast<int64_t>(values.size()))
        throw refusal(id, rate_hz, "libmseed could not pack the samples");
}

}  // namespace sds
