#include "minimal_loops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "recordings.h"

namespace bench {

namespace {

constexpr std::size_t block = 512;
constexpr std::size_t chunk = std::size_t{1} << 20;

int open_or_throw(const char* path, int flags) {
    const int fd = ::open(path, flags, 0644);
    if (fd < 0)
        throw std::runtime_error(std::string("can't open ") + path + ": " + std::strerror(errno));
    return fd;
}

void write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::write(fd, p, n);
        if (got < 0)
            throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        p += got;
        n -= static_cast<std::size_t>(got);
    }
}

void close_or_throw(int fd) {
    if (::close(fd) != 0)
        throw std::runtime_error(std::string("close: ") + std::strerror(errno));
}

// Output into one buffer, written out whenever it is nearly full.
class sink {
public:
    explicit sink(const std::string& path)
        : m_fd(open_or_throw(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC)),
          m_buffer(new char[chunk + 4096]) {}
    ~sink() {
        flush();
        ::close(m_fd);
    }
    char* at() { return m_buffer.get() + m_fill; }
    void advance(char* end) {
        m_fill = static_cast<std::size_t>(end - m_buffer.get());
        if (m_fill >= chunk)
            flush();
    }
    char* end_of_room() { return m_buffer.get() + chunk + 4096; }

private:
    void flush() {
        write_all(m_fd, m_buffer.get(), m_fill);
        m_fill = 0;
    }
    int m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_fill = 0;
};

std::size_t read_into(const char* path, std::string& buffer) {
    const int fd = open_or_throw(path, O_RDONLY);
    std::size_t length = 0;
    for (;;) {
        if (buffer.size() - length < 65536)
            buffer.resize(buffer.size() + 65536);
        const ssize_t got = ::read(fd, buffer.data() + length, buffer.size() - length);
        if (got < 0)
            throw std::runtime_error(std::string("read: ") + std::strerror(errno));
        if (got == 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    close_or_throw(fd);
    return length;
}

void row_name(char* name, std::size_t size, const char* dir, std::size_t r, std::size_t workers,
              const char* extension) {
    std::snprintf(name, size, "%svm%c%04zu%s", dir, static_cast<char>('a' + r % workers), r,
                  extension);
}

const char* skip_space(const char* p, const char* last) {
    while (p != last && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r'))
        ++p;
    return p;
}

long long rounded(double v) { return std::llround(v); }

struct words {
    long long minute, second;
};
words time_words(double t) {
    const long long s = static_cast<long long>(std::floor(t));
    return {(s / 60) % 1440, s % 60};
}

}  // namespace

std::size_t plain_read(const std::string& path) {
    const int fd = open_or_throw(path.c_str(), O_RDONLY);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw std::runtime_error("fstat: " + path);
    const auto length = static_cast<std::size_t>(st.st_size);
    std::unique_ptr<char[]> bytes(new char[length]);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(fd, bytes.get() + done, length - done);
        if (got <= 0)
            throw std::runtime_error("read: " + path);
        done += static_cast<std::size_t>(got);
    }
    close_or_throw(fd);
    return length + static_cast<unsigned char>(bytes[length / 2]);
}

void tm4_from_chars(const std::string& path, tm4_numbers& out) {
    std::string text;
    const std::size_t length = read_into(path.c_str(), text);
    out.times.clear();
    out.values.assign(channels, {});
    const char* p = text.data();
    const char* last = p + length;
    while (p != last) {
        if (*p == '!') {
            p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(last - p)));
            p = p == nullptr ? last : p + 1;
            continue;
        }
        double value = 0.0;
        p = std::from_chars(p, last, value).ptr;
        out.times.push_back(value);
        for (unsigned c = 0; c < channels; ++c) {
            p = std::from_chars(p + 1, last, value).ptr;
            out.values[c].push_back(static_cast<std::int32_t>(value));
        }
        p = skip_space(p, last);
    }
}

void legacy_from_chars(const std::string& path, std::vector<double>& out) {
    std::string text;
    const std::size_t length = read_into(path.c_str(), text);
    out.clear();
    const char* p = static_cast<const char*>(std::memchr(text.data(), '\n', length)) + 1;
    const char* last = text.data() + length;
    for (p = skip_space(p, last); p != last; p = skip_space(p, last)) {
        double value = 0.0;
        p = std::from_chars(p, last, value).ptr;
        out.push_back(value);
    }
}

