#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace nvtools {

namespace {

std::runtime_error failure(const std::string& what, const std::string& name) {
    return std::runtime_error(what + " " + name + ": " + std::strerror(errno));
}

// What a newly created file would get: 0666 less the umask.
mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& name) : m_name(name) {
    const std::filesystem::path path(name);
    m_temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(m_temporary.data());
    if (fd < 0)
        throw failure("cannot create", name);
    if (fchmod(fd, new_file_mode()) != 0 || (m_stream = fdopen(fd, "wb")) == nullptr) {
        const auto error = failure("cannot create", name);
        ::close(fd);
        unlink(m_temporary.c_str());
        throw error;
    }
}

OutputFile::~OutputFile() {
    if (m_stream != nullptr)
        std::fclose(m_stream);
    if (!m_committed)
        unlink(m_temporary.c_str());
}

void OutputFile::close_stream() {
    if (m_stream == nullptr)
        return;
    const bool failed = std::ferror(m_stream) != 0;
    const bool close_failed = std::fclose(m_stream) != 0;
    m_stream = nullptr;
    if (failed || close_failed)
        throw failure("cannot write", m_name);
}

void OutputFile::commit() {
    close_stream();
    if (std::rename(m_temporary.c_str(), m_name.c_str()) != 0)
        throw failure("cannot rename the temporary file to", m_name);
    m_committed = true;
}

}  // namespace nvtools
