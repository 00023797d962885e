// What nvinfo reports about one file, as text or as a JSON object.
#pragma once

#include "channel_stats.h"
#include "miniseed_read.h"
#include "recording.h"
#include "tm4_extent.h"

#include <optional>
#include <string>
#include <vector>

namespace nvtools {

struct ChannelInfo {
    int number = 0;
    int gain = 0;
    double external_gain = 0.0;
    ChannelStats stats;
};

struct GapInfo {
    double after = 0.0;  // time of the last sample before the gap
    double seconds = 0.0;
};

struct FileInfo {
    std::string file;
    std::string format;
    std::string station;
    double frequency_hz = 0.0;
    double start = 0.0;  // first sample
    double end = 0.0;    // last sample
    size_t samples = 0;
    std::optional<std::string> comment;
    std::vector<ChannelInfo> channels;
    std::vector<GapInfo> gaps;  // legacy files only
    std::optional<Tm4EarlyEnd> early_end;  // TM4 files whose data end before the file

    // From the first sample to the end of the last one.
    double duration() const { return end - start + 1.0 / frequency_hz; }
};

FileInfo file_info(const Recording& recording);

std::string info_text(const FileInfo& info);
std::string info_json(const FileInfo& info);

// One trace id of a miniSEED file, over all its segments.
struct TraceInfo {
    std::string id;
    double start = 0.0;  // first sample
    double end = 0.0;    // last sample
    std::vector<double> rates_hz;  // each once, in time order
    size_t samples = 0;
    std::vector<int> encodings;   // SEED codes, ascending
    std::vector<GapInfo> gaps;
    std::vector<GapInfo> overlaps;  // seconds: the time sampled twice
};

struct MiniseedInfo {
    std::string file;
    std::vector<TraceInfo> traces;
};

// segments as read_miniseed gives them: trace by trace, in time order.
MiniseedInfo miniseed_info(const std::string& file, const std::vector<Segment>& segments);

std::string info_text(const MiniseedInfo& info);
std::string info_json(const MiniseedInfo& info);

// Loads file and describes it; throws std::runtime_error with the reason.
std::string describe_file(const std::string& file, bool json);

}  // namespace nvtools
