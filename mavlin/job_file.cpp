#include "job_file.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool read_whole(std::FILE* f, std::string& buffer) {
    buffer.clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        buffer.append(chunk, n);
    return std::ferror(f) == 0;
}

// Every white-space separated number of text; false at the first word that
// is not a finite number, with that word in bad.
bool parse_numbers(const std::string& text, std::vector<double>& numbers, std::string& bad) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (true) {
        while (p != end && std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        if (p == end)
            return true;
        if (*p == '+')
            ++p;
        double value = 0.0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || !std::isfinite(value) ||
            (next != end && !std::isspace(static_cast<unsigned char>(*next)))) {
            const char* word_end = p;
            while (word_end != end && !std::isspace(static_cast<unsigned char>(*word_end)))
                ++word_end;
            bad.assign(p, word_end);
            return false;
        }
        numbers.push_back(value);
        p = next;
    }
}

// Keeps the sample values of the normal form's offset/value pairs.
bool take_normal_form(std::vector<double>& numbers, std::size_t block_size) {
    if (numbers.size() != 1 + 2 * block_size || numbers[0] != static_cast<double>(block_size))
        return false;
    for (std::size_t k = 0; k < block_size; ++k)
        numbers[k] = numbers[2 + 2 * k];
    numbers.resize(block_size);
    return true;
}

}  // namespace

job_read read_job_file(const std::string& name, const analysis_options& options,
                       std::string& buffer, std::vector<double>& samples, std::string& error) {
    std::unique_ptr<std::FILE, file_closer> f(std::fopen(name.c_str(), "rb"));
    if (!f) {
        if (errno == ENOENT)
            return job_read::missing;
        error = "mavlin: can't open " + name + ": " + std::strerror(errno);
        return job_read::failed;
    }
    if (!read_whole(f.get(), buffer)) {
        error = "mavlin: can't read " + name;
        return job_read::failed;
    }
    samples.clear();
    std::string bad;
    if (!parse_numbers(buffer, samples, bad)) {
        error = "mavlin: " + name + ": not a number: " + bad;
        return job_read::failed;
    }
    const std::size_t n = options.block_size;
    const bool ok = options.test_form ? samples.size() == n : take_normal_form(samples, n);
    if (!ok) {
        error = "mavlin: " + name + ": not a job file of " + std::to_string(n) + " samples in " +
                (options.test_form ? "test form (values only)"
                                   : "normal form (size line, then offset and value)");
        return job_read::failed;
    }
    return job_read::ok;
}
