#include "miniseed_write.h"

#include "common.h"

#include <libmseed.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nvtools {

namespace {

// A Steim-2 difference holds at most 30 bits, signed.
constexpr std::int64_t steim2_low = -(std::int64_t{1} << 29);
constexpr std::int64_t steim2_high = (std::int64_t{1} << 29) - 1;

constexpr int big_endian = 1;

bool fits_steim2(std::int64_t difference) {
    return difference >= steim2_low && difference <= steim2_high;
}

struct WriteContext {
    FILE* out;
    bool failed = false;
};

void write_record(char* record, int length, void* context) {
    auto* write = static_cast<WriteContext*>(context);
    if (std::fwrite(record, 1, static_cast<size_t>(length), write->out) !=
        static_cast<size_t>(length))
        write->failed = true;
}

void copy_code(char (&field)[11], const std::string& code) {
    std::strncpy(field, code.c_str(), sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

int libmseed_encoding(Encoding encoding) {
    switch (encoding) {
    case Encoding::steim2: return DE_STEIM2;
    case Encoding::int32: return DE_INT32;
    case Encoding::float32: return DE_FLOAT32;
    case Encoding::float64: return DE_FLOAT64;
    }
    return DE_INT32;
}

// Blockette 1001 carries the microseconds beyond the fixed header's 100 µs
// units (libmseed fills them in for every record); Blockette 100 the rate
// where the factor and multiplier cannot.
void add_blockettes(MSRecord* msr, RateField rate) {
    blkt_1001_s microseconds{};
    blkt_100_s exact_rate{};
    exact_rate.samprate = static_cast<float>(msr->samprate);
    if (msr_addblockette(msr, reinterpret_cast<char*>(&microseconds), sizeof microseconds, 1001,
                         0) == nullptr ||
        (rate == RateField::blockette_100 &&
         msr_addblockette(msr, reinterpret_cast<char*>(&exact_rate), sizeof exact_rate, 100, 0) ==
             nullptr))
        throw std::runtime_error("libmseed could not add a blockette");
}

}  // namespace

RateField rate_field(double rate_hz) {
    // ms_genfactmult succeeds with a rounded pair too, so only the rate it
    // gives back proves it.
    std::int16_t factor = 0, multiplier = 0;
    if (ms_genfactmult(rate_hz, &factor, &multiplier) == 0 &&
        ms_nomsamprate(factor, multiplier) == rate_hz)
        return RateField::factor_multiplier;
    if (static_cast<double>(static_cast<float>(rate_hz)) == rate_hz)
        return RateField::blockette_100;
    throw std::runtime_error("the sampling rate " + Nevra::round_trip_text(rate_hz) +
                             " Hz has no exact form in miniSEED: neither a factor and multiplier"
                             " nor Blockette 100's 32-bit float holds it");
}

Encoding encoding_for(const TraceSamples& samples) {
    if (samples.single != nullptr)
        return Encoding::float32;
    if (samples.whole == nullptr)
        return Encoding::float64;
    std::int64_t previous = 0;  // the first sample is packed against zero
    for (size_t i = 0; i < samples.count; ++i) {
        if (!fits_steim2(samples.whole[i] - previous))
            return Encoding::int32;
        previous = samples.whole[i];
    }
    return Encoding::steim2;
}

bool valid_record_length(long length) {
    return length >= MINRECLEN && length <= MAXRECLEN && (length & (length - 1)) == 0;
}

long pack_trace(const TraceHeader& header, const TraceSamples& samples, int record_length,
                void (*record)(char*, int, void*), void* context) {
    const RateField rate = rate_field(header.rate_hz);
    MSRecord* msr = msr_init(nullptr);
    if (msr == nullptr)
        throw std::runtime_error("libmseed could not set up a record");
    copy_code(msr->network, header.network);
    copy_code(msr->station, header.station);
    copy_code(msr->location, header.location);
    copy_code(msr->channel, header.channel);
    msr->dataquality = 'D';
    msr->starttime = header.start_us;
    msr->samprate = header.rate_hz;
    msr->reclen = record_length;
    msr->byteorder = big_endian;
    msr->encoding = static_cast<int8_t>(libmseed_encoding(encoding_for(samples)));
    try {
        add_blockettes(msr, rate);
    } catch (const std::runtime_error&) {
        msr_free(&msr);
        throw;
    }
    // The packer only reads the samples; the pointer is taken back before
    // msr_free, which would release it.
    if (samples.single != nullptr) {
        msr->datasamples = const_cast<float*>(samples.single);
        msr->sampletype = 'f';
    } else if (samples.whole != nullptr) {
        msr->datasamples = const_cast<std::int32_t*>(samples.whole);
        msr->sampletype = 'i';
    } else {
        msr->datasamples = const_cast<double*>(samples.fractional);
        msr->sampletype = 'd';
    }
    msr->numsamples = static_cast<int64_t>(samples.count);
    int64_t packed = 0;
    const int records = msr_pack(msr, record, context, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    if (records < 0 || packed != static_cast<int64_t>(samples.count))
        throw std::runtime_error("libmseed could not pack the trace " + header.network + "." +
                                 header.station + "." + header.location + "." + header.channel);
    return records;
}

void write_trace(FILE* out, const TraceHeader& header, const TraceSamples& samples,
                 int record_length) {
    WriteContext context{out};
    pack_trace(header, samples, record_length, write_record, &context);
    if (context.failed)
        throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
}

}  // namespace nvtools
