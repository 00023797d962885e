#include "result_files.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Shortest text that reads back as the same double.
void append_number(std::string& text, double value) {
    char buffer[32];
    text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

bool write_text(const std::string& name, const std::string& text, std::string& error) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) {
        error = "mavlin: can't open " + name + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int write_errno = errno;
    const bool closed = std::fclose(f) == 0;
    if (written && closed)
        return true;
    error = "mavlin: can't write " + name + ": " + std::strerror(written ? errno : write_errno);
    return false;
}

bool write_series(const std::string& name, const std::vector<double>& series, std::string& text,
                  std::string& error) {
    text.clear();
    for (double v : series) {
        append_number(text, v);
        text += '\n';
    }
    return write_text(name, text, error);
}

}  // namespace

bool write_result_files(const std::string& base, const job_results& results, std::string& text,
                        std::string& error) {
    if (!write_series(base + ".siw", results.weak, text, error) ||
        !write_series(base + ".sis", results.strong, text, error))
        return false;
    text.clear();
    append_number(text, results.mean);
    text += ' ';
    append_number(text, results.sdev);
    text += '\n';
    return write_text(base + ".kto", text, error);
}
