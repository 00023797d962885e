// Runs a program and reports the CPU time it used itself, without that of the
// children it started and waited for:
//
//   self_cpu REPORT-FILE PROGRAM [ARGUMENTS...]
//
// The child is left a zombie (waitid with WNOWAIT) so that /proc/<pid>/stat
// still holds its own user and system time (fields 14 and 15) beside those
// of its reaped children (16 and 17). REPORT-FILE receives one line:
// "self_user self_sys children_user children_sys wall" in seconds.

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "proc_stat.h"

namespace {

struct process_times {
    double user, sys, children_user, children_sys;
};

// Fields 14 to 17 of /proc/<pid>/stat.
bool read_times(pid_t pid, process_times& times) {
    std::vector<std::string> fields;
    if (!read_proc_stat(pid, fields) || fields.size() < 17 - 3 + 1)
        return false;
    double seconds[4];
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (int k = 0; k < 4; ++k) {
        const std::string& text = fields[14 - 3 + k];
        long long ticks = 0;
        if (std::from_chars(text.data(), text.data() + text.size(), ticks).ptr !=
            text.data() + text.size())
            return false;
        seconds[k] = static_cast<double>(ticks) / hz;
    }
    times = {seconds[0], seconds[1], seconds[2], seconds[3]};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: self_cpu REPORT-FILE PROGRAM [ARGUMENTS...]\n";
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("self_cpu: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "self_cpu: can't run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            std::perror("self_cpu: waitid");
            return 2;
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    process_times times{};
    const bool known = read_times(pid, times);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        std::perror("self_cpu: waitpid");
        return 2;
    }
    if (!known) {
        std::cerr << "self_cpu: can't read the times of process " << pid << "\n";
        return 2;
    }
    std::ofstream report(argv[1]);
    report << times.user << " " << times.sys << " " << times.children_user << " "
           << times.children_sys << " " << wall << "\n";
    if (!report) {
        std::cerr << "self_cpu: can't write " << argv[1] << "\n";
        return 2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
