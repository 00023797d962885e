// Writer of TM4 text test files: comment lines, then one line per sampling instant with the time
// (fixed, six decimals) and the channel values (%g).
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace testwriters {

inline std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// "!S512Tidserier sampfrek: <freq> gain: <gain> station: <station> date: <date> time: <time>".
inline std::string tm4_comment(double frequency, const std::string& station, int gain = 1,
                               const std::string& date = "2016-05-01",
                               const std::string& time = "00:00:00") {
    return "!S512Tidserier sampfrek: " + formatted("%g", frequency) +
           " gain: " + std::to_string(gain) + " station: " + station + " date: " + date +
           " time: " + time;
}

class Tm4File {
public:
    Tm4File& comment(const std::string& line) { return raw(line); }
    Tm4File& data(double time, const std::vector<double>& values) {
        std::string line = formatted("%.6f", time);
        for (double value : values)
            line += " " + formatted("%g", value);
        return raw(line);
    }
    // Any line as it stands (empty lines, text, lines with too few numbers).
    Tm4File& raw(const std::string& line) {
        m_text += line + '\n';
        return *this;
    }
    // A regular recording: lines at start + i / frequency, with value(i, c) for channel c.
    Tm4File& samples(double start, double frequency, size_t lines, size_t channels,
                     const std::function<double(size_t line, size_t channel)>& value) {
        std::vector<double> values(channels);
        for (size_t i = 0; i < lines; ++i) {
            for (size_t c = 0; c < channels; ++c)
                values[c] = value(i, c);
            data(start + static_cast<double>(i) / frequency, values);
        }
        return *this;
    }

    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

}  // namespace testwriters
