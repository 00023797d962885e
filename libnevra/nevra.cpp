#include "nevra.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <locale>
#include <sstream>
#include <stdexcept>

#include "common.h"
#include "nevra16.h"
#include "nevra24.h"
#include "nevra_tm4.h"

namespace Nevra {

namespace {

constexpr const char* source_unit = "nevra";

void trace(int line, const std::string& text) {
    if (nevra_debug)
        debug_trace(source_unit, line, text);
}

const char invalid_comment_text[] =
    ": Invalid comment line\nCouldn't determine sampling frequency\ndefaulting to 18.0Hz\n";

// ---------------------------------------------------------------- detection

constexpr size_t initial_amount_to_read = 5;
constexpr size_t amount_to_read = 3072;
constexpr size_t block512_bytes = 1028;
constexpr size_t block128_bytes = 260;

// Whether the 4 bytes at a equal the 4 bytes at b; bytes past the buffer
// count as not equal, since a first line that ends late leaves no room for
// three blocks.
bool same_word_pair(const unsigned char* data, size_t a, size_t b) {
    if (a + 4 > amount_to_read || b + 4 > amount_to_read)
        return false;
    return std::memcmp(data + a, data + b, 4) == 0;
}

bool time_words_repeat(const unsigned char* data, size_t p, size_t block_bytes) {
    return same_word_pair(data, p, p + block_bytes) && same_word_pair(data, p, p + 2 * block_bytes);
}

// How many numbers the first line of text begins with.
int count_leading_numbers(const char* text) {
    const char* end = std::strchr(text, '\n');
    std::istringstream line(end ? std::string(text, end) : std::string(text));
    line.imbue(std::locale::classic());
    int count = 0;
    double value = 0.0;
    while (line >> value)
        ++count;
    return count;
}

input_format classify_text(const char* text) {
    const int count = count_leading_numbers(text);
    if (count >= 4 && count <= 127) {
        trace(__LINE__, "Trying text TM4\n");
        return INPUT_FORMAT_TM4;
    }
    trace(__LINE__, "Trying text !S512\n");
    return INPUT_FORMAT_LEGACY;
}

}  // namespace

input_format classify_input(std::string_view head) {
    if (head.size() < initial_amount_to_read)
        return INPUT_FORMAT_LEGACY;
    if (head.substr(0, 4) == "nv24") {
        trace(__LINE__, "Trying nv24\n");
        return INPUT_FORMAT_BLOCK;
    }
    unsigned char data[amount_to_read] = {};
    std::memcpy(data, head.data(), std::min(head.size(), amount_to_read));
    data[amount_to_read - 1] = 0;

    const std::string_view start = head.substr(0, 5);
    if (start != "!S512" && start != "!S128")
        return INPUT_FORMAT_LEGACY;

    size_t found = 0;
    while (found < amount_to_read && data[found] != '\r' && data[found] != '\n')
        ++found;
    if (found == amount_to_read)
        return INPUT_FORMAT_NONE;

    // data[3071] is zero, so found + 1 is still inside the buffer.
    size_t text_start = found + 1;
    if (data[found] == '\r') {
        const size_t p = found + 1;
        if (time_words_repeat(data, p, block512_bytes)) {
            trace(__LINE__, "Trying binary !S512\n");
            return INPUT_FORMAT_LEGACY;
        }
        if (time_words_repeat(data, p, block128_bytes)) {
            trace(__LINE__, "Trying binary !S128\n");
            return INPUT_FORMAT_LEGACY;
        }
        if (data[p] != '\n')
            return INPUT_FORMAT_LEGACY;
        text_start = p + 1;
    }
    return classify_text(reinterpret_cast<const char*>(data) + text_start);
}

Nevra_Base* nvdetect(const char* name, double current_nvtime) {
    std::string head(amount_to_read, '\0');
    size_t got = 0;
    {
        NvFileHandle in(std::fopen(name, "rb"));
        if (!in)
            return nullptr;
        got = std::fread(head.data(), 1, head.size(), in.get());
    }
    head.resize(got);
    switch (classify_input(head)) {
    case INPUT_FORMAT_BLOCK: return new NEVRA24(name);
    case INPUT_FORMAT_TM4: return new NEVRA_TM4(name, current_nvtime);
    case INPUT_FORMAT_LEGACY: return new NEVRA16(name, current_nvtime);
    case INPUT_FORMAT_NONE: break;
    }
    return nullptr;
}

// ---------------------------------------------------------------- time from file name

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (month 1 to 12).
long long days_from_civil(long long year, long long month, long long day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long year_of_era = year - era * 400;
    const long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

long long floor_div(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool valid_slot(int slot) { return slot >= 0 && slot <= 47; }

time_t day_start(int year, int month, int day) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = 0;
    return my_timegm(&tm);
}

std::string stem_of(const std::string& name) {
    const size_t slash = name.rfind('/');
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos)
        base.resize(dot);
    return base;
}

// The tails of a name: the text after each '/', from left to right.
std::vector<const char*> tails_of(const char* name) {
    std::vector<const char*> tails;
    for (const char* p = std::strchr(name, '/'); p; p = std::strchr(p + 1, '/'))
        tails.push_back(p + 1);
    return tails;
}

// .../YYYY/MM/YYYYMMDD/LyMMDDTT.
bool match_year_directory(const char* text, time_t& day) {
    int y1 = 0, m1 = 0, y = 0, m = 0, d = 0, y_digit = 0, m2 = 0, d2 = 0, slot = 0;
    char letter = 0;
    if (std::sscanf(text, "%04d%*c%02d%*c%04d%02d%02d%*c%c%1d%02d%02d%02d.", &y1, &m1, &y, &m, &d,
                    &letter, &y_digit, &m2, &d2, &slot) != 10)
        return false;
    if (y1 != y || m1 != m || m1 != m2 || d2 != d || y1 % 10 != y_digit || !valid_slot(slot))
        return false;
    day = day_start(y1, m1, d2);
    return true;
}

// YYYYMMDD/LyMMDDTT.
bool match_date_directory(const char* text, time_t& day) {
    int y = 0, m = 0, d = 0, y_digit = 0, m2 = 0, d2 = 0, slot = 0;
    char letter = 0;
    if (std::sscanf(text, "%04d%02d%02d%*c%c%1d%02d%02d%02d.", &y, &m, &d, &letter, &y_digit, &m2,
                    &d2, &slot) != 8)
        return false;
    if (m2 != m || d2 != d || y % 10 != y_digit || !valid_slot(slot))
        return false;
    day = day_start(y, m2, d2);
    return true;
}

}  // namespace

