// Summary figures of one channel's raw values.
#pragma once

#include <cstdint>
#include <vector>

namespace nvtools {

struct ChannelStats {
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double std = 0.0;  // population standard deviation
};

// Figures of a non-empty channel.
ChannelStats channel_stats(const std::vector<std::int32_t>& values);
ChannelStats channel_stats(const std::vector<double>& values);

}  // namespace nvtools
