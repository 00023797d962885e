#include "results.h"

#include "day_writer.h"
#include "tm4_write.h"

#include <fcntl.h>
#include <unistd.h>
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

// The lines of a file, read through one buffer of fixed size: a day's
// results run to a few hundred megabytes of text.
class LineReader {
public:
    explicit LineReader(const std::filesystem::path& file)
        : file_(file), fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0)
            throw file_error(file, std::string("cannot be opened: ") + std::strerror(errno));
    }
    ~LineReader() { (void)::close(fd_); }  // read only: a failed close loses nothing
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
    std::vector<char> buffer_ = std::vector<char>(capacity);
    size_t begin_ = 0, end_ = 0, number_ = 0;
    bool at_end_ = false;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// vimsor's own form of a value at the start of text, [-]DIGITS[.DIGITS] with
// at most six significant digits and ten decimals, up to a blank or the end:
// both the digits as a whole number and the power of ten are exact floats,
// so one division rounds the value to the nearest float, as strtof would.
// Returns the characters read, 0 for any other form.
size_t read_six_digit_decimal(std::string_view text, float& value) {
    static constexpr float powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                              1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    const bool negative = text.starts_with('-');
    size_t at = negative ? 1 : 0;
    uint32_t digits = 0;
    bool over_six = false;
    const auto digit_run = [&] {  // the digits from at on, taken into digits
        const size_t from = at;
        for (unsigned digit = 0;
             at < text.size() && (digit = static_cast<unsigned char>(text[at]) - '0') < 10; ++at) {
            digits = digits * 10 + digit;
            over_six |= digits >= 1'000'000;  // a seventh significant digit
        }
        return at - from;
    };
    size_t count = digit_run(), decimals = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        decimals = digit_run();
        count += decimals;
    }
    if (over_six || count == 0 || (at < text.size() && !is_blank(text[at])) ||
        decimals >= std::size(powers_of_ten))
        return 0;
    const float magnitude = static_cast<float>(digits) / powers_of_ten[decimals];
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
        if (int64_t time = 0; took_vimsor_form(read_vimsor_time, time))
            return time;
        const std::string_view word = next_word();
        const std::optional<int64_t> other = other_time_us(word);
        if (!other)
            throw fault("its time \"" + std::string(word) + "\" is no number");
        return *other;
    }

    // The next value as a float that reads back to the value's six-digit text.
    float value() {
        float value = 0;
        if (took_vimsor_form(read_six_digit_decimal, value))
            return value;
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
    // The next number through read, which takes only vimsor's own form of it
    // (returning its length, 0 for any other form); false when it has another.
    template <typename Number>
    bool took_vimsor_form(size_t (*read)(std::string_view, Number&), Number& number) {
        skip_blanks();
        const size_t length = read(rest_, number);
        rest_.remove_prefix(length);
        return length > 0;
    }

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