time_t my_timegm(struct tm* tm) {
    // Carry the month into the year first, then count everything else in
    // seconds, so every out-of-range field rolls over like calendar arithmetic.
    const long long month = tm->tm_mon;
    const long long year = 1900LL + tm->tm_year + floor_div(month, 12);
    const long long month_in_year = month - floor_div(month, 12) * 12;
    const long long days = days_from_civil(year, month_in_year + 1, 1) + (tm->tm_mday - 1LL);
    return static_cast<time_t>(days * 86400 + tm->tm_hour * 3600LL + tm->tm_min * 60LL +
                               tm->tm_sec);
}

bool NEVRA::set_time_start_of_day(const char* filename) {
    time_t day = 0;
    const std::vector<const char*> tails = tails_of(filename);
    bool found = std::any_of(tails.begin(), tails.end(),
                             [&](const char* tail) { return match_year_directory(tail, day); });
    if (!found) {
        found = match_date_directory(filename, day) ||
                std::any_of(tails.begin(), tails.end(),
                            [&](const char* tail) { return match_date_directory(tail, day); });
    }
    bool uncertain = false;
    if (!found) {
        char letter = 0;
        int y = 0, m = 0, d = 0, slot = 0;
        if (std::sscanf(filename, "%c%04d%02d%02d%02d.", &letter, &y, &m, &d, &slot) == 5) {
            if (!valid_slot(slot))
                return false;
            day = day_start(y, m, d);
        } else {
            if (std::sscanf(filename, "%c%1d%02d%02d%02d.", &letter, &y, &m, &d, &slot) != 5 ||
                !valid_slot(slot))
                return false;
            day = day_start(2010 + y, m, d);
            uncertain = true;
        }
    }
    m_start_of_day = day;
    m_uncertain_year = uncertain;
    trace(__LINE__,
          Formatter() << "File name " << filename << " Start of day represents " << day << "\n");
    return true;
}

