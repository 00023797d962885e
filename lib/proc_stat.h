#pragma once

// The fields of /proc/PID/stat, read past the command name: that name stands
// in parentheses and may itself hold blanks and parentheses, so the fields
// start after the last ')'.

#include <sys/types.h>

#include <string>
#include <vector>

// Fields 3 (the state) on, so that field N is fields[N - 3]. False when the
// process is gone or its line has no command name.
bool read_proc_stat(pid_t pid, std::vector<std::string>& fields);
