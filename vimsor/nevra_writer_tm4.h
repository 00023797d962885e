#pragma once

// TM4 text file: the comment line, then one line per sample: the time in
// fixed notation with 6 decimals and the value of every channel.

#include "nevra_writer.h"

class nevra_writer_tm4 : public nevra_writer {
public:
    nevra_writer_tm4(const char* fname, const char* comnt);

    int write(double time, std::size_t size, const std::vector<double>& data,
              std::size_t offset) const override;
    int write(const std::vector<double>& t, const std::vector<std::vector<double>>& data,
              std::size_t size) const override;
};
