#include "programs.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "batch_error.h"

std::string find_on_path(const std::string& name, const std::string& path_list) {
    std::size_t start = 0;
    while (start <= path_list.size()) {
        std::size_t end = path_list.find(':', start);
        if (end == std::string::npos)
            end = path_list.size();
        const std::string directory = end == start ? "." : path_list.substr(start, end - start);
        const std::string candidate = directory + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

std::string path_variable() {
    const char* path = std::getenv("PATH");
    return path == nullptr ? "" : path;
}

int run_program(const std::vector<std::string>& argv, std::string& output, bool keep_errors) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0)
        throw batch_error("cannot make a pipe for " + argv.front() + ": " + reason_of(errno));
    const pid_t pid = fork();
    if (pid < 0)
        throw batch_error("cannot start " + argv.front() + ": " + reason_of(errno));
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& word : argv)
            args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        dup2(pipe_ends[1], STDOUT_FILENO);
        if (!keep_errors) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0)
                dup2(null, STDERR_FILENO);
        }
        execvp(args.front(), args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    char block[4096];
    for (ssize_t n; (n = read(pipe_ends[0], block, sizeof block)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        output.append(block, static_cast<std::size_t>(n));
    }
    close(pipe_ends[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw batch_error("cannot wait for " + argv.front() + ": " + reason_of(errno));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string own_path() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n < 0 || static_cast<std::size_t>(n) == sizeof path)
        throw batch_error(std::string("cannot find my own path in /proc/self/exe: ") + reason_of(errno));
    return std::string(path, static_cast<std::size_t>(n));
}
