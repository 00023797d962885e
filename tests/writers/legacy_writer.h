#pragma once

// Writers of legacy sample files for tests: binary and ASCII, current (two
// time words per block) and old-type (samples only), any comment line.
// They share no code with the program's output writers.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace legacywriter {

// One block: the two time words and the samples of one microphone.
struct Block {
    int minute_word = 0;
    int second_word = 0;
    std::vector<int> samples;
};

using Record = std::array<Block, 3>;

// A record of `length` samples per block; every block carries the same time
// words and sample s of block k is first_sample + 1000 * k + s.
Record make_record(size_t length, int minute_word, int second_word, int first_sample = 0);

// The two words of a 'U' record time: low half, high half.
std::pair<int, int> unix_words(uint32_t seconds);

// "!<letter><length>Tidserier sampfrek: <f> gain: <g> station: <s> date: <d> time: <t>";
// empty optional fields are left out, with every field to their right.
std::string form3_line(char letter, int length, const std::string& frequency,
                       const std::string& gain = "", const std::string& station = "",
                       const std::string& date = "", const std::string& time = "");

// A binary file: the comment line ended by one carriage return (no line when
// comment is empty), then every record's blocks as 16-bit little-endian words.
std::string binary_image(const std::string& comment, const std::vector<Record>& records,
                         bool old_type = false);

// An ASCII file: the comment line, then one line per block holding the time
// words (current files) and the samples, separated by blanks.
std::string ascii_image(const std::string& comment, const std::vector<Record>& records,
                        bool old_type = false, bool crlf = false);

void write(const std::filesystem::path& file, const std::string& bytes);

}  // namespace legacywriter
