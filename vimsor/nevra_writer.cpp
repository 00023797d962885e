#include "nevra_writer.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>

#include "cleanup.h"
#include "fatal.h"
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

// The clean-up removes the temporary output of a run that ends early.
const temporary_file_hook cleanup_hook{cleanup::add_file, cleanup::forget_file};

}  // namespace

nevra_writer::nevra_writer(const char* fname, const char* comnt, char terminator,
                           std::ios::openmode)
    : end_comment(terminator),
      m_file_name(fname),
      m_output(&cleanup_hook),
      m_capacity(output_buffer_bytes),
      m_buffer(new char[output_buffer_bytes]) {
    open();
    if (comnt != nullptr)
        put(comnt, std::strlen(comnt));
    put(&end_comment, 1);
}

nevra_writer::~nevra_writer() { close(); }

void nevra_writer::open() {
    if (m_output.open(m_file_name) != 0)
        fatal("can't open " + m_file_name);
}

void nevra_writer::put_in_place() {
    if (m_output.written_in_place())
        return;
    // The temporary's name is taken before commit() forgets it.
    const std::string temporary = m_output.temporary_name();
    if (const int error = m_output.commit(); error != 0)
        fatal("can't rename " + temporary + " to " + m_file_name + ": " + std::strerror(error));
}

void nevra_writer::close() {
    if (m_closed)
        return;
    flush_buffer();
    if (const int error = m_output.close(); error != 0) {
        m_write_errno = error;
        fail_write();
    }
    m_closed = true;
    put_in_place();
}

void nevra_writer::put(const char* bytes, std::size_t n) const {
    if (n > m_capacity - m_fill)
        flush_buffer();
    if (n <= m_capacity) {
        std::memcpy(m_buffer.get() + m_fill, bytes, n);
        m_fill += n;
        return;
    }
    write_out(bytes, n);
}

void nevra_writer::write_out(const char* bytes, std::size_t n) const {
    if (const int error = m_output.write(bytes, n); error != 0) {
        m_write_errno = error;
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
    const std::size_t fill = m_fill;
    m_fill = 0;
    write_out(m_buffer.get(), fill);
}

void nevra_writer::check_written() const {
    if (m_write_errno != 0)
        fail_write();
}

void nevra_writer::fail_write() const {
    fatal("can't write " + m_file_name + ": " +
          std::strerror(m_write_errno != 0 ? m_write_errno : EIO));
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

int nevra_writer::write_blocks(const std::vector<double>& t,
                               const std::vector<std::vector<double>>& data,
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
    fatal("internal error writing " + m_file_name + ": block of " + std::to_string(size) +
          " values at " + std::to_string(offset) + " lies beyond the " +
          std::to_string(data.size()) + " values of its channel");
}
