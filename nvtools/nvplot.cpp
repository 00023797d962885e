// nvplot FILE [-o OUT.png] [--from TIME] [--to TIME] [--width PX] [--height PX]
// [--channels PATTERN,...]: a picture of a recording, a result or a miniSEED
// file, drawn by gnuplot.

#include "command_line.h"
#include "gnuplot_run.h"
#include "iso_time.h"
#include "miniseed_read.h"
#include "output_files.h"
#include "plot.h"
#include "recording.h"
#include "seed_codes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

namespace {

constexpr const char* usage =
    "usage: nvplot FILE [-o OUT.png] [--from TIME] [--to TIME] [--width PX] [--height PX]\n"
    "              [--channels PATTERN,...]\n"
    "  TIME: 2016-05-01T00:10:00[.ffffff][Z] (UTC) or seconds since 1970\n"
    "  without -o the picture is <FILE's name>.png in the working directory\n"
    "  --channels: the traces of a miniSEED FILE to draw, by SEED id (NET.STA.LOC.CHA,\n"
    "              shell wildcards); without it every trace, one panel per id\n";

constexpr int min_pixels = 100;
constexpr int max_pixels = 20000;

using nvtools::UsageError;

struct Arguments {
    std::string in;
    std::string out;
    std::optional<double> from, to;
    int width = 1200;
    int height = 800;
    std::vector<std::string> channel_patterns;
};

int pixels(const std::string& option, const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min_pixels ||
        value > max_pixels)
        throw UsageError("--" + option + " takes " + std::to_string(min_pixels) + " to " +
                         std::to_string(max_pixels) + " pixels, not \"" + text + "\"");
    return value;
}

double time_argument(const std::string& option, const std::string& text) {
    const std::optional<double> time = nvtools::parse_time(text);
    if (!time)
        throw UsageError("--" + option + " takes a UTC time such as 2016-05-01T00:10:00Z, not \"" +
                         text + "\"");
    return *time;
}

std::vector<nvtools::Option> options_of(Arguments& args) {
    return {
        {"o", true, [&args](const std::string& value) { args.out = value; }},
        {"from", true,
         [&args](const std::string& value) { args.from = time_argument("from", value); }},
        {"to", true, [&args](const std::string& value) { args.to = time_argument("to", value); }},
        {"width", true, [&args](const std::string& value) { args.width = pixels("width", value); }},
        {"height", true,
         [&args](const std::string& value) { args.height = pixels("height", value); }},
        {"channels", true,
         [&args](const std::string& value) {
             std::istringstream patterns(value);
             for (std::string pattern; std::getline(patterns, pattern, ',');)
                 args.channel_patterns.push_back(pattern);
         }},
    };
}

// A stretch of samples: a time axis and the values at those times, held
// whole (a recording's samples, drawn in place) or as numbers.
struct Stretch {
    const std::vector<double>* time = nullptr;
    const std::int32_t* whole = nullptr;
    const double* values = nullptr;
};

// What one panel shows: a channel, or the segments of a trace id.
struct Trace {
    std::string label;
    std::vector<Stretch> stretches;
};

// What the picture shows, with the samples its traces point into.
struct Drawing {
    std::string title;
    std::vector<Trace> traces;

    nvtools::Recording recording;
    std::vector<std::vector<double>> tm4_values;
    std::vector<nvtools::Segment> segments;
    std::vector<std::vector<double>> segment_times;

    Drawing() = default;
    Drawing(const Drawing&) = delete;  // the traces point into it
    Drawing& operator=(const Drawing&) = delete;
};

std::string file_part(const std::string& file) {
    return std::filesystem::path(file).filename().string();
}

bool is_miniseed(const std::string& file) {
    try {
        return nvtools::is_miniseed_file(file);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(file + ": " + e.what());
    }
}

