// Writer of block-format ("nv24") files for tests, the demo and benchmarks; shares no code with
// libnevra. Damaged files are made by changing fields, truncated ones by cutting bytes.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace nv24w {

using Tag = std::array<char, 4>;

struct Header {
    Tag magic{'n', 'v', '2', '4'};
    uint8_t version = 0;  // 1 adds a 4-byte, 2 an 8-byte extension; others add none
    uint8_t station = 0;
    uint16_t header_length = 32;
    uint32_t seconds = 0;
    uint32_t nanoseconds = 0;
    uint32_t channel_bitmap = 7;
    uint8_t num_channels = 3;
    uint8_t unused = 0;
    double sample_freq_hz = 20.0;
    uint8_t bits_per_sample = 24;
    uint8_t bytes_per_sample = 4;
    uint32_t host_timestamp = 0;
    uint32_t device_id = 0;
};

struct Channel {
    Tag magic{'c', 'h', 'a', 'n'};
    uint16_t channel = 0;
    uint16_t gain = 1;
    double v_min = -10.0;
    double v_max = 10.0;
    double ext_gain = 1.0;
};

struct File {
    Header header;
    Tag chns_magic{'c', 'h', 'n', 's'};
    uint32_t chns_length = 0;
    std::vector<Channel> channels;  // written as they stand, whatever num_channels says
    Tag data_magic{'d', 'a', 't', 'a'};
    uint32_t data_unused = 0;
    std::vector<uint32_t> samples;  // 32-bit words in frame order
    std::string trailing;           // bytes after the last word (e.g. 1 to 3 odd bytes)
};

// A well-formed file with `channels` channel records numbered 0 .. n-1 and no samples.
inline File make_file(unsigned channels, double sample_freq_hz = 20.0, uint32_t seconds = 0,
                      uint32_t nanoseconds = 0) {
    File file;
    file.header.num_channels = static_cast<uint8_t>(channels);
    file.header.sample_freq_hz = sample_freq_hz;
    file.header.seconds = seconds;
    file.header.nanoseconds = nanoseconds;
    for (unsigned k = 0; k < channels; ++k)
        file.channels.push_back({.channel = static_cast<uint16_t>(k)});
    return file;
}

// Appends one frame: one sample per channel.
inline void add_frame(File& file, const std::vector<int32_t>& frame) {
    for (int32_t sample : frame)
        file.samples.push_back(static_cast<uint32_t>(sample));
}

// Appends fields little-endian whatever the host's byte order; a tag as its four characters.
template <class... Fields>
void put_fields(std::string& out, Fields... fields) {
    const auto put = [&out](auto field) {
        using Field = decltype(field);
        if constexpr (std::is_same_v<Field, Tag>)
            out.append(field.data(), field.size());
        else if constexpr (std::is_same_v<Field, double>)
            put_fields(out, std::bit_cast<uint64_t>(field));
        else
            for (std::size_t i = 0; i < sizeof field; ++i)
                out.push_back(static_cast<char>((field >> (8 * i)) & 0xff));
    };
    (put(fields), ...);
}

inline std::string encode(const File& file) {
    std::string out;
    const Header& h = file.header;
    put_fields(out, h.magic, h.version, h.station, h.header_length, h.seconds, h.nanoseconds,
               h.channel_bitmap, h.num_channels, h.unused, h.sample_freq_hz, h.bits_per_sample,
               h.bytes_per_sample);
    if (h.version == 1 || h.version == 2)
        put_fields(out, h.host_timestamp);
    if (h.version == 2)
        put_fields(out, h.device_id);
    put_fields(out, file.chns_magic, file.chns_length);
    for (const Channel& c : file.channels)
        put_fields(out, c.magic, c.channel, c.gain, c.v_min, c.v_max, c.ext_gain);
    put_fields(out, file.data_magic, file.data_unused);
    for (uint32_t word : file.samples)
        put_fields(out, word);
    return out + file.trailing;
}

}  // namespace nv24w
