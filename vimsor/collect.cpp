#include "collect.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>

#include "common.h"
#include "fatal.h"
#include "nevra_writer.h"
#include "output_names.h"
#include "row_files.h"
#include "stores.h"

namespace {

bool has_exponent(std::string_view number) {
    return number.find_first_of("eE") != std::string_view::npos;
}

// A value beyond the range of double: stream extraction fails on an overflow
// but takes what the C library makes of an underflow.
bool read_out_of_range(std::string_view number, double& value) {
    const std::string text(number);
    value = std::strtod(text.c_str(), nullptr);
    return !std::isinf(value);
}

// One number at p, read like the stream's extraction of a double: an optional
// sign, digits with at most one decimal point, an optional exponent. Returns
// the end of the number, or null where that extraction fails.
const char* read_number(const char* p, const char* last, double& value) {
    const char* start = p != last && *p == '+' ? p + 1 : p;  // from_chars takes no '+'
    // Rules out "inf", "nan" and a doubled sign, which the stream rejects.
    if ((start != p && start != last && *start == '-') || !Nevra::starts_plain_number(start, last))
        return nullptr;
    const auto [end, ec] = std::from_chars(start, last, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument)
        return nullptr;
    const std::string_view number(start, static_cast<std::size_t>(end - start));
    // The stream takes an 'e' after the mantissa as the start of an exponent
    // and fails when no exponent digits follow.
    if (end != last && (*end == 'e' || *end == 'E') && !has_exponent(number))
        return nullptr;
    if (ec == std::errc::result_out_of_range && !read_out_of_range(number, value))
        return nullptr;
    return end;
}

// Reads whole result files into one buffer that is kept from file to file.
class result_reader {
public:
    // The content of the file; ends the process when it cannot be opened or read.
    std::string_view read(const std::string& name) {
        std::FILE* file = std::fopen(name.c_str(), "r");
        if (file == nullptr)
            fatal("can't open " + name);
        std::size_t length = 0;
        for (;;) {
            if (m_buffer.size() - length < chunk)
                m_buffer.resize(m_buffer.size() + chunk);
            const std::size_t got =
                std::fread(m_buffer.data() + length, 1, m_buffer.size() - length, file);
            length += got;
            if (got == 0)
                break;
        }
        const bool failed = std::ferror(file) != 0;
        const int reason = errno;
        std::fclose(file);  // opened for reading only: nothing can be lost here
        if (failed)
            fatal("can't read " + name + ": " + std::strerror(reason));
        return std::string_view(m_buffer.data(), length);
    }

private:
    static constexpr std::size_t chunk = 64 * 1024;
    std::vector<char> m_buffer;
};

}  // namespace

std::size_t append_numbers(const char* first, const char* last, std::vector<double>& out) {
    std::size_t count = 0;
    const char* p = first;
    for (;;) {
        while (p != last && Nevra::is_scanf_space(*p))
            ++p;
        double value = 0.0;
        const char* end = read_number(p, last, value);
        if (end == nullptr)
            return count;
        out.push_back(value);
        ++count;
        p = end;
    }
}

void read_results(enum global_strength strength, std::size_t row, std::size_t size) {
    const char* extension = strength == weak ? ".siw" : ".sis";
    for (auto& slot : processed)
        slot.clear();

    result_reader reader;
    unsigned int ch = 0;
    for (std::size_t r = 0; r < row; ++r) {
        const std::string result_name = row2basename(r) + extension;
        if (debug)
            std::cerr << result_name << "\n";
        const std::string_view content = reader.read(result_name);
        if (size != 0 && ch < processed.size()) {
            const std::size_t count =
                append_numbers(content.data(), content.data() + content.size(), processed[ch]);
            // The numbers are kept, but the later ones of the slot no longer
            // line up with their sample times.
            if (count != size)
                std::cerr << "Warning: " << result_name << " holds " << count << " numbers, not "
                          << size << "; the later values of its channel are shifted\n";
        }
        if (++ch >= processed.size())
            ch = 0;
    }
}

void write_file(const char* fnameout, enum global_strength strength, std::size_t row,
                std::size_t size) {
    const std::string output_name = name_of_strength(fnameout, strength, bandp);
    std::unique_ptr<nevra_writer> writer(
        nevra_writer_detect(output_name.c_str(), firstline.c_str()));
    writer->setscale(global_scale);
    if (!quiet)
        std::cout << "Writes file: " << output_name << "\n";

    read_results(strength, row, size);
    writer->write(time_array, processed, size);
    writer->close();
}
