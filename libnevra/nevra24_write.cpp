#include "nevra24_write.h"

#include "common.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <ostream>
#include <stdexcept>

namespace Nevra {

namespace {

constexpr int64_t ns_per_second = 1'000'000'000;
constexpr size_t max_channels = std::numeric_limits<uint8_t>::max();
constexpr size_t frames_per_chunk = 16384;

// Appends fixed-size fields little-endian, whatever the host's byte order.
class LittleEndian {
public:
    explicit LittleEndian(std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    LittleEndian& u8(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    LittleEndian& u16(uint16_t value) { return unsigned_bytes(value, 2); }
    LittleEndian& u32(uint32_t value) { return unsigned_bytes(value, 4); }
    LittleEndian& f64(double value) { return unsigned_bytes(std::bit_cast<uint64_t>(value), 8); }
    LittleEndian& tag(const magic& m) {
        bytes_.insert(bytes_.end(), m.begin(), m.end());
        return *this;
    }

private:
    LittleEndian& unsigned_bytes(uint64_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }

    std::vector<uint8_t>& bytes_;
};

void check_writable(const NV24Recording& rec) {
    const auto& channels = rec.channels;
    if (channels.empty() || channels.size() > max_channels)
        throw std::runtime_error(Formatter() << "an nv24 file holds 1 to " << max_channels
                                             << " channels, not " << channels.size());
    if (!is_usable_frequency(rec.sample_freq_hz))
        throw std::runtime_error(Formatter() << "an nv24 file needs a positive, finite rate, not "
                                             << rec.sample_freq_hz);
    const int64_t seconds = rec.start_ns >= 0 ? rec.start_ns / ns_per_second : -1;
    if (seconds < 0 || seconds > std::numeric_limits<uint32_t>::max())
        throw std::runtime_error(Formatter() << "an nv24 file's start lies in 1970 .. 2106, not at "
                                             << rec.start_ns << " ns since 1970");
    for (const NV24Channel& channel : channels)
        if (channel.samples.size() != channels.front().samples.size())
            throw std::runtime_error(Formatter() << "the channels of an nv24 file hold equally "
                                                    "many samples, not "
                                                 << channels.front().samples.size() << " and "
                                                 << channel.samples.size());
}

// Low n bits set, all 32 for n of 32 or more.
uint32_t channel_bitmap(size_t n) {
    return n >= 32 ? std::numeric_limits<uint32_t>::max() : (uint32_t{1} << n) - 1;
}

// Header (version 0), the channel block and the sample-block tag.
std::vector<uint8_t> head_bytes(const NV24Recording& rec) {
    constexpr uint16_t header_length = 32;
    constexpr uint8_t version = 0, bits_per_sample = 32, bytes_per_sample = 4;
    const size_t n = rec.channels.size();
    std::vector<uint8_t> bytes;
    LittleEndian out(bytes);
    out.tag(magic_nv24).u8(version).u8(rec.station).u16(header_length);
    out.u32(static_cast<uint32_t>(rec.start_ns / ns_per_second))
        .u32(static_cast<uint32_t>(rec.start_ns % ns_per_second));
    out.u32(channel_bitmap(n)).u8(static_cast<uint8_t>(n)).u8(0).f64(rec.sample_freq_hz);
    out.u8(bits_per_sample).u8(bytes_per_sample);
    out.tag(magic_chns).u32(0);
    for (size_t k = 0; k < n; ++k) {
        const NV24Channel& c = rec.channels[k];
        out.tag(magic_chan).u16(static_cast<uint16_t>(k)).u16(c.gain);
        out.f64(c.v_min).f64(c.v_max).f64(c.ext_gain);
    }
    out.tag(magic_data).u32(0);
    return bytes;
}

void put(std::ostream& out, const std::vector<uint8_t>& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The samples frame by frame, a chunk of frames per write.
void write_frames(std::ostream& out, const std::vector<NV24Channel>& channels) {
    const size_t n = channels.size();
    const size_t frames = channels.front().samples.size();
    std::vector<uint8_t> chunk(std::min(frames, frames_per_chunk) * n * 4);
    for (size_t first = 0; first < frames && out; first += frames_per_chunk) {
        const size_t count = std::min(frames_per_chunk, frames - first);
        uint8_t* p = chunk.data();
        for (size_t i = first; i < first + count; ++i)
            for (size_t k = 0; k < n; ++k, p += 4) {
                const auto word = static_cast<uint32_t>(channels[k].samples[i]);
                p[0] = static_cast<uint8_t>(word);
                p[1] = static_cast<uint8_t>(word >> 8);
                p[2] = static_cast<uint8_t>(word >> 16);
                p[3] = static_cast<uint8_t>(word >> 24);
            }
        out.write(reinterpret_cast<const char*>(chunk.data()), p - chunk.data());
    }
}

}  // namespace

void write_nv24(std::ostream& out, const NV24Recording& recording) {
    check_writable(recording);
    put(out, head_bytes(recording));
    write_frames(out, recording.channels);
    if (!out.flush())
        throw std::runtime_error("the nv24 data could not be written");
}

void write_nv24_file(const std::string& filename, const NV24Recording& recording) {
    std::ofstream out(filename, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!out.is_open())
        throw std::runtime_error(Formatter()
                                 << filename << ": cannot be created: " << std::strerror(errno));
    try {
        write_nv24(out, recording);
        out.close();
        if (!out)
            throw std::runtime_error("closing failed");
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(Formatter() << filename << ": " << e.what());
    }
}

}  // namespace Nevra
