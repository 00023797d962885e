// The plan of an SDS archive: which traces form the array and which of their
// day files exist. Directory listings and file status only; no miniSEED is read.
#pragma once

#include "days.h"
#include "layout.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sds {

inline constexpr size_t min_elements = 3;
inline constexpr size_t max_elements = 8;

// What tells a changed day file: its size and modification time.
struct FileStamp {
    uint64_t size = 0;
    int64_t mtime_ns = 0;  // nanoseconds since 1970
    bool operator==(const FileStamp&) const = default;
};

struct DayFiles {
    Day day;
    std::vector<std::optional<FileStamp>> files;  // per element, in element order; nothing: no file
};

struct ArchiveScan {
    std::vector<SeedId> elements;  // sorted by id text: the channel order of every run
    // Every day of the range and the day before and after it (a day's task
    // reads its neighbours, since records straddle midnight), in order.
    std::vector<DayFiles> days;
};

// The ids under root that match patterns ("NET.STA.LOC.CHA" with shell
// wildcards; no patterns: every id) and have a day file within range, with
// the day files of those ids. Throws Error naming root when root cannot be
// listed, and naming what it found when that is fewer than min_elements or
// more than max_elements ids. Misnamed and misfiled entries are passed over.
ArchiveScan scan_archive(const std::filesystem::path& root,
                         const std::vector<std::string>& patterns, DayRange range);

// The stamp of a day file (links followed), nothing when there is no regular
// file by that name. Throws Error naming the file when its status cannot be read.
std::optional<FileStamp> stamp_of(const std::filesystem::path& file);

}  // namespace sds
