#include "row_files.h"

#include <cstring>

#include "settings.h"

namespace {

// Longest decimal form of a size_t.
constexpr std::size_t max_row_digits = 20;

}  // namespace

bool row_file_name(char* out, std::size_t capacity, const char* base, std::size_t workers,
                   std::size_t row, const char* extension) {
    char digits[max_row_digits];
    std::size_t n = 0;
    for (std::size_t r = row; r > 0 || n < 4; r /= 10)
        digits[n++] = static_cast<char>('0' + r % 10);
    const std::size_t base_length = std::strlen(base);
    const std::size_t extension_length = std::strlen(extension);
    if (base_length + 1 + n + extension_length >= capacity)
        return false;
    char* p = out;
    std::memcpy(p, base, base_length);
    p += base_length;
    *p++ = static_cast<char>('a' + row % row_workers(workers));
    while (n > 0)
        *p++ = digits[--n];
    std::memcpy(p, extension, extension_length + 1);
    return true;
}

std::string row2basename(std::size_t row) {
    std::string name(namebase.size() + 1 + max_row_digits + 1, '\0');
    row_file_name(name.data(), name.size(), namebase.c_str(), global_nr_cpus, row, "");
    name.resize(std::strlen(name.c_str()));
    return name;
}
