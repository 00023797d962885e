#pragma once

// plan DIR [--list LISTFILE] [FILE...] [-- VIMSOR-OPTION...]: the inputs of a
// batch with the names of their outputs, and the options of every run.

#include <string>
#include <vector>

#include "manifest.h"
#include "vimsor_rules.h"

struct plan_request {
    std::string dir;
    std::vector<std::string> inputs;   // as given, in order
    std::vector<std::string> options;  // the words after --
};

// Reads plan's arguments (after the command word); throws batch_error on wrong use.
plan_request read_plan_arguments(const std::vector<std::string>& arguments);

// The entries of the manifest: absolute paths and output names. Throws
// batch_error naming the file when an input is no regular file or when two
// inputs would give the same output.
std::vector<planned_input> plan_inputs(const std::vector<std::string>& inputs,
                                       const run_options& options);

// Checks the request and writes the plan; returns the number of inputs.
std::size_t make_plan(const plan_request& request);
