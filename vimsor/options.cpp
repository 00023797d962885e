#include "options.h"

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output_formats.h"

namespace {

// Codes of the long options that have no short letter.
enum {
    OPT_VERSION = 256,
    OPT_MLVERSION,
    OPT_OPTIONS,
    OPT_ADD_OPTIONS,
    OPT_MAVLIN,
    OPT_NAMEBASE,
    OPT_MODE,
    OPT_DEBUG,
    OPT_SDEV_DIV,
    OPT_SDEV_MUL,
    OPT_QUIET,
    OPT_MARKER  // never in a command line: see mark_optopt
};

// Upper-case letters act as their lower-case twins.
const char* const short_options = "?4ABC:D:L:O:STV:W4abc:d:l:o:stv:w";

const struct option long_options[] = {
    {"mode", required_argument, nullptr, OPT_MODE},
    {"debug", no_argument, nullptr, OPT_DEBUG},
    {"ascii", no_argument, nullptr, 'a'},
    {"both", no_argument, nullptr, 'b'},
    {"cpus", required_argument, nullptr, 'c'},
    {"scale", required_argument, nullptr, 'd'},
    {"lowtreshold", required_argument, nullptr, 'l'},
    {"strong", no_argument, nullptr, 's'},
    {"treshold", required_argument, nullptr, 'v'},
    {"weak", no_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, '?'},
    {"test", no_argument, nullptr, 't'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"ver-mavlin", no_argument, nullptr, OPT_MLVERSION},
    {"sdev-div", no_argument, nullptr, OPT_SDEV_DIV},
    {"sdev-mul", no_argument, nullptr, OPT_SDEV_MUL},
    {"quiet", no_argument, nullptr, OPT_QUIET},
    {"options", required_argument, nullptr, OPT_OPTIONS},
    {"add-options", required_argument, nullptr, OPT_ADD_OPTIONS},
    {"mavlin", required_argument, nullptr, OPT_MAVLIN},
    {"namebase", required_argument, nullptr, OPT_NAMEBASE},
    {nullptr, 0, nullptr, 0},
};

int folded(int code) { return code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code; }

// The long name of the option with this code, or its letter where it has none.
std::string name_of(int code) {
    for (const option* o = long_options; o->name != nullptr; ++o)
        if (o->val == code)
            return o->name;
    return std::string(1, static_cast<char>(code));
}

bool is_short_option(int c) {
    return c > 0 && c < 256 && c != ':' && std::strchr(short_options, c) != nullptr;
}

// getopt_long sets optopt when it refuses an option and leaves it alone
// otherwise, so a '?' after which optopt still holds a code that no command
// line can give comes from -? or --help. One refusal of a table of its own
// puts that code there.
void mark_optopt() {
    static const option marker[] = {{"m", no_argument, nullptr, OPT_MARKER},
                                    {nullptr, 0, nullptr, 0}};
    char program[] = "";
    char word[] = "--m=";
    char* words[] = {program, word, nullptr};
    const int saved = opterr;
    opterr = 0;
    optind = 0;
    getopt_long(2, words, "", marker, nullptr);
    opterr = saved;
}

// The option getopt_long has just refused, as given: a long one is the whole
// word it consumed, a short one its letter. optopt holds the refused letter, or
// the refused long option's code (0 where it has none).
std::string refused_word(char** argv) {
    const bool unknown_letter = optopt != 0 && optopt < 256 && !is_short_option(optopt);
    const char* word = argv[optind - 1];
    if (!unknown_letter && std::strncmp(word, "--", 2) == 0)
        return word;
    return std::string("-") + static_cast<char>(optopt);
}

bool refuse_number(parsed_options& result, const char* word, const std::string& message) {
    result.outcome = OPTIONS_BAD_VALUE;
    result.bad_word = word;
    result.message = message;
    return false;
}

// Leading number of word; characters after it are ignored and 0 is taken.
bool read_double(const char* word, double& value, parsed_options& result) {
    char* end = nullptr;
    const double number = std::strtod(word, &end);
    if (number == 0.0 && end == word)
        return refuse_number(result, word, std::string("Error converting ") + word + " to double");
    value = number;
    return true;
}

// Decimal, 0x hexadecimal or 0 octal; characters after it are ignored.
bool read_unsigned(const char* word, unsigned long& value, parsed_options& result) {
    char* end = nullptr;
    const int saved = errno;
    errno = 0;
    const unsigned long number = std::strtoul(word, &end, 0);
    const int reason = errno;
    errno = saved;
    if (reason != 0)
        return refuse_number(result, word, std::string("strtoul: ") + std::strerror(reason));
    if (end == word)  // vimsor has always said double here
        return refuse_number(result, word, std::string("Error converting ") + word + " to double");
    value = number;
    return true;
}

// A word that names no format leaves the mode as it is.
void select_mode(const char* word, parsed_options& result) {
    std::string lower = word;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (const output_format* format = output_format_named(lower))
        result.values.mode = format->mode;
    else
        result.unknown_mode_words.push_back(word);
}

// Takes one option code of getopt_long (upper case folded) with its argument.
void apply_option(int code, const char* arg, parsed_options& result) {
    option_values& v = result.values;
    switch (code) {
    case OPT_MODE: select_mode(arg, result); break;
    case 'a': v.mode = OUTPUT_MODE_ASCII; break;
    case '4': v.mode = OUTPUT_MODE_TM4; break;
    case 'b': v.strength = both; break;
    case 's': v.strength = strong; break;
    case 'w': v.strength = weak; break;
    case 'c': read_unsigned(arg, v.cpus, result); break;
    case 'd': read_double(arg, v.scale, result); break;
    case 'l':
        if (read_double(arg, v.lowtreshold, result))
            v.bandp = true;
        break;
    case 'v': read_double(arg, v.treshold, result); break;
    case 't': v.test = true; break;
    case 'o': v.output_name = arg; break;
    case OPT_DEBUG: v.debug = true; break;
    case OPT_SDEV_DIV: v.sdev = SDEV_DIV; break;
    case OPT_SDEV_MUL: v.sdev = SDEV_MUL; break;
    case OPT_QUIET: v.quiet = true; break;
    case OPT_OPTIONS: v.options = arg; break;
    case OPT_ADD_OPTIONS: v.options += arg; break;
    case OPT_MAVLIN: v.mavlin = arg; break;
    case OPT_NAMEBASE: v.namebase = arg; break;
    case OPT_VERSION: result.outcome = OPTIONS_VERSION; break;
    case OPT_MLVERSION: result.outcome = OPTIONS_VER_MAVLIN; break;
    default: result.outcome = OPTIONS_HELP; break;  // '?'
    }
}

}  // namespace

parsed_options parse_vimsor_options(int argc, char** argv, bool diagnostics) {
    parsed_options result;
    mark_optopt();
    const int saved_opterr = opterr;
    opterr = diagnostics ? 1 : 0;
    optind = 0;  // a fresh scan
    while (result.outcome == OPTIONS_RUN) {
        const int code = folded(getopt_long(argc, argv, short_options, long_options, nullptr));
        if (code == -1)
            break;
        if (code == '?' && optopt != OPT_MARKER)
            result.refused_option = refused_word(argv);
        else
            result.seen.push_back(name_of(code));
        apply_option(code, optarg, result);
    }
    opterr = saved_opterr;
    if (result.outcome == OPTIONS_RUN)
        result.operands.assign(argv + optind, argv + argc);
    return result;
}

enum global_strength strength_in_use(const option_values& values) {
    return values.bandp ? weak : values.strength;
}
