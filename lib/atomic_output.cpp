#include "atomic_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace {

// Linux's own limit on the links followed in one lookup.
constexpr int max_links_followed = 40;

// The temporary's name, "." + file + ".XXXXXX", must fit in 255 bytes.
constexpr std::size_t max_file_part = 240;

// Holds every signal while in scope: creating or removing a temporary and
// recording it with the hook is one step for whoever cleans up on a signal.
class all_signals_held {
public:
    all_signals_held() {
        sigset_t all;
        sigfillset(&all);
        if (sigprocmask(SIG_BLOCK, &all, &m_previous) != 0)
            sigemptyset(&m_previous);  // cannot fail with valid arguments
    }
    ~all_signals_held() { sigprocmask(SIG_SETMASK, &m_previous, nullptr); }
    all_signals_held(const all_signals_held&) = delete;
    all_signals_held& operator=(const all_signals_held&) = delete;

private:
    sigset_t m_previous;
};

// The file that name leads to through symbolic links (also a link's target
// that does not exist yet), or name itself. 0 or ELOOP.
int follow_links(const std::string& name, std::string& target) {
    std::filesystem::path path(name);
    for (int followed = 0; followed <= max_links_followed; ++followed) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path.string();
            return 0;
        }
        std::error_code ec;
        const std::filesystem::path leads_to = std::filesystem::read_symlink(path, ec);
        if (ec) {
            target = path.string();
            return 0;
        }
        path = leads_to.is_absolute() ? leads_to : path.parent_path() / leads_to;
    }
    return ELOOP;
}

// Devices, FIFOs and sockets cannot be replaced by a renamed file. (A
// directory is not regular either; opening it then fails as it should.)
bool is_special_file(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
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

std::string temporary_template(const std::string& target) {
    const std::filesystem::path path(target);
    std::string file = path.filename().string();
    file.resize(std::min(file.size(), max_file_part));
    return (path.parent_path() / ("." + file + ".XXXXXX")).string();
}

int close_descriptor(int fd) {
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;  // after EINTR the descriptor is gone
}

}  // namespace

atomic_output::~atomic_output() { discard(); }

int atomic_output::open(const std::string& name) {
    discard();
    if (name.empty())
        return ENOENT;  // as open() says
    if (const int error = follow_links(name, m_target); error != 0)
        return error;
    if (is_special_file(m_target)) {
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return m_fd < 0 ? errno : 0;
    }
    // Only a file the caller could overwrite is replaced.
    if (access(m_target.c_str(), F_OK) == 0 && access(m_target.c_str(), W_OK) != 0)
        return EACCES;
    const mode_t permissions = output_permissions(m_target);
    std::string temporary = temporary_template(m_target);
    const all_signals_held held;
    m_fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (m_fd < 0)
        return errno;
    m_temporary = temporary;
    if (m_hook != nullptr)
        m_hook->add(m_temporary.c_str());
    if (fchmod(m_fd, permissions) != 0) {
        const int error = errno;
        discard();
        return error;
    }
    return 0;
}

std::FILE* atomic_output::stream() {
    if (m_stream == nullptr && m_fd >= 0)
        m_stream = fdopen(m_fd, "wb");
    return m_stream;
}

int atomic_output::write(const void* bytes, std::size_t n) {
    const char* next = static_cast<const char*>(bytes);
    while (n > 0) {
        const ssize_t written = ::write(m_fd, next, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        next += written;
        n -= static_cast<std::size_t>(written);
    }
    return 0;
}

int atomic_output::close() {
    int error = 0;
    if (m_stream != nullptr) {
        const bool failed = std::ferror(m_stream) != 0;
        errno = 0;
        if (std::fclose(m_stream) != 0)
            error = errno != 0 ? errno : EIO;
        else if (failed)
            error = EIO;  // an earlier write failed; the stream did not keep why
        m_stream = nullptr;
        m_fd = -1;
    } else if (m_fd >= 0) {
        error = close_descriptor(m_fd);
        m_fd = -1;
    }
    return error;
}

int atomic_output::commit() {
    if (const int error = close(); error != 0)
        return error;
    if (m_temporary.empty())
        return 0;
    const all_signals_held held;
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return errno;
    if (m_hook != nullptr)
        m_hook->forget(m_temporary.c_str());
    m_temporary.clear();
    return 0;
}

void atomic_output::discard() {
    close();  // what was written is dropped, so a failed close changes nothing
    remove_temporary();
}

void atomic_output::remove_temporary() {
    if (m_temporary.empty())
        return;
    const all_signals_held held;
    unlink(m_temporary.c_str());  // what is gone already needs no removal
    if (m_hook != nullptr)
        m_hook->forget(m_temporary.c_str());
    m_temporary.clear();
}

int atomic_output_set::open(const std::string& name, atomic_output*& output) {
    auto next = std::make_unique<atomic_output>(m_hook);
    if (const int error = next->open(name); error != 0)
        return error;
    output = next.get();
    m_outputs.push_back(std::move(next));
    return 0;
}

int atomic_output_set::commit(std::size_t& failed) {
    for (failed = 0; failed < m_outputs.size(); ++failed)
        if (const int error = m_outputs[failed]->close(); error != 0) {
            discard();
            return error;
        }
    std::vector<std::string> renamed;
    for (failed = 0; failed < m_outputs.size(); ++failed) {
        atomic_output& output = *m_outputs[failed];
        const bool replaces = !output.written_in_place();
        if (const int error = output.commit(); error != 0) {
            for (const std::string& name : renamed)
                unlink(name.c_str());
            discard();
            return error;
        }
        if (replaces)
            renamed.push_back(output.target_name());
    }
    m_outputs.clear();
    return 0;
}

void atomic_output_set::discard() {
    for (const auto& output : m_outputs)
        output->discard();
    m_outputs.clear();
}
