#include "pipeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "nevra_base.h"
#include "nv24_writer.h"
#include "run.h"
#include "saved_settings.h"
#include "settings.h"
#include "stores.h"

namespace {

namespace fs = std::filesystem;

// A recording built in memory, for the checks made before anything is stored.
class fake_recording : public Nevra::Nevra_Base {
public:
    fake_recording(std::size_t slots, const std::vector<uint16_t>& numbers, std::size_t times,
                   std::size_t samples = 0, double hz = 20.0) {
        m_header.common.m_num_channels = static_cast<uint8_t>(slots);
        m_header.common.m_sample_freq_hz = hz;
        m_data.assign(slots, Nevra::data_channel_type(times));
        m_time.assign(times, 0.0);
        for (uint16_t number : numbers) {
            Nevra::nv_channel channel{};
            channel.m_channel = number;
            m_channels.push_back(channel);
        }
        if (samples != 0 && slots > 1)
            m_data[1].resize(samples);
    }
};

TEST(CheckRecording, RefusesWhatCannotBeStoredOrCutIntoRows) {
    struct Case {
        fake_recording recording;
        const char* message;
    };
    const Case cases[] = {
        {fake_recording(3, {}, 4), "can't read f.nv24: no channel records\n"},
        {fake_recording(3, {0, 1, 2}, 4, 3),
         "can't read f.nv24: channel 1 holds 3 samples, fewer than the 4 sample times\n"},
        {fake_recording(3, {0, 1, 2}, 4, 0, 0.0),
         "can't read f.nv24: sampling frequency 0 Hz is not a positive number\n"},
        {fake_recording(3, {0, 1, 2}, 4, 0, -1.0), "sampling frequency -1 Hz"},
    };
    for (const Case& c : cases)
        EXPECT_EXIT(check_recording("f.nv24", c.recording), ::testing::ExitedWithCode(1),
                    c.message);
}

TEST(CheckRecording, AcceptsChannelsInAnyOrderAndLongerChannels) {
    check_recording("f.nv24", fake_recording(3, {2, 0, 1}, 4));
    check_recording("f.nv24", fake_recording(3, {0, 1, 2}, 4, 5));
    check_recording("f.nv24", fake_recording(3, {0, 1, 2}, 0));
}

// calculate in a temporary directory whose "mavlin" copies every job file
// (values only, the --test form) to its .siw and .sis result files.
class CalculateTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::current_path(m_dir.path());
        fs::create_directory(m_dir / "bin");
        testrun::write_file(m_dir / "bin/mavlin",
                            "#!/bin/sh\nfor f; do [ -f \"$f\" ] && cp \"$f\" \"${f%.dat}.siw\" && "
                            "cp \"$f\" \"${f%.dat}.sis\"; done\nexit 0\n");
        fs::permissions(m_dir / "bin/mavlin", fs::perms::owner_all);
        m_saved.put_first_on_path(m_dir / "bin");
        namebase = "vm";
        global_nr_cpus = 2;
        quiet = 1;
        test = 1;
        mode = OUTPUT_MODE_BINARY;
    }

    std::string recording(const char* name, unsigned channels, std::size_t frames,
                          uint32_t host_offset) {
        nv24w::File file = nv24w::make_file(channels, 20.0, 1462060800);
        file.header.version = 1;
        file.header.host_timestamp = 1462060800 + host_offset;
        for (std::size_t i = 0; i < frames; ++i)
            for (unsigned c = 0; c < channels; ++c)
                file.samples.push_back(static_cast<uint32_t>(1000 * c + i));
        nv24w::write((m_dir / name).string(), file);
        return name;
    }

    testrun::TempDir m_dir;
    saved_settings m_saved;  // made after m_dir, so put back before it goes
};

TEST_F(CalculateTest, StoresRowsAndResultsOfEachFileFromEmptyStores) {
    const std::string a = recording("a.nv24", 3, 1030, 0);
    char out_a[] = "a.bi1";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(calculate(a.c_str(), out_a, 0.05, 0.0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "INFO: Time diff: 0 seconds\n1030 0\n");

    // 2 blocks of 3 rows; the last 6 samples are not analysed.
    const double t0 = 1462060800.0, t1 = t0 + 512 / 20.0;
    EXPECT_EQ(tid, (std::vector<double>{t0, t0, t0, t1, t1, t1}));
    ASSERT_EQ(time_array.size(), 1030u);
    ASSERT_EQ(original.size(), 3u);
    ASSERT_EQ(processed.size(), 3u);
    for (std::size_t c = 0; c < 3; ++c) {
        ASSERT_EQ(original[c].size(), 1030u);
        EXPECT_EQ(original[c][1029], 1000.0 * c + 1029);
        EXPECT_EQ(processed[c],
                  std::vector<double>(original[c].begin(), original[c].begin() + 1024));
    }
    EXPECT_EQ(
        firstline,
        "!S512Tidserier sampfrek: 20 gain: 1 station: jamton date: 2016-05-01 time: 00:00:00");
    EXPECT_FALSE(fs::exists(m_dir / "vma0000.dat"));
    EXPECT_FALSE(fs::exists(m_dir / "vmb0005.siw"));
    EXPECT_EQ(fs::file_size(m_dir / "a.bi1"), firstline.size() + 1 + 6 * 1028);

    // The second file starts from empty stores, with rows from 0.
    const std::string b = recording("b.nv24", 2, 600, 5);
    char out_b[] = "b.bi1";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(calculate(b.c_str(), out_b, 0.05, 0.0), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "INFO: Time diff: 5 seconds\n600 0\n");
    EXPECT_EQ(tid, (std::vector<double>{t0, t0}));
    EXPECT_EQ(time_array.size(), 600u);
    ASSERT_EQ(original.size(), 2u);
    EXPECT_EQ(original[1][0], 1000.0);
    EXPECT_EQ(processed[1].size(), 512u);
    EXPECT_EQ(fs::file_size(m_dir / "b.bi1"), firstline.size() + 1 + 2 * 1028);
}

}  // namespace
