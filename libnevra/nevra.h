// Format detection of input files, and the reader of legacy 16-bit sample
// files (binary and ASCII) with their comment line, the start day and hour
// taken from the file name, record delivery and time-gap counting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Nevra {

class Nevra_Base;

// ---- Format detection of every input format ----

// What the first bytes of an input file say about its format.
enum input_format {
    INPUT_FORMAT_NONE,    // no reader: "!S512"/"!S128" without a line end
    INPUT_FORMAT_BLOCK,   // "nv24" block file
    INPUT_FORMAT_TM4,     // TM4 text file
    INPUT_FORMAT_LEGACY,  // legacy binary or ASCII sample file
};

// Classifies the first bytes of a file (at most 3072 are looked at; head is
// what a read of the file's start returned).
input_format classify_input(std::string_view head);

// Opens name, classifies it and constructs the matching reader, owned by the
// caller. Null when the file cannot be opened or classify_input finds no reader.
Nevra_Base* nvdetect(const char* name, double current_nvtime);

// ---- Comment line ----

// Binds the form parsers' results to the caller's variables.
struct arguments {
    arguments(double& frequency, int& gain, std::string& station, char& c, int& len, bool& unixtime,
              std::string& date_from_comment, std::string& time_from_comment);

    double& m_frequency;
    int& m_gain;
    std::string& m_station;
    char& m_c;
    int& m_len;
    bool& m_unixtime;
    std::string& m_date_from_comment;
    std::string& m_time_from_comment;
};

bool valid_comment_type1(const char* comment, const arguments& arg);
bool valid_comment_type2(const char* comment, const arguments& arg);
bool valid_comment_type3(const char* comment, const arguments& arg);
bool parse_date(const arguments& arg, time_t& date, time_t& t0);
bool validate_comment(const char* comment);

// How many digits a composed comment line gives the sampling frequency:
// six significant ones (vimsor's results), or as many as it takes to read
// back the same double (conversions).
enum class FrequencyDigits { six_significant, round_trip };

// The comment line of the third form, as valid_comment_type3 reads it:
// "!S512Tidserier sampfrek: <frequency> gain: <gain> station: <station>
// date: YYYY-MM-DD time: HH:MM:SS", the date and time those of the second
// start in UTC; without them when start has no calendar date.
std::string compose_comment(double frequency, int gain, const std::string& station, time_t start,
                            FrequencyDigits digits);

// Seconds since 1970-01-01 00:00:00 UTC of a broken-down UTC time; fields out
// of range carry over. Independent of the process's time zone.
time_t my_timegm(struct tm* tm);

// ---- Legacy reader ----

struct NEVRA_arguments {
    bool m_concat = false;
    bool m_old_file_type = false;
    bool m_fail_parse_path = false;
    bool m_quiet = false;
};

using atype = std::array<std::vector<double>, 3>;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using NvFileHandle = std::unique_ptr<FILE, FileCloser>;

class NEVRA {
public:
    enum { LINELEN = 256, SECS_PER_DAY = 86400, FBUFSIZE = 51200, Max = 514 };

    static const char* const shortVersion;
    static const char* const Version;
    static const char* const Copyright;
    static const char* const Bugs;

    NEVRA(const char* filename, NEVRA_arguments* args);
    NEVRA(const NEVRA&) = delete;
    NEVRA& operator=(const NEVRA&) = delete;

    virtual int readcomment() = 0;
    // Reads one record: L samples per channel into nn, and for current files
    // the two time words into rtime[0], rtime[1]. 0 on success, -1 otherwise.
    virtual int read(atype& nn, int* rtime) = 0;
    virtual ~NEVRA();
    virtual const char* type() const = 0;
    virtual bool is_binary() const = 0;

    // Record delivery: 0 when a record is in current, -1 at the end.
    int getdata();
    time_t get_nvtime(int t) const;
    time_t get_nvtimenext() const { return get_nvtime(2); }

    bool parse_comment(const char* comment);
    bool set_time_start_of_day(const char* filename);
    void set_time_base(const char* filename);
    time_t get_start_of_day() const;

    size_t get_length() const { return m_length; }
    double get_frequency() const { return m_frequency; }
    int get_gain() const { return m_gain; }
    char get_station() const { return m_station.empty() ? '\0' : m_station[0]; }
    const char* firstline() const { return m_firstline.c_str(); }
    bool uncertain_year() const { return m_uncertain_year; }
    bool is_unixtime() const { return m_unixtime; }
    bool is_old_file_type() const { return m_old_file_type; }
    void set_oldfile() { m_old_file_type = true; }
    void set_micorder(unsigned int a, unsigned int b, unsigned int c) {
        m_micorder[0] = a;
        m_micorder[1] = b;
        m_micorder[2] = c;
    }
    // Drops the look-ahead record, so that the next getdata reads afresh.
    void set_newfile() { m_is_next = m_use_next = false; }
    bool is_newfile() const { return !m_is_next; }
    bool is_timegap() const { return m_timegaps > 0; }
    // True when current holds the delivered record and its contiguous successor.
    bool extended_data() const { return m_use_next; }
    int timegaps() const { return m_timegaps; }

protected:
    static uint16_t le16toh16(const unsigned char* bytes) {
        return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    // The block length a comment line states: 512 or 128.
    static size_t length_from_comment(const char* comment);
    [[noreturn]] void fail_comment_read() const;
    void warn_uncertain_year(const char* filename) const;
    void read_and_parse_comment(const char* filename);
    int read_comment_line(int terminator);

    size_t m_length = 128;
    bool m_concat = false;
    NvFileHandle m_fd;
    bool m_is_next = false;
    bool m_use_next = false;
    bool m_old_file_type = false;
    unsigned int m_micorder[3] = {0, 1, 2};
    double m_frequency = -1.0;
    int m_timegaps = 0;
    bool m_unixtime = false;
    bool m_quiet = false;
    int m_gain = -1;
    std::string m_station;
    bool m_uncertain_year = true;
    std::string m_date_from_comment;
    std::string m_time_from_comment;

private:
    int readnext(atype& nn);
    bool time_is_ok();
    bool can_we_use_next();
    void copy_next_to_current();
    void extend_current();

    time_t m_start_of_day = 0;
    time_t m_time_base = 0;
    int m_time[4] = {0, 0, 0, 0};

public:
    atype current;
    atype next;
    std::string m_firstline;
};

class BinaryNEVRA : public NEVRA {
public:
    BinaryNEVRA(const char* filename, NEVRA_arguments* args);
    int readcomment() override;
    int read(atype& nn, int* rtime) override;
    const char* type() const override { return "binary"; }
    bool is_binary() const override { return true; }
};

class AsciiNEVRA : public NEVRA {
public:
    AsciiNEVRA(const char* filename, NEVRA_arguments* args);
    int readcomment() override;
    int read(atype& nn, int* rtime) override;
    const char* type() const override { return "text"; }
    bool is_binary() const override { return false; }

private:
    int read_block(char* line, std::vector<double>& samples, double time_values[2]);
};

bool is_eol(char c);
bool validlength(size_t length);

// Chooses the binary or ASCII legacy reader for a legacy file; the caller owns it.
NEVRA* detect(const char* filename, NEVRA_arguments* arguments);
NEVRA* detect(const char* filename, bool concat, bool old_file_type, bool fail_parse_path);

}  // namespace Nevra
