#pragma once

// Running the built programs from tests, each in a temporary directory of its
// own, with the build's bin folder (and so the mavlin stand-in) on PATH.

#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "write_file.h"

namespace testrun {

namespace fs = std::filesystem;

fs::path bin_dir();  // the folder holding the built programs

// A fresh temporary directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

struct Result {
    int status = -1;  // exit status, or 128 + signal number
    std::string out, err;
};

// program (a name in bin_dir(), or a path) started with args in cwd, standard
// input from /dev/null and PATH beginning with path_first (if given), then bin_dir().
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
          const fs::path& path_first = {});
    ~Child();  // waits for the program unless wait() did
    int pid() const { return m_pid; }
    Result wait();

private:
    TempDir m_capture;
    int m_pid = -1;
    bool m_waited = false;
};

inline Result run(const std::string& program, const std::vector<std::string>& args,
                  const fs::path& cwd, const fs::path& path_first = {}) {
    return Child(program, args, cwd, path_first).wait();
}

std::string read_file(const fs::path& file);             // empty when it cannot be read
std::vector<std::string> names_in(const fs::path& dir);  // of its entries, sorted

// A device like /dev/null or /dev/full (name "null" or "full") for a test to write to. Root gets a
// node of its own in dir, so that a program which wrongly replaces its output by a rename replaces
// that node and not the system's; others get the system's, which they cannot replace.
fs::path device(const fs::path& dir, const std::string& name);

// The text of the exception f throws, or "" when it throws none.
template <typename F>
std::string error_text(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}
using testwriters::write_file;

}  // namespace testrun
