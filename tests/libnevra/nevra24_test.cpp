#include "nevra24.h"

#include "nv24_writer.h"
#include "run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

using namespace Nevra;

namespace {

class Nevra24Test : public ::testing::Test {
protected:
    std::string path() const { return (dir / "rec.nv24").string(); }
    std::unique_ptr<NEVRA24> load(const nv24w::File& file, size_t length = std::string::npos)
    {
        nv24w::write(path(), file, length);
        return std::make_unique<NEVRA24>(path().c_str());
    }
    // The runtime error text of loading the file, or "" when it loads.
    std::string error_of(const nv24w::File& file, size_t length = std::string::npos)
    {
        try {
            load(file, length);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }
    testrun::TempDir dir;
};

nv24w::File three_channels_with_words(size_t words)
{
    nv24w::File file = nv24w::make_file(3);
    for (size_t w = 0; w < words; ++w)
        file.samples.push_back(static_cast<uint32_t>(100 + w));
    return file;
}

}  // namespace

TEST_F(Nevra24Test, ReadsEveryHeaderFieldOfEachVersion)
{
    for (uint8_t version : {0, 1, 2}) {
        SCOPED_TRACE(static_cast<int>(version));
        nv24w::File file = nv24w::make_file(2, 1234.5678, 1600000000, 123456789);
        file.header.version = version;
        file.header.station = 6;
        file.header.channel_bitmap = 0x80000003u;
        file.header.unused = 0xab;
        file.header.bits_per_sample = 24;
        file.header.bytes_per_sample = 3;
        file.header.host_timestamp = 0xdeadbeefu;
        file.header.device_id = 0x01020304u;
        nv24w::add_frame(file, {7, -7});
        EXPECT_EQ(nv24w::samples_offset(file), nv24w::header_size(version) + 8 + 64 + 8);
        auto rec = load(file);
        const nv_header& h = rec->get_header();
        EXPECT_EQ(h.header.m_magic, magic_nv24);
        EXPECT_EQ(h.header.m_version, version);
        EXPECT_EQ(h.header.m_station, 6);
        EXPECT_EQ(h.common.m_seconds, 1600000000u);
        EXPECT_EQ(h.common.m_nanoseconds, 123456789u);
        EXPECT_EQ(h.common.m_channel_bitmap, 0x80000003u);
        EXPECT_EQ(h.common.m_num_channels, 2);
        EXPECT_EQ(h.common.m_unused, 0xab);
        EXPECT_EQ(h.common.m_sample_freq_hz, 1234.5678);
        EXPECT_EQ(h.common.m_bits_per_sample, 24);
        EXPECT_EQ(h.common.m_bytes_per_sample, 3);
        EXPECT_EQ(h.v.v1.m_host_timestamp, version == 0 ? 0u : 0xdeadbeefu);
        EXPECT_EQ(h.v.v2.m_device_id, version == 2 ? 0x01020304u : 0u);
        // The samples land right only if the channel tag follows the header at once.
        ASSERT_EQ(rec->get_data(0).size(), 1u);
        EXPECT_EQ(rec->get_data(0)[0], 7);
        EXPECT_EQ(rec->get_data(1)[0], -7);
        // Released through the base pointer, as every reader's object is.
        const std::unique_ptr<Nevra_Base> base(rec.release());
        EXPECT_EQ(base->get_origin(), ORIGIN_NV24);
    }
}

TEST_F(Nevra24Test, OnlyVersionOneAddsFourToTheHeaderLength)
{
    const struct {
        uint8_t version;
        uint16_t stored, expected;
    } cases[] = {{0, 32, 32}, {1, 32, 36}, {2, 32, 32}, {2, 40, 40}, {1, 65534, 2}};
    for (const auto& c : cases) {
        nv24w::File file = nv24w::make_file(1);
        file.header.version = c.version;
        file.header.header_length = c.stored;
        EXPECT_EQ(load(file)->get_header().header.m_header_length, c.expected)
            << "version " << int(c.version) << " stored " << c.stored;
    }
}

TEST_F(Nevra24Test, TruncatedFileFailsAtItsFirstIncompleteTag)
{
    for (uint8_t version : {0, 1, 2}) {
        nv24w::File file = three_channels_with_words(0);
        file.header.version = version;
        const size_t chns_end = nv24w::chns_offset(file) + 4;
        const size_t last_chan_end = nv24w::channel_offset(file, 2) + 4;
        const size_t data_end = nv24w::data_offset(file) + 4;
        for (size_t length = 0; length < nv24w::samples_offset(file); ++length) {
            std::string expected;
            if (length < 4)
                expected = "This is not a valid nv24 file\n";
            else if (length < chns_end)
                expected = "Unknown magic chns\n";
            else if (length < last_chan_end)
                expected = "Unknown magic chan\n";
            else if (length < data_end)
                expected = "Unknown magic data\n";
            EXPECT_EQ(error_of(file, length), expected) << "version " << int(version) << " cut at " << length;
        }
    }
}

TEST_F(Nevra24Test, DamagedFilesAreRefusedWithTheirReason)
{
    using Damage = void (*)(nv24w::File&);
    const std::pair<Damage, std::string> cases[] = {
        {[](nv24w::File& f) { f.header.magic = {'n', 'v', '1', '6'}; }, "This is not a valid nv24 file\n"},
        {[](nv24w::File& f) { f.chns_magic = {'C', 'H', 'N', 'S'}; }, "Unknown magic chns\n"},
        {[](nv24w::File& f) { f.channels[0].magic = {'c', 'h', 'a', 0}; }, "Unknown magic chan\n"},
        {[](nv24w::File& f) { f.channels[1].magic = {'c', 'h', 'a', 0}; }, "Unknown magic chan\n"},
        {[](nv24w::File& f) { f.channels[2].magic = {'c', 'h', 'a', 0}; }, "Unknown magic chan\n"},
        {[](nv24w::File& f) { f.data_magic = {'d', 'a', 't', 'b'}; }, "Unknown magic data\n"},
        {[](nv24w::File& f) { f.header.version = 3; }, "Unknown nv24 header version 3\n"},
        // The version is examined before the tag.
        {[](nv24w::File& f) { f.header.version = 255; f.header.magic = {'x', 'x', 'x', 'x'}; },
         "Unknown nv24 header version 255\n"},
        // Channels the pipeline could not index.
        {[](nv24w::File& f) { f = nv24w::make_file(0); f.samples = {1, 2, 3}; }, "The nv24 header declares no channels\n"},
        {[](nv24w::File& f) { f.channels[1].channel = 3; },
         "Channel record 1 has channel number 3, not below the channel count 3\n"},
        {[](nv24w::File& f) { f.channels[2].channel = 0; }, "Channel number 0 appears in more than one channel record\n"},
    };
    for (const auto& [damage, message] : cases) {
        nv24w::File file = three_channels_with_words(3);
        damage(file);
        EXPECT_EQ(error_of(file), message);
    }
}

TEST_F(Nevra24Test, ChannelRecordsAreTakenUnchanged)
{
    nv24w::File file = three_channels_with_words(3);
    file.channels[0] = {{'c', 'h', 'a', 'n'}, 2, 0xfffe, -2.5, 1e-3, 40.0};
    file.channels[2].channel = 0;
    const auto rec = load(file);
    ASSERT_EQ(rec->get_channels().size(), 3u);
    const nv_channel& c = rec->get_channel_info(0);
    EXPECT_EQ(c.m_magic, magic_chan);
    EXPECT_EQ(c.m_channel, 2);
    EXPECT_EQ(c.m_gain, 0xfffe);
    EXPECT_EQ(c.m_v_min, -2.5);
    EXPECT_EQ(c.m_v_max, 1e-3);
    EXPECT_EQ(c.m_ext_gain, 40.0);
    EXPECT_EQ(rec->get_channel_info(2).m_channel, 0);
    // Samples go by frame position, not by m_channel.
    EXPECT_EQ(rec->get_data(0)[0], 100);
}

TEST_F(Nevra24Test, DistributesFramesAndKeepsAnIncompleteLastFrame)
{
    const struct {
        size_t words;
        std::string trailing;
        size_t times;
        size_t sizes[3];
    } cases[] = {
        {9, "", 3, {3, 3, 3}},   {10, "", 3, {4, 3, 3}},    {11, "", 3, {4, 4, 3}},
        {9, "\x01", 3, {3, 3, 3}}, {9, "\x01\x02\x03", 3, {3, 3, 3}}, {0, "", 0, {0, 0, 0}},
        {2, "\xff\xff", 0, {1, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.words << " words, " << c.trailing.size() << " odd bytes");
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
}

TEST_F(Nevra24Test, TimeAxisStartsAtTheHeaderTimeWithNanoseconds)
{
    nv24w::File file = nv24w::make_file(1, 4.0, 1000, 250000000);
    file.samples.assign(5, 0);
    const auto rec = load(file);
    const std::vector<double> expected{1000.25, 1000.5, 1000.75, 1001.0, 1001.25};
    EXPECT_EQ(rec->get_time(), expected);
    EXPECT_EQ(rec->get_time(3), 1001.0);
}

TEST_F(Nevra24Test, SampleWordsAreTakenWithoutSignExtension)
{
    nv24w::File file = nv24w::make_file(1);
    file.samples = {0xffffffffu, 0x00800000u, 0x80000000u, 0x7fffffffu, 0x00ffffffu, 0x01020304u};
    const data_channel_type expected{-1, 8388608, INT32_MIN, INT32_MAX, 16777215, 0x01020304};
    EXPECT_EQ(load(file)->get_data(0), expected);
}

TEST_F(Nevra24Test, UnopenableFileIsNamed)
{
    const std::string missing = (dir / "missing.nv24").string();
    try {
        NEVRA24 rec(missing.c_str());
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Couldn't open " + missing + "\n");
    }
}
