#include "convert.h"

#include "align.h"
#include "common.h"
#include "iso_time.h"
#include "miniseed_read.h"
#include "miniseed_write.h"
#include "nevra.h"
#include "nevra_base.h"
#include "output_files.h"
#include "recording.h"
#include "seed_codes.h"
#include "time_axis.h"
#include "tm4_extent.h"
#include "tm4_write.h"

#include <libmseed.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

namespace nvtools {

namespace {

constexpr size_t min_tm4_channels = 3;
constexpr size_t max_tm4_channels = 8;
// A channel's location code is its number in two digits.
constexpr size_t max_miniseed_channels = 100;
constexpr std::int64_t us_per_second = 1000000;

// Whole numbers stay whole (Steim-2 or INT32); values with fractions (TM4
// results) go out as FLOAT64.
struct ChannelSamples {
    std::vector<std::vector<std::int32_t>> whole;
    std::vector<std::vector<double>> fractional;
};

ChannelSamples tm4_samples(const Recording& recording) {
    ChannelSamples samples;
    samples.fractional = channel_values(recording);
    if (all_whole_numbers(samples.fractional)) {
        for (const auto& channel : samples.fractional)
            samples.whole.emplace_back(channel.begin(), channel.end());
        samples.fractional.clear();
    }
    return samples;
}

TraceSamples trace_samples(const Recording& recording, const ChannelSamples& converted,
                           size_t channel, const Run& run) {
    TraceSamples samples;
    samples.count = run.count;
    if (!converted.fractional.empty())
        samples.fractional = converted.fractional[channel].data() + run.first;
    else if (!converted.whole.empty())
        samples.whole = converted.whole[channel].data() + run.first;
    else
        samples.whole = recording.model->get_data(channel).data() + run.first;
    return samples;
}

bool is_code(const std::string& code, size_t max_length) {
    return !code.empty() && code.size() <= max_length &&
           std::all_of(code.begin(), code.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

std::string two_digits(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

// The runs to write: a TM4 axis must follow its rate throughout; a legacy
// axis is split at its gaps, so no sample moves across one.
std::vector<Run> runs_of(const Recording& recording) {
    const std::vector<double>& time = recording.model->get_time();
    const double rate = recording.model->get_frequency();
    if (!(rate > 0) || !std::isfinite(rate))
        throw FileError(recording.file, "no usable sampling frequency");
    if (recording.format == Format::tm4) {
        const size_t misfit = first_misfit(time, rate);
        if (misfit != time.size())
            throw FileError(recording.file, "the time axis does not fit the rate of " +
                                                std::to_string(rate) + " Hz: sample " +
                                                std::to_string(misfit + 1) + " lies at " +
                                                iso_time(time[misfit]));
    }
    return contiguous_runs(time, rate);
}

double common_rate(const std::vector<Segment>& segments, const std::vector<std::string>& ids,
                   const std::string& in) {
    const Segment* first = nullptr;
    for (const Segment& segment : segments) {
        if (std::find(ids.begin(), ids.end(), segment.id) == ids.end())
            continue;
        if (first == nullptr)
            first = &segment;
        else if (!MS_ISRATETOLERABLE(segment.rate_hz, first->rate_hz))
            throw FileError(in, "mixed sampling rates: " + first->id + " at " +
                                    std::to_string(first->rate_hz) + " Hz, " + segment.id + " at " +
                                    std::to_string(segment.rate_hz) + " Hz");
    }
    if (!(first->rate_hz > 0))
        throw FileError(in, "trace " + first->id + " has no positive sampling rate");
    return first->rate_hz;
}

// The station of the traces' common station code: the station table's name
// for the code, else the code in lower case when the station tables know it
// as a name ("K" gives "k").
std::string default_station(const std::vector<std::string>& ids) {
    std::string code = station_of_id(ids.front());
    for (const std::string& id : ids)
        if (station_of_id(id) != code)
            code.clear();
    const std::string station = Nevra::station_of_seed_code(code);
    if (!station.empty())
        return station;
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!code.empty() && Nevra::station_string2stationid.count(code) != 0)
        return code;
    std::cerr << "nvconvert: warning: the station tables know no station for "
              << (code.empty() ? "traces of several stations"
                               : "station code " + station_of_id(ids.front()))
              << "; writing station unknown (--station names one)\n";
    return "unknown";
}

// vimsor's TM4 reader takes a value only when truncating it gives a 32-bit sample.
void check_tm4_range(const AlignedBlock& block, const std::vector<std::string>& ids, double rate,
                     const std::string& in) {
    for (size_t c = 0; c < block.channels.size(); ++c)
        for (size_t i = 0; i < block.channels[c].size(); ++i)
            if (!Nevra::fits_int32(block.channels[c][i]))
                throw FileError(in, "trace " + ids[c] + " holds " +
                                        Nevra::round_trip_text(block.channels[c][i]) + " at " +
                                        iso_time_us(sample_time_us(block.start_us, i, rate)) +
                                        ", outside the 32-bit samples a TM4 file holds");
}

std::time_t whole_second(std::int64_t us) {
    return static_cast<std::time_t>((us >= 0 ? us : us - (us_per_second - 1)) / us_per_second);
}

void write_tm4_block(OutputFile& file, const AlignedBlock& block, double rate,
                     const Tm4Options& options, const std::string& station) {
    const std::string comment =
        Nevra::compose_comment(rate, options.gain, station, whole_second(block.start_us),
                               Nevra::FrequencyDigits::round_trip);
    try {
        write_tm4(file.stream(), comment, block.start_us, rate, block.channels);
    } catch (const std::runtime_error& e) {
        throw FileError(file.name(), e.what());
    }
    file.commit();
}

}  // namespace

std::string tm4_block_name(const std::string& out, size_t k, size_t blocks) {
    if (blocks == 1)
        return out;
    const std::filesystem::path path(out);
    std::filesystem::path name = path.parent_path() / path.stem();
    name += "_" + std::to_string(k) + path.extension().string();
    return name.string();
}

namespace {

// The reader stops at the first line that is no data line; what follows is
// not converted, and the user should know.
void warn_of_early_end(const Recording& recording) {
    if (recording.format != Format::tm4)
        return;
    if (const auto end = tm4_early_end(recording.file, recording.samples()))
        std::cerr << "nvconvert: warning: " << recording.file << ": " << early_end_words(*end)
                  << "\n";
}

}  // namespace

void recording_to_miniseed(const std::string& in, const std::string& out,
                           const MiniseedOptions& options) {
    if (!is_code(options.network, 2))
        throw FileError(out,
                        "network code \"" + options.network + "\" is not 1 or 2 letters or digits");
    Recording recording;
    try {
        recording = load_recording(in);
    } catch (const std::runtime_error& e) {
        throw FileError(in, e.what());
    }
    warn_of_early_end(recording);
    const std::string station = options.station_code
                                    ? *options.station_code
                                    : default_station_code(recording.model->station_name());
    if (!is_code(station, 5))
        throw FileError(out, "station code \"" + station + "\" is not 1 to 5 letters or digits");
    const std::vector<Run> runs = runs_of(recording);
    if (recording.channels() > max_miniseed_channels)
        throw FileError(in, std::to_string(recording.channels()) +
                                " channels; their location codes 00 to 99 tell at most " +
                                std::to_string(max_miniseed_channels) + " apart in miniSEED");
    try {  // before any output: a rate that no record holds exactly is refused
        rate_field(recording.model->get_frequency());
    } catch (const std::runtime_error& e) {
        throw FileError(in, e.what());
    }
    ChannelSamples converted;
    if (recording.format == Format::tm4) {
        try {
            converted = tm4_samples(recording);
        } catch (const std::runtime_error& e) {
            throw FileError(in, e.what());
        }
    }

    const double rate = recording.model->get_frequency();
    const std::vector<double>& time = recording.model->get_time();
    OutputFile file(out);
    for (size_t c = 0; c < recording.channels(); ++c) {
        TraceHeader header{options.network,
                           station,
                           two_digits(recording.model->get_channel_info(c).m_channel),
                           infrasound_channel_code(rate),
                           rate,
                           0};
        for (const Run& run : runs) {
            header.start_us = to_microseconds(time[run.first]);
            try {
                write_trace(file.stream(), header, trace_samples(recording, converted, c, run),
                            options.record_length);
            } catch (const std::runtime_error& e) {
                throw FileError(out, e.what());
            }
        }
    }
    file.commit();
}

std::vector<std::string> miniseed_to_tm4(const std::string& in, const std::string& out,
                                         const Tm4Options& options) {
    std::vector<Segment> segments;
    try {
        segments = read_miniseed(in, options.channel_patterns);
    } catch (const std::runtime_error& e) {
        throw FileError(in, e.what());
    }
    std::vector<std::string> all_ids;
    for (const Segment& segment : segments)
        all_ids.push_back(segment.id);
    const std::vector<std::string> ids = select_ids(all_ids, options.channel_patterns);
    if (ids.size() < min_tm4_channels || ids.size() > max_tm4_channels)
        throw FileError(in,
                        std::to_string(ids.size()) + " traces selected; a TM4 file takes 3 to 8");
    const double rate = common_rate(segments, ids, in);
    std::vector<AlignedBlock> blocks;
    try {
        blocks = align_traces(segments, ids, rate);
    } catch (const std::runtime_error& e) {
        throw FileError(in, e.what());
    }
    segments.clear();
    for (const AlignedBlock& block : blocks)
        check_tm4_range(block, ids, rate, in);
    const std::string station = options.station ? *options.station : default_station(ids);

    // All blocks or none: a failure on a later block leaves no earlier one.
    OutputSet outputs;
    std::vector<std::string> names;
    for (size_t k = 0; k < blocks.size(); ++k) {
        names.push_back(tm4_block_name(out, k + 1, blocks.size()));
        write_tm4_block(outputs.add(names.back()), blocks[k], rate, options, station);
    }
    outputs.commit();
    return names;
}

}  // namespace nvtools
