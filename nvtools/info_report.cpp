#include "info_report.h"

#include "common.h"
#include "file_bytes.h"
#include "iso_time.h"
#include "json_text.h"
#include "time_axis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

namespace nvtools {

namespace {

std::string number(double value) { return Nevra::round_trip_text(value); }

// Six significant digits, for the text report.
std::string short_number(double value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
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

std::string gaps_json(const std::vector<GapInfo>& gaps) {
    std::string out = "[";
    for (const GapInfo& gap : gaps)
        out += (out.size() == 1 ? "" : ", ") + ("{\"after\": " + json_time(gap.after)) +
               ", \"seconds\": " + json_number(gap.seconds) + "}";
    return out + "]";
}

std::string gaps_text(const char* label, const std::vector<GapInfo>& gaps) {
    std::ostringstream out;
    out << "    " << label << gaps.size() << "\n";
    for (const GapInfo& gap : gaps)
        out << "      after " << iso_time(gap.after) << "  " << short_number(gap.seconds) << " s\n";
    return out.str();
}

template <typename T, typename Show>
std::string joined(const std::vector<T>& items, Show show, const char* separator) {
    std::string out;
    for (const T& item : items)
        out += (out.empty() ? "" : separator) + show(item);
    return out;
}

// Adds segment to the trace whose earlier segments end at covered_end_us
// (one interval after the latest sample so far).
void add_segment(TraceInfo& trace, double& covered_end_us, const Segment& segment) {
    const double interval_us = 1e6 / segment.rate_hz;
    const auto start_us = static_cast<double>(segment.start_us);
    const double end_us = start_us + static_cast<double>(segment.values.size()) * interval_us;
    if (trace.samples == 0) {
        trace.id = segment.id;
        trace.start = start_us / 1e6;
    } else {
        // A break of less than 1 % of an interval is a change of rate alone.
        const double tolerance_us = 0.01 * interval_us;
        const double last_sample = trace.end;
        if (start_us > covered_end_us + tolerance_us)
            trace.gaps.push_back({last_sample, (start_us - covered_end_us) / 1e6});
        else if (start_us < covered_end_us - tolerance_us)
            trace.overlaps.push_back(
                {last_sample, (std::min(covered_end_us, end_us) - start_us) / 1e6});
    }
    if (std::find(trace.rates_hz.begin(), trace.rates_hz.end(), segment.rate_hz) ==
        trace.rates_hz.end())
        trace.rates_hz.push_back(segment.rate_hz);
    for (const int encoding : segment.encodings)
        if (std::find(trace.encodings.begin(), trace.encodings.end(), encoding) ==
            trace.encodings.end())
            trace.encodings.push_back(encoding);
    std::sort(trace.encodings.begin(), trace.encodings.end());
    trace.samples += segment.values.size();
    if (end_us > covered_end_us) {
        covered_end_us = end_us;
        trace.end = (end_us - interval_us) / 1e6;
    }
}

}  // namespace

MiniseedInfo miniseed_info(const std::string& file, const std::vector<Segment>& segments) {
    MiniseedInfo info{file, {}};
    double covered_end_us = 0.0;
    for (const Segment& segment : segments) {
        if (segment.values.empty())
            continue;
        if (info.traces.empty() || info.traces.back().id != segment.id) {
            info.traces.emplace_back();
            covered_end_us = -std::numeric_limits<double>::infinity();
        }
        add_segment(info.traces.back(), covered_end_us, segment);
    }
    return info;
}

std::string info_text(const MiniseedInfo& info) {
    std::ostringstream out;
    out << info.file << "\n"
        << "  format     miniSEED\n";
    for (const TraceInfo& t : info.traces)
        out << "  trace      " << t.id << "\n"
            << "    start      " << iso_time(t.start) << "\n"
            << "    end        " << iso_time(t.end) << "\n"
            << "    rate       " << joined(t.rates_hz, number, ", ") << " Hz\n"
            << "    samples    " << t.samples << "\n"
            << "    encoding   " << joined(t.encodings, encoding_name, ", ") << "\n"
            << gaps_text("gaps       ", t.gaps) << gaps_text("overlaps   ", t.overlaps);
    return out.str();
}

std::string info_json(const MiniseedInfo& info) {
    std::ostringstream out;
    out << "{\"file\": " << json_string(info.file) << ", \"format\": \"miniSEED\", \"traces\": [";
    for (const TraceInfo& t : info.traces)
        out << (&t == &info.traces.front() ? "" : ", ") << "{\"id\": " << json_string(t.id)
            << ", \"start\": " << json_time(t.start) << ", \"end\": " << json_time(t.end)
            << ", \"rates_hz\": [" << joined(t.rates_hz, json_number, ", ")
            << "], \"samples\": " << t.samples << ", \"encodings\": ["
            << joined(t.encodings, [](int e) { return json_string(encoding_name(e)); }, ", ")
            << "], \"gaps\": " << gaps_json(t.gaps) << ", \"overlaps\": " << gaps_json(t.overlaps)
            << "}";
    out << "]}";
    return out.str();
}

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
    if (recording.format == Format::tm4)
        info.early_end = tm4_early_end(recording.file, info.samples);
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
    if (info.early_end)
        out << "  unread     " << early_end_words(*info.early_end) << "\n";
    return out.str();
}

std::string info_json(const FileInfo& info) {
    std::ostringstream out;
    out << "{\"file\": " << json_string(info.file) << ", \"format\": " << json_string(info.format)
        << ", \"station\": " << json_string(info.station)
        << ", \"frequency_hz\": " << json_number(info.frequency_hz)
        << ", \"start\": " << json_time(info.start) << ", \"end\": " << json_time(info.end)
        << ", \"samples\": " << info.samples
        << ", \"comment\": " << (info.comment ? json_string(*info.comment) : "null")
        << ", \"channels\": [";
    for (size_t i = 0; i < info.channels.size(); ++i) {
        const ChannelInfo& c = info.channels[i];
        out << (i == 0 ? "" : ", ") << "{\"number\": " << c.number << ", \"gain\": " << c.gain
            << ", \"external_gain\": " << json_number(c.external_gain)
            << ", \"min\": " << json_number(c.stats.min)
            << ", \"max\": " << json_number(c.stats.max)
            << ", \"mean\": " << json_number(c.stats.mean)
            << ", \"std\": " << json_number(c.stats.std) << "}";
    }
    out << "], \"gaps\": " << gaps_json(info.gaps) << ", \"early_end\": ";
    if (info.early_end)
        out << "{\"line\": " << info.early_end->line
            << ", \"unread_bytes\": " << info.early_end->unread_bytes << "}";
    else
        out << "null";
    out << "}";
    return out.str();
}

std::string describe_file(const std::string& file, bool json) {
    if (is_miniseed_file(file)) {
        const MiniseedInfo info = miniseed_info(file, read_miniseed(file));
        return json ? info_json(info) : info_text(info);
    }
    const FileInfo info = file_info(load_recording(file));
    return json ? info_json(info) : info_text(info);
}

}  // namespace nvtools
