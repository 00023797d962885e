#include "nevra_writer_binary.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "fatal.h"

namespace {

// The longest block of the legacy formats.
constexpr std::size_t max_block_values = 512;

// The low 16 bits of a word, least significant byte first.
char* put_word(char* p, long long word) {
    const auto bits = static_cast<std::uint16_t>(static_cast<unsigned long long>(word));
    p[0] = static_cast<char>(bits & 0xFF);
    p[1] = static_cast<char>(bits >> 8);
    return p + 2;
}

}  // namespace

nevra_writer_binary::nevra_writer_binary(const char* fname, const char* comnt)
    : nevra_writer(fname, comnt, 0x0D, std::ios::out | std::ios::trunc | std::ios::binary) {}

int nevra_writer_binary::write(double time, std::size_t size, const std::vector<double>& data,
                               std::size_t offset) const {
    if (size > max_block_values)
        fatal("can't write " + file_name() + ": a binary block holds at most " +
              std::to_string(max_block_values) + " values, not " + std::to_string(size));
    check_block_range(size, data, offset);
    const block_time words = block_time_words(time);
    char* p = room(4 + 2 * size);
    p = put_word(p, words.minute);
    p = put_word(p, words.second);
    const double* values = data.data() + offset;
    for (std::size_t k = 0; k < size; ++k) {
        // Values within the 16-bit range, the common case, are converted here;
        // scaled_value handles (and warns about) the others.
        const double x = std::round(m_scale * values[k]);
        p = put_word(
            p, x >= -32768.0 && x <= 32767.0 ? static_cast<long long>(x) : scaled_value(values[k]));
    }
    commit(p);
    return 0;
}

int nevra_writer_binary::write(const std::vector<double>& t,
                               const std::vector<std::vector<double>>& data,
                               std::size_t size) const {
    return write_blocks(t, data, size);
}
