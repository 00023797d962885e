#include "miniseed_read.h"

#include <libmseed.h>

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace nvtools {

namespace {

// Fixed header of a data record: sequence number, quality, reserved byte.
constexpr size_t probe_bytes = 48;

struct GroupFree {
    void operator()(MSTraceGroup* group) const { mst_freegroup(&group); }
};

template <typename T>
void append_values(const MSTrace& trace, Segment& segment) {
    const T* samples = static_cast<const T*>(trace.datasamples);
    segment.values.reserve(static_cast<size_t>(trace.numsamples));
    for (int64_t i = 0; i < trace.numsamples; ++i) {
        const auto value = static_cast<double>(samples[i]);
        if (!std::isfinite(value))
            throw std::runtime_error("trace " + segment.id +
                                     " holds a value that is not a finite number");
        segment.values.push_back(value);
    }
}

Segment segment_of(const MSTrace& trace) {
    Segment segment;
    segment.id = std::string(trace.network) + "." + trace.station + "." + trace.location + "." +
                 trace.channel;
    segment.rate_hz = trace.samprate;
    segment.start_us = trace.starttime;
    switch (trace.sampletype) {
    case 'i': append_values<int32_t>(trace, segment); break;
    case 'f': append_values<float>(trace, segment); break;
    case 'd': append_values<double>(trace, segment); break;
    default: throw std::runtime_error("trace " + segment.id + " holds no numeric samples");
    }
    return segment;
}

}  // namespace

bool looks_like_miniseed(std::string_view head) {
    if (head.size() < probe_bytes)
        return false;
    return ms_detect(head.data(), static_cast<int>(head.size())) >= 0;
}

// Reads record by record, so that the bytes read can be checked against the
// file's size: libmseed ends quietly at a record cut short.
std::vector<Segment> read_miniseed(const std::string& file) {
    MSFileParam* reader = nullptr;
    MSRecord* record = nullptr;
    const std::unique_ptr<MSTraceGroup, GroupFree> group(mst_initgroup(nullptr));
    off_t position = 0;
    off_t covered = 0;
    int result = MS_NOERROR;
    // Record length found per record; every record must be a data record;
    // samples decoded; records joined within libmseed's default tolerances.
    while ((result = ms_readmsr_r(&reader, &record, file.c_str(), 0, &position, nullptr, 0, 1,
                                  0)) == MS_NOERROR) {
        covered = position + record->reclen;
        if (mst_addmsrtogroup(group.get(), record, 0, -1.0, -1.0) == nullptr)
            result = MS_GENERROR;
        if (result != MS_NOERROR)
            break;
    }
    ms_readmsr_r(&reader, &record, nullptr, 0, nullptr, nullptr, 0, 0,
                 0);  // closes the file, frees the record
    if (result != MS_ENDOFFILE)
        throw std::runtime_error(std::string("not a readable miniSEED file (") +
                                 ms_errorstr(result) + ")");
    struct stat status {};
    if (stat(file.c_str(), &status) != 0)
        throw std::runtime_error(std::string("cannot read the file: ") + std::strerror(errno));
    if (covered != status.st_size)
        throw std::runtime_error(
            "truncated miniSEED file: " + std::to_string(status.st_size - covered) +
            " bytes after the last whole record");
    std::vector<Segment> segments;
    for (const MSTrace* trace = group->traces; trace != nullptr; trace = trace->next)
        segments.push_back(segment_of(*trace));
    if (segments.empty())
        throw std::runtime_error("the miniSEED file holds no samples");
    return segments;
}

}  // namespace nvtools
