#pragma once

// Running the built programs from tests: each run gets its own temporary
// directory as working directory, with the build's bin folder (and so the
// mavlin stand-in) first on PATH.

#include <filesystem>
#include <string>
#include <vector>

namespace testrun {

// The folder holding the built vimsor and mavlin.
std::filesystem::path bin_dir();

// A fresh temporary directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

struct Result {
    int status = -1;       // exit status, or 128 + signal number
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

// A program started (like run() does) and not yet waited for: program (a
// name in bin_dir(), or an absolute path) with args in directory cwd,
// standard input from /dev/null. extra_env entries ("NAME=value") are added
// to the environment. PATH begins with path_first when it is given, then
// bin_dir().
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& cwd,
          const std::vector<std::string>& extra_env = {}, const std::filesystem::path& path_first = {});
    ~Child();  // waits for the program unless wait() did
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    int pid() const { return m_pid; }
    Result wait();

private:
    TempDir m_capture;
    int m_pid = -1;
    bool m_waited = false;
};

// Child(...).wait()
Result run(const std::string& program, const std::vector<std::string>& args,
           const std::filesystem::path& cwd,
           const std::vector<std::string>& extra_env = {},
           const std::filesystem::path& path_first = {});

// run("vimsor", ...)
Result run_vimsor(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                  const std::vector<std::string>& extra_env = {},
                  const std::filesystem::path& path_first = {});

// Whole file as bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& bytes);

}  // namespace testrun
