// Writer of block-format ("nv24") files for tests, the demo and benchmarks. Writes every field
// little-endian, byte by byte; shares no code with libnevra. Every field is settable, so damaged
// files (wrong tags, bad versions, odd trailing bytes) are made by changing fields, truncated
// ones by cutting bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
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
File make_file(unsigned channels, double sample_freq_hz = 20.0, uint32_t seconds = 0,
               uint32_t nanoseconds = 0);

// Appends one frame: one sample per channel.
void add_frame(File& file, const std::vector<int32_t>& frame);

std::string encode(const File& file);

// Writes the encoded file, cut after `length` bytes when given; throws std::runtime_error
// naming the path when the file cannot be written.
void write(const std::string& path, const File& file, size_t length = std::string::npos);
void write_bytes(const std::string& path, const std::string& bytes);

}  // namespace nv24w
