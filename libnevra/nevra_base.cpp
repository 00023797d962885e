#include "nevra_base.h"

#include <cmath>
#include <cstdint>

namespace Nevra {

const std::map<STATIONS, std::string> stationid2stationname{
    {jamton, "jamton"},       {kiruna, "kiruna"},       {lycksele, "lycksele"},
    {sodankyla, "sodankyla"}, {uppsala, "uppsala"},     {jamton2, "jamton2"},
    {kiruna2, "kiruna2"},     {lycksele2, "lycksele2"}, {sodankyla2, "sodankyla2"},
    {test, "test"},           {unknown, "unknown"},
};

const std::map<char, STATIONS> station_char2stationid{
    {'J', jamton},   {'j', jamton},    {'K', kiruna},    {'k', kiruna},  {'L', lycksele},
    {'l', lycksele}, {'S', sodankyla}, {'s', sodankyla}, {'U', uppsala}, {'u', uppsala},
};

// "sodankyla2" and "s2" name the first-generation station: stored files rely on it.
const std::map<std::string, STATIONS> station_string2stationid{
    {"jamton", jamton},        {"j", jamton},     {"kiruna", kiruna},       {"k", kiruna},
    {"lycksele", lycksele},    {"l", lycksele},   {"sodankyla", sodankyla}, {"s", sodankyla},
    {"uppsala", uppsala},      {"u", uppsala},    {"jamton2", jamton2},     {"j2", jamton2},
    {"kiruna2", kiruna2},      {"k2", kiruna2},   {"lycksele2", lycksele2}, {"l2", lycksele2},
    {"sodankyla2", sodankyla}, {"s2", sodankyla},
};

// The first generation keeps the five letters its traces have always had;
// the second ends in 2, so that no two stations share a code.
const std::map<STATIONS, std::string> stationid2seedcode{
    {jamton, "JAMTO"},    {kiruna, "KIRUN"},    {lycksele, "LYCKS"},
    {sodankyla, "SODAN"}, {uppsala, "UPPSA"},   {jamton2, "JAMT2"},
    {kiruna2, "KIRU2"},   {lycksele2, "LYCK2"}, {sodankyla2, "SODA2"},
};

std::string seed_code_of_station(const std::string& name) {
    for (const auto& [station, station_name] : stationid2stationname)
        if (station_name == name) {
            const auto code = stationid2seedcode.find(station);
            return code == stationid2seedcode.end() ? "" : code->second;
        }
    return "";
}

std::string station_of_seed_code(const std::string& code) {
    for (const auto& [station, station_code] : stationid2seedcode)
        if (station_code == code)
            return stationid2stationname.at(station);
    return "";
}

double nv_header::time() const {
    return static_cast<double>(common.m_seconds) + static_cast<double>(common.m_nanoseconds) / 1e9;
}

namespace {

uint32_t truncated_u32(double value) {
    if (!(std::fabs(value) < 9.0e18))
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(value));
}

}  // namespace

void nv_header::set_time(double t) {
    common.m_seconds = truncated_u32(t);
    common.m_nanoseconds = truncated_u32((t - common.m_seconds) * 1e9);
}

void Nevra_Base::set_channel_records(size_t count, double ext_gain) {
    m_data.resize(count);
    m_channels.resize(count);
    for (size_t c = 0; c < count; ++c) {
        nv_channel& record = m_channels[c];
        record.m_magic = magic_chan;
        record.m_channel = static_cast<uint16_t>(c);
        record.m_gain = 1;
        record.m_v_min = -10.0;
        record.m_v_max = 10.0;
        record.m_ext_gain = ext_gain;
    }
}

void Nevra_Base::adopt_initial_basetime(double initial_basetime) {
    if (std::fabs(m_header.time() - initial_basetime) < 2.0) {
        m_header.set_time(initial_basetime);
        m_header.v.v1.m_host_timestamp = m_header.common.m_seconds;
    }
}

double nv_header::delta_t() const { return 1.0 / common.m_sample_freq_hz; }

size_t nv_header::num_channels() const { return common.m_num_channels; }

double Nevra_Base::raw2volt(int32_t raw, const nv_channel& chan) const {
    return static_cast<double>(raw) * chan.m_v_max * chan.m_ext_gain;
}

ORIGIN Nevra_Base::get_origin() const { return ORIGIN_UNDEFINED; }

double Nevra_Base::get_frequency() const { return m_header.common.m_sample_freq_hz; }

const nv_header& Nevra_Base::get_header() const { return m_header; }

const std::vector<nv_channel>& Nevra_Base::get_channels() const { return m_channels; }

const nv_channel& Nevra_Base::get_channel_info(size_t i) const { return m_channels.at(i); }

const data_channel_type& Nevra_Base::get_data(size_t ch) const { return m_data[ch]; }

double Nevra_Base::get_time(size_t i) const { return m_time.at(i); }

const std::vector<double>& Nevra_Base::get_time() const { return m_time; }

const char* Nevra_Base::station_name() const {
    return stationid2stationname.at(static_cast<STATIONS>(m_header.header.m_station)).c_str();
}

}  // namespace Nevra
