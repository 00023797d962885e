#include "workers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cleanup.h"
#include "fatal.h"
#include "row_files.h"
#include "settings.h"

namespace {

// Row numbers below this have four digits, the width of "????".
constexpr std::size_t four_digit_rows = 10000;

bool is_plain_shell_char(unsigned char c) {
    if (c >= 0x80)  // bytes of non-ASCII characters are ordinary to the shell
        return true;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("_-./,:@%+=", c) != nullptr && c != '\0';
}

// Rows r in [first, last] with r mod workers == k.
std::size_t rows_of_worker(std::size_t first, std::size_t last, std::size_t k,
                           std::size_t workers) {
    const auto up_to = [&](std::size_t x) -> std::size_t {
        return x < k ? 0 : (x - k) / workers + 1;
    };
    return up_to(last) - (first == 0 ? 0 : up_to(first - 1));
}

std::size_t power_of_ten(std::size_t exponent) {
    std::size_t p = 1;
    while (exponent-- > 0)
        p *= 10;
    return p;
}

std::size_t digit_count(std::size_t n) {
    std::size_t digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

struct pattern {
    std::string text;   // the shell word
    std::size_t bytes;  // what its expansion adds to the argument list
};

// Splits the job files of worker k whose row numbers have `digits` digits
// into patterns <word><prefix>??...?.dat, each small enough to expand within
// the budget.
class pattern_planner {
public:
    pattern_planner(std::size_t k, std::size_t rows, std::size_t budget)
        : m_k(k),
          m_rows(rows),
          m_budget(budget),
          m_word(shell_word(namebase) + static_cast<char>('a' + k)) {}

    std::vector<pattern> plan() {
        for (std::size_t digits = 4; digits <= digit_count(m_rows - 1); ++digits) {
            m_digits = digits;
            m_lowest = digits == 4 ? 0 : power_of_ten(digits - 1);
            add(0, 0);
        }
        return std::move(m_patterns);
    }

private:
    void add(std::size_t prefix, std::size_t prefix_digits) {
        const std::size_t span = power_of_ten(m_digits - prefix_digits);
        const std::size_t first = std::max(prefix * span, m_lowest);
        const std::size_t last = std::min(prefix * span + span - 1, m_rows - 1);
        if (first > last)
            return;
        const std::size_t count = rows_of_worker(first, last, m_k, workers());
        if (count == 0)
            return;
        const std::size_t bytes = count * name_bytes();
        if (bytes <= m_budget || prefix_digits == m_digits) {
            m_patterns.push_back({text(prefix, prefix_digits), bytes});
            return;
        }
        // The leading digit of a number of five or more digits is never 0.
        const std::size_t first_digit = prefix_digits == 0 && m_digits > 4 ? 1 : 0;
        for (std::size_t d = first_digit; d <= 9; ++d)
            add(prefix * 10 + d, prefix_digits + 1);
    }

    std::string text(std::size_t prefix, std::size_t prefix_digits) const {
        char digits[24] = "";
        if (prefix_digits > 0)
            std::snprintf(digits, sizeof digits, "%0*zu", static_cast<int>(prefix_digits), prefix);
        return m_word + digits + std::string(m_digits - prefix_digits, '?') + ".dat";
    }

    // An expanded job file name: base name, terminator and argument pointer.
    std::size_t name_bytes() const {
        return namebase.size() + 1 + m_digits + 4 + 1 + sizeof(char*);
    }

    static std::size_t workers() { return row_workers(global_nr_cpus); }

    std::size_t m_k;
    std::size_t m_rows;
    std::size_t m_budget;
    std::string m_word;
    std::size_t m_digits = 4;
    std::size_t m_lowest = 0;
    std::vector<pattern> m_patterns;
};

// One run of the analysis program per group of patterns that fits the budget.
std::string join_runs(const std::string& invocation, const std::vector<pattern>& patterns,
                      std::size_t budget) {
    std::string command;
    std::size_t used = 0;
    for (const pattern& p : patterns) {
        if (command.empty() || used + p.bytes > budget) {
            if (!command.empty())
                command += "; ";
            command += invocation;
            used = 0;
        }
        command += ' ';
        command += p.text;
        used += p.bytes;
    }
    return command;
}

void report_end(pid_t pid, std::size_t k, int status) {
    if (WIFSIGNALED(status))
        std::cerr << "Warning: worker " << static_cast<char>('a' + k) << " (pid " << pid
                  << ") ended by signal " << WTERMSIG(status) << " (" << strsignal(WTERMSIG(status))
                  << ")\n";
}

void wait_for(pid_t pid, std::size_t k) {
    int termstat = 0;
    while (waitpid(pid, &termstat, 0) < 0) {
        if (errno != EINTR) {
            std::cerr << "waitpid for pid " << pid << ": " << std::strerror(errno) << "\n";
            cleanup::forget_worker(pid);
            return;
        }
    }
    cleanup::forget_worker(pid);
    report_end(pid, k, termstat);
}

}  // namespace

unsigned int get_number_of_cpus() {
    errno = 0;
    return processors_or_one(sysconf(_SC_NPROCESSORS_ONLN));
}

unsigned int processors_or_one(long online) {
    return online < 1 ? 1 : static_cast<unsigned int>(online);
}

void set_worker_count() {
    if (global_nr_cpus == 0)
        global_nr_cpus = get_number_of_cpus();
    if (global_nr_cpus > max_workers) {
        std::cerr << "Warning: " << global_nr_cpus << " workers asked for, using " << max_workers
                  << " (worker letters run from a to z)\n";
        global_nr_cpus = max_workers;
    }
    if (!quiet)
        std::cout << "Found " << global_nr_cpus << " cpus\n";
}

pid_t start_process(const char* cmd) {
    // The worker is recorded before a signal can end the run, and leads its
    // own process group, so that an interrupted or failed run can stop the
    // shell together with the analysis program it started.
    const cleanup::signals_held held;
    errno = 0;
    const pid_t pid = fork();
    if (pid < 0) {
        const int reason = errno;
        fatal(std::string("fork: ") + std::strerror(reason) + "\nTerminating");
    }
    if (pid == 0) {
        setpgid(0, 0);  // the parent does the same; one of the two takes effect
        sigprocmask(SIG_SETMASK, &held.previous(), nullptr);
        char sh[] = "sh";
        char dash_c[] = "-c";
        char* const argv[] = {sh, dash_c, const_cast<char*>(cmd), nullptr};
        execv("/bin/sh", argv);
        std::cerr << "exec() of " << MAVLIN << " failed: " << std::strerror(errno) << "\n";
        _exit(1);  // the parent's buffered output is not the child's to write
    }
    // Fails only when the child has already made itself the leader, or ended.
    setpgid(pid, pid);
    cleanup::add_worker(pid);
    return pid;
}

std::string shell_word(const std::string& text) {
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return is_plain_shell_char(static_cast<unsigned char>(c)); }))
        return text;
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::size_t argument_budget() {
    constexpr std::size_t most = 256 * 1024;
    const long limit = sysconf(_SC_ARG_MAX);
    if (limit <= 0)
        return 32 * 1024;
    // The environment and the options share the limit.
    return std::min(most, static_cast<std::size_t>(limit) / 4);
}

std::string worker_command(const std::string& invocation, std::size_t k, std::size_t rows,
                           std::size_t argument_bytes) {
    const std::string word = shell_word(namebase) + static_cast<char>('a' + k);
    if (rows <= four_digit_rows)
        return invocation + " " + word + "????.dat";
    return join_runs(invocation, pattern_planner(k, rows, argument_bytes).plan(), argument_bytes);
}

void run_workers(const std::vector<std::string>& commands) {
    std::vector<pid_t> pids;
    for (const std::string& command : commands) {
        if (!quiet)
            std::cout << "/bin/sh " << command << "\n" << std::flush;
        // Output still buffered would appear after the worker's; a stream
        // that cannot be written is no reason to stop the run.
        if (std::fflush(nullptr) != 0)
            std::clearerr(stdout);
        pids.push_back(start_process(command.c_str()));
    }
    if (!quiet)
        std::cout << "Waiting for pid ";
    for (std::size_t k = 0; k < pids.size(); ++k) {
        if (!quiet)
            std::cout << pids[k] << std::flush;
        wait_for(pids[k], k);
        if (!quiet)
            std::cout << "." << std::flush;
    }
    if (!quiet)
        std::cout << "\n";
}
