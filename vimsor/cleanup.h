#pragma once

// What a run must not leave behind when it ends early. The pipeline, the
// worker start-up and the output writers record here the files and worker
// processes that exist only while an input file is processed, and forget
// them once they are dealt with. Whatever is still recorded when the process
// exits (a failed run ends with exit(1)) or receives SIGINT, SIGTERM,
// SIGHUP or SIGQUIT is cleaned up: the workers' process groups are killed
// and reaped, then the temporary output files, the row files and the lock
// file are removed. On a signal the process then ends with status 128 + the
// signal number.
//
// The first record installs the exit and signal handlers. The clean-up does
// only async-signal-safe work, on fixed buffers filled when things are
// recorded.

#include <signal.h>
#include <sys/types.h>

#include <cstddef>

namespace cleanup {

// Holds those signals back while in scope, so that a file or a worker is
// recorded before a signal can end the process between its creation and its
// record.
class signals_held {
public:
    signals_held();
    ~signals_held();
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

    // The mask in force before, for a forked child to restore before exec.
    const sigset_t& previous() const { return m_previous; }

private:
    sigset_t m_previous;
};

// A temporary output file; up to two are recorded at a time.
void add_file(const char* name);
void forget_file(const char* name);

// The files of rows 0 .. rows-1 (see row_files.h), with base as the
// namebase and workers as the worker count.
void add_rows(const char* base, std::size_t workers, std::size_t rows);
void forget_rows();

// A worker started as the leader of its own process group.
void add_worker(pid_t pid);
// The worker has been reaped.
void forget_worker(pid_t pid);

// The lock file held through fd; removed (before fd is closed by the end of
// the process) by the clean-up.
void add_lock(const char* name, int fd);
void forget_lock();

// Kills the recorded workers and removes the recorded files, forgetting
// them: what the exit and signal handlers do.
void run_now();

}  // namespace cleanup
