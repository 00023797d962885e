#include "nevra24.h"

#include "common.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace Nevra {

namespace {

constexpr size_t header_fixed_size = 32;  // nv_header_header + nv_header_common
constexpr size_t tag_record_size = 8;     // nv_channels, data_t
constexpr size_t channel_record_size = 32;
constexpr size_t word_size = 4;

// The time of sample `current`, counting up from the start time.
struct time_generator {
    int64_t current = 0;
    double m_t0;
    double m_hz;

    double operator()() { return static_cast<double>(current++) / m_hz + m_t0; }
};

uint16_t u16le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t u32le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

double f64le(const uint8_t* p) {
    uint64_t bits = static_cast<uint64_t>(u32le(p)) | (static_cast<uint64_t>(u32le(p + 4)) << 32);
    return std::bit_cast<double>(bits);
}

magic tag_at(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

// Reads up to N bytes into a cleared array. A read past the end of the file
// leaves the missing bytes zero, and once the end is hit later reads deliver
// nothing, so a truncated file fails at its first incomplete tag.
template <size_t N>
std::array<uint8_t, N> read_record(std::ifstream& in) {
    std::array<uint8_t, N> bytes{};
    in.read(reinterpret_cast<char*>(bytes.data()), N);
    return bytes;
}

nv_header_common decode_common(const uint8_t* p) {
    nv_header_common common{};
    common.m_seconds = u32le(p);
    common.m_nanoseconds = u32le(p + 4);
    common.m_channel_bitmap = u32le(p + 8);
    common.m_num_channels = p[12];
    common.m_unused = p[13];
    common.m_sample_freq_hz = f64le(p + 14);
    common.m_bits_per_sample = p[22];
    common.m_bytes_per_sample = p[23];
    return common;
}

nv_header read_header(std::ifstream& in) {
    const auto bytes = read_record<header_fixed_size>(in);
    nv_header header{};
    header.header.m_magic = tag_at(bytes.data());
    header.header.m_version = bytes[4];
    header.header.m_station = bytes[5];
    header.header.m_header_length = u16le(bytes.data() + 6);
    header.common = decode_common(bytes.data() + 8);

    switch (header.header.m_version) {
    case 0: break;
    case 1: {
        // The recorder stores the length without its version-1 extension.
        header.header.m_header_length = static_cast<uint16_t>(header.header.m_header_length + 4);
        const auto ext = read_record<4>(in);
        header.v.v2.m_host_timestamp = u32le(ext.data());
        break;
    }
    case 2: {
        const auto ext = read_record<8>(in);
        header.v.v2.m_host_timestamp = u32le(ext.data());
        header.v.v2.m_device_id = u32le(ext.data() + 4);
        break;
    }
    default:
        throw std::runtime_error(Formatter()
                                 << "Unknown nv24 header version "
                                 << static_cast<unsigned>(header.header.m_version) << "\n");
    }
    return header;
}

nv_channel decode_channel(const uint8_t* p) {
    nv_channel chan{};
    chan.m_magic = tag_at(p);
    chan.m_channel = u16le(p + 4);
    chan.m_gain = u16le(p + 6);
    chan.m_v_min = f64le(p + 8);
    chan.m_v_max = f64le(p + 16);
    chan.m_ext_gain = f64le(p + 24);
    return chan;
}

// Samples are looked up by m_channel, so every record must name a distinct
// channel below the channel count.
void check_channel_numbers(const std::vector<nv_channel>& channels) {
    std::vector<bool> seen(channels.size(), false);
    for (size_t k = 0; k < channels.size(); ++k) {
        const size_t number = channels[k].m_channel;
        if (number >= channels.size())
            throw std::runtime_error(Formatter() << "Channel record " << k << " has channel number "
                                                 << number << ", not below the channel count "
                                                 << channels.size() << "\n");
        if (seen[number])
            throw std::runtime_error(Formatter() << "Channel number " << number
                                                 << " appears in more than one channel record\n");
        seen[number] = true;
    }
}

// The number of whole words from the current position to the end of the file.
size_t sample_word_count(std::ifstream& in) {
    // The file ended inside the reserved field of the sample-block tag: no samples.
    if (!in)
        return 0;
    const std::streampos here = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(here);
    if (here < 0 || end < here || !in)
        throw std::runtime_error("Couldn't determine the length of the sample block\n");
    return static_cast<size_t>(end - here) / word_size;
}

// Reads word_count words and hands word w to channel position w mod n.
void read_samples(std::ifstream& in, size_t word_count,
                  std::vector<std::vector<int32_t>>& channels) {
    // The whole sample block in one read; a short read leaves zero words.
    std::vector<uint32_t> raw(word_count);
    if (in)
        in.read(reinterpret_cast<char*>(raw.data()),
                static_cast<std::streamsize>(word_count * word_size));
    if constexpr (std::endian::native != std::endian::little) {
        for (uint32_t& word : raw)
            word = u32le(reinterpret_cast<const uint8_t*>(&word));
    }
    const size_t n = channels.size();
    std::vector<int32_t*> out(n);
    for (size_t k = 0; k < n; ++k) {
        channels[k].resize(word_count / n + (k < word_count % n ? 1 : 0));
        out[k] = channels[k].data();
    }
    // Word w goes to channel position w mod n; an incomplete last frame
    // leaves its words in the first positions.
    for (size_t i = 0, frame = 0; i < word_count; ++frame)
        for (size_t k = 0; k < n && i < word_count; ++k)
            out[k][frame] = static_cast<int32_t>(raw[i++]);
}

// The record tags after the header: each names what follows it.
void check_tag(const magic& found, const magic& expected, const char* name) {
    if (found != expected)
        throw std::runtime_error(Formatter() << "Unknown magic " << name << "\n");
}

// The channel records between the "chns" and "data" tags, count of them.
std::vector<nv_channel> read_channel_records(std::ifstream& in, size_t count) {
    check_tag(tag_at(read_record<tag_record_size>(in).data()), magic_chns, "chns");
    if (count == 0)
        throw std::runtime_error("The nv24 header declares no channels\n");
    std::vector<nv_channel> channels(count);
    for (nv_channel& chan : channels) {
        chan = decode_channel(read_record<channel_record_size>(in).data());
        check_tag(chan.m_magic, magic_chan, "chan");
    }
    check_tag(tag_at(read_record<tag_record_size>(in).data()), magic_data, "data");
    check_channel_numbers(channels);
    return channels;
}

}  // namespace

NEVRA24::NEVRA24(const char* filename) {
    std::ifstream in(filename, std::ios::in | std::ios::binary);
    if (!in.is_open())
        throw std::runtime_error(Formatter() << "Couldn't open " << filename << "\n");

    m_header = read_header(in);
    if (m_header.header.m_magic != magic_nv24)
        throw std::runtime_error("This is not a valid nv24 file\n");
    const size_t n = m_header.num_channels();
    m_channels = read_channel_records(in, n);

    const size_t word_count = sample_word_count(in);
    m_time.resize(word_count / n);
    std::generate(m_time.begin(), m_time.end(),
                  time_generator{0, m_header.time(), m_header.common.m_sample_freq_hz});

    // Word w belongs to channel position w mod n; taken as stored, no sign extension.
    m_data.resize(n);
    read_samples(in, word_count, m_data);
}

ORIGIN NEVRA24::get_origin() const { return ORIGIN_NV24; }

}  // namespace Nevra
