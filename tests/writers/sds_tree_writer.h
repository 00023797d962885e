// Writer of SDS archives (ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY) for tests and
// benchmarks, through libmseed; shares no code with the product. Each record goes into the day file
// of its start, so records straddle midnight as in real archives.
#pragma once

#include "miniseed_writer.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sdsw {

namespace fs = std::filesystem;

struct Segment {
    int64_t start_us;  // first sample, microseconds since 1970
    std::vector<int32_t> samples;
};

struct Trace {
    std::string network, station, location, channel;
    double rate_hz;
    std::vector<Segment> segments;
    int encoding = DE_STEIM2;  // or DE_FLOAT32: the samples as floats
};

inline std::string id_of(const Trace& t) {
    return t.network + "." + t.station + "." + t.location + "." + t.channel;
}

// The day file of trace t for the day that holds time_us.
inline fs::path day_file(const fs::path& root, const Trace& t, int64_t time_us) {
    const time_t seconds = static_cast<time_t>(time_us / 1000000 - (time_us % 1000000 < 0));
    std::tm day{};
    gmtime_r(&seconds, &day);
    char year[8], doy[8];
    std::strftime(year, sizeof year, "%Y", &day);
    std::strftime(doy, sizeof doy, "%j", &day);
    return root / year / t.network / t.station / (t.channel + ".D") /
           (id_of(t) + ".D." + year + "." + doy);
}

// An empty day file: enough for the plan, which reads no miniSEED.
inline void touch_day_file(const fs::path& root, const Trace& t, int64_t time_us) {
    const fs::path file = day_file(root, t, time_us);
    fs::create_directories(file.parent_path());
    if (FILE* out = std::fopen(file.c_str(), "ab"); out == nullptr || std::fclose(out) != 0)
        throw std::runtime_error("cannot create " + file.string());
}

// Every segment in records of 512 bytes (the trace's encoding), each appended to the day
// file of its start.
inline void write_tree(const fs::path& root, const std::vector<Trace>& traces) {
    for (const Trace& trace : traces)
        for (const Segment& segment : trace.segments) {
            const std::string bytes =
                msw::pack({trace.network, trace.station, trace.location, trace.channel,
                           segment.start_us, trace.rate_hz,
                           std::vector<double>(segment.samples.begin(), segment.samples.end()),
                           trace.encoding});
            for (size_t at = 0; at < bytes.size() || at == 0; at += 512) {
                std::string record = bytes.substr(at, 512);
                MSRecord* msr = nullptr;
                if (record.size() != 512 ||
                    msr_unpack(record.data(), 512, &msr, 0, 0) != MS_NOERROR)
                    throw std::runtime_error("libmseed cannot read back its record of " +
                                             id_of(trace));
                const fs::path file = day_file(root, trace, msr->starttime);
                msr_free(&msr);
                fs::create_directories(file.parent_path());
                std::ofstream out(file, std::ios::binary | std::ios::app);
                out << record;
                out.close();
                if (!out)
                    throw std::runtime_error("cannot write " + file.string());
            }
        }
}

inline constexpr int64_t feb28_2024_us = 1709078400LL * 1000000;  // 2024-02-28 00:00 UTC
inline constexpr int64_t day_us = 86400LL * 1000000;

// `seconds` of 20 Hz samples from start_us on, values that differ by element.
inline Segment segment_20hz(int64_t start_us, int64_t seconds, int element) {
    Segment s{start_us, std::vector<int32_t>(static_cast<size_t>(seconds * 20))};
    for (size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] =
            static_cast<int32_t>((i * 37 + static_cast<size_t>(element) * 1000) % 4001) - 2000;
    return s;
}

// Three elements XX.AR1..BDF .. XX.AR3..BDF at 20 Hz over 2024-02-28 .. 2024-03-01:
// data across each midnight (records straddle it), a gap common to all over
// most of 02-29, and in XX.AR2..BDF a 30 s gap from 03-01 00:00:30.
inline std::vector<Trace> three_element_array() {
    std::vector<Trace> traces;
    for (int k = 1; k <= 3; ++k) {
        Trace t{"XX", "AR" + std::to_string(k), "", "BDF", 20.0, {}};
        const int64_t first_midnight = feb28_2024_us + day_us, second = first_midnight + day_us;
        t.segments.push_back(segment_20hz(first_midnight - 60'000'000, 120, k));
        if (k == 2) {
            t.segments.push_back(segment_20hz(second - 30'000'000, 60, k));
            t.segments.push_back(segment_20hz(second + 60'000'000, 60, k));
        } else {
            t.segments.push_back(segment_20hz(second - 30'000'000, 150, k));
        }
        traces.push_back(t);
    }
    return traces;
}

}  // namespace sdsw
