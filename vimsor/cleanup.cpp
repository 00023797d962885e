#include "cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "row_files.h"
#include "workers.h"

namespace cleanup {

namespace {

// Longer names cannot be created, so they need no room here.
constexpr std::size_t name_capacity = PATH_MAX;

struct recorded_name {
    char text[name_capacity];
    bool used;
};

// Everything below is changed with the signals held and read by the
// clean-up, which may run in a signal handler: fixed buffers only.
recorded_name temporaries[2];
recorded_name lock_file;
int lock_fd = -1;
recorded_name row_base;
std::size_t row_workers = 0;
std::size_t row_count = 0;
pid_t workers[max_workers];
pid_t owner = 0;  // forked children (before their exec) clean up nothing

// The workers lead process groups of their own, so the signals a terminal
// sends to its foreground group (hangup, interrupt, quit) reach only this
// process, which passes them on by killing the workers.
constexpr int ending_signal_numbers[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

sigset_t ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : ending_signal_numbers)
        sigaddset(&set, signal_number);
    return set;
}

void copy_name(recorded_name& slot, const char* name) {
    slot.used = std::strlen(name) < name_capacity;
    if (slot.used)
        std::memcpy(slot.text, name, std::strlen(name) + 1);
}

void remove_file(const char* name) { unlink(name); }  // what is gone already needs no removal

// Members of a group besides its leader (the children of a worker's shell)
// are killed with it, but whoever inherits them may reap them late, so the
// wait for their end, which lets one still in its last system call finish
// before the files are removed, is short and bounded.
void wait_for_groups_end() {
    const timespec pause{0, 5'000'000};
    for (int i = 0; i < 20; ++i) {
        bool any = false;
        for (pid_t pid : workers)
            any = any || (pid > 0 && kill(-pid, 0) == 0);
        if (!any)
            return;
        nanosleep(&pause, nullptr);
    }
}

void stop_workers() {
    for (pid_t pid : workers)
        if (pid > 0 && kill(-pid, SIGKILL) != 0)
            kill(pid, SIGKILL);  // not a group leader after all
    for (pid_t pid : workers)
        if (pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    wait_for_groups_end();
    for (pid_t& pid : workers)
        pid = 0;
}

void remove_rows() {
    if (!row_base.used)
        return;
    char name[name_capacity];
    for (std::size_t r = 0; r < row_count; ++r)
        for (const char* extension : row_file_extensions)
            if (row_file_name(name, sizeof name, row_base.text, row_workers, r, extension))
                remove_file(name);
    row_base.used = false;
}

void clean_up_on_signal(int signal_number) {
    if (getpid() == owner)
        run_now();
    _exit(128 + signal_number);
}

void clean_up_at_exit() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);  // a late signal must not interrupt the clean-up
    if (getpid() == owner)
        run_now();
}

void catch_signal(int signal_number) {
    struct sigaction action {};
    if (sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
        return;  // a run started to ignore it (nohup, a background job) keeps ignoring it
    action = {};
    action.sa_handler = clean_up_on_signal;
    action.sa_mask = ending_signals();
    if (sigaction(signal_number, &action, nullptr) != 0)
        std::perror("sigaction");
}

void install_once() {
    if (owner != 0)
        return;
    owner = getpid();
    if (std::atexit(clean_up_at_exit) != 0)
        std::fputs("Warning: no clean-up at exit can be arranged\n", stderr);
    for (const int signal_number : ending_signal_numbers)
        catch_signal(signal_number);
}

}  // namespace

signals_held::signals_held() {
    const sigset_t set = ending_signals();
    if (sigprocmask(SIG_BLOCK, &set, &m_previous) != 0)
        sigemptyset(&m_previous);  // cannot fail with valid arguments
}

signals_held::~signals_held() { sigprocmask(SIG_SETMASK, &m_previous, nullptr); }

void add_file(const char* name) {
    const signals_held held;
    install_once();
    for (recorded_name& slot : temporaries)
        if (!slot.used) {
            copy_name(slot, name);
            return;
        }
}

void forget_file(const char* name) {
    const signals_held held;
    for (recorded_name& slot : temporaries)
        if (slot.used && std::strcmp(slot.text, name) == 0)
            slot.used = false;
}

void add_rows(const char* base, std::size_t workers, std::size_t rows) {
    const signals_held held;
    install_once();
    copy_name(row_base, base);
    row_workers = workers;
    row_count = rows;
}

void forget_rows() {
    const signals_held held;
    row_base.used = false;
}

void add_worker(pid_t pid) {
    const signals_held held;
    install_once();
    for (pid_t& slot : workers)
        if (slot <= 0) {
            slot = pid;
            return;
        }
}

void forget_worker(pid_t pid) {
    const signals_held held;
    for (pid_t& slot : workers)
        if (slot == pid)
            slot = 0;
}

void add_lock(const char* name, int fd) {
    const signals_held held;
    install_once();
    copy_name(lock_file, name);
    lock_fd = fd;
}

void forget_lock() {
    const signals_held held;
    lock_file.used = false;
    lock_fd = -1;
}

void run_now() {
    stop_workers();
    for (recorded_name& slot : temporaries)
        if (slot.used) {
            remove_file(slot.text);
            slot.used = false;
        }
    remove_rows();
    // Last, so that no other run takes the namebase while its files still exist.
    if (lock_file.used) {
        remove_file(lock_file.text);
        close(lock_fd);  // releases the lock; the process is ending or done with it
        lock_file.used = false;
        lock_fd = -1;
    }
}

}  // namespace cleanup
