#include "pipeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "nevra_base.h"

namespace {

// Three channels of times samples in memory, with channel records of the
// given numbers; channel 1 holds samples_1 samples.
class fake_recording : public Nevra::Nevra_Base {
public:
    fake_recording(const std::vector<uint16_t>& numbers, std::size_t times, std::size_t samples_1,
                   double hz = 20.0) {
        m_header.common.m_num_channels = 3;
        m_header.common.m_sample_freq_hz = hz;
        m_data = {Nevra::data_channel_type(times), Nevra::data_channel_type(samples_1),
                  Nevra::data_channel_type(times)};
        m_time.assign(times, 0.0);
        for (uint16_t number : numbers)
            m_channels.push_back({{}, number, 0, 0.0, 0.0, 0.0});
    }
};

TEST(CheckRecordingDeathTest, RefusesWhatCannotBeStoredOrCutIntoRows) {
    const struct {
        fake_recording recording;
        int status;
        const char* message;
    } cases[] = {
        {fake_recording({}, 4, 4), 1, "^can't read f.nv24: no channel records\n$"},
        {fake_recording({0, 1, 2}, 4, 3), 1,
         "^can't read f.nv24: channel 1 holds 3 samples, fewer than the 4 sample times\n$"},
        {fake_recording({0, 1, 2}, 4, 4, 0.0), 1,
         "^can't read f.nv24: sampling frequency 0 Hz is not a positive number\n$"},
        {fake_recording({2, 0, 1}, 4, 4), 0, "^$"},  // channels in any order
        {fake_recording({0, 1, 2}, 4, 5), 0, "^$"},  // a channel longer than the time axis
        {fake_recording({0, 1, 2}, 0, 0), 0, "^$"},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(
            {
                check_recording("f.nv24", c.recording);
                std::exit(0);
            },
            ::testing::ExitedWithCode(c.status), c.message)
            << c.message;
}

}  // namespace
