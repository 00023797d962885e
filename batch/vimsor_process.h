#pragma once

// One vimsor run of the batch: vimsor in a session of its own that ends with
// the task, in the scratch directory's work/, its standard output into the
// input's log, the mavlin shim first on its PATH, and its standard error read
// write by write (see error_message.h) until it ends.

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "error_message.h"
#include "processes.h"

struct vimsor_end {
    int status = 0;  // the exit status, or 128 + the signal that ended it
    bool exited = false;
    error_stream errors;
};

struct vimsor_call {
    std::vector<std::string> arguments;  // after the program's name
    std::string scratch;                 // holds work/ and bin/mavlin
    std::string log;                     // exists; written at its end
};

// Calls started with vimsor's session once it runs; sends vimsor SIGTERM
// when stop becomes non-zero (vimsor then stops its workers and ends).
// Throws batch_error when vimsor cannot be started.
vimsor_end run_vimsor(const vimsor_call& call, const std::function<void(const process_id&)>& started,
                      const volatile std::sig_atomic_t& stop);
