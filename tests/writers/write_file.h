// The one way the writers' bytes reach the disk, for tests, the demo and benchmarks.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testwriters {

// Replaces file with bytes; throws naming the file when it cannot be written.
inline void write_file(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

}  // namespace testwriters
