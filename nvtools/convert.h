// nvconvert's two directions: any recording to miniSEED, miniSEED to TM4.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nvtools {

struct MiniseedOptions {
    std::string network = "XX";
    std::optional<std::string> station_code;  // default: from the station name
    int record_length = 4096;
};

struct Tm4Options {
    std::vector<std::string> channel_patterns;  // SEED id patterns; none: every trace
    std::optional<std::string> station;         // default: from the traces' station code
    int gain = 1;
};

// An error that names the file concerned.
struct FileError : std::runtime_error {
    FileError(const std::string& file, const std::string& reason)
        : std::runtime_error(file + ": " + reason) {}
};

// Writes every channel of the recording in (any format libnevra reads) to
// out as miniSEED, one segment per contiguous run of its time axis. Refuses
// (FileError naming in) a rate miniSEED cannot hold exactly (see rate_field)
// and more channels than two-digit location codes tell apart.
void recording_to_miniseed(const std::string& in, const std::string& out,
                           const MiniseedOptions& options);

// Writes the traces of the miniSEED file in to TM4: out itself when they
// form one block, otherwise one file per block (see tm4_block_name), each
// with every value, time and the rate exact (see write_tm4). Refuses
// (FileError naming in) a value beyond the 32-bit samples vimsor's TM4
// reader takes. Warnings go to the error stream. Returns the names written.
std::vector<std::string> miniseed_to_tm4(const std::string& in, const std::string& out,
                                         const Tm4Options& options);

// The name of block k (from 1) of blocks: out itself when there is one,
// otherwise "<stem>_<k><extension>" ("day.tm4" gives "day_1.tm4", "day_2.tm4", ...).
std::string tm4_block_name(const std::string& out, size_t k, size_t blocks);

}  // namespace nvtools
