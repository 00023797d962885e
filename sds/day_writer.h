// Result traces written as the day files of an SDS tree: every record starts
// within its UTC day, and the day files of a set appear together or not at all.
#pragma once

#include "days.h"
#include "layout.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace sds {

// The index of the first sample at or after boundary_us (count when none is).
size_t first_sample_from(int64_t start_us, double rate_hz, size_t count, int64_t boundary_us);

class DayFileSet {
public:
    explicit DayFileSet(std::filesystem::path root);
    ~DayFileSet();  // removes the temporary files of a set that was not committed
    DayFileSet(const DayFileSet&) = delete;
    DayFileSet& operator=(const DayFileSet&) = delete;

    // Adds a contiguous piece of trace id to the SDS tree root/tree: values
    // from start_us on at rate_hz. It is split at every UTC midnight (a sample
    // at midnight opens the new day), each part starting at its first sample's
    // time to the nearest microsecond. Throws Error naming the id when the
    // rate is not positive and finite or the records cannot be made.
    void add(const SeedId& id, double rate_hz, int64_t start_us, std::span<const float> values,
             const std::filesystem::path& tree = {});

    // Names a day file the set replaces as a whole: when the set writes no
    // file in its place, commit removes it.
    void replaces(const std::filesystem::path& day_file);

    // Writes every day file under a temporary name beside its place, then
    // renames each into place; a day file already there is replaced, and the
    // replaced ones the set does not write are removed. Throws Error naming
    // the file on failure (also for pieces of one id that overlap, and for a
    // place taken by anything but a regular file), and then leaves none of
    // the set's files behind. Returns the day files written.
    std::vector<std::filesystem::path> commit();

private:
    struct Part {
        int64_t start_us;
        int64_t end_us;  // just after the last sample
        std::string records;
    };

    void add_part(const std::filesystem::path& root, const SeedId& id, double rate_hz,
                  int64_t start_us, std::span<const float> values);
    void write_temporaries();
    void remove_temporaries() noexcept;

    std::filesystem::path root_;
    std::vector<std::filesystem::path> replaced_;
    std::map<std::filesystem::path, std::vector<Part>> files_;            // day file -> its parts
    std::map<std::filesystem::path, std::filesystem::path> temporaries_;  // day file -> temporary
};

// Removes the temporary files a commit cut short left under root (a process
// killed between writing and renaming them): files named as commit names
// its temporaries, nothing else. For a tree no commit is writing to. Throws
// Error naming the file or directory that cannot be removed or read.
void remove_leftover_temporaries(const std::filesystem::path& root);

}  // namespace sds
