#include "nevra_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Devices and pipes (/dev/null, /dev/full, a FIFO) cannot be replaced by a
// renamed file.
bool is_special_file(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// Where the complete file goes: through a symbolic link to the file it
// names, so that the link keeps leading to the output.
std::string final_name(const std::string& name) {
    struct stat st {};
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return name;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(name, ec);
    return ec ? name : target.string();
}

// The permissions of the file being replaced, or those a new file gets.
mode_t output_permissions(const std::string& name) {
    struct stat st {};
    if (stat(name.c_str(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Creates "<dir>/.<file>.XXXXXX" next to name, recorded for the clean-up;
// empty when it cannot be created, or when name exists but may not be
// written (the output replaces only files it could overwrite).
std::string create_temporary(const std::string& name) {
    if (access(name.c_str(), F_OK) == 0 && access(name.c_str(), W_OK) != 0)
        return {};
    const std::filesystem::path path(name);
    std::string file = path.filename().string();
    file.resize(
        std::min<std::size_t>(file.size(), 240));  // the temporary's name must fit in 255 bytes
    std::string temporary = (path.parent_path() / ("." + file + ".XXXXXX")).string();
    const cleanup::signals_held held;
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return {};
    cleanup::add_file(temporary.c_str());
    const bool permitted = fchmod(fd, output_permissions(name)) == 0;
    if (close(fd) != 0 || !permitted) {
        unlink(temporary.c_str());  // still empty; nothing to report beyond the failed open
        cleanup::forget_file(temporary.c_str());
        return {};
    }
    return temporary;
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
    m_final_name = final_name(m_file_name);
    if (!is_special_file(m_final_name)) {
        m_temporary_name = create_temporary(m_final_name);
        if (m_temporary_name.empty())
            fatal("can't open " + m_file_name);
    }
    o->open(m_temporary_name.empty() ? m_file_name : m_temporary_name,
            open_mode | std::ios::out | std::ios::trunc);
    if (!o->is_open())
        fatal("can't open " + m_file_name);
}

void nevra_writer::put_in_place() {
    if (m_temporary_name.empty())
        return;
    if (std::rename(m_temporary_name.c_str(), m_final_name.c_str()) != 0)
        fatal("can't rename " + m_temporary_name + " to " + m_file_name + ": " +
              std::strerror(errno));
    cleanup::forget_file(m_temporary_name.c_str());
    m_temporary_name.clear();
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
