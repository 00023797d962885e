#include "gnuplot_run.h"

#include "child_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace nvtools {

namespace {

std::runtime_error system_failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

pid_t start_gnuplot(int input, int output) {
    posix_spawn_file_actions_t actions;
    if (const int error = posix_spawn_file_actions_init(&actions); error != 0)
        throw system_failure("cannot start gnuplot", error);
    int error = posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    pid_t pid = -1;
    char name[] = "gnuplot";
    char* argv[] = {name, nullptr};
    if (error == 0)
        error = posix_spawnp(&pid, name, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error == ENOENT)
        throw std::runtime_error(
            "gnuplot is not installed (Debian package gnuplot-nox: apt-get install gnuplot-nox)");
    if (error != 0)
        throw system_failure("cannot start gnuplot", error);
    return pid;
}

}  // namespace

void run_gnuplot(const std::string& script, int output_fd) {
    // A gnuplot that ends early must not end this process through SIGPIPE.
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        throw system_failure("signal", errno);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw system_failure("pipe", errno);
    pid_t pid = -1;
    try {
        pid = start_gnuplot(fds[0], output_fd);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[0]);
    const bool written = write_all(fds[1], script);
    const bool closed = close(fds[1]) == 0;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw system_failure("waitpid", errno);
    if (WIFSIGNALED(status))
        throw std::runtime_error("gnuplot was ended by signal " + std::to_string(WTERMSIG(status)));
    if (WEXITSTATUS(status) != 0)
        throw std::runtime_error("gnuplot failed with status " +
                                 std::to_string(WEXITSTATUS(status)));
    if (!written || !closed)
        throw std::runtime_error("gnuplot did not read the whole script");
}

}  // namespace nvtools
