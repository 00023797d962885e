#pragma once

// The scratch directories of inputs, under TMPDIR: vimsor-batch.HOST.PID.XXXXXX,
// with PID the task that made it. Each holds work/ (vimsor's working
// directory, where its job files and outputs go) and bin/mavlin (the shim,
// first on vimsor's PATH).

#include <string>

// TMPDIR as the user set it (/tmp when unset); a run hands it on to its tasks.
std::string scratch_parent();

// A new scratch directory with work/ and bin/mavlin (a link to self); throws
// batch_error saying what failed and why.
std::string make_scratch(const std::string& parent, const std::string& host, const std::string& self);

// The scratch directory's work/: vimsor's working directory.
std::string work_dir(const std::string& scratch);

// Removes the scratch directories of this host whose task is no longer alive.
void remove_dead_scratch(const std::string& parent, const std::string& host);
