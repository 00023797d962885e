#include "miniseed_join.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace nvtools {

bool continues(const JoinedSegment& segment, std::int64_t start_us, double rate_hz) {
    if (rate_hz != segment.rate_hz)
        return false;
    const double interval_us = 1e6 / rate_hz;
    // Offsets from the segment's start are exact in whole microseconds.
    const auto offset_us = static_cast<double>(start_us - segment.start_us);
    const double expected_us = static_cast<double>(segment.samples) * interval_us;
    return std::fabs(offset_us - expected_us) <= 0.01 * interval_us;
}

std::vector<JoinedSegment> join_records(const std::vector<RecordTiming>& records) {
    std::vector<size_t> order(records.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&records](size_t a, size_t b) {
        return records[a].start_us < records[b].start_us;
    });
    std::vector<JoinedSegment> segments;
    for (const size_t r : order) {
        const RecordTiming& record = records[r];
        const auto fits = [&record](const JoinedSegment& segment) {
            return continues(segment, record.start_us, record.rate_hz);
        };
        const auto found = std::find_if(segments.rbegin(), segments.rend(), fits);
        JoinedSegment& segment =
            found != segments.rend()
                ? *found
                : segments.emplace_back(JoinedSegment{record.start_us, record.rate_hz, 0, {}});
        segment.samples += record.samples;
        segment.records.push_back(r);
    }
    return segments;
}

}  // namespace nvtools
