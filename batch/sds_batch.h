#pragma once

// A batch over an SDS archive: one input per day (its word YYYY-MM-DD in the
// manifest). DIR/sds keeps the archive's root and the array's elements; a
// day's done record keeps what status needs: whether the day had no data,
// the samples of each element that got no result, and the stamps of the day
// files the day read, by which a changed day is told; besides, the CPU
// seconds of the day's conversions, for the bench.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "day_task.h"
#include "layout.h"
#include "vimsor_rules.h"

struct sds_request {
    std::string root;
    std::vector<std::string> patterns;  // from --channels, split at commas
    std::string from, to;
};

struct sds_batch {
    std::string root;  // absolute
    std::vector<sds::SeedId> elements;
};

// The description in DIR/sds of an SDS batch; nothing for a batch of files.
std::optional<sds_batch> open_sds(const batch_layout& layout);

// The options of the runs of an SDS batch: the words given, with -4 added
// when they leave the output mode alone. Throws batch_error naming the word
// for what read_run_options refuses and for another output mode.
run_options sds_run_options(const std::vector<std::string>& words);

// Writes the plan of the days from..to of the archive (see plan.h); returns
// the number of days. Reads the directory tree only.
std::size_t make_sds_plan(const std::string& dir, const sds_request& request,
                          const std::vector<std::string>& option_words);

// What a done day's record says.
struct day_record {
    bool no_data = false;
    std::vector<uint64_t> without_result;  // per element
    std::vector<std::optional<sds::FileStamp>> stamps;  // per element, the day before, the day, the day after
};

std::string day_record_text(const sds::DayOutcome& outcome);
// Throws batch_error naming path when text is no day record.
day_record parse_day_record(const std::string& text, const std::string& path);

// Whether the day files of day have changed since the record was written.
bool day_changed(const sds_batch& batch, sds::Day day, const day_record& record);

// What status tells of the done days of an SDS batch.
struct sds_figures {
    std::size_t no_data = 0;      // done days without a common piece
    uint64_t without_result = 0;  // samples of all elements and done days
    std::vector<std::size_t> changed;  // done days whose day files changed, by index
};
sds_figures sds_figures_of(const batch_layout& layout, const sds_batch& batch,
                           const std::vector<struct planned_input>& days);

// For run --changed and submit --changed: the done records of the changed
// days go, so that they are pending again. Returns how many. Throws
// batch_error when the batch is not one of an SDS archive.
std::size_t reopen_changed_days(const batch_layout& layout);