void NEVRA::set_time_base(const char* filename) {
    const std::string stem = stem_of(filename);
    char letter = 0;
    int y = 0, m = 0, d = 0, slot = 0;
    if (std::sscanf(stem.c_str(), "%c%1d%02d%02d%02d", &letter, &y, &m, &d, &slot) == 5 &&
        valid_slot(slot))
        m_time_base = static_cast<time_t>(slot / 2) * 3600;
}

time_t NEVRA::get_start_of_day() const {
    if (m_date_from_comment.empty())
        return m_start_of_day;
    int y = 0, m = 0, d = 0;
    if (std::sscanf(m_date_from_comment.c_str(), "%04d-%02d-%02d", &y, &m, &d) < 3)
        return 0;
    if (y < 1970 || m < 1 || m > 12 || d < 1 || d > 31)
        return 0;
    return day_start(y, m, d);
}

// ---------------------------------------------------------------- comment line

arguments::arguments(double& frequency, int& gain, std::string& station, char& c, int& len,
                     bool& unixtime, std::string& date_from_comment, std::string& time_from_comment)
    : m_frequency(frequency),
      m_gain(gain),
      m_station(station),
      m_c(c),
      m_len(len),
      m_unixtime(unixtime),
      m_date_from_comment(date_from_comment),
      m_time_from_comment(time_from_comment) {}

bool valid_comment_type1(const char* comment, const arguments& arg) {
    return std::sscanf(comment, "!Tidserier %lf %d", &arg.m_frequency, &arg.m_gain) >= 1;
}

bool valid_comment_type2(const char* comment, const arguments& arg) {
    return std::sscanf(comment, "!Tidserier  sampfrek: %lf gain: %d", &arg.m_frequency,
                       &arg.m_gain) >= 1;
}

namespace {

// Room for a %255[^ ] conversion (255 characters and the NUL), keeping the
// current text in front.
char* scan_target(std::string& text) {
    if (text.size() < 256)
        text.resize(256, '\0');
    return text.data();
}

void cut_at_nul(std::string& text) {
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
}

}  // namespace

bool valid_comment_type3(const char* comment, const arguments& arg) {
    int after_freq = 0, after_gain = 0, after_station = 0, after_date = 0, after_time = 0;
    const int converted = std::sscanf(
        comment,
        "!%c%dTidserier sampfrek: %lf%n gain: %d%n station: %255[^ ]%n date: %255[^ ]%n time: "
        "%255[^ ]%n",
        &arg.m_c, &arg.m_len, &arg.m_frequency, &after_freq, &arg.m_gain, &after_gain,
        scan_target(arg.m_station), &after_station, scan_target(arg.m_date_from_comment),
        &after_date, scan_target(arg.m_time_from_comment), &after_time);
    cut_at_nul(arg.m_station);
    cut_at_nul(arg.m_date_from_comment);
    cut_at_nul(arg.m_time_from_comment);
    trace(__LINE__, Formatter() << "Comment \"" << comment << "\" scanned " << converted
                                << " frequency " << arg.m_frequency << " gain " << arg.m_gain
                                << " date " << arg.m_date_from_comment << " time "
                                << arg.m_time_from_comment << "\n");
    if (converted < 3)
        return false;
    if (arg.m_len != 128 && arg.m_len != 512)
        std::cerr << "WARNING: nonstandard length: " << arg.m_len << "\n";
    arg.m_unixtime = arg.m_c == 'U';
    return arg.m_c == 'S' || arg.m_c == 'U';
}

