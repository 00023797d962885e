#include "nv24_writer.h"

#include <bit>
#include <fstream>
#include <stdexcept>

namespace nv24w {

namespace {

// Little-endian, byte by byte, whatever the host.
void put_le(std::string& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put_u8(std::string& out, uint8_t v) { put_le(out, v, 1); }
void put_u16(std::string& out, uint16_t v) { put_le(out, v, 2); }
void put_u32(std::string& out, uint32_t v) { put_le(out, v, 4); }
void put_f64(std::string& out, double v) { put_le(out, std::bit_cast<uint64_t>(v), 8); }
void put_tag(std::string& out, const Tag& tag) { out.append(tag.data(), tag.size()); }
void put_header(std::string& out, const Header& h)
{
    put_tag(out, h.magic);
    put_u8(out, h.version);
    put_u8(out, h.station);
    put_u16(out, h.header_length);
    put_u32(out, h.seconds);
    put_u32(out, h.nanoseconds);
    put_u32(out, h.channel_bitmap);
    put_u8(out, h.num_channels);
    put_u8(out, h.unused);
    put_f64(out, h.sample_freq_hz);
    put_u8(out, h.bits_per_sample);
    put_u8(out, h.bytes_per_sample);
    if (h.version == 1 || h.version == 2)
        put_u32(out, h.host_timestamp);
    if (h.version == 2)
        put_u32(out, h.device_id);
}
void put_channel(std::string& out, const Channel& c)
{
    put_tag(out, c.magic);
    put_u16(out, c.channel);
    put_u16(out, c.gain);
    put_f64(out, c.v_min);
    put_f64(out, c.v_max);
    put_f64(out, c.ext_gain);
}

}  // namespace

File make_file(unsigned channels, double sample_freq_hz, uint32_t seconds, uint32_t nanoseconds)
{
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

void add_frame(File& file, const std::vector<int32_t>& frame)
{
    for (int32_t sample : frame)
        file.samples.push_back(static_cast<uint32_t>(sample));
}
size_t header_size(uint8_t version) { return version == 1 ? 36 : version == 2 ? 40 : 32; }
size_t chns_offset(const File& file) { return header_size(file.header.version); }
size_t channel_offset(const File& file, size_t k) { return chns_offset(file) + 8 + 32 * k; }
size_t data_offset(const File& file) { return channel_offset(file, file.channels.size()); }
size_t samples_offset(const File& file) { return data_offset(file) + 8; }

std::string encode(const File& file)
{
    std::string out;
    out.reserve(samples_offset(file) + 4 * file.samples.size() + file.trailing.size());
    put_header(out, file.header);
    put_tag(out, file.chns_magic);
    put_u32(out, file.chns_length);
    for (const Channel& c : file.channels)
        put_channel(out, c);
    put_tag(out, file.data_magic);
    put_u32(out, file.data_unused);
    for (uint32_t word : file.samples)
        put_u32(out, word);
    out += file.trailing;
    return out;
}

void write_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("nv24 writer: cannot write " + path);
}

void write(const std::string& path, const File& file, size_t length) { write_bytes(path, encode(file).substr(0, length)); }

}  // namespace nv24w