void write_jobs(const std::string& dir, const std::vector<std::vector<double>>& slots,
                std::size_t samples, double hz, std::size_t workers) {
    std::string text;
    char name[4096];
    char digits[32];
    std::size_t r = 0;
    for (std::size_t ptr = 0; ptr + block <= samples; ptr += block) {
        for (const auto& slot : slots) {
            text.assign("512\n");
            for (std::size_t i = 0; i < block; ++i) {
                text.append(digits, std::to_chars(digits, digits + 32, static_cast<double>(i) / hz,
                                                  std::chars_format::general, 6)
                                        .ptr);
                text += ' ';
                text.append(digits, std::to_chars(digits, digits + 32, slot[ptr + i],
                                                  std::chars_format::general, 6)
                                        .ptr);
                text += '\n';
            }
            row_name(name, sizeof name, dir.c_str(), r++, workers, ".dat");
            const int fd = open_or_throw(name, O_WRONLY | O_CREAT | O_TRUNC);
            write_all(fd, text.data(), text.size());
            close_or_throw(fd);
        }
    }
}

void read_results(std::size_t rows, std::size_t workers, const char* extension,
                  std::vector<std::vector<double>>& slots) {
    for (auto& slot : slots)
        slot.clear();
    std::string buffer;
    char name[64];
    for (std::size_t r = 0; r < rows; ++r) {
        row_name(name, sizeof name, "", r, workers, extension);
        const std::size_t length = read_into(name, buffer);
        auto& slot = slots[r % slots.size()];
        const char* last = buffer.data() + length;
        for (const char* p = skip_space(buffer.data(), last); p != last; p = skip_space(p, last)) {
            double value = 0.0;
            p = std::from_chars(p, last, value).ptr;
            slot.push_back(value);
        }
    }
}

void write_binary(const std::string& path, const std::string& comment, const std::vector<double>& t,
                  const std::vector<std::vector<double>>& data) {
    sink out(path);
    char* p = std::copy(comment.begin(), comment.end(), out.at());
    *p++ = '\r';
    out.advance(p);
    for (std::size_t i = 0; i + block <= data[0].size(); i += block) {
        const words w = time_words(t[i]);
        for (const auto& channel : data) {
            p = out.at();
            const auto put = [&p](long long word) {
                const auto bits = static_cast<std::uint16_t>(word);
                *p++ = static_cast<char>(bits & 0xFF);
                *p++ = static_cast<char>(bits >> 8);
            };
            put(w.minute);
            put(w.second);
            for (std::size_t k = 0; k < block; ++k)
                put(rounded(channel[i + k]));
            out.advance(p);
        }
    }
}

void write_ascii(const std::string& path, const std::string& comment, const std::vector<double>& t,
                 const std::vector<std::vector<double>>& data) {
    sink out(path);
    char* p = std::copy(comment.begin(), comment.end(), out.at());
    *p++ = '\n';
    out.advance(p);
    for (std::size_t i = 0; i + block <= data[0].size(); i += block) {
        const words w = time_words(t[i]);
        for (const auto& channel : data) {
            p = out.at();
            char* const end = out.end_of_room();
            p = std::to_chars(p, end, w.minute).ptr;
            *p++ = ' ';
            p = std::to_chars(p, end, w.second).ptr;
            for (std::size_t k = 0; k < block; ++k) {
                *p++ = ' ';
                p = std::to_chars(p, end, rounded(channel[i + k])).ptr;
            }
            *p++ = '\n';
            out.advance(p);
        }
    }
}

void write_tm4(const std::string& path, const std::string& comment, const std::vector<double>& t,
               const std::vector<std::vector<double>>& data) {
    sink out(path);
    char* p = std::copy(comment.begin(), comment.end(), out.at());
    *p++ = '\n';
    out.advance(p);
    for (std::size_t i = 0; i < data[0].size(); ++i) {
        p = out.at();
        char* const end = out.end_of_room();
        p = std::to_chars(p, end, t[i], std::chars_format::fixed, 6).ptr;
        for (const auto& channel : data) {
            *p++ = ' ';
            p = std::to_chars(p, end, channel[i], std::chars_format::general, 6).ptr;
        }
        *p++ = '\n';
        out.advance(p);
    }
}

}  // namespace bench
