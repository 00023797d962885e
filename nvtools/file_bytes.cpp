#include "file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <limits>
#include <stdexcept>

namespace nvtools {

namespace {

[[noreturn]] void refuse_errno(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

class Descriptor {
public:
    explicit Descriptor(const std::string& file) : m_fd(open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (m_fd < 0)
            throw std::runtime_error(errno == ENOENT ? "cannot open the file"
                                                     : std::string("cannot open the file: ") +
                                                           std::strerror(errno));
    }
    ~Descriptor() { close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::string read_up_to(const std::string& file, size_t limit) {
    const Descriptor in(file);
    struct stat status {};
    if (fstat(in.fd(), &status) != 0)
        refuse_errno("cannot read the file");
    if (S_ISDIR(status.st_mode))
        throw std::runtime_error("is a directory");
    std::string bytes;
    if (S_ISREG(status.st_mode))
        bytes.reserve(std::min(limit, static_cast<size_t>(status.st_size)));
    char buffer[65536];
    while (bytes.size() < limit) {
        const ssize_t n = read(in.fd(), buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            refuse_errno("cannot read the file");
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    if (bytes.empty())
        throw std::runtime_error("empty file");
    return bytes;
}

}  // namespace

std::string file_head(const std::string& file, size_t limit) { return read_up_to(file, limit); }

std::string file_bytes(const std::string& file) {
    return read_up_to(file, std::numeric_limits<size_t>::max());
}

}  // namespace nvtools
