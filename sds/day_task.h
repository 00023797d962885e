// One day of an SDS archive through vimsor: the elements' day files of the
// day and its neighbours read and joined, the day's common pieces written as
// exact 24-bit block files, vimsor run on each, and its TM4 results put back
// as the day files of SDS result trees, all of the day's files at once.
#pragma once

#include "day_pieces.h"
#include "days.h"
#include "layout.h"
#include "options.h"
#include "scan.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace sds {

struct DayJob {
    std::filesystem::path archive;  // ROOT of the SDS tree read
    std::vector<SeedId> elements;   // the channel order of every run
    Day day;
    option_values options;          // vimsor's; its output mode must be TM4
    std::filesystem::path scratch;  // an existing directory of the day's own
    std::filesystem::path out;      // results go to out/weak and out/strong
};

// Runs vimsor with the job's options on one piece's input file, in the
// file's directory, where vimsor leaves its results. Throws on failure.
using PieceRunner = std::function<void(const std::filesystem::path& input)>;

// An input day file and its stamp when read (nothing: there was no file).
struct InputStamp {
    std::filesystem::path file;
    std::optional<FileStamp> stamp;
};

inline constexpr const char* no_data_note = "no data";

struct DayOutcome {
    bool no_data = false;  // no common piece: nothing was run or written
    size_t pieces = 0;
    // Per element: samples of the day that got no result (piece tails past
    // the last whole row of 512, short pieces, times other elements lack).
    std::vector<uint64_t> samples_without_result;
    // Per element, in element order: its files of the day before, the day
    // and the day after, each with its stamp taken before it was read.
    std::vector<InputStamp> inputs;
    std::vector<std::filesystem::path> written;
    // CPU seconds of this process on the day outside the runner: reading,
    // cutting and writing the pieces, taking the results back, the day files.
    double conversion_cpu_seconds = 0;
};

// The result trees the options give: "weak", "strong" or both (a band-pass
// run's results are weak), with the extension of vimsor's TM4 output of each.
struct ResultTree {
    std::filesystem::path name;
    std::string extension;
};
std::vector<ResultTree> result_trees(const option_values& options);

// Runs the day. Throws Error naming the id of a trace with floating-point
// samples (vimsor's model holds 32-bit integers), naming the file that
// cannot be read or written, or when the options do not ask for TM4 output;
// whatever runner throws passes through. Nothing is written to out then.
// The day's set of result files replaces the one a former run of the day
// left: those of its files the new set lacks are removed with the commit.
DayOutcome run_day(const DayJob& job, const PieceRunner& runner);

}  // namespace sds
