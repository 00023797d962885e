#include "tm4_writer.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace testwriters {

namespace {

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string tm4_comment(double frequency, const std::string& station, int gain,
                        const std::string& date, const std::string& time) {
    return "!S512Tidserier sampfrek: " + formatted("%g", frequency) +
           " gain: " + std::to_string(gain) + " station: " + station + " date: " + date +
           " time: " + time;
}

Tm4File& Tm4File::data(double time, const std::vector<double>& values) {
    std::string line = formatted("%.6f", time);
    for (double value : values)
        line += " " + formatted("%g", value);
    return raw(line);
}

Tm4File& Tm4File::raw(const std::string& line) {
    m_text += line + '\n';
    return *this;
}

Tm4File& Tm4File::samples(double start, double frequency, size_t lines, size_t channels,
                          const std::function<double(size_t, size_t)>& value) {
    std::vector<double> values(channels);
    for (size_t i = 0; i < lines; ++i) {
        for (size_t c = 0; c < channels; ++c)
            values[c] = value(i, c);
        data(start + static_cast<double>(i) / frequency, values);
    }
    return *this;
}

void Tm4File::save(const std::filesystem::path& file) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << m_text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write test file " + file.string());
}

}  // namespace testwriters
