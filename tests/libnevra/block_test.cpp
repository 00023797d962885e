// The channel data model and the reader of block ("nv24") files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "describe.h"
#include "nevra24.h"
#include "nv24_writer.h"
#include "run.h"

using namespace Nevra;
using nevratest::describe;

namespace {

struct Recording : Nevra_Base {
    explicit Recording(const nv_header& header) { m_header = header; }
};

// Station names come from a table; nvinfo's report shows them for each input format.
TEST(NevraBase, TimesAndVolts) {
    nv_header h{};
    // Both fields are unsigned: the largest values must not turn negative.
    h.common.m_seconds = 4294967295u;
    h.common.m_nanoseconds = 4000000000u;
    EXPECT_EQ(h.time(), 4294967295.0 + 4.0);
    h.common.m_sample_freq_hz = 62.5;
    h.header.m_station = 9;
    const Recording rec(h);
    EXPECT_THROW(rec.station_name(), std::out_of_range);
    EXPECT_EQ(rec.get_frequency(), 62.5);
    EXPECT_EQ(h.delta_t(), 0.016);
    nv_channel c{};
    c.m_v_max = 10.0;
    c.m_ext_gain = 20.0;
    EXPECT_EQ(rec.raw2volt(-2, c), -400.0);
    EXPECT_EQ(rec.raw2volt(INT32_MIN, c), -2147483648.0 * 200.0);
    c.m_v_max = 0.1;  // left to right: 3 * (0.1 * 0.3) would be 0.089999999999999997
    c.m_ext_gain = 0.3;
    EXPECT_EQ(rec.raw2volt(3, c), 0.090000000000000011);
}

class Block : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.nv24").string(); }
    std::unique_ptr<NEVRA24> load(const nv24w::File& file, size_t length = std::string::npos) {
        nv24w::write(path(), file, length);
        return std::make_unique<NEVRA24>(path().c_str());
    }
    // The error text of loading the file, or "" when it loads.
    std::string error_of(const nv24w::File& file, size_t length = std::string::npos) {
        return nevratest::error_of([&] { load(file, length); });
    }
    testrun::TempDir dir;
};

nv24w::File three_channels_with_words(size_t words) {
    nv24w::File file = nv24w::make_file(3);
    for (size_t w = 0; w < words; ++w)
        file.samples.push_back(static_cast<uint32_t>(100 + w));
    return file;
}

TEST_F(Block, ReadsEveryFieldOfEachVersionAndTheTimeAxis) {
    for (uint8_t version : {0, 1, 2}) {
        SCOPED_TRACE(static_cast<int>(version));
        nv24w::File file = nv24w::make_file(2, 4.0, 1600000000, 250000000);
        file.header.version = version;
        file.header.station = 6;
        file.header.header_length = 65534;  // version 1 adds 4 to what is stored
        file.header.channel_bitmap = 0x80000003u;
        file.header.unused = 0xab;
        file.header.bytes_per_sample = 3;
        file.header.host_timestamp = 0xdeadbeefu;
        file.header.device_id = 0x01020304u;
        file.channels[0] = {{'c', 'h', 'a', 'n'}, 1, 0xfffe, -2.5, 1e-3, 40.0};
        file.channels[1].channel = 0;
        for (int32_t i = 0; i < 5; ++i)
            nv24w::add_frame(file, {7 + i, -7});
        auto rec = load(file);
        EXPECT_EQ(describe(rec->get_header()),
                  "nv24 v" + std::to_string(version) + " length " + (version == 1 ? "2" : "65534") +
                      " station 6 1600000000.250000000 bitmap 2147483651 channels 2 unused 171 4 "
                      "Hz 24/3 bits host " +
                      (version == 0 ? "0" : "3735928559") + " device " +
                      (version == 2 ? "16909060" : "0"));
        EXPECT_EQ(describe(rec->get_channel_info(0)), "chan 1 gain 65534 -2.5..0.001 x40");
        // Samples go by frame position, not by m_channel.
        EXPECT_EQ(rec->get_data(0), (data_channel_type{7, 8, 9, 10, 11}));
        EXPECT_EQ(rec->get_data(1), data_channel_type(5, -7));
        EXPECT_EQ(rec->get_time(), (std::vector<double>{1600000000.25, 1600000000.5, 1600000000.75,
                                                        1600000001.0, 1600000001.25}));
        // Released through the base pointer, as every reader's object is.
        const std::unique_ptr<Nevra_Base> base(rec.release());
        EXPECT_EQ(base->get_origin(), ORIGIN_NV24);
    }
}

