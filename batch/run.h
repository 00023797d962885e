#pragma once

// run DIR [-j N] [--cpus C]: the pending inputs on this machine under GNU
// parallel, N at a time, then the status. On a terminal a progress line
// updates while it works.

#include <string>
#include <vector>

// Returns the exit status of status after the run.
int run_batch(const std::vector<std::string>& arguments);

// The pending inputs: neither done nor at work in a live run; one index a line.
std::string pending_list(const struct batch_layout& layout, std::size_t count, const struct liveness& live);

// A positive whole number, or batch_error naming the option.
unsigned long positive(const std::string& option, const std::string& value);