// Every channel of a recording; TM4 values keep their fractions, the other
// formats are drawn from their samples in place.
void load_recording(const std::string& file, Drawing& drawing) {
    nvtools::Recording& recording = drawing.recording;
    try {
        recording = nvtools::load_recording(file);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(file + ": " + e.what());
    }
    std::ostringstream title;
    title << file_part(file) << ", station " << nvtools::station_name(recording).value_or("unknown")
          << ", " << recording.model->get_frequency() << " Hz";
    drawing.title = title.str();
    if (recording.format == nvtools::Format::tm4)
        drawing.tm4_values = nvtools::channel_values(recording);
    for (size_t c = 0; c < recording.channels(); ++c) {
        Stretch all{&recording.model->get_time()};
        if (drawing.tm4_values.empty())
            all.whole = recording.model->get_data(c).data();
        else
            all.values = drawing.tm4_values[c].data();
        drawing.traces.push_back(
            {"channel " + std::to_string(recording.model->get_channel_info(c).m_channel), {all}});
    }
}

// One trace per SEED id that the patterns select, in their order, with the
// id's segments as its stretches (the gaps between them drawn as gaps).
void load_miniseed(const std::string& file, const std::vector<std::string>& patterns,
                   Drawing& drawing) {
    try {
        drawing.segments = nvtools::read_miniseed(file, patterns);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(file + ": " + e.what());
    }
    std::vector<std::string> ids;
    for (const nvtools::Segment& segment : drawing.segments)
        ids.push_back(segment.id);
    ids = nvtools::select_ids(ids, patterns);
    if (ids.empty())
        throw std::runtime_error(file + ": no trace to draw" +
                                 (patterns.empty() ? "" : " matches --channels"));
    drawing.title = file_part(file) + ", miniSEED, " + std::to_string(ids.size()) +
                    (ids.size() == 1 ? " trace" : " traces");
    for (const std::string& id : ids)
        drawing.traces.push_back({id, {}});
    drawing.segment_times.reserve(drawing.segments.size());  // the stretches point into it
    for (const nvtools::Segment& segment : drawing.segments) {
        const auto selected = std::find(ids.begin(), ids.end(), segment.id);
        if (selected == ids.end())
            continue;
        std::vector<double>& time = drawing.segment_times.emplace_back(segment.values.size());
        const double start = static_cast<double>(segment.start_us) / 1e6;
        for (size_t i = 0; i < time.size(); ++i)
            time[i] = start + static_cast<double>(i) / segment.rate_hz;
        drawing.traces[static_cast<size_t>(selected - ids.begin())].stretches.push_back(
            {&time, nullptr, segment.values.data()});
    }
}

// The range to draw: the one asked for, by default all samples.
void set_range(const Arguments& args, const Drawing& drawing, nvtools::PlotLayout& layout) {
    double first = std::numeric_limits<double>::infinity();
    double last = -first;
    for (const Trace& trace : drawing.traces)
        for (const Stretch& stretch : trace.stretches)
            if (!stretch.time->empty()) {
                const auto [low, high] =
                    std::minmax_element(stretch.time->begin(), stretch.time->end());
                first = std::min(first, *low);
                last = std::max(last, *high);
            }
    layout.from = args.from.value_or(first);
    layout.to = args.to.value_or(last);
    if (!(layout.from < layout.to))
        throw std::runtime_error(args.in + ": the time range to draw is empty (from " +
                                 nvtools::iso_time(layout.from) + " to " +
                                 nvtools::iso_time(layout.to) + ")");
    if (layout.to < first || layout.from > last)
        throw std::runtime_error(args.in + ": no samples between " +
                                 nvtools::iso_time(layout.from) + " and " +
                                 nvtools::iso_time(layout.to));
}

std::vector<nvtools::Column> columns_of(const Stretch& stretch, const nvtools::PlotLayout& layout) {
    const auto columns = static_cast<size_t>(layout.width);
    return stretch.whole != nullptr
               ? nvtools::envelope(*stretch.time, stretch.whole, layout.from, layout.to, columns)
               : nvtools::envelope(*stretch.time, stretch.values, layout.from, layout.to, columns);
}

