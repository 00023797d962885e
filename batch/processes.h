#pragma once

// Processes as the batch's records name them: a pid together with its start
// time (so a reused pid is never taken for the process recorded), and the
// sessions vimsor runs in.

#include <sys/types.h>

#include <string>

struct process_id {
    pid_t pid = 0;
    unsigned long long start = 0;  // clock ticks after boot, from /proc/PID/stat

    bool operator==(const process_id&) const = default;
};

// This machine's name.
std::string host_name();

// The process pid as it is now; start 0 when there is no such process.
process_id identify(pid_t pid);

// The process still runs (and is no zombie).
bool is_alive(const process_id& process);

// Kills the process with SIGKILL when it is the one recorded.
void stop_process(const process_id& process);

// Kills every process of the session it led with SIGKILL,
// until none is left. A session leads on after its leader: its id stays
// taken while any member lives, so the members found are the ones recorded.
// When the leader runs but with another start time, nothing is done.
void stop_session(const process_id& leader);
