// Reading an input file's bytes, with the reasons the tools give when a file
// has none to read.
#pragma once

#include <cstddef>
#include <string>

namespace nvtools {

// The first `limit` bytes of file (all of it when it is shorter). Throws
// std::runtime_error with "is a directory", "empty file" or the reason it
// cannot be read (without the file name).
std::string file_head(const std::string& file, size_t limit);

// Every byte of file, with the same refusals.
std::string file_bytes(const std::string& file);

}  // namespace nvtools
