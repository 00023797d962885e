#pragma once

// Running the built programs from tests: each run gets its own temporary
// directory as working directory, with the build's bin folder (and so the
// mavlin stand-in) first on PATH.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testrun {

namespace fs = std::filesystem;

// The folder holding the built vimsor and mavlin.
fs::path bin_dir();

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
// input from /dev/null, extra_env ("NAME=value") added to the environment and
// PATH beginning with path_first (when given), then bin_dir().
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
          const std::vector<std::string>& extra_env = {}, const fs::path& path_first = {});
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
Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
           const std::vector<std::string>& extra_env = {}, const fs::path& path_first = {});

// Whole file as bytes; empty when it cannot be read.
std::string read_file(const fs::path& file);
void write_file(const fs::path& file, const std::string& bytes);

// What a check looks at in a Workspace after a run, and how: '=' equal,
// '~' contains, '!' does not contain, '<' starts with, '>' ends with,
// '#' has as many bytes as text says, 'n' as many lines, '*' matches the
// regular expression text, '-' does not exist.
struct Expect {
    std::string where;  // "status", "out", "err", "ls", "runs", "saved/NAME", a file, a folder/
    char how;
    std::string text;
};

// A working directory for vimsor with a "mavlin" of its own first on PATH.
// By default that one logs its arguments (one per line, a file per run),
// copies the job files to saved/ and hands over to the stand-in.
class Workspace {
public:
    Workspace();
    // name ending in '/': a directory; bytes "->target": a symbolic link.
    void put(const std::string& name, const std::string& bytes);
    // The script's body, with $real the stand-in and $tools the script's folder.
    void mavlin(const std::string& body);
    // vimsor with args, through /bin/sh running shell first when given.
    Result vimsor(const std::vector<std::string>& args, const std::string& shell = "");
    // "out" and "err" with process ids as '#'; "ls": the working directory's
    // names, "FOLDER/" a folder's (saved/: the job files'), one a line, sorted;
    // "runs": the analysis programs' argument lists, one a line, sorted.
    std::string get(const std::string& where, const Result& r) const;
    // What fails of expects, empty when all hold.
    std::string check(const Result& r, const std::vector<Expect>& expects) const;
    fs::path operator/(const std::string& name) const { return dir / name; }
    TempDir dir, tools;
};

// One run in a fresh Workspace: files put, then vimsor run with args.
struct Case {
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    std::vector<Expect> expect;
    std::string shell = "";   // run by /bin/sh before vimsor
    std::string script = "";  // the "mavlin" body, when not the logging one
};

// What fails of the case, named by its arguments; empty when all holds.
std::string run_case(const Case& c);

}  // namespace testrun
