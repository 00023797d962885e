#include "nevra_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#include "nevra_writer_ascii.h"
#include "nevra_writer_binary.h"
#include "nevra_writer_tm4.h"
#include "settings.h"

namespace {

// Output goes to the file in chunks of this size.
constexpr std::size_t output_buffer_bytes = std::size_t{1} << 20;

// Whole number to long long; NaN gives 0, values beyond the range its limit.
long long saturated(double whole) {
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (std::isnan(whole))
        return 0;
    if (whole >= limit)
        return std::numeric_limits<long long>::max();
    if (whole < -limit)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(whole);
}

}  // namespace

nevra_writer::nevra_writer(const char* fname, const char* comnt, char terminator,
                           std::ios::openmode open_mode)
    : end_comment(terminator),
      m_file_name(fname),
      m_capacity(output_buffer_bytes),
      m_buffer(new char[output_buffer_bytes]) {
    open(open_mode);
    if (comnt != nullptr)
        put(comnt, std::strlen(comnt));
    put(&end_comment, 1);
}

nevra_writer::~nevra_writer() { close(); }

void nevra_writer::open(std::ios::openmode open_mode) {
    o = std::make_unique<std::ofstream>();
    // The writer buffers on its own; an unbuffered stream reports a failed
    // write at once, with the system's reason still in errno.
    o->rdbuf()->pubsetbuf(nullptr, 0);
    o->open(m_file_name, open_mode | std::ios::out | std::ios::trunc);
    if (!o->is_open()) {
        std::cerr << "can't open " << m_file_name << "\n";
        std::exit(1);
    }
}

void nevra_writer::close() {
    if (m_closed)
        return;
    flush_buffer();
    errno = 0;
    o->close();
    if (o->fail()) {
        m_write_errno = errno;
        fail_write();
    }
    m_closed = true;
}

void nevra_writer::put(const char* bytes, std::size_t n) const {
    if (n > m_capacity - m_fill)
        flush_buffer();
    if (n <= m_capacity) {
        std::memcpy(m_buffer.get() + m_fill, bytes, n);
        m_fill += n;
        return;
    }
    errno = 0;
    o->write(bytes, static_cast<std::streamsize>(n));
    if (o->fail()) {
        m_write_errno = errno;
        fail_write();
    }
}

void nevra_writer::make_room(std::size_t n) const {
    flush_buffer();
    if (n > m_capacity) {
        // Only a caller asking for more than the whole buffer gets here.
        m_buffer.reset(new char[n]);
        m_capacity = n;
    }
}

void nevra_writer::flush_buffer() const {
    if (m_fill == 0)
        return;
    errno = 0;
    o->write(m_buffer.get(), static_cast<std::streamsize>(m_fill));
    m_fill = 0;
    if (o->fail()) {
        m_write_errno = errno;
        fail_write();
    }
}

void nevra_writer::check_written() const {
    if (o->fail())
        fail_write();
}

void nevra_writer::fail_write() const {
    std::cerr << "can't write " << m_file_name << ": "
              << std::strerror(m_write_errno != 0 ? m_write_errno : EIO) << "\n";
    std::exit(1);
}

long long nevra_writer::scaled_value(double v) const {
    const long long x = saturated(std::round(m_scale * v));
    if (x < -32768 || x > 32767)
        std::cerr << "Warning:Scale to big, overflow in short, (-32768 <= " << x << " < 32768)\n";
    return x;
}

nevra_writer::block_time nevra_writer::block_time_words(double time) {
    const long long s = saturated(std::floor(time));
    return {(s / 60) % 1440, s % 60};
}

int nevra_writer::write_blocks(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
                               std::size_t size) const {
    if (size == 0)
        return 0;
    for (std::size_t i = 0; i < t.size(); i += size) {
        for (const auto& channel : data)
            if (channel.size() < i || channel.size() - i < size)
                return 0;
        for (const auto& channel : data)
            write(t[i], size, channel, i);
        check_written();
    }
    return 0;
}

void nevra_writer::check_block_range(std::size_t size, const std::vector<double>& data,
                                     std::size_t offset) const {
    if (offset <= data.size() && size <= data.size() - offset)
        return;
    std::cerr << "internal error writing " << m_file_name << ": block of " << size << " values at "
              << offset << " lies beyond the " << data.size() << " values of its channel\n";
    std::exit(1);
}

nevra_writer* nevra_writer_detect(const char* fname, const char* comnt) {
    switch (mode) {
    case OUTPUT_MODE_ASCII:
        return new nevra_writer_ascii(fname, comnt);
    case OUTPUT_MODE_TM4:
        return new nevra_writer_tm4(fname, comnt);
    default:
        return new nevra_writer_binary(fname, comnt);
    }
}
