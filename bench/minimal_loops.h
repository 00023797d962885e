#pragma once

// The minimal loops each product stage is measured against: the least work
// that gives the same result (the same bytes read, the same numbers parsed,
// the same bytes written to the same number of files).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Reads the whole file into fresh memory; returns its length.
std::size_t plain_read(const std::string& path);

// Every number of a TM4 text: the times and the values truncated to 32 bits.
struct tm4_numbers {
    std::vector<double> times;
    std::vector<std::vector<std::int32_t>> values;
};
void tm4_from_chars(const std::string& path, tm4_numbers& out);

// Every number after the comment line of a legacy ASCII file.
void legacy_from_chars(const std::string& path, std::vector<double>& out);

// One file per 512-sample block and slot, named <dir>/vm<letter><row>.dat,
// holding "512" and 512 lines of offset and sample, formatted with to_chars.
void write_jobs(const std::string& dir, const std::vector<std::vector<double>>& slots,
                std::size_t samples, double hz, std::size_t workers);

// Reads the result file of every row (named like the product's, with the
// given extension) and parses its numbers into slot r mod slot count.
void read_results(std::size_t rows, std::size_t workers, const char* extension,
                  std::vector<std::vector<double>>& slots);

// The three output formats, written with to_chars / plain stores into one
// buffer flushed to path in large writes.
void write_binary(const std::string& path, const std::string& comment, const std::vector<double>& t,
                  const std::vector<std::vector<double>>& data);
void write_ascii(const std::string& path, const std::string& comment, const std::vector<double>& t,
                 const std::vector<std::vector<double>>& data);
void write_tm4(const std::string& path, const std::string& comment, const std::vector<double>& t,
               const std::vector<std::vector<double>>& data);

}  // namespace bench
