#include "tm4_write.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace nvtools {

namespace {

constexpr std::uint64_t us_per_second = 1000000;
constexpr int fraction_digits = 6;

// The longest time ("-", 13 digits of seconds, point, six digits) with room
// to spare, and the longest value with its separator (a whole double in
// fixed notation takes up to 309 digits and a sign).
constexpr size_t max_time_bytes = 32;
constexpr size_t max_value_bytes = 2 + 309;

void write_bytes(FILE* out, const char* bytes, size_t n) {
    if (std::fwrite(bytes, 1, n, out) != n)
        throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
}

// Collects lines and writes them in large pieces.
class LineBuffer {
public:
    explicit LineBuffer(FILE* out) : m_out(out) {}

    // At least n free bytes; the caller hands the end of what it wrote to commit().
    char* room(size_t n) {
        if (sizeof m_buffer - m_fill < n)
            flush();
        return m_buffer + m_fill;
    }
    char* last() { return m_buffer + sizeof m_buffer; }
    void commit(char* end) { m_fill = static_cast<size_t>(end - m_buffer); }
    void flush() {
        write_bytes(m_out, m_buffer, m_fill);
        m_fill = 0;
    }

private:
    FILE* m_out;
    char m_buffer[1 << 16];
    size_t m_fill = 0;
};

// "<seconds>.<six digits>"; a time before 1970 with a minus sign.
char* put_time(char* p, char* last, std::int64_t us) {
    if (us < 0)
        *p++ = '-';
    const std::uint64_t magnitude =
        us < 0 ? 0 - static_cast<std::uint64_t>(us) : static_cast<std::uint64_t>(us);
    p = std::to_chars(p, last, magnitude / us_per_second).ptr;
    *p++ = '.';
    std::uint64_t fraction = magnitude % us_per_second;
    for (int digit = fraction_digits - 1; digit >= 0; --digit) {
        p[digit] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    return p + fraction_digits;
}

// Fixed notation keeps a whole number whole ("1000000", not "1e+06").
char* put_value(char* p, char* last, double value) {
    if (value == std::trunc(value))
        return std::to_chars(p, last, value, std::chars_format::fixed).ptr;
    return std::to_chars(p, last, value).ptr;
}

}  // namespace

std::int64_t sample_time_us(std::int64_t start_us, size_t index, double rate_hz) {
    return start_us + std::llround(static_cast<double>(index) * 1e6 / rate_hz);
}

void write_tm4(FILE* out, const std::string& comment, std::int64_t start_us, double rate_hz,
               const std::vector<std::vector<double>>& channels) {
    write_bytes(out, comment.data(), comment.size());
    write_bytes(out, "\n", 1);
    const size_t lines = channels.empty() ? 0 : channels.front().size();
    LineBuffer buffer(out);
    for (size_t i = 0; i < lines; ++i) {
        buffer.commit(put_time(buffer.room(max_time_bytes), buffer.last(),
                               sample_time_us(start_us, i, rate_hz)));
        for (const auto& channel : channels) {
            char* p = buffer.room(max_value_bytes);
            *p++ = ' ';
            buffer.commit(put_value(p, buffer.last(), channel[i]));
        }
        char* p = buffer.room(1);
        *p++ = '\n';
        buffer.commit(p);
    }
    buffer.flush();
}

}  // namespace nvtools
