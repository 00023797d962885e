#include "nv24_writer.h"

#include <bit>
#include <fstream>
#include <stdexcept>
#include <type_traits>

namespace nv24w {

namespace {

// Every field little-endian, byte by byte, whatever the host; a tag as its four characters.
template <class Field>
void put(std::string& out, Field field) {
    if constexpr (std::is_same_v<Field, Tag>)
        out.append(field.data(), field.size());
    else if constexpr (std::is_same_v<Field, double>)
        put(out, std::bit_cast<uint64_t>(field));
    else
        for (std::size_t i = 0; i < sizeof field; ++i)
            out.push_back(static_cast<char>((field >> (8 * i)) & 0xff));
}

template <class... Fields>
void put_all(std::string& out, Fields... fields) {
    (put(out, fields), ...);
}

}  // namespace

File make_file(unsigned channels, double sample_freq_hz, uint32_t seconds, uint32_t nanoseconds) {
    File file;
    file.header.num_channels = static_cast<uint8_t>(channels);
    file.header.sample_freq_hz = sample_freq_hz;
    file.header.seconds = seconds;
    file.header.nanoseconds = nanoseconds;
    for (unsigned k = 0; k < channels; ++k)
        file.channels.push_back({.channel = static_cast<uint16_t>(k)});
    return file;
}

void add_frame(File& file, const std::vector<int32_t>& frame) {
    for (int32_t sample : frame)
        file.samples.push_back(static_cast<uint32_t>(sample));
}

std::string encode(const File& file) {
    std::string out;
    const Header& h = file.header;
    put_all(out, h.magic, h.version, h.station, h.header_length, h.seconds, h.nanoseconds,
            h.channel_bitmap, h.num_channels, h.unused, h.sample_freq_hz, h.bits_per_sample,
            h.bytes_per_sample);
    if (h.version == 1 || h.version == 2)
        put(out, h.host_timestamp);
    if (h.version == 2)
        put(out, h.device_id);
    put_all(out, file.chns_magic, file.chns_length);
    for (const Channel& c : file.channels)
        put_all(out, c.magic, c.channel, c.gain, c.v_min, c.v_max, c.ext_gain);
    put_all(out, file.data_magic, file.data_unused);
    for (uint32_t word : file.samples)
        put(out, word);
    return out + file.trailing;
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("nv24 writer: cannot write " + path);
}

void write(const std::string& path, const File& file, size_t length) {
    write_bytes(path, encode(file).substr(0, length));
}

}  // namespace nv24w
