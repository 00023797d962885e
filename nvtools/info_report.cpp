#include "info_report.h"

#include "iso_time.h"
#include "time_axis.h"

#include <charconv>
#include <cstdio>
#include <sstream>

namespace nvtools {

namespace {

std::string number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Six significant digits, for the text report.
std::string short_number(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::vector<ChannelInfo> channel_infos(const Recording& recording) {
    std::vector<ChannelInfo> infos;
    // TM4 values keep their fractions; the other formats hold whole counts.
    const auto values = recording.format == Format::tm4 ? channel_values(recording)
                                                        : std::vector<std::vector<double>>{};
    for (size_t c = 0; c < recording.channels(); ++c) {
        const Nevra::nv_channel& record = recording.model->get_channel_info(c);
        ChannelInfo info;
        info.number = record.m_channel;
        info.gain = record.m_gain;
        info.external_gain = record.m_ext_gain;
        info.stats =
            values.empty() ? channel_stats(recording.model->get_data(c)) : channel_stats(values[c]);
        infos.push_back(info);
    }
    return infos;
}

std::string station_of(const Recording& recording) {
    return station_name(recording).value_or(
        "unknown (id " + std::to_string(recording.model->get_header().header.m_station) + ")");
}

}  // namespace

FileInfo file_info(const Recording& recording) {
    const Nevra::Nevra_Base& model = *recording.model;
    const std::vector<double>& time = model.get_time();
    FileInfo info;
    info.file = recording.file;
    info.format = format_name(recording.format);
    info.station = station_of(recording);
    info.frequency_hz = model.get_frequency();
    info.start = time.front();
    info.end = time.back();
    info.samples = time.size();
    info.comment = recording.comment;
    info.channels = channel_infos(recording);
    if (recording.is_legacy())
        for (const Gap& gap : find_gaps(time, info.frequency_hz))
            info.gaps.push_back({time[gap.after], gap.seconds});
    return info;
}

std::string info_text(const FileInfo& info) {
    std::ostringstream out;
    out << info.file << "\n"
        << "  format     " << info.format << "\n"
        << "  station    " << info.station << "\n"
        << "  frequency  " << number(info.frequency_hz) << " Hz\n"
        << "  start      " << iso_time(info.start) << "\n"
        << "  end        " << iso_time(info.end) << "\n"
        << "  samples    " << info.samples << " per channel\n"
        << "  duration   " << short_number(info.duration()) << " s\n";
    if (info.comment)
        out << "  comment    " << *info.comment << "\n";
    out << "  channel  gain  ext.gain  min  max  mean  std\n";
    for (const ChannelInfo& c : info.channels)
        out << "  " << c.number << "  " << c.gain << "  " << number(c.external_gain) << "  "
            << number(c.stats.min) << "  " << number(c.stats.max) << "  "
            << short_number(c.stats.mean) << "  " << short_number(c.stats.std) << "\n";
    if (!info.gaps.empty()) {
        out << "  time gaps  " << info.gaps.size() << "\n";
        for (const GapInfo& gap : info.gaps)
            out << "    after " << iso_time(gap.after) << "  " << short_number(gap.seconds)
                << " s\n";
    }
    return out.str();
}

std::string info_json(const FileInfo& info) {
    std::ostringstream out;
    out << "{\"file\": " << json_string(info.file) << ", \"format\": " << json_string(info.format)
        << ", \"station\": " << json_string(info.station)
        << ", \"frequency_hz\": " << number(info.frequency_hz) << ", \"start\": \""
        << iso_time(info.start) << "\", \"end\": \"" << iso_time(info.end)
        << "\", \"samples\": " << info.samples
        << ", \"comment\": " << (info.comment ? json_string(*info.comment) : "null")
        << ", \"channels\": [";
    for (size_t i = 0; i < info.channels.size(); ++i) {
        const ChannelInfo& c = info.channels[i];
        out << (i == 0 ? "" : ", ") << "{\"number\": " << c.number << ", \"gain\": " << c.gain
            << ", \"external_gain\": " << number(c.external_gain)
            << ", \"min\": " << number(c.stats.min) << ", \"max\": " << number(c.stats.max)
            << ", \"mean\": " << number(c.stats.mean) << ", \"std\": " << number(c.stats.std)
            << "}";
    }
    out << "], \"gaps\": [";
    for (size_t i = 0; i < info.gaps.size(); ++i)
        out << (i == 0 ? "" : ", ") << "{\"after\": \"" << iso_time(info.gaps[i].after)
            << "\", \"seconds\": " << number(info.gaps[i].seconds) << "}";
    out << "]}";
    return out.str();
}

std::string describe_file(const std::string& file, bool json) {
    const FileInfo info = file_info(load_recording(file));
    return json ? info_json(info) : info_text(info);
}

}  // namespace nvtools