bool parse_date(const arguments& arg, time_t& date, time_t& t0) {
    int year = 0, month = 0, day = 0;
    if (std::sscanf(arg.m_date_from_comment.c_str(), "%04d%*c%02d%*c%02d", &year, &month, &day) < 3)
        return false;
    struct tm date_tm {};
    date_tm.tm_year = year - 1900;
    date_tm.tm_mon = month - 1;
    date_tm.tm_mday = day;
    date_tm.tm_isdst = 0;
    struct tm start_tm = date_tm;
    int hour = 0, minute = 0, second = 0;
    if (std::sscanf(arg.m_time_from_comment.c_str(), "%02d%*c%02d%*c%02d", &hour, &minute,
                    &second) == 3) {
        start_tm.tm_hour = hour;
        start_tm.tm_min = minute;
        start_tm.tm_sec = second;
    }
    date = my_timegm(&date_tm);
    t0 = my_timegm(&start_tm);
    trace(__LINE__, Formatter() << "Date " << date << " Start of day represents " << t0 << "\n");
    return true;
}

bool validate_comment(const char* comment) {
    double frequency = -1.0;
    int gain = -1;
    char letter = '\0';
    int length = 0;
    bool unixtime = false;
    std::string station, date_text, time_text;
    const arguments arg(frequency, gain, station, letter, length, unixtime, date_text, time_text);
    if (valid_comment_type1(comment, arg) || valid_comment_type2(comment, arg))
        return true;
    if (valid_comment_type3(comment, arg)) {
        time_t date = 0, t0 = 0;
        parse_date(arg, date, t0);
        return true;
    }
    std::cerr << "validate_comment" << invalid_comment_text;
    return false;
}

std::string compose_comment(double frequency, int gain, const std::string& station, time_t start,
                            FrequencyDigits digits) {
    std::string line = "!S512Tidserier sampfrek: ";
    if (digits == FrequencyDigits::round_trip) {
        line += round_trip_text(frequency);
    } else {
        char number[32];
        line.append(number, std::to_chars(number, number + sizeof number, frequency,
                                          std::chars_format::general, 6)
                                .ptr);
    }
    line += " gain: " + std::to_string(gain) + " station: " + station;
    struct tm utc {};
    char date[64];
    if (gmtime_r(&start, &utc) != nullptr &&
        std::strftime(date, sizeof date, " date: %F time: %T", &utc) != 0)
        line += date;
    return line;
}

bool NEVRA::parse_comment(const char* comment) {
    m_frequency = -1.0;
    m_gain = -1;
    m_station.clear();
    m_date_from_comment.clear();
    m_time_from_comment.clear();
    char letter = '\0';
    int length = 0;
    const arguments arg(m_frequency, m_gain, m_station, letter, length, m_unixtime,
                        m_date_from_comment, m_time_from_comment);
    if (valid_comment_type1(comment, arg) || valid_comment_type2(comment, arg))
        return true;
    if (!valid_comment_type3(comment, arg)) {
        std::cerr << "parse_comment" << invalid_comment_text;
        m_frequency = 18.0;
        return false;
    }
    time_t date = 0, t0 = 0;
    if (!parse_date(arg, date, t0))
        return true;
    m_start_of_day = date;
    if (date <= t0)
        m_time_base = 0;
    m_uncertain_year = false;
    return true;
}

// ---------------------------------------------------------------- legacy reader

const char* const NEVRA::shortVersion = "1.0";
const char* const NEVRA::Version = "libnevra 1.0, legacy sample-file reader";
const char* const NEVRA::Copyright = "Copyright (C) the vimsor authors";
const char* const NEVRA::Bugs = "Report bugs to the vimsor maintainers";

namespace {

// The environment keeps a pointer to this text.
char TZ[7] = "TZ=UTC";

void use_utc(bool quiet) {
    tzset();
    if (std::strcmp(tzname[0], "UTC") == 0)
        return;
    if (!quiet)
        std::cerr << "Info: setting TZ=UTC\n";
    if (putenv(TZ) != 0)
        std::cerr << "putenv: " << std::strerror(errno) << "\n";
    tzset();
}

}  // namespace

