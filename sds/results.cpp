#include "results.h"

#include "day_writer.h"
#include "recording.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace sds {

namespace {

constexpr int64_t time_tolerance_us = 1;

Error file_error(const std::filesystem::path& file, const std::string& cause) {
    return Error(file.string() + ": " + cause);
}

void check_times(const std::filesystem::path& file, const std::vector<double>& times,
                 const Piece& piece) {
    for (size_t k = 0; k < times.size(); ++k) {
        const int64_t expected = sample_time_us(piece.start_us, piece.rate_hz, k);
        const auto found = static_cast<int64_t>(std::llround(times[k] * 1e6));
        if (std::llabs(found - expected) > time_tolerance_us)
            throw file_error(file, "row " + std::to_string(k + 1) + " lies at " +
                                       six_digit_text(times[k]) + " s, not at sample " +
                                       std::to_string(k) + " of its piece (" +
                                       std::to_string(expected) + " µs since 1970)");
    }
}

// libnevra's TM4 reader warns on the error stream of a station word it does
// not know; results of an SDS archive carry none, so that warning is
// dropped. Anything else it writes is passed on.
class StationWarningFilter {
public:
    StationWarningFilter() : saved_(std::cerr.rdbuf(caught_.rdbuf())) {}
    ~StationWarningFilter() {
        std::cerr.rdbuf(saved_);
        std::istringstream lines(caught_.str());
        for (std::string line; std::getline(lines, line);)
            if (!line.starts_with("WARNING: Unknown station: "))
                std::cerr << line << "\n";
    }
    StationWarningFilter(const StationWarningFilter&) = delete;
    StationWarningFilter& operator=(const StationWarningFilter&) = delete;

private:
    std::ostringstream caught_;
    std::streambuf* saved_;
};

}  // namespace

std::string six_digit_text(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr;
    return std::string(text, end);
}

std::vector<std::vector<float>> read_piece_results(const std::filesystem::path& file,
                                                   const Piece& piece, size_t elements) {
    nvtools::Recording recording;
    std::vector<std::vector<double>> values;
    try {
        const StationWarningFilter filter;
        recording = nvtools::load_recording(file.string());
        values = nvtools::channel_values(recording);
    } catch (const std::runtime_error& e) {
        throw file_error(file, e.what());
    }
    if (recording.format != nvtools::Format::tm4 || values.size() != elements)
        throw file_error(file, "holds " + std::to_string(values.size()) + " channels of " +
                                   nvtools::format_name(recording.format) + ", not the " +
                                   std::to_string(elements) + " of TM4 results");
    const std::vector<double>& times = recording.model->get_time();
    if (times.size() > piece.samples())
        throw file_error(file, "holds " + std::to_string(times.size()) +
                                   " rows, more than the " + std::to_string(piece.samples()) +
                                   " samples of its piece");
    check_times(file, times, piece);
    std::vector<std::vector<float>> results(elements);
    for (size_t e = 0; e < elements; ++e) {
        results[e].resize(times.size());
        for (size_t k = 0; k < times.size(); ++k) {
            const double value = values[e][k];
            results[e][k] = static_cast<float>(value);
            if (six_digit_text(results[e][k]) != six_digit_text(value))
                throw file_error(file, "the value " + six_digit_text(value) + " in row " +
                                           std::to_string(k + 1) +
                                           " does not keep its six digits as a float");
        }
    }
    return results;
}

}  // namespace sds
