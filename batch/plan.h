#pragma once

// plan DIR [--list LISTFILE] [FILE...] [-- VIMSOR-OPTION...]: the inputs of a
// batch with the names of their outputs, and the options of every run; or
// plan DIR --sds ROOT --channels PATTERN[,PATTERN...] --from DAY --to DAY
// [-- VIMSOR-OPTION...]: the days of an SDS archive (see sds_batch.h).

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "layout.h"
#include "manifest.h"
#include "sds_batch.h"
#include "vimsor_rules.h"

struct plan_request {
    std::string dir;
    std::vector<std::string> inputs;   // as given, in order
    std::vector<std::string> options;  // the words after --
    std::optional<sds_request> sds;    // set by --sds
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

// Throws batch_error when the directory (dir as given) holds a plan already.
void check_no_plan(const batch_layout& layout, const std::string& dir);

// Writes the plan: the directories, the options, the files of more (path,
// content), then the manifest, so that a directory holds a plan only once
// it is complete. Throws batch_error naming what cannot be written.
void write_plan(const batch_layout& layout, const std::vector<std::string>& option_words,
                const std::vector<planned_input>& planned,
                const std::vector<std::pair<std::string, std::string>>& more = {});