NEVRA::NEVRA(const char* filename, NEVRA_arguments* args)
    : m_concat(args->m_concat),
      m_fd(std::fopen(filename, "rb")),
      m_old_file_type(args->m_old_file_type),
      m_quiet(args->m_quiet) {
    use_utc(m_quiet);
    set_micorder(0, 1, 2);
    try {
        for (auto& samples : current)
            samples.assign(2 * Max, 0.0);
        for (auto& samples : next)
            samples.assign(2 * Max, 0.0);
    } catch (const std::exception& e) {
        std::cerr << "Standard exception: " << e.what() << "\n";
        std::exit(1);
    }
    m_firstline.clear();
    if (!set_time_start_of_day(filename) && args->m_fail_parse_path) {
        std::cerr << "Can't parse date & time from path (" << filename << ") & fail_parse_path == "
                  << "1"
                  << "\n";
        std::exit(1);
    }
    set_time_base(filename);
    if (!m_fd) {
        std::cerr << "Can't open " << filename << "\n";
        std::exit(1);
    }
    trace(__LINE__, Formatter() << "Opened " << filename << " start of day " << m_start_of_day
                                << " hour base " << m_time_base << "\n");
}

NEVRA::~NEVRA() {
    if (m_timegaps > 1)
        std::cerr << "Warning: TIMEGAPs in data\n";
    else if (m_timegaps == 1)
        std::cerr << "TIMEGAP in data\n";
}

size_t NEVRA::length_from_comment(const char* comment) {
    size_t length = 0;
    if (std::sscanf(comment, "!%*[!SUsu]%zu", &length) == 1 && validlength(length))
        return length;
    return 128;
}

void NEVRA::fail_comment_read() const {
    if (errno != 0)
        std::cerr << "fgetc: " << std::strerror(errno) << "\n";
    std::cerr << "fgetc: EOF \n";
    std::exit(1);
}

void NEVRA::warn_uncertain_year(const char* filename) const {
    if (m_uncertain_year)
        std::cerr << "Warning: year parsed from filename, " << filename << ", is uncertain\n";
}

// The concrete constructors' common part (readcomment and type dispatch to the
// concrete class, whose constructor is running).
void NEVRA::read_and_parse_comment(const char* filename) {
    if (!m_quiet)
        std::cerr << "File: " << filename << " Type:" << type() << "\n";
    readcomment();
    parse_comment(m_firstline.c_str());
    warn_uncertain_year(filename);
}

// Reads the comment line up to terminator, which is consumed; carriage
// returns are never part of the line. Returns 0, with the character pushed
// back, when the file does not start with a comment line.
int NEVRA::read_comment_line(int terminator) {
    FILE* file = m_fd.get();
    errno = 0;
    int c = std::fgetc(file);
    if (c == EOF)
        fail_comment_read();
    if (c != '!' && c != 'T') {
        if (std::ungetc(c, file) == EOF)
            fail_comment_read();
        return 0;
    }
    if (c == 'T')
        m_old_file_type = true;
    m_firstline.push_back(static_cast<char>(c));
    while ((c = std::fgetc(file)) != EOF && c != terminator) {
        if (c != '\r')
            m_firstline.push_back(static_cast<char>(c));
    }
    if (c == EOF)
        fail_comment_read();
    m_length = length_from_comment(m_firstline.c_str());
    trace(__LINE__,
          Formatter() << "Comment " << m_firstline << " block length " << m_length << "\n");
    return 1;
}

// ---- binary files

BinaryNEVRA::BinaryNEVRA(const char* filename, NEVRA_arguments* args) : NEVRA(filename, args) {
    read_and_parse_comment(filename);
}

// A binary file ends its comment line with a carriage return.
int BinaryNEVRA::readcomment() { return read_comment_line('\r'); }

