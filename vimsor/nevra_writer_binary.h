#pragma once

// Legacy binary sample file: the comment line ended by 0x0D, then records of
// one block per channel, each block a minute word, a second word and the
// values as 16-bit little-endian words.

#include "nevra_writer.h"

class nevra_writer_binary : public nevra_writer {
public:
    nevra_writer_binary(const char* fname, const char* comnt);

    int write(double time, std::size_t size, const std::vector<double>& data,
              std::size_t offset) const override;
    int write(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
              std::size_t size) const override;
};
