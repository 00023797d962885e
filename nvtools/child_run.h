// Running work in a child process, so that a reader which ends the process
// (the legacy reader does on some damaged files, as vimsor requires) ends
// only the child.
#pragma once

#include <functional>
#include <string>

namespace nvtools {

struct ChildOutcome {
    bool ok = false;
    std::string output;  // what work returned, when ok
    std::string reason;  // why not, otherwise
};

// Runs work in a forked child with its error stream captured. The reason of
// a failure is the message of the exception work threw or, when the child
// ended on its own, the last line it wrote to its error stream (or its
// status). Throws std::runtime_error when the child cannot be run at all.
ChildOutcome run_in_child(const std::function<std::string()>& work);

// Writes all of bytes to fd, going on after interruptions; false when the
// other end stopped reading or the write failed.
bool write_all(int fd, const std::string& bytes);

}  // namespace nvtools