int BinaryNEVRA::read(atype& nn, int* rtime) {
    const size_t header_words = m_old_file_type ? 0 : 2;
    const size_t words = m_length + header_words;  // at most Max
    unsigned char block[2 * Max] = {};
    FILE* file = m_fd.get();
    for (unsigned k = 0; k < 3; ++k) {
        errno = 0;
        const size_t got = std::fread(block, 2, words, file);
        if (got < words) {
            if (got == 0)
                return -1;
            if (std::ferror(file))
                std::cerr << "fread: can't read data\n";
            else if (std::feof(file))
                std::cerr << "fread: EOF\n";
            return -1;
        }
        std::vector<double>& samples = nn[m_micorder[k]];
        for (size_t j = 0; j < m_length; ++j)
            samples[j] = static_cast<int16_t>(le16toh16(block + 2 * (header_words + j)));
    }
    if (!m_old_file_type) {
        const uint16_t minute_word = le16toh16(block);
        const uint16_t second_word = le16toh16(block + 2);
        rtime[0] = m_unixtime ? minute_word : static_cast<int16_t>(minute_word);
        rtime[1] = m_unixtime ? second_word : static_cast<int16_t>(second_word);
    }
    return 0;
}

// ---- ASCII files

AsciiNEVRA::AsciiNEVRA(const char* filename, NEVRA_arguments* args) : NEVRA(filename, args) {
    read_and_parse_comment(filename);
}

// A text file ends its comment line with a line feed; carriage returns are dropped.
int AsciiNEVRA::readcomment() { return read_comment_line('\n'); }

namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_skipped_line(const char* line) {
    return line[0] == '!' || line[0] == '\n' || is_ascii_letter(line[0]);
}

// Scans one value like " %lf%n" from pos. The token is cut at its first
// white space while it is scanned, so each scan looks at the token only
// instead of the whole remaining line; a number never spans white space, so
// the result is that of scanning the whole rest.
bool scan_value(char*& pos, double& value) {
    while (is_scanf_space(*pos))
        ++pos;
    char* end = pos;
    while (*end != '\0' && !is_scanf_space(*end))
        ++end;
    if (read_plain_decimal(pos, end, value) != nullptr) {
        pos = end;  // the token holds no white space, so the number is all of it
        return true;
    }
    const char saved = *end;
    *end = '\0';
    int used = 0;
    const bool ok = std::sscanf(pos, "%lf%n", &value, &used) == 1;
    *end = saved;
    if (ok)
        pos += used;
    return ok;
}

