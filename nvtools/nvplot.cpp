// nvplot FILE [-o OUT.png] [--from TIME] [--to TIME] [--width PX] [--height PX]:
// a picture of a recording or a result, drawn by gnuplot.

#include "gnuplot_run.h"
#include "iso_time.h"
#include "output_file.h"
#include "plot.h"
#include "recording.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

namespace {

constexpr const char* usage =
    "usage: nvplot FILE [-o OUT.png] [--from TIME] [--to TIME] [--width PX] [--height PX]\n"
    "  TIME: 2016-05-01T00:10:00[.ffffff][Z] (UTC) or seconds since 1970\n"
    "  without -o the picture is <FILE's name>.png in the working directory\n";

constexpr int min_pixels = 100;
constexpr int max_pixels = 20000;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::string in;
    std::string out;
    std::optional<double> from, to;
    int width = 1200;
    int height = 800;
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

Arguments parse_arguments(int argc, char** argv) {
    static const option options[] = {
        {"from", required_argument, nullptr, 'f'},  {"to", required_argument, nullptr, 't'},
        {"width", required_argument, nullptr, 'W'}, {"height", required_argument, nullptr, 'H'},
        {"help", no_argument, nullptr, 'h'},        {nullptr, 0, nullptr, 0},
    };
    Arguments args;
    opterr = 0;
    int option = 0;
    while ((option = getopt_long(argc, argv, "o:h", options, nullptr)) != -1) {
        const std::string value = optarg != nullptr ? optarg : "";
        switch (option) {
        case 'o': args.out = value; break;
        case 'f': args.from = time_argument("from", value); break;
        case 't': args.to = time_argument("to", value); break;
        case 'W': args.width = pixels("width", value); break;
        case 'H': args.height = pixels("height", value); break;
        case 'h': std::cout << usage; std::exit(0);
        default:
            throw UsageError(std::string("unknown option or missing value: ") + argv[optind - 1]);
        }
    }
    if (argc - optind != 1)
        throw UsageError("needs one input file");
    args.in = argv[optind];
    if (args.out.empty())
        args.out = std::filesystem::path(args.in).filename().string() + ".png";
    return args;
}

template <typename T>
std::vector<nvtools::Panel> panels_of(const nvtools::Recording& recording,
                                      const std::vector<const T*>& channels,
                                      const nvtools::PlotLayout& layout) {
    std::vector<nvtools::Panel> panels;
    for (size_t c = 0; c < channels.size(); ++c)
        panels.push_back(
            {"channel " + std::to_string(recording.model->get_channel_info(c).m_channel),
             nvtools::envelope(recording.model->get_time(), channels[c], layout.from, layout.to,
                               static_cast<size_t>(layout.width))});
    return panels;
}

// The panels of every channel; TM4 values keep their fractions, the other
// formats are drawn from their samples in place.
std::vector<nvtools::Panel> panels(const nvtools::Recording& recording,
                                   const nvtools::PlotLayout& layout) {
    if (recording.format == nvtools::Format::tm4) {
        const auto values = nvtools::channel_values(recording);
        std::vector<const double*> channels;
        for (const auto& channel : values)
            channels.push_back(channel.data());
        return panels_of(recording, channels, layout);
    }
    std::vector<const int32_t*> channels;
    for (size_t c = 0; c < recording.channels(); ++c)
        channels.push_back(recording.model->get_data(c).data());
    return panels_of(recording, channels, layout);
}

std::string title_of(const nvtools::Recording& recording) {
    std::ostringstream title;
    title << std::filesystem::path(recording.file).filename().string() << ", station "
          << nvtools::station_name(recording).value_or("unknown") << ", "
          << recording.model->get_frequency() << " Hz";
    return title.str();
}

void plot(const Arguments& args) {
    nvtools::Recording recording;
    try {
        recording = nvtools::load_recording(args.in);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(args.in + ": " + e.what());
    }
    const std::vector<double>& time = recording.model->get_time();
    nvtools::PlotLayout layout;
    layout.title = title_of(recording);
    layout.width = args.width;
    layout.height = args.height;
    const auto [first, last] = std::minmax_element(time.begin(), time.end());
    layout.from = args.from.value_or(*first);
    layout.to = args.to.value_or(*last);
    if (!(layout.from < layout.to))
        throw std::runtime_error(args.in + ": the time range to draw is empty (from " +
                                 nvtools::iso_time(layout.from) + " to " +
                                 nvtools::iso_time(layout.to) + ")");
    if (layout.to < *first || layout.from > *last)
        throw std::runtime_error(args.in + ": no samples between " +
                                 nvtools::iso_time(layout.from) + " and " +
                                 nvtools::iso_time(layout.to));

    nvtools::OutputFile picture(args.out);
    picture.close_stream();
    layout.output = picture.temporary_name();
    try {
        nvtools::run_gnuplot(nvtools::gnuplot_script(layout, panels(recording, layout)));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(args.out + ": " + e.what() + "; no picture written");
    }
    if (std::filesystem::file_size(picture.temporary_name()) == 0)
        throw std::runtime_error(args.out + ": gnuplot wrote an empty picture");
    picture.commit();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        plot(parse_arguments(argc, argv));
        return 0;
    } catch (const UsageError& e) {
        std::cerr << "nvplot: " << e.what() << "\n" << usage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "nvplot: " << e.what() << "\n";
        return 1;
    }
}
