#include "results.h"

#include "day_writer.h"
#include "tm4_write.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

namespace sds {

namespace {

constexpr int64_t time_tolerance_us = 1;

Error file_error(const std::filesystem::path& file, const std::string& cause) {
    return Error(file.string() + ": " + cause);
}

std::string read_whole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in.is_open())
        throw file_error(file, "cannot be opened");
    std::string text(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        throw file_error(file, "cannot be read");
    return text;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// vimsor's own form of a value at the start of text, [-]DIGITS[.DIGITS] with
// at most six significant digits up to a blank or the end, read exactly: the
// digits as a whole number divided by a power of ten, in double precision,
// then rounded to a float, which lies far closer to the value than the next
// six-digit number does. Returns the characters read, 0 for any other form.
size_t read_six_digit_decimal(std::string_view text, float& value) {
    static constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                               1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                               1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20};
    const bool negative = text.starts_with('-');
    uint32_t digits = 0;
    int significant = 0, decimals = 0;
    bool point = false, any = false;
    size_t at = negative ? 1 : 0;
    for (; at < text.size() && !is_blank(text[at]); ++at) {
        const char c = text[at];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return 0;
        any = true;
        decimals += point ? 1 : 0;
        if (digits == 0 && c == '0')
            continue;  // a leading zero
        if (++significant > 6)
            return 0;
        digits = digits * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!any || decimals >= static_cast<int>(std::size(powers_of_ten)))
        return 0;
    const double magnitude = digits / powers_of_ten[decimals];
    value = static_cast<float>(negative ? -magnitude : magnitude);
    return at;
}

// A time SECONDS.MICROSECONDS, as vimsor writes it, in microseconds; other
// forms are read as a decimal number and rounded to the microsecond.
std::optional<int64_t> time_us(std::string_view word) {
    const size_t point = word.find('.');
    int64_t seconds = 0, micro = 0;
    const char* end = word.data() + word.size();
    if (point != std::string_view::npos && word.size() - point == 7 &&
        std::from_chars(word.data(), word.data() + point, seconds).ptr == word.data() + point &&
        word[point + 1] != '-' && word[point + 1] != '+' &&
        std::from_chars(word.data() + point + 1, end, micro).ptr == end)
        return seconds * 1'000'000 + (word.starts_with('-') ? -micro : micro);
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
        const std::string_view word = next_word();
        const std::optional<int64_t> time = sds::time_us(word);
        if (!time)
            throw fault("its time \"" + std::string(word) + "\" is no number");
        return *time;
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
        double exact = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), exact);
        value = static_cast<float>(exact);
        if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
            throw fault("\"" + std::string(word) + "\" is no finite single-precision number");
        if (six_digit_text(value) != six_digit_text(exact))
            throw fault("the value " + std::string(word) + " does not keep its six digits as a float");
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
    const std::string text = read_whole(file);
    std::vector<std::vector<float>> results(elements);
    for (auto& values : results)
        values.reserve(piece.samples());
    size_t row = 0, line_number = 0;
    for (size_t from = 0; from < text.size();) {
        const size_t end = std::min(text.find('\n', from), text.size());
        const std::string_view content(text.data() + from, end - from);
        from = end + 1;
        ++line_number;
        if (content.starts_with('!'))
            continue;  // the header and comment lines
        ResultLine line(content, file, line_number);
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