// Time values are rounded half away from zero; values beyond the int range
// are held at its limits, and a NaN counts as 0.
int rounded_time_value(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::round(value);
    if (rounded <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (rounded >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(rounded);
}

}  // namespace

// Reads one data line into samples; for current files the two time values
// into time_values. 0 on success, -1 otherwise.
int AsciiNEVRA::read_block(char* line, std::vector<double>& samples, double time_values[2]) {
    do {
        if (!std::fgets(line, FBUFSIZE, m_fd.get()))
            return -1;
        const size_t length = std::strlen(line);
        if (length == FBUFSIZE - 1 && line[length - 1] != '\n') {
            std::cerr << "Error: Line to long\n";
            return -1;
        }
    } while (is_skipped_line(line));

    char* pos = line;
    if (!m_old_file_type) {
        int used = 0;
        if (std::sscanf(line, " %lf%lf%n", &time_values[0], &time_values[1], &used) != 2)
            return -1;
        pos += used;
    }
    size_t stored = 0;
    double value = 0.0;
    while (stored < m_length && scan_value(pos, value))
        samples[stored++] = value;
    if (stored < m_length) {
        std::cerr << "Failed to read value " << stored + 2 << " of line:\n" << line << "\n";
        return -1;
    }
    return 0;
}

int AsciiNEVRA::read(atype& nn, int* rtime) {
    char line[FBUFSIZE];
    double time_values[2] = {0.0, 0.0};
    for (unsigned k = 0; k < 3; ++k) {
        if (read_block(line, nn[m_micorder[k]], time_values) != 0)
            return -1;
    }
    if (!m_old_file_type) {
        rtime[0] = rounded_time_value(time_values[0]);
        rtime[1] = rounded_time_value(time_values[1]);
    }
    return 0;
}

// ---------------------------------------------------------------- delivery

time_t NEVRA::get_nvtime(int t) const {
    const int minute_word = m_time[t];
    const int second_word = m_time[t + 1];
    if (m_unixtime) {
        // The 32-bit sum wraps like the recorder's signed 32-bit time.
        const uint32_t sum =
            static_cast<uint32_t>(second_word) * 65536u + static_cast<uint32_t>(minute_word);
        return static_cast<time_t>(static_cast<int32_t>(sum));
    }
    const time_t hour_base = minute_word <= 59 ? m_time_base : 0;
    return m_start_of_day + hour_base + static_cast<time_t>(minute_word) * 60 + second_word;
}

int NEVRA::getdata() {
    std::fflush(stderr);
    if (m_is_next) {
        copy_next_to_current();
        m_is_next = false;
        readnext(next);
    } else {
        const int result = read(current, m_time);
        if (result != 0)
            return result;
        readnext(next);
    }
    m_use_next = false;
    if (m_is_next)
        m_use_next = can_we_use_next();
    return 0;
}

int NEVRA::readnext(atype& nn) {
    if (!m_concat)
        return 1;
    const int result = read(nn, &m_time[2]);
    m_is_next = result == 0;
    return result;
}

bool NEVRA::time_is_ok() {
    time_t diff = get_nvtimenext() - get_nvtime(0);
    if (diff < -86000)
        diff += SECS_PER_DAY;
    const double limit = static_cast<double>(m_length) / m_frequency + 2.0;
    if (std::fabs(static_cast<double>(diff)) > limit) {
        ++m_timegaps;
        return true;
    }
    return false;
}

bool NEVRA::can_we_use_next() {
    if (time_is_ok())
        return false;
    extend_current();
    return true;
}

void NEVRA::copy_next_to_current() {
    for (size_t ch = 0; ch < 3; ++ch)
        std::copy_n(next[ch].begin(), m_length, current[ch].begin());
    m_time[0] = m_time[2];
    m_time[1] = m_time[3];
}

void NEVRA::extend_current() {
    for (size_t ch = 0; ch < 3; ++ch)
        std::copy_n(next[ch].begin(), m_length,
                    current[ch].begin() + static_cast<std::ptrdiff_t>(m_length));
}

// ---------------------------------------------------------------- legacy detection

bool is_eol(char c) { return c == '\n' || c == '\r'; }

bool validlength(size_t length) { return length == 128 || length == 512; }

NEVRA* detect(const char* filename, NEVRA_arguments* arguments) {
    char probe[NEVRA::LINELEN] = {};
    size_t line_end = 0;
    {
        errno = 0;
        NvFileHandle file(std::fopen(filename, "rb"));
        if (!file)
            throw std::runtime_error(Formatter() << "Can't open " << filename << "\n");
        if (std::fread(probe, 1, sizeof probe, file.get()) < sizeof probe)
            throw std::runtime_error("fread: EOF \n");
    }
    probe[NEVRA::LINELEN - 1] = '\0';
    while (line_end < NEVRA::LINELEN - 1 && !is_eol(probe[line_end]))
        ++line_end;
    if (line_end == NEVRA::LINELEN - 1)
        throw std::runtime_error("Found no end of first commentline\n");
    probe[line_end] = '\0';

    size_t length = 0;
    const bool valid = validate_comment(probe) ||
                       (std::sscanf(probe, "!%*[!SUsu]%zu", &length) == 1 && validlength(length));
    trace(__LINE__, Formatter() << "Valid comment: " << (valid ? 1 : 0) << "\n");
    const char* after = probe + line_end + 1;
    float a = 0, b = 0, c = 0;
    if (valid && *after != '\0' && std::sscanf(after, "%f %f %f", &a, &b, &c) == 3)
        return new AsciiNEVRA(filename, arguments);
    return new BinaryNEVRA(filename, arguments);
}

NEVRA* detect(const char* filename, bool concat, bool old_file_type, bool fail_parse_path) {
    NEVRA_arguments arguments;
    arguments.m_concat = concat;
    arguments.m_old_file_type = old_file_type;
    arguments.m_fail_parse_path = fail_parse_path;
    arguments.m_quiet = false;
    return detect(filename, &arguments);
}

}  // namespace Nevra
