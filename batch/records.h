#pragma once

// The records of a batch's inputs (see layout.h): which are done or failed,
// and the running records, which name the run at work on an input.

#include <ctime>
#include <string>
#include <vector>

#include "layout.h"
#include "processes.h"

// Who works on an input: the host; on one machine the runner (the process of
// `run`), on a cluster the Slurm array job; the task that runs the input and
// the session its vimsor leads (pid 0 until it started), with the session's
// start; the scratch directory (last in the file, so it may hold any byte).
struct running_record {
    std::string host;
    process_id runner;
    std::string job;
    process_id task;
    process_id session;
    std::time_t started = 0;
    std::string scratch;
};

std::string running_record_text(const running_record& record);
running_record parse_running_record(const std::string& text);

struct input_records {
    bool done = false;
    bool failed = false;
    bool running = false;    // a running record that is live (see is_live)
    std::time_t finished = 0;  // when the done or failed record was written
};

struct batch_records {
    std::vector<input_records> inputs;  // index 0 unused: inputs count from 1
    std::vector<std::pair<std::size_t, running_record>> running;  // every running record
};

// Reads every record of inputs 1..count; running stays false.
batch_records scan_records(const batch_layout& layout, std::size_t count);

// Whether a running record's run is still at work: its array is active, or
// its runner is a live process on this host.
struct liveness {
    std::string host;
    std::vector<std::string> active_arrays;
    bool (*process_alive)(const process_id&) = is_alive;

    bool is_live(const running_record& record) const;
};

// Sets running for the inputs whose running record is live.
void mark_live(batch_records& records, const liveness& live);
