// nvconvert [options] IN OUT: a recording to miniSEED, miniSEED to TM4.

#include "command_line.h"
#include "convert.h"
#include "miniseed_read.h"
#include "miniseed_write.h"

#include <charconv>
#include <iostream>
#include <string>

namespace {

constexpr const char* usage =
    "usage: nvconvert [options] IN OUT\n"
    "  OUT's format comes from its extension (.mseed, .msd, .miniseed: miniSEED; .tm4: TM4) or "
    "--to.\n"
    "  --to=mseed|tm4          format of OUT\n"
    "  to miniSEED (IN: any recording or result vimsor reads):\n"
    "  --network=NN            network code (default XX)\n"
    "  --station-code=STA      station code (default: the station table's code;\n"
    "                          a station it lacks: its name, upper case, 5 characters)\n"
    "  --record-length=BYTES   record length, a power of two (default 4096)\n"
    "  to TM4 (IN: miniSEED):\n"
    "  --channels=PATTERN,...  SEED ids (NET.STA.LOC.CHA, shell wildcards) of the 3 to 8 traces\n"
    "  --station=NAME          station of the comment line (default: from the station code)\n"
    "  --gain=N                gain of the comment line (default 1)\n";

enum class Target { none, miniseed, tm4 };

struct Arguments {
    Target target = Target::none;
    nvtools::MiniseedOptions miniseed;
    nvtools::Tm4Options tm4;
    std::string in, out;
};

using nvtools::UsageError;

Target target_named(const std::string& name) {
    if (name == "mseed" || name == "msd" || name == "miniseed")
        return Target::miniseed;
    if (name == "tm4")
        return Target::tm4;
    return Target::none;
}

Target target_of_extension(const std::string& file) {
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos || file.find('/', dot) != std::string::npos)
        return Target::none;
    return target_named(file.substr(dot + 1));
}

int whole_number(const std::string& option, const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw UsageError("--" + option + " needs a whole number, not \"" + text + "\"");
    return value;
}

std::vector<std::string> split_patterns(const std::string& text) {
    std::vector<std::string> patterns;
    size_t from = 0;
    for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
        patterns.push_back(text.substr(from, comma - from));
    patterns.push_back(text.substr(from));
    return patterns;
}

std::vector<nvtools::Option> options_of(Arguments& args) {
    return {
        {"to", true,
         [&args](const std::string& value) {
             args.target = target_named(value);
             if (args.target == Target::none)
                 throw UsageError("--to takes mseed or tm4, not \"" + value + "\"");
         }},
        {"network", true, [&args](const std::string& value) { args.miniseed.network = value; }},
        {"station-code", true,
         [&args](const std::string& value) { args.miniseed.station_code = value; }},
        {"record-length", true,
         [&args](const std::string& value) {
             args.miniseed.record_length = whole_number("record-length", value);
             if (!nvtools::valid_record_length(args.miniseed.record_length))
                 throw UsageError("--record-length must be a power of two from 128 to 1048576");
         }},
        {"channels", true,
         [&args](const std::string& value) {
             for (const std::string& pattern : split_patterns(value))
                 args.tm4.channel_patterns.push_back(pattern);
         }},
        {"station", true,
         [&args](const std::string& value) {
             if (value.empty() || value.find_first_of(" \t\r\n") != std::string::npos)
                 throw UsageError("--station needs a name without blanks");
             args.tm4.station = value;
         }},
        {"gain", true,
         [&args](const std::string& value) {
             args.tm4.gain = whole_number("gain", value);
             if (args.tm4.gain < 1)
                 throw UsageError("--gain must be at least 1");
         }},
    };
}

// IN and OUT, and OUT's format from its extension unless --to gave it.
void take_files(Arguments& args, const std::vector<std::string>& files) {
    args.in = files[0];
    args.out = files[1];
    if (args.target == Target::none)
        args.target = target_of_extension(args.out);
    if (args.target == Target::none)
        throw UsageError("the format of " + args.out +
                         " is unknown; name it .mseed or .tm4, or give --to");
}

bool is_miniseed(const std::string& file) {
    try {
        return nvtools::is_miniseed_file(file);
    } catch (const std::runtime_error& e) {
        throw nvtools::FileError(file, e.what());
    }
}

int convert(const Arguments& args) {
    const bool from_miniseed = is_miniseed(args.in);
    if (args.target == Target::miniseed) {
        if (from_miniseed)
            throw nvtools::FileError(args.in, "is miniSEED already");
        nvtools::recording_to_miniseed(args.in, args.out, args.miniseed);
        return 0;
    }
    if (!from_miniseed)
        throw nvtools::FileError(args.in,
                                 "TM4 output is made from miniSEED input (vimsor's recordings are "
                                 "written to miniSEED; vimsor --mode=tm4 writes results in TM4)");
    for (const std::string& name : nvtools::miniseed_to_tm4(args.in, args.out, args.tm4))
        std::cout << "nvconvert: wrote " << name << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    const nvtools::Program program{
        .name = "nvconvert",
        .usage = usage,
        .options = options_of(args),
        .min_operands = 2,
        .max_operands = 2,
        .operands_wanted = "needs an input and an output file",
    };
    return nvtools::run_program(program, argc, argv,
                                [&args](const std::vector<std::string>& files) {
                                    take_files(args, files);
                                    return convert(args);
                                });
}
