#include "results.h"

#include "day_writer.h"
#include "tm4_write.h"

#include <fcntl.h>
#include <unistd.h>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

namespace sds {

namespace {

constexpr int64_t time_tolerance_us = 1;

Error file_error(const std::filesystem::path& file, const std::string& cause) {
    return Error(file.string() + ": " + cause);
}

// Bytes past the end of every line the reader gives that may be read (not
// used): the number reader loads eight bytes at a time.
constexpr size_t line_padding = 8;

// The lines of a file, read through one buffer of fixed size: a day's
// results run to a few hundred megabytes of text.
class LineReader {
public:
    explicit LineReader(const std::filesystem::path& file)
        : file_(file), fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0)
            throw file_error(file, std::string("cannot be opened: ") + std::strerror(errno));
    }
    ~LineReader() { ::close(fd_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its line end, valid until the next call; false
    // after the last line.
    bool next(std::string_view& line) {
        for (;;) {
            const char* from = buffer_.data() + begin_;
            const auto* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - begin_));
            if (newline != nullptr || (at_end_ && begin_ < end_)) {
                const size_t length = newline ? static_cast<size_t>(newline - from) : end_ - begin_;
                line = {from, length};
                begin_ = std::min(begin_ + length + 1, end_);
                ++number_;
                return true;
            }
            if (at_end_)
                return false;
            fill();
        }
    }

    size_t number() const { return number_; }

private:
    void fill() {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (end_ == capacity)
            throw file_error(file_, "line " + std::to_string(number_ + 1) + " is longer than " +
                                        std::to_string(capacity) + " bytes");
        const ssize_t got = ::read(fd_, buffer_.data() + end_, capacity - end_);
        if (got < 0 && errno != EINTR)
            throw file_error(file_, std::string("cannot be read: ") + std::strerror(errno));
        at_end_ = got == 0;
        end_ += static_cast<size_t>(std::max<ssize_t>(got, 0));
    }

