// An output file written under a temporary name in its own directory and
// renamed to its name only when complete, so a failure leaves nothing that
// looks like a finished file.
#pragma once

#include <cstdio>
#include <string>

namespace nvtools {

class OutputFile {
public:
    // Creates ".<name>.XXXXXX" beside name; throws std::runtime_error naming
    // name when it cannot.
    explicit OutputFile(const std::string& name);
    // Removes the temporary unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    FILE* stream() const { return m_stream; }
    const std::string& temporary_name() const { return m_temporary; }
    const std::string& name() const { return m_name; }

    // Closes the stream (when open) and renames the file to its name; throws
    // std::runtime_error naming the file when a write or the rename failed.
    void commit();
    // Closes the stream without committing; a program writing the temporary
    // by name (gnuplot) then writes alone.
    void close_stream();

private:
    std::string m_name;
    std::string m_temporary;
    FILE* m_stream = nullptr;
    bool m_committed = false;
};

}  // namespace nvtools
