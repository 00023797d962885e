// The outputs of the nv tools: the support library's atomic outputs, with
// their failures thrown as errors naming the file. A regular file appears
// complete or not at all (one rename into place, keeping its permissions);
// devices and FIFOs are written directly and a symbolic link is followed, so
// none of them is ever replaced.
#pragma once

#include "atomic_output.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace nvtools {

class OutputSet;

class OutputFile {
public:
    // Opens name for writing; throws std::runtime_error naming name when it
    // cannot.
    explicit OutputFile(const std::string& name);
    // Removes the temporary unless the file was put in place.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throws std::runtime_error naming the file when no stream can be made.
    std::FILE* stream();
    // Writes all n bytes (not through stream()); throws std::runtime_error
    // naming the file when it cannot.
    void write(const char* bytes, std::size_t n);
    int fd() const { return m_output->fd(); }
    const std::string& name() const { return m_name; }
    // True when the output goes straight to a device or FIFO.
    bool written_in_place() const { return m_output->written_in_place(); }
    // What a writer that opens the file itself writes to: the temporary, or
    // the device or FIFO.
    const std::string& writing_name() const;

    // Closes the file and puts it in place (a file of an OutputSet is put in
    // place with the set). Throws std::runtime_error naming the file when a
    // write, the close or the rename failed.
    void commit();

private:
    friend class OutputSet;
    OutputFile(const std::string& name, atomic_output& member);

    std::string m_name;
    std::unique_ptr<atomic_output> m_own;  // null for a file of a set
    atomic_output* m_output;
};

// Files written all together or not at all (see atomic_output_set): a
// failure before commit() or in it leaves none of them, and no other file is
// touched.
class OutputSet {
public:
    OutputSet() = default;
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Opens one more file of the set; throws std::runtime_error naming name
    // when it cannot. The reference lives as long as the set.
    OutputFile& add(const std::string& name);
    // Puts every file in place; throws std::runtime_error naming the file
    // that failed, and then none remains.
    void commit();

private:
    atomic_output_set m_outputs;  // destroyed after m_files, which refer to its outputs
    std::vector<std::unique_ptr<OutputFile>> m_files;
};

}  // namespace nvtools
