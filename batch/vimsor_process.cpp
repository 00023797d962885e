#include "vimsor_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "batch_error.h"
#include "programs.h"
#include "scratch.h"

extern char** environ;

namespace {

// The environment of vimsor: the shim's directory first on PATH, TMPDIR as
// the user set it, and for the shim the log and the PATH without it.
std::vector<std::string> vimsor_environment(const std::string& scratch, const std::string& log) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!variable.starts_with("PATH=") && !variable.starts_with("TMPDIR=") &&
            !variable.starts_with("VIMSOR_BATCH_"))
            environment.push_back(variable);
    }
    environment.push_back("PATH=" + scratch + "/bin:" + path_variable());
    environment.push_back("TMPDIR=" + scratch_parent());
    environment.push_back("VIMSOR_BATCH_PATH=" + path_variable());
    environment.push_back("VIMSOR_BATCH_LOG=" + log);
    return environment;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result;
    for (std::string& word : words)
        result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

// The child's side: a session of its own that ends with the task, the
// scratch's work/ as working directory, the log as standard output and the
// socket as standard error. Only calls that are safe after fork.
[[noreturn]] void become_vimsor(pid_t task, const std::string& work, int log, int errors,
                                char** argv, char** environment) {
    if (setsid() >= 0 && prctl(PR_SET_PDEATHSIG, SIGTERM) == 0) {
        if (getppid() != task)
            _exit(128 + SIGTERM);  // the task ended before vimsor could follow it
        sigset_t none;
        sigemptyset(&none);
        if (sigprocmask(SIG_SETMASK, &none, nullptr) == 0 && chdir(work.c_str()) == 0 &&
            dup2(log, STDOUT_FILENO) >= 0 && dup2(errors, STDERR_FILENO) >= 0)
            execvpe("vimsor", argv, environment);
    }
    // One message in three writes, without allocating.
    const char* const reason = strerror(errno);
    const char prefix[] = "vimsor-batch: cannot run vimsor: ";
    if (write(STDERR_FILENO, prefix, sizeof prefix - 1) < 0 || write(STDERR_FILENO, reason, strlen(reason)) < 0 ||
        write(STDERR_FILENO, "\n", 1) < 0)
        _exit(127);
    _exit(127);
}

void read_errors(pid_t vimsor, int socket, error_stream& errors, const volatile std::sig_atomic_t& stop) {
    static char block[256 * 1024];  // more than one write to a socket can hold
    bool stopping = false;
    for (;;) {
        if (stop != 0 && !stopping) {
            kill(vimsor, SIGTERM);  // vimsor stops its workers and removes its files
            stopping = true;
        }
        pollfd ready{socket, POLLIN, 0};
        const int events = poll(&ready, 1, 500);
        if (events < 0 && errno != EINTR)
            return;
        if (events > 0) {
            const ssize_t n = recv(socket, block, sizeof block, 0);
            if (n > 0)
                errors.add_write({block, static_cast<std::size_t>(n)});
            else if (n == 0 || errno != EINTR)
                return;  // every writer has closed it
            continue;
        }
        // Nothing to read: a worker that outlived vimsor may still hold the
        // socket, so vimsor's own end ends the reading, after what it wrote
        // before it ended.
        siginfo_t ended{};
        if (waitid(P_PID, static_cast<id_t>(vimsor), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            ended.si_pid == vimsor) {
            for (ssize_t n; (n = recv(socket, block, sizeof block, MSG_DONTWAIT)) > 0;)
                errors.add_write({block, static_cast<std::size_t>(n)});
            return;
        }
    }
}

}  // namespace

vimsor_end run_vimsor(const vimsor_call& call, const std::function<void(const process_id&)>& started,
                      const volatile std::sig_atomic_t& stop) {
    std::vector<std::string> argv{"vimsor"};
    argv.insert(argv.end(), call.arguments.begin(), call.arguments.end());
    std::vector<std::string> environment = vimsor_environment(call.scratch, call.log);
    std::vector<char*> argv_pointers = pointers(argv);
    std::vector<char*> environment_pointers = pointers(environment);

    const int log = open(call.log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (log < 0)
        throw batch_error("cannot open " + call.log + ": " + reason_of(errno));
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        const int error = errno;
        close(log);
        throw batch_error("cannot make a socket for vimsor's standard error: " + reason_of(error));
    }
    const pid_t task = getpid();
    const pid_t vimsor = fork();
    if (vimsor == 0)
        become_vimsor(task, work_dir(call.scratch), log, sockets[1], argv_pointers.data(),
                      environment_pointers.data());
    close(log);
    close(sockets[1]);
    if (vimsor < 0) {
        close(sockets[0]);
        throw batch_error("cannot start vimsor: " + reason_of(errno));
    }
    process_id session = identify(vimsor);
    session.pid = vimsor;
    vimsor_end end;
    try {
        started(session);
    } catch (...) {
        kill(vimsor, SIGTERM);
        waitpid(vimsor, nullptr, 0);
        close(sockets[0]);
        throw;
    }
    read_errors(vimsor, sockets[0], end.errors, stop);
    close(sockets[0]);
    int status = 0;
    while (waitpid(vimsor, &status, 0) < 0)
        if (errno != EINTR)
            throw batch_error("cannot wait for vimsor: " + reason_of(errno));
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return end;
}

