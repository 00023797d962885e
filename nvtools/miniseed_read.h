// Reading miniSEED files into contiguous segments. libmseed parses and
// decodes each record; the checks, the joining of records and the refusals
// are the tools' own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nvtools {

// One contiguous run of one trace (see miniseed_join.h for when records join).
struct Segment {
    std::string id;  // NET.STA.LOC.CHA
    double rate_hz = 0.0;
    std::int64_t start_us = 0;  // the run's first sample
    // values[i] is sample first_index + i of the run: it lies at
    // start_us + (first_index + i) / rate. Read from a window, a run's
    // records before the window are not decoded.
    std::int64_t first_index = 0;
    std::vector<double> values;
    bool is_integer = true;       // decoded from integer encodings (a trace never mixes)
    std::vector<int> encodings;   // SEED codes of its records' encodings, ascending, each once
};

// The bytes of a file's start that looks_like_miniseed needs.
constexpr std::size_t miniseed_probe_bytes = 512;

// True when the bytes start like a miniSEED data record.
bool looks_like_miniseed(std::string_view head);

// True when file starts like a miniSEED data record. Throws
// std::runtime_error with the reason (without the file name) when the file
// cannot be read, is empty or is a directory.
bool is_miniseed_file(const std::string& file);

// A short name of a SEED data encoding ("STEIM-2", "INT32", "FLOAT64", ...).
std::string encoding_name(int code);

// Every segment of the selected traces of file, trace by trace in the order
// of their ids, each trace's segments in time order. patterns are SEED-id
// shell wildcards; none selects every trace. Records of other traces are
// parsed but not decoded or checked. Throws std::runtime_error with the
// reason (without the file name; a record is named by its id and start
// time) when the file is not whole miniSEED, or a selected record cannot be
// decoded, fails its Steim integrity check, claims more samples than it can
// hold, is flagged for a leap second, has no positive rate, holds text or
// a value that is not a finite number, or when a trace mixes integer and
// floating-point samples.
std::vector<Segment> read_miniseed(const std::string& file,
                                   const std::vector<std::string>& patterns = {});

// Microseconds since 1970 from from_us up to, not including, to_us.
struct TimeWindow {
    std::int64_t from_us = 0;
    std::int64_t to_us = 0;
};

// The segments of the traces ids (exact ids, in that order) over several
// files: the records of a trace in all the files are joined together, as
// read_miniseed joins those of one file, so a run goes on from one file into
// the next. Only records with samples in window are decoded (see
// Segment::first_index); a trace without any gives no segment. Throws
// std::runtime_error naming the file for read_miniseed's refusals.
std::vector<Segment> read_miniseed_files(const std::vector<std::string>& files,
                                         const std::vector<std::string>& ids,
                                         const TimeWindow& window);

}  // namespace nvtools
