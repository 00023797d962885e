#include "recordings.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "legacy_writer.h"
#include "nv24_writer.h"
#include "tm4_writer.h"
#include "write_file.h"

namespace bench {

namespace {

constexpr std::size_t block = 512;

std::uint32_t noise(std::size_t s, unsigned c) {
    std::uint64_t x = (s * 3 + c) * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    return static_cast<std::uint32_t>(x % 301);
}

}  // namespace

std::int32_t sample_value(std::size_t s, unsigned c) {
    const double wave = 20000.0 * std::sin(static_cast<double>(s) * 0.0123 + c);
    return static_cast<std::int32_t>(std::lround(wave)) + static_cast<std::int32_t>(noise(s, c)) -
           150;
}

void write_nv24(const std::string& path, std::size_t frames, double hz) {
    nv24w::File file = nv24w::make_file(channels, hz, start_second);
    file.header.version = 1;
    file.header.station = 1;  // kiruna
    file.header.host_timestamp = start_second;
    file.samples.reserve(frames * channels);
    for (std::size_t s = 0; s < frames; ++s)
        for (unsigned c = 0; c < channels; ++c)
            file.samples.push_back(static_cast<std::uint32_t>(sample_value(s, c)));
    testwriters::write_file(path, nv24w::encode(file));
}

void write_tm4(const std::string& path, std::size_t frames, double hz) {
    testwriters::Tm4File file;
    file.comment(testwriters::tm4_comment(hz, "kiruna"));
    file.samples(start_second, hz, frames, channels, [](std::size_t line, std::size_t c) {
        return sample_value(line, static_cast<unsigned>(c));
    });
    testwriters::write_file(path, file.text());
}

void write_legacy_ascii(const std::string& path, std::size_t records, double hz) {
    std::vector<legacywriter::Record> body;
    body.reserve(records);
    for (std::size_t r = 0; r < records; ++r) {
        const auto second = static_cast<long>(std::floor(static_cast<double>(r * block) / hz));
        legacywriter::Record record = legacywriter::make_record(
            block, static_cast<int>(second / 60 % 1440), static_cast<int>(second % 60));
        for (unsigned c = 0; c < channels; ++c)
            for (std::size_t i = 0; i < block; ++i)
                record[c].samples[i] = sample_value(r * block + i, c) / 4;  // 16-bit counts
        body.push_back(std::move(record));
    }
    char frequency[32];
    const auto end = std::to_chars(frequency, frequency + sizeof frequency, hz);
    const std::string comment =
        legacywriter::form3_line('S', static_cast<int>(block), std::string(frequency, end.ptr), "1",
                                 "kiruna", "2016-05-01", "00:00:00");
    testwriters::write_file(path, legacywriter::ascii_image(comment, body));
}

double result_value(std::size_t r, std::size_t i) {
    return static_cast<double>(sample_value(r * block + i, static_cast<unsigned>(r % channels))) /
           7.0;
}

std::string result_text(std::size_t r) {
    std::string text;
    char digits[32];
    for (std::size_t i = 0; i < block; ++i) {
        text.append(digits, std::to_chars(digits, digits + sizeof digits, result_value(r, i)).ptr);
        text += '\n';
    }
    return text;
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("can't open " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace bench
