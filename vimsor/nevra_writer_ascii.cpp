#include "nevra_writer_ascii.h"

#include <charconv>

namespace {

// A blank and a long long in decimal.
constexpr std::size_t max_field_bytes = 1 + 20;

char* put_field(char* p, long long value) {
    *p++ = ' ';
    return std::to_chars(p, p + max_field_bytes, value).ptr;
}

}  // namespace

nevra_writer_ascii::nevra_writer_ascii(const char* fname, const char* comnt)
    : nevra_writer(fname, comnt, 0x0A, std::ios::out | std::ios::trunc) {}

int nevra_writer_ascii::write(double time, std::size_t size, const std::vector<double>& data,
                              std::size_t offset) const {
    check_block_range(size, data, offset);
    const block_time words = block_time_words(time);
    char* p = room(2 * max_field_bytes);
    p = std::to_chars(p, p + max_field_bytes, words.minute).ptr;
    p = put_field(p, words.second);
    commit(p);
    const double* values = data.data() + offset;
    for (std::size_t k = 0; k < size; ++k)
        commit(put_field(room(max_field_bytes), scaled_value(values[k])));
    put("\n", 1);
    return 0;
}

int nevra_writer_ascii::write(const std::vector<double>& t,
                              const std::vector<std::vector<double>>& data,
                              std::size_t size) const {
    return write_blocks(t, data, size);
}
