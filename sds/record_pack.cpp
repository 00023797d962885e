#include "record_pack.h"

#include <libmseed.h>

#include <cstring>
#include <sstream>

namespace sds {

namespace {

constexpr int8_t big_endian = 1;

void copy_code(char (&field)[11], const std::string& code) {
    std::strncpy(field, code.c_str(), sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

void append_record(char* record, int length, void* out) {
    static_cast<std::string*>(out)->append(record, static_cast<size_t>(length));
}

Error refusal(const SeedId& id, double rate_hz, const std::string& cause) {
    std::ostringstream text;
    text.precision(17);
    text << id.text() << " at " << rate_hz << " Hz: " << cause;
    return Error(text.str());
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
    const bool has_b1001 = msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001,
                                            1001, 0) != nullptr;
    // The packer only reads the samples; the pointer is taken back before msr_free.
    msr->datasamples = const_cast<float*>(values.data());
    msr->numsamples = static_cast<int64_t>(values.size());
    int64_t packed = 0;
    const int records = has_b1001 ? msr_pack(msr, append_record, &out, &packed, 1, 0) : -1;
    msr->datasamples = nullptr;
    msr_free(&msr);
    if (records < 0 || packed != static_cast<int64_t>(values.size()))
        throw refusal(id, rate_hz, "libmseed could not pack the samples");
}

}  // namespace sds
