#pragma once

// The names of a row's files. Row r belongs to worker r mod the worker count,
// whose letter ('a' for the first) follows the namebase; the row number
// follows, zero-padded to at least four digits: vma0000, vmb0005, vmb12345.
// Each row has a job file (".dat") and the analysis program's three result
// files.

#include <array>
#include <cstddef>
#include <string>

// Every extension a row's files carry.
inline constexpr std::array<const char*, 4> row_file_extensions{".dat", ".kto", ".sis", ".siw"};

// The worker count that rows are dealt over: a count of 0 (not yet set) is
// read as one worker.
inline std::size_t row_workers(std::size_t workers) { return workers == 0 ? 1 : workers; }

// Writes the name of row's file with extension, base being the namebase and
// workers the worker count, into out; false when it does not fit capacity
// bytes. Async-signal-safe, so the clean-up can use it in a signal handler.
bool row_file_name(char* out, std::size_t capacity, const char* base, std::size_t workers,
                   std::size_t row, const char* extension);

// The base name of row under the current namebase and worker count.
std::string row2basename(std::size_t row);
