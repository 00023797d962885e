#pragma once

// Legacy ASCII sample file: the comment line ended by a line feed, then one
// line per block: minute word, second word and the values, blank separated.

#include "nevra_writer.h"

class nevra_writer_ascii : public nevra_writer {
public:
    nevra_writer_ascii(const char* fname, const char* comnt);

    int write(double time, std::size_t size, const std::vector<double>& data,
              std::size_t offset) const override;
    int write(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
              std::size_t size) const override;
};
