#pragma once

// The benchmark's own input files: block-format, TM4 and legacy ASCII
// recordings of three channels, and result files of the analysis program's
// form. They are made with the test tree's writers, never product code.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr unsigned channels = 3;
constexpr std::uint32_t start_second = 1462060800;  // 2016-05-01 00:00:00 UTC

// Sample s of channel c: a slow wave with a little pseudo-noise, counts in
// the range of a 24-bit recorder.
std::int32_t sample_value(std::size_t s, unsigned c);

// Block format, frames = samples per channel.
void write_nv24(const std::string& path, std::size_t frames, double hz);
// TM4 text of frames lines.
void write_tm4(const std::string& path, std::size_t frames, double hz);
// Legacy ASCII of the given number of 512-sample records at hz.
void write_legacy_ascii(const std::string& path, std::size_t records, double hz);

// The value result file r holds at index i (weak signal).
double result_value(std::size_t r, std::size_t i);
// The text of a result file: 512 numbers, one per line, shortest form.
std::string result_text(std::size_t r);

std::string read_whole(const std::string& path);

}  // namespace bench