    const std::filesystem::path& file_;
    const int fd_;
    static constexpr size_t capacity = size_t{1} << 20;
    std::vector<char> buffer_ = std::vector<char>(capacity + line_padding);
    size_t begin_ = 0, end_ = 0, number_ = 0;
    bool at_end_ = false;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The run of decimal digits at p, at most eight and at most available: its
// length and its value. Reads eight bytes at p and works on them at once,
// which is what makes reading a day's results cheap.
struct DigitRun {
    size_t length;
    uint32_t value;
};
DigitRun digit_run(const char* p, size_t available) {
    constexpr uint64_t zeros = 0x3030303030303030;  // '0' in every byte
    uint64_t bytes = 0;
    std::memcpy(&bytes, p, sizeof bytes);
    if constexpr (std::endian::native == std::endian::big)
        bytes = __builtin_bswap64(bytes);  // the first character in the lowest byte
    const uint64_t high_nibbles = bytes & 0xF0F0F0F0F0F0F0F0;
    const uint64_t past_nine = (bytes + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0;
    const uint64_t not_digits = (high_nibbles ^ zeros) | (past_nine ^ zeros);
    const size_t length = std::min<size_t>(std::countr_zero(not_digits) / 8, available);
    if (length == 0)
        return {0, 0};
    // The run's digits at the top, leading zeros below; then pairs, then all eight.
    uint64_t digits = (bytes - zeros) << (8 * (8 - length));
    digits = digits * 10 + (digits >> 8);
    digits = (((digits & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
              (((digits >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
             32;
    return {length, static_cast<uint32_t>(digits)};
}

// vimsor's own form of a value at the start of text, [-]DIGITS[.DIGITS] with
// at most six significant digits and eight digits before and after the
// point, up to a blank or the end: both the digits as a whole number and the
// power of ten are exact floats, so one division rounds the value to the
// nearest float, as strtof would. line_padding bytes after text are read.
// Returns the characters read, 0 for any other form.
size_t read_six_digit_decimal(std::string_view text, float& value) {
    static constexpr uint64_t whole_powers[] = {1,      10,      100,      1000,     10000,
                                                100000, 1000000, 10000000, 100000000};
    static constexpr float powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f};
    const bool negative = text.starts_with('-');
    size_t at = negative ? 1 : 0;
    const DigitRun whole = digit_run(text.data() + at, text.size() - at);
    at += whole.length;
    DigitRun fraction{0, 0};
    if (at < text.size() && text[at] == '.') {
        ++at;
        fraction = digit_run(text.data() + at, text.size() - at);
        at += fraction.length;
    }
    const uint64_t digits = whole.value * whole_powers[fraction.length] + fraction.value;
    if (whole.length + fraction.length == 0 || digits >= 1'000'000 ||
        (at < text.size() && !is_blank(text[at])))
        return 0;  // no digits, a seventh significant one, or another form
    const float magnitude = static_cast<float>(digits) / powers_of_ten[fraction.length];
    value = negative ? -magnitude : magnitude;
    return at;
}

// vimsor's form of a time at the start of text, [-]SECONDS.MICROSECONDS up
// to a blank or the end, in microseconds. Returns the characters read, 0 for
// any other form.
size_t read_vimsor_time(std::string_view text, int64_t& time_us) {
    const bool negative = text.starts_with('-');
    const size_t first = negative ? 1 : 0;
    size_t at = first;
    int64_t seconds = 0;
    for (; at < text.size() && at < first + 12 && text[at] >= '0' && text[at] <= '9'; ++at)
        seconds = seconds * 10 + (text[at] - '0');
    if (at == first || text.size() - at < 7 || text[at] != '.')
        return 0;
    int64_t micro = 0;
    bool digits = true;
    for (const char c : text.substr(at + 1, 6)) {
        const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        digits &= digit < 10;
        micro = micro * 10 + digit;
    }
    at += 7;
    if (!digits || (at < text.size() && !is_blank(text[at])))
        return 0;
    time_us = (negative ? -1 : 1) * (seconds * 1'000'000 + micro);
    return at;
}

// A time in another form: a decimal number rounded to the microsecond.
std::optional<int64_t> other_time_us(std::string_view word) {
    const char* end = word.data() + word.size();
    double value = 0;
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return std::llround(value * 1e6);
}

// One data line of the results: its time, then one value per element.
class ResultLine {
public:
    ResultLine(std::string_view text, const std::filesystem::path& file, size_t line)
        : rest_(text), file_(file), line_(line) {}

    int64_t time_us() {
        skip_blanks();
        int64_t time = 0;
        if (const size_t length = read_vimsor_time(rest_, time); length > 0) {
            rest_.remove_prefix(length);
            return time;
        }
        const std::string_view word = next_word();
        const std::optional<int64_t> other = other_time_us(word);
        if (!other)
            throw fault("its time \"" + std::string(word) + "\" is no number");
        return *other;
    }

    // The next value as a float that reads back to the value's six-digit text.
    float value() {
        skip_blanks();
        float value = 0;
        if (const size_t length = read_six_digit_decimal(rest_, value); length > 0) {
            rest_.remove_prefix(length);
            return value;
        }
        const std::string_view word = next_word();
        const char* const end = word.data() + word.size();
        double exact = 0;
        const auto read = std::from_chars(word.data(), end, exact);
        const auto rounded = std::from_chars(word.data(), end, value);  // to the nearest float
        if (read.ec != std::errc() || read.ptr != end || rounded.ec != std::errc() ||
            !std::isfinite(value))
            throw fault("\"" + std::string(word) + "\" is no finite single-precision number");
        if (six_digit_text(value) != six_digit_text(exact))
            throw fault("the value " + std::string(word) +
                        " does not keep its six digits as a float");
        return value;
    }

    bool at_end() {
        skip_blanks();
        return rest_.empty();
    }

    Error fault(const std::string& cause) const {
        return file_error(file_, "line " + std::to_string(line_) + ": " + cause);
    }

private:
    void skip_blanks() {
        while (!rest_.empty() && is_blank(rest_.front()))
            rest_.remove_prefix(1);
    }

    std::string_view next_word() {
        skip_blanks();
        size_t length = 0;
        while (length < rest_.size() && !is_blank(rest_[length]))
            ++length;
        if (length == 0)
            throw fault("holds fewer numbers than a time and a value per element");
        const std::string_view word = rest_.substr(0, length);
        rest_.remove_prefix(length);
        return word;
    }

    std::string_view rest_;
    const std::filesystem::path& file_;
    size_t line_;
};

void check_time(const ResultLine& line, int64_t time_us, const Piece& piece, size_t row) {
    const int64_t expected = nvtools::sample_time_us(piece.start_us, row, piece.rate_hz);
    if (std::llabs(time_us - expected) > time_tolerance_us)
        throw line.fault("row " + std::to_string(row + 1) + " lies at " + std::to_string(time_us) +
                         " µs since 1970, not at sample " + std::to_string(row) +
                         " of its piece (" + std::to_string(expected) + ")");
}

}  // namespace

std::string six_digit_text(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr;
    return std::string(text, end);
}

std::vector<std::vector<float>> read_piece_results(const std::filesystem::path& file,
                                                   const Piece& piece, size_t elements) {
    LineReader lines(file);
    std::vector<std::vector<float>> results(elements);
    for (auto& values : results)
        values.reserve(piece.samples());
    size_t row = 0;
    for (std::string_view content; lines.next(content);) {
        if (content.starts_with('!'))
            continue;  // the header and comment lines
        ResultLine line(content, file, lines.number());
        if (line.at_end())
            continue;
        if (row == piece.samples())
            throw line.fault("more rows than the " + std::to_string(piece.samples()) +
                             " samples of its piece");
        check_time(line, line.time_us(), piece, row);
        for (auto& values : results)
            values.push_back(line.value());
        if (!line.at_end())
            throw line.fault("holds more values than the " + std::to_string(elements) +
                             " elements");
        ++row;
    }
    if (row == 0)
        throw file_error(file, "holds no result rows");
    return results;
}

}  // namespace sds
