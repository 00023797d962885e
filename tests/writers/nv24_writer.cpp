#include "nv24_writer.h"

#include <bit>
#include <fstream>
#include <stdexcept>

namespace nv24w {

namespace {

// Little-endian, byte by byte, whatever the host.
void put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put(std::string& out, double v) { put(out, std::bit_cast<uint64_t>(v), 8); }
void put(std::string& out, const Tag& tag) { out.append(tag.data(), tag.size()); }

}  // namespace

File make_file(unsigned channels, double sample_freq_hz, uint32_t seconds, uint32_t nanoseconds) {
    File file;
    file.header.num_channels = static_cast<uint8_t>(channels);
    file.header.sample_freq_hz = sample_freq_hz;
    file.header.seconds = seconds;
    file.header.nanoseconds = nanoseconds;
    file.channels.resize(channels);
    for (unsigned k = 0; k < channels; ++k)
        file.channels[k].channel = static_cast<uint16_t>(k);
    return file;
}

void add_frame(File& file, const std::vector<int32_t>& frame) {
    for (int32_t sample : frame)
        file.samples.push_back(static_cast<uint32_t>(sample));
}

std::string encode(const File& file) {
    std::string out;
    const Header& h = file.header;
    put(out, h.magic);
    put(out, h.version, 1);
    put(out, h.station, 1);
    put(out, h.header_length, 2);
    put(out, h.seconds, 4);
    put(out, h.nanoseconds, 4);
    put(out, h.channel_bitmap, 4);
    put(out, h.num_channels, 1);
    put(out, h.unused, 1);
    put(out, h.sample_freq_hz);
    put(out, h.bits_per_sample, 1);
    put(out, h.bytes_per_sample, 1);
    if (h.version == 1 || h.version == 2)
        put(out, h.host_timestamp, 4);
    if (h.version == 2)
        put(out, h.device_id, 4);
    put(out, file.chns_magic);
    put(out, file.chns_length, 4);
    for (const Channel& c : file.channels) {
        put(out, c.magic);
        put(out, c.channel, 2);
        put(out, c.gain, 2);
        put(out, c.v_min);
        put(out, c.v_max);
        put(out, c.ext_gain);
    }
    put(out, file.data_magic);
    put(out, file.data_unused, 4);
    for (uint32_t word : file.samples)
        put(out, word, 4);
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
