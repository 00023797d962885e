#pragma once

// Writer of TM4 text test files: comment lines, then one line per sampling
// instant with the time (fixed, six decimals) and the channel values (%g).

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testwriters {

// "!S512Tidserier sampfrek: <freq> gain: <gain> station: <station> date: <date> time: <time>".
std::string tm4_comment(double frequency, const std::string& station, int gain = 1,
                        const std::string& date = "2016-05-01",
                        const std::string& time = "00:00:00");

class Tm4File {
public:
    Tm4File& comment(const std::string& line) { return raw(line); }
    Tm4File& data(double time, const std::vector<double>& values);
    // Any line as it stands (empty lines, text, lines with too few numbers).
    Tm4File& raw(const std::string& line);

    // A regular recording: lines at start + i / frequency, with value(i, c) for channel c.
    Tm4File& samples(double start, double frequency, size_t lines, size_t channels,
                     const std::function<double(size_t line, size_t channel)>& value);

    const std::string& text() const { return m_text; }
    void save(const std::filesystem::path& file) const;

private:
    std::string m_text;
};

}  // namespace testwriters