std::vector<nvtools::Panel> panels(const Drawing& drawing, const nvtools::PlotLayout& layout) {
    std::vector<nvtools::Panel> panels;
    for (const Trace& trace : drawing.traces) {
        nvtools::Panel& panel = panels.emplace_back();
        panel.label = trace.label;
        for (const Stretch& stretch : trace.stretches) {
            if (panel.columns.empty())
                panel.columns = columns_of(stretch, layout);
            else
                nvtools::merge_columns(panel.columns, columns_of(stretch, layout));
        }
    }
    return panels;
}

// A whole PNG file starts with the PNG signature and ends with the IEND
// chunk; a picture cut short by a full disk or a failed write does not.
bool is_complete_png(int fd) {
    constexpr std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    constexpr std::array<unsigned char, 12> end_chunk{0,   0,   0,    0,    'I',  'E',
                                                      'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(signature.size() + end_chunk.size()))
        return false;
    std::array<unsigned char, 8> head{};
    std::array<unsigned char, 12> tail{};
    return pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
           pread(fd, tail.data(), tail.size(), st.st_size - static_cast<off_t>(tail.size())) ==
               static_cast<ssize_t>(tail.size()) &&
           head == signature && tail == end_chunk;
}

// gnuplot writes the picture into the file open as fd; throws naming the
// picture when it fails or leaves an incomplete PNG.
void render(const std::string& script, int fd, const std::string& picture) {
    try {
        nvtools::run_gnuplot(script, fd);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(picture + ": " + e.what() + "; no picture written");
    }
    if (!is_complete_png(fd))
        throw std::runtime_error(picture +
                                 ": gnuplot wrote an incomplete picture (no PNG end chunk); "
                                 "no picture written");
}

void copy_file(int from, nvtools::OutputFile& to) {
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t n = pread(from, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error(
                to.name() + ": cannot read the drawn picture back: " + std::strerror(errno));
        if (n == 0)
            return;
        to.write(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The picture appears complete or not at all: gnuplot writes into the
// output's temporary, which is put in place only when the PNG is whole. A
// device or FIFO gets the picture only once it is whole in a scratch file.
void draw(const std::string& script, const std::string& out) {
    nvtools::OutputFile picture(out);
    if (!picture.written_in_place()) {
        render(script, picture.fd(), out);
    } else {
        const std::unique_ptr<std::FILE, FileCloser> scratch(std::tmpfile());
        if (!scratch)
            throw std::runtime_error(out +
                                     ": cannot create a scratch file: " + std::strerror(errno));
        render(script, fileno(scratch.get()), out);
        copy_file(fileno(scratch.get()), picture);
    }
    picture.commit();
}

int plot(Arguments& args, const std::vector<std::string>& files) {
    args.in = files.front();
    if (args.out.empty())
        args.out = file_part(args.in) + ".png";
    Drawing drawing;
    if (is_miniseed(args.in))
        load_miniseed(args.in, args.channel_patterns, drawing);
    else if (!args.channel_patterns.empty())
        throw std::runtime_error(args.in + ": --channels selects traces of miniSEED input only");
    else
        load_recording(args.in, drawing);
    nvtools::PlotLayout layout;
    layout.title = drawing.title;
    layout.width = args.width;
    layout.height = args.height;
    set_range(args, drawing, layout);
    draw(nvtools::gnuplot_script(layout, panels(drawing, layout)), args.out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    const nvtools::Program program{
        .name = "nvplot",
        .usage = usage,
        .options = options_of(args),
        .min_operands = 1,
        .max_operands = 1,
        .operands_wanted = "needs one input file",
    };
    return nvtools::run_program(
        program, argc, argv,
        [&args](const std::vector<std::string>& files) { return plot(args, files); });
}
