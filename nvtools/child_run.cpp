#include "child_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace nvtools {

namespace {

// The first byte the child sends tells how the rest is meant.
constexpr char tag_output = 'R';
constexpr char tag_failure = 'E';

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

[[noreturn]] void fail_system(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::string read_all(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail_system("read from child");
        if (n == 0)
            return bytes;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

[[noreturn]] void child_main(int result_fd, int error_fd,
                             const std::function<std::string()>& work) {
    if (dup2(error_fd, STDERR_FILENO) < 0)
        _exit(2);
    std::string message;
    int status = 0;
    try {
        message = tag_output + work();
    } catch (const std::exception& e) {
        message = tag_failure + std::string(e.what());
        status = 1;
    }
    std::cerr.flush();
    _exit(write_all(result_fd, message) ? status : 2);
}

std::string last_line(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    const size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

std::string read_captured(FILE* file) {
    std::string text;
    if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

std::string reason_of_end(int status, const std::string& captured) {
    const std::string line = last_line(captured);
    if (!line.empty())
        return line;
    if (WIFSIGNALED(status))
        return "the reader was ended by signal " + std::to_string(WTERMSIG(status));
    return "the reader ended with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

ChildOutcome run_in_child(const std::function<std::string()>& work) {
    const std::unique_ptr<FILE, FileCloser> captured(std::tmpfile());
    if (!captured)
        fail_system("tmpfile");
    int fds[2];
    if (pipe(fds) != 0)
        fail_system("pipe");
    // Buffered output must not be written twice, by the child as well.
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail_system("fork");
    if (pid == 0) {
        close(fds[0]);
        child_main(fds[1], fileno(captured.get()), work);
    }
    close(fds[1]);
    std::string message;
    try {
        message = read_all(fds[0]);
    } catch (...) {
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        throw;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            fail_system("waitpid");

    ChildOutcome outcome;
    if (!message.empty() && message.front() == tag_output && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
        outcome.ok = true;
        outcome.output = message.substr(1);
    } else if (!message.empty() && message.front() == tag_failure) {
        outcome.reason = message.substr(1);
    } else {
        outcome.reason = reason_of_end(status, read_captured(captured.get()));
    }
    return outcome;
}

bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace nvtools
