// Writers of legacy sample files for tests: binary and ASCII, current (two time words per block)
// and old-type (samples only), any comment line. They share no code with the program's writers.
#pragma once

#include <array>
#include <cstdint>
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
inline Record make_record(size_t length, int minute_word, int second_word, int first_sample = 0) {
    Record record;
    for (int k = 0; k < 3; ++k) {
        record[k] = {minute_word, second_word, {}};
        for (size_t s = 0; s < length; ++s)
            record[k].samples.push_back(first_sample + 1000 * k + static_cast<int>(s));
    }
    return record;
}

// The two words of a 'U' record time: low half, high half.
inline std::pair<int, int> unix_words(uint32_t seconds) {
    return {static_cast<int>(seconds & 0xFFFFu), static_cast<int>(seconds >> 16)};
}

// "!<letter><length>Tidserier sampfrek: <f> gain: <g> station: <s> date: <d> time: <t>";
// empty optional fields are left out, with every field to their right.
inline std::string form3_line(char letter, int length, const std::string& frequency,
                              const std::string& gain = "", const std::string& station = "",
                              const std::string& date = "", const std::string& time = "") {
    std::string line =
        std::string("!") + letter + std::to_string(length) + "Tidserier sampfrek: " + frequency;
    const std::pair<const char*, const std::string*> fields[] = {
        {" gain: ", &gain}, {" station: ", &station}, {" date: ", &date}, {" time: ", &time}};
    for (const auto& [label, value] : fields) {
        if (value->empty())
            break;
        line += label + *value;
    }
    return line;
}

// A binary file: the comment line ended by one carriage return (no line when
// comment is empty), then every record's blocks as 16-bit little-endian words.
inline std::string binary_image(const std::string& comment, const std::vector<Record>& records,
                                bool old_type = false) {
    std::string out = comment.empty() ? "" : comment + '\r';
    const auto put_word = [&out](int word) {
        out.push_back(static_cast<char>(word & 0xFF));
        out.push_back(static_cast<char>((word >> 8) & 0xFF));
    };
    for (const Record& record : records) {
        for (const Block& block : record) {
            if (!old_type) {
                put_word(block.minute_word);
                put_word(block.second_word);
            }
            for (int sample : block.samples)
                put_word(sample);
        }
    }
    return out;
}

// An ASCII file: the comment line, then one line per block holding the time
// words (current files) and the samples, separated by blanks.
inline std::string ascii_image(const std::string& comment, const std::vector<Record>& records,
                               bool old_type = false, bool crlf = false) {
    const std::string eol = crlf ? "\r\n" : "\n";
    std::string out = comment.empty() ? "" : comment + eol;
    for (const Record& record : records) {
        for (const Block& block : record) {
            std::string line;
            if (!old_type)
                line = std::to_string(block.minute_word) + " " + std::to_string(block.second_word);
            for (int sample : block.samples)
                line += (line.empty() ? "" : " ") + std::to_string(sample);
            out += line + eol;
        }
    }
    return out;
}

}  // namespace legacywriter
