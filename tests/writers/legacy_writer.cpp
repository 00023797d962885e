#include "legacy_writer.h"

#include <fstream>
#include <stdexcept>

namespace legacywriter {

Record make_record(size_t length, int minute_word, int second_word, int first_sample) {
    Record record;
    for (int k = 0; k < 3; ++k) {
        record[k] = {minute_word, second_word, {}};
        for (size_t s = 0; s < length; ++s)
            record[k].samples.push_back(first_sample + 1000 * k + static_cast<int>(s));
    }
    return record;
}

std::pair<int, int> unix_words(uint32_t seconds) {
    return {static_cast<int>(seconds & 0xFFFFu), static_cast<int>(seconds >> 16)};
}

std::string form3_line(char letter, int length, const std::string& frequency,
                       const std::string& gain, const std::string& station, const std::string& date,
                       const std::string& time) {
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

std::string binary_image(const std::string& comment, const std::vector<Record>& records,
                         bool old_type) {
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

std::string ascii_image(const std::string& comment, const std::vector<Record>& records,
                        bool old_type, bool crlf) {
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

void write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write test file " + file.string());
}

}  // namespace legacywriter