TEST_F(Block, TruncatedFileFailsAtItsFirstIncompleteTag) {
    for (uint8_t version : {0, 1, 2}) {
        nv24w::File file = three_channels_with_words(0);
        file.header.version = version;
        const size_t header = version == 1 ? 36 : version == 2 ? 40 : 32;
        for (size_t length = 0; length < header + 8 + 3 * 32 + 8; ++length) {
            std::string expected;
            if (length < 4)
                expected = "This is not a valid nv24 file\n";
            else if (length < header + 4)
                expected = "Unknown magic chns\n";
            else if (length < header + 8 + 2 * 32 + 4)
                expected = "Unknown magic chan\n";
            else if (length < header + 8 + 3 * 32 + 4)
                expected = "Unknown magic data\n";
            EXPECT_EQ(error_of(file, length), expected)
                << "version " << int(version) << " cut at " << length;
            if (expected.empty()) {  // cut in the sample-block tag's reserved field: no samples
                EXPECT_TRUE(load(file, length)->get_data(0).empty()) << length;
            }
        }
    }
}

void set(nv24w::Tag& tag, const char* text) { std::memcpy(tag.data(), text, 4); }

TEST_F(Block, DamagedFilesAreRefusedWithTheirReason) {
    using F = nv24w::File;
    const std::pair<void (*)(F&), std::string> cases[] = {
        {[](F& f) { set(f.header.magic, "nv16"); }, "This is not a valid nv24 file\n"},
        {[](F& f) { set(f.chns_magic, "CHNS"); }, "Unknown magic chns\n"},
        {[](F& f) { set(f.channels[0].magic, "cha"); }, "Unknown magic chan\n"},
        {[](F& f) { set(f.channels[2].magic, "cha"); }, "Unknown magic chan\n"},
        {[](F& f) { set(f.data_magic, "datb"); }, "Unknown magic data\n"},
        {[](F& f) { f.header.version = 3; }, "Unknown nv24 header version 3\n"},
        // The version is examined before the tag.
        {[](F& f) {
             f.header.version = 255;
             set(f.header.magic, "xxxx");
         },
         "Unknown nv24 header version 255\n"},
        // Channels the pipeline could not index.
        {[](F& f) { f.header.num_channels = 0; }, "The nv24 header declares no channels\n"},
        {[](F& f) { f.channels[1].channel = 3; },
         "Channel record 1 has channel number 3, not below the channel count 3\n"},
        {[](F& f) { f.channels[2].channel = 0; },
         "Channel number 0 appears in more than one channel record\n"},
    };
    for (const auto& [damage, message] : cases) {
        nv24w::File file = three_channels_with_words(3);
        damage(file);
        EXPECT_EQ(error_of(file), message);
    }
    const std::string missing = (dir / "missing.nv24").string();
    EXPECT_THAT([&] { NEVRA24 rec(missing.c_str()); },
                testing::ThrowsMessage<std::runtime_error>("Couldn't open " + missing + "\n"));
}

TEST_F(Block, DistributesFramesAndKeepsAnIncompleteLastFrame) {
    const struct {
        size_t words;
        std::string trailing;
        size_t times;
        size_t sizes[3];
    } cases[] = {{9, "", 3, {3, 3, 3}},
                 {10, "", 3, {4, 3, 3}},
                 {11, "", 3, {4, 4, 3}},
                 {9, "\x01", 3, {3, 3, 3}},
                 {9, "\x01\x02\x03", 3, {3, 3, 3}},
                 {0, "", 0, {0, 0, 0}},
                 {2, "\xff\xff", 0, {1, 1, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.words << " words, " << c.trailing.size() << " odd");
        nv24w::File file = three_channels_with_words(c.words);
        file.trailing = c.trailing;
        const auto rec = load(file);
        EXPECT_EQ(rec->get_time().size(), c.times);
        // Reserved to the final length before filling (exact with libstdc++).
        EXPECT_EQ(rec->get_time().capacity(), c.times);
        for (size_t k = 0; k < 3; ++k) {
            ASSERT_EQ(rec->get_data(k).size(), c.sizes[k]) << "channel " << k;
            EXPECT_EQ(rec->get_data(k).capacity(), c.sizes[k]) << "channel " << k;
            for (size_t i = 0; i < c.sizes[k]; ++i)
                EXPECT_EQ(rec->get_data(k)[i], static_cast<int32_t>(100 + 3 * i + k));
        }
    }
    // Sample words are taken without sign extension.
    nv24w::File file = nv24w::make_file(1);
    file.samples = {0xffffffffu, 0x00800000u, 0x80000000u, 0x7fffffffu, 0x00ffffffu, 0x01020304u};
    EXPECT_EQ(load(file)->get_data(0),
              (data_channel_type{-1, 8388608, INT32_MIN, INT32_MAX, 16777215, 0x01020304}));
}

}  // namespace
