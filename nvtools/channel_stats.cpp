#include "channel_stats.h"

#include <algorithm>
#include <cmath>

namespace nvtools {

namespace {

// One pass. The squares are taken around the first value, which keeps the
// deviation accurate when the values sit on a large constant level.
template <typename T>
ChannelStats stats_of(const std::vector<T>& values) {
    const double origin = static_cast<double>(values.front());
    T low = values.front();
    T high = values.front();
    double sum = 0.0;
    double squares = 0.0;
    for (T v : values) {
        low = std::min(low, v);
        high = std::max(high, v);
        const double d = static_cast<double>(v) - origin;
        sum += d;
        squares += d * d;
    }
    const auto n = static_cast<double>(values.size());
    const double shift = sum / n;
    ChannelStats stats;
    stats.min = static_cast<double>(low);
    stats.max = static_cast<double>(high);
    stats.mean = origin + shift;
    stats.std = std::sqrt(std::max(0.0, squares / n - shift * shift));
    return stats;
}

}  // namespace

ChannelStats channel_stats(const std::vector<std::int32_t>& values) { return stats_of(values); }

ChannelStats channel_stats(const std::vector<double>& values) { return stats_of(values); }

}  // namespace nvtools
