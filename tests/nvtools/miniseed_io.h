// miniSEED written and read in the tests by libmseed itself, never by the
// tools' own code.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace mseedio {

struct Trace {
    std::string id;  // NET.STA.LOC.CHA
    std::int64_t start_us = 0;
    double rate = 0.0;
    std::vector<double> values;
    std::set<int> encodings;  // of the records read into this segment
};

// Every contiguous segment, in the order libmseed builds them.
inline std::vector<Trace> read(const std::string& file) {
    MSFileParam* reader = nullptr;
    MSRecord* record = nullptr;
    std::vector<Trace> traces;
    while (ms_readmsr_r(&reader, &record, file.c_str(), 0, nullptr, nullptr, 1, 1, 0) ==
           MS_NOERROR) {
        const std::string id = std::string(record->network) + "." + record->station + "." +
                               record->location + "." + record->channel;
        const double period_us = 1e6 / record->samprate;
        Trace* joined = nullptr;
        for (Trace& t : traces)
            if (t.id == id &&
                std::llabs(t.start_us + static_cast<std::int64_t>(t.values.size() * period_us) -
                           record->starttime) < period_us / 2)
                joined = &t;
        if (joined == nullptr) {
            traces.push_back({id, record->starttime, record->samprate, {}, {}});
            joined = &traces.back();
        }
        joined->encodings.insert(record->encoding);
        for (int64_t i = 0; i < record->numsamples; ++i)
            joined->values.push_back(
                record->sampletype == 'i'   ? static_cast<int32_t*>(record->datasamples)[i]
                : record->sampletype == 'f' ? static_cast<float*>(record->datasamples)[i]
                                            : static_cast<double*>(record->datasamples)[i]);
    }
    ms_readmsr_r(&reader, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return traces;
}

inline void append_record(char* record, int length, void* file) {
    std::fwrite(record, 1, static_cast<size_t>(length), static_cast<FILE*>(file));
}

// Appends the samples as one trace (whole numbers in Steim-2, others in FLOAT64) to file.
inline void write(const std::string& file, const std::string& network, const std::string& station,
                  const std::string& location, const std::string& channel, std::int64_t start_us,
                  double rate, std::vector<double> values, bool fractional = false,
                  int record_length = 512) {
    FILE* out = std::fopen(file.c_str(), "ab");
    if (out == nullptr)
        throw std::runtime_error("cannot write " + file);
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, network.c_str());
    std::strcpy(msr->station, station.c_str());
    std::strcpy(msr->location, location.c_str());
    std::strcpy(msr->channel, channel.c_str());
    msr->dataquality = 'D';
    msr->starttime = start_us;
    msr->samprate = rate;
    msr->reclen = record_length;
    msr->byteorder = 1;
    std::vector<int32_t> whole(values.begin(), values.end());
    msr->encoding = fractional ? DE_FLOAT64 : DE_STEIM2;
    msr->sampletype = fractional ? 'd' : 'i';
    msr->datasamples =
        fractional ? static_cast<void*>(values.data()) : static_cast<void*>(whole.data());
    msr->numsamples = static_cast<int64_t>(values.size());
    int64_t packed = 0;
    msr_pack(msr, append_record, out, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    std::fclose(out);
}

}  // namespace mseedio
