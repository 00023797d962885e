// Channel data model of a loaded recording: header, channel records, samples,
// time axis, and the station tables. The header, channel and tag records are
// also the records of the 24-bit block format (read field by field, little-endian).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Nevra {

// A record tag: four bytes, compared as bytes, never as a terminated string.
using magic = std::array<uint8_t, 4>;

inline constexpr magic magic_nv24{'n', 'v', '2', '4'};
inline constexpr magic magic_chns{'c', 'h', 'n', 's'};
inline constexpr magic magic_chan{'c', 'h', 'a', 'n'};
inline constexpr magic magic_data{'d', 'a', 't', 'a'};

enum STATIONS : uint8_t {
    jamton = 0,
    kiruna = 1,
    lycksele = 2,
    sodankyla = 3,
    uppsala = 4,
    jamton2 = 5,
    kiruna2 = 6,
    lycksele2 = 7,
    sodankyla2 = 8,
    test = 254,
    unknown = 255,
};

enum ORIGIN : uint32_t {
    ORIGIN_UNDEFINED = 0,
    ORIGIN_NV24 = 1,
    ORIGIN_NV16 = 2,
    ORIGIN_TM4 = 3,
};

struct nv_header_header {
    magic m_magic;
    uint8_t m_version;
    uint8_t m_station;
    uint16_t m_header_length;
};

struct nv_header_common {
    uint32_t m_seconds;
    uint32_t m_nanoseconds;
    uint32_t m_channel_bitmap;
    uint8_t m_num_channels;
    uint8_t m_unused;
    double m_sample_freq_hz;
    uint8_t m_bits_per_sample;
    uint8_t m_bytes_per_sample;
};

struct nv_header_v1 {
    uint32_t m_host_timestamp;
};

struct nv_header_v2 {
    uint32_t m_host_timestamp;
    uint32_t m_device_id;
};

// v2 comes first so that a value-initialised header clears all eight bytes;
// m_host_timestamp is the common initial member, readable through either.
union nv_header_v {
    nv_header_v2 v2;
    nv_header_v1 v1;
};

struct nv_header {
    nv_header_header header;
    nv_header_common common;
    nv_header_v v;

    double time() const;
    // Sets m_seconds and m_nanoseconds from t, truncated toward zero; only the
    // low 32 bits of the seconds are kept, so no time makes this undefined.
    void set_time(double t);
    double delta_t() const;
    size_t num_channels() const;
};

struct nv_channels {
    magic m_magic;
    uint32_t m_length;
};

struct nv_channel {
    magic m_magic;
    uint16_t m_channel;
    uint16_t m_gain;
    double m_v_min;
    double m_v_max;
    double m_ext_gain;
};

struct data_t {
    magic m_magic;
    uint32_t m_unused;
};

using data_channel_type = std::vector<int32_t>;
using data_type = std::vector<data_channel_type>;

extern const std::map<STATIONS, std::string> stationid2stationname;
extern const std::map<char, STATIONS> station_char2stationid;
extern const std::map<std::string, STATIONS> station_string2stationid;
// The SEED station code of each station of the network, every code distinct.
extern const std::map<STATIONS, std::string> stationid2seedcode;

// The SEED station code of a name of stationid2stationname; empty for a name
// without one.
std::string seed_code_of_station(const std::string& name);
// The name (of stationid2stationname) of a code of stationid2seedcode; empty
// for any other code.
std::string station_of_seed_code(const std::string& code);

// The rule for a sampling frequency: the time axis advances by 1 / frequency,
// so only a positive, finite frequency gives one. The legacy reader refuses a
// file without one, the TM4 reader one long enough to be analysed, and the
// driver every recording it is given.
inline bool is_usable_frequency(double hz) { return hz > 0 && std::isfinite(hz); }

class Nevra_Base {
public:
    Nevra_Base() = default;
    // Virtual, because every reader's object is released through a Nevra_Base pointer.
    virtual ~Nevra_Base() = default;

    // The driver uses only part of this interface; the rest (the format of
    // origin, volts, single channel records and times) is the library's for
    // its other users, such as the nv tools, and stays.
    virtual double raw2volt(int32_t raw, const nv_channel& chan) const;
    virtual ORIGIN get_origin() const;

    double get_frequency() const;
    const nv_header& get_header() const;
    // One record for every channel number 0 .. num_channels()-1, each number
    // once: the block reader refuses a file whose records break this, and the
    // text readers number their records themselves.
    const std::vector<nv_channel>& get_channels() const;
    const nv_channel& get_channel_info(size_t i) const;
    const data_channel_type& get_data(size_t ch) const;
    double get_time(size_t i) const;
    const std::vector<double>& get_time() const;
    const char* station_name() const;

protected:
    // The legacy and TM4 readers take the caller's time as the start time
    // when it lies less than 2 s from the file's own.
    void adopt_initial_basetime(double initial_basetime);
    // Sizes the channels to count (existing samples stay) and numbers their
    // records 0, 1, ... with the text readers' fixed ranges and gain 1.
    void set_channel_records(size_t count, double ext_gain);

    nv_header m_header{};
    std::vector<nv_channel> m_channels;
    data_type m_data;
    std::vector<double> m_time;
};

}  // namespace Nevra
