#pragma once

// Result collection: the gathering of the analysis results into one output
// file.

#include <cstddef>
#include <string>
#include <vector>

#include "settings.h"

// Reads the weak (".siw") or strong (".sis") result file of rows 0 .. row-1
// into processed, row r into slot r mod slot count, and writes the output
// file named fnameout (its last digit 2 for strong, 3 with band-pass).
void write_file(const char* fnameout, enum global_strength strength, std::size_t row,
                std::size_t size);

// Empties every slot of processed and reads the weak (".siw") or strong
// (".sis") result file of rows 0 .. row-1 into it, row r into slot r mod slot
// count. Ends the process when a result file cannot be opened or read.
void read_results(enum global_strength strength, std::size_t row, std::size_t size);

// Appends the numbers of text to out, one after the other, exactly as the
// stream's extraction of double reads them, until one fails to read.
// Returns how many were appended.
std::size_t append_numbers(const char* first, const char* last, std::vector<double>& out);
