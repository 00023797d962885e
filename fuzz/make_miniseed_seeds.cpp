// Writes the seed corpus of the miniSEED fuzz target with libmseed's own
// packing: make_miniseed_seeds DIR makes DIR/miniseed.
#include <libmseed.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t may_1_us = 1462060800LL * 1000000;

void append_record(char* record, int length, void* out) {
    static_cast<std::string*>(out)->append(record, static_cast<size_t>(length));
}

struct Trace {
    const char* station;
    const char* channel;
    std::int64_t offset_us;
    double rate;
    int count;
    int encoding;
    int record_length = 512;
    int byte_order = 1;  // 1: big-endian
    bool dense = false;  // values 0 and 1 only: 7 Steim-2 differences per word
};

// Values that need every Steim difference width, as numbers or as text.
std::string packed(const Trace& t) {
    std::vector<std::int32_t> ints;
    std::vector<float> floats;
    std::vector<double> doubles;
    std::string text;
    for (int i = 0; i < t.count; ++i) {
        const std::int32_t v = t.dense       ? i % 2
                               : i % 7 == 0 ? (i % 2 == 0 ? 1 << 27 : -(1 << 27))
                                            : i * i % 301;
        ints.push_back(v);
        floats.push_back(static_cast<float>(v) / 4);
        doubles.push_back(static_cast<double>(v) / 3);
        text += static_cast<char>('a' + i % 26);
    }
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "IM");
    std::strcpy(msr->station, t.station);
    std::strcpy(msr->channel, t.channel);
    msr->dataquality = 'D';
    msr->starttime = may_1_us + t.offset_us;
    msr->samprate = t.rate;
    msr->reclen = t.record_length;
    msr->byteorder = static_cast<std::int8_t>(t.byte_order);
    msr->encoding = static_cast<std::int8_t>(t.encoding);
    msr->numsamples = t.count;
    switch (t.encoding) {
    case DE_FLOAT32: msr->sampletype = 'f'; msr->datasamples = floats.data(); break;
    case DE_FLOAT64: msr->sampletype = 'd'; msr->datasamples = doubles.data(); break;
    case DE_ASCII: msr->sampletype = 'a'; msr->datasamples = text.data(); break;
    default: msr->sampletype = 'i'; msr->datasamples = ints.data(); break;
    }
    std::string bytes;
    std::int64_t samples = 0;
    if (msr_pack(msr, append_record, &bytes, &samples, 1, 0) < 0)
        std::fprintf(stderr, "make_miniseed_seeds: libmseed cannot pack %s\n", t.station);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return bytes;
}

std::string packed(const std::vector<Trace>& traces) {
    std::string bytes;
    for (const Trace& t : traces)
        bytes += packed(t);
    return bytes;
}

std::vector<std::pair<std::string, std::string>> seeds() {
    std::string leap = packed({{"A", "BDF", 0, 20, 300, DE_STEIM2}});
    leap[36] = 0x10;  // activity flags: a leap second in the record
    return {
        {"array-gap-rates",
         packed({{"A", "BDF", 0, 20, 300, DE_STEIM2},
                 {"A", "BDF", 16000000, 20, 300, DE_STEIM2},
                 {"B", "BDF", 0, 20, 600, DE_STEIM2},
                 {"C", "BDF", 0, 40, 400, DE_STEIM2},
                 {"C", "BDF", 10000000, 20, 200, DE_STEIM2}})},
        {"integer-encodings",
         packed({{"A", "HDF", 0, 100, 200, DE_STEIM1},
                 {"A", "HDF", 2000000, 100, 100, DE_INT32},
                 {"A", "HDF", 3000000, 100, 100, DE_INT16},
                 {"A", "HDF", 4000000, 100, 300, DE_STEIM2}})},
        {"floats", packed({{"A", "BDF", 0, 20, 100, DE_FLOAT32},
                           {"B", "BDF", 0, 20, 100, DE_FLOAT64}})},
        {"little-endian", packed({{"A", "BDF", 0, 20, 400, DE_STEIM2, 512, 0},
                                  {"B", "BDF", 0, 20, 100, DE_INT32, 512, 0}})},
        {"small-and-large-records", packed({{"A", "BDF", 0, 20, 200, DE_STEIM2, 128},
                                            {"B", "BDF", 0, 20, 3000, DE_STEIM2, 4096}})},
        {"overlaps", packed({{"A", "BDF", 0, 20, 300, DE_STEIM2},
                             {"A", "BDF", 5000000, 20, 300, DE_STEIM2},
                             {"A", "BDF", 7000000, 20, 50, DE_INT32}})},
        {"text-and-samples", packed({{"A", "LOG", 0, 0, 80, DE_ASCII},
                                     {"B", "BDF", 0, 1, 60, DE_STEIM2}})},
        {"leap-second", leap},
        {"dense-steim2", packed({{"A", "BDF", 0, 20, 20000, DE_STEIM2, 4096, 1, true},
                                 {"B", "BDF", 0, 20, 20000, DE_STEIM2, 4096, 1, true}})},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_miniseed_seeds DIR\n");
        return 2;
    }
    const fs::path dir = fs::path(argv[1]) / "miniseed";
    std::error_code error;
    fs::create_directories(dir, error);
    for (const auto& [name, bytes] : seeds()) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out || bytes.empty()) {
            std::fprintf(stderr, "make_miniseed_seeds: cannot write seed %s\n",
                         (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}
