// miniSEED for tests, packed and read back by libmseed itself, never by the tools' own code.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace msw {

struct Trace {
    std::string network = "IM", station, location, channel = "BDF";
    std::int64_t start_us = 0;
    double rate = 20;
    std::vector<double> values;  // DE_ASCII: "log" repeated, one letter per value
    int encoding = DE_STEIM2;
    int byte_order = 1;         // 1 big-endian, 0 little-endian
    bool microseconds = false;  // with Blockette 1001
};

// The trace in 512-byte records; empty when libmseed cannot pack every sample.
inline std::string pack(const Trace& t) {
    const char type = t.encoding == DE_FLOAT64   ? 'd'
                      : t.encoding == DE_FLOAT32 ? 'f'
                      : t.encoding == DE_ASCII   ? 'a'
                                                 : 'i';
    std::vector<std::int32_t> ints;
    std::vector<float> floats;
    std::vector<double> doubles = t.values;
    std::string text;
    for (size_t i = 0; i < t.values.size(); ++i) {
        if (type == 'i')
            ints.push_back(static_cast<std::int32_t>(t.values[i]));
        if (type == 'f')
            floats.push_back(static_cast<float>(t.values[i]));
        text += "log"[i % 3];
    }
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "%s", t.network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%s", t.station.c_str());
    std::snprintf(msr->location, sizeof msr->location, "%s", t.location.c_str());
    std::snprintf(msr->channel, sizeof msr->channel, "%s", t.channel.c_str());
    msr->dataquality = 'D';
    msr->starttime = t.start_us;
    msr->samprate = t.rate;
    msr->reclen = 512;
    msr->byteorder = static_cast<std::int8_t>(t.byte_order);
    msr->encoding = static_cast<std::int8_t>(t.encoding);
    msr->numsamples = static_cast<std::int64_t>(t.values.size());
    msr->sampletype = type;
    msr->datasamples = type == 'd'   ? static_cast<void*>(doubles.data())
                       : type == 'f' ? static_cast<void*>(floats.data())
                       : type == 'a' ? static_cast<void*>(text.data())
                                     : static_cast<void*>(ints.data());
    if (t.microseconds) {
        blkt_1001_s b1001{};
        msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    }
    std::string bytes;
    std::int64_t packed = 0;
    const auto append = [](char* record, int length, void* to) {
        static_cast<std::string*>(to)->append(record, static_cast<size_t>(length));
    };
    if (msr_pack(msr, append, &bytes, &packed, 1, 0) <= 0 || packed != msr->numsamples)
        bytes.clear();
    msr->datasamples = nullptr;
    msr_free(&msr);
    return bytes;
}

// Adds the trace's records to the end of file.
inline void append(const std::filesystem::path& file, const Trace& t) {
    const std::string bytes = pack(t);
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << bytes;
    out.close();
    if (bytes.empty() || !out)
        throw std::runtime_error("cannot append trace " + t.station + " to " + file.string());
}

struct Record {
    std::string id;  // NET.STA.LOC.CHA
    std::int64_t start_us = 0;
    double rate = 0;
    int encoding = 0;
    bool microseconds = false;   // has Blockette 1001
    std::vector<double> values;  // none for text
};

// Every record of file in order, as libmseed decodes it.
inline std::vector<Record> read_records(const std::filesystem::path& file) {
    MSFileParam* reader = nullptr;
    MSRecord* r = nullptr;
    std::vector<Record> records;
    while (ms_readmsr_r(&reader, &r, file.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        const std::string id =
            std::string(r->network) + "." + r->station + "." + r->location + "." + r->channel;
        Record& record = records.emplace_back(
            Record{id, r->starttime, r->samprate, r->encoding, r->Blkt1001 != nullptr, {}});
        for (std::int64_t i = 0; i < r->numsamples && r->sampletype != 'a'; ++i)
            record.values.push_back(
                r->sampletype == 'i'   ? static_cast<std::int32_t*>(r->datasamples)[i]
                : r->sampletype == 'f' ? static_cast<float*>(r->datasamples)[i]
                                       : static_cast<double*>(r->datasamples)[i]);
    }
    ms_readmsr_r(&reader, &r, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return records;
}

}  // namespace msw
