#include "run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace testrun {

fs::path bin_dir() { return fs::path(VIMSOR_BIN_DIR); }

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vimsor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string read_file(const fs::path& file) {
    std::ostringstream s;
    s << std::ifstream(file, std::ios::binary).rdbuf();
    return s.str();
}

void write_file(const fs::path& file, const std::string& bytes) {
    if (!(std::ofstream(file, std::ios::binary) << bytes).flush())
        throw std::runtime_error("cannot write " + file.string());
}

Child::Child(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
             const fs::path& path_first) {
    std::vector<std::string> argv{
        program.find('/') == std::string::npos ? (bin_dir() / program).string() : program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argv_p;
    for (auto& a : argv)
        argv_p.push_back(a.data());
    argv_p.push_back(nullptr);
    const char* path = std::getenv("PATH");
    const std::string path_value = (path_first.empty() ? "" : path_first.string() + ":") +
                                   bin_dir().string() + ":" + (path ? path : "/usr/bin:/bin"),
                      out = (m_capture / "stdout").string(), err = (m_capture / "stderr").string();
    if ((m_pid = fork()) < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_pid == 0) {  // the tests run in one thread: the child may set PATH
        const int in = open("/dev/null", O_RDONLY), o = open(out.c_str(), O_WRONLY | O_CREAT, 0644),
                  e = open(err.c_str(), O_WRONLY | O_CREAT, 0644);
        if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
            chdir(cwd.c_str()) != 0 || setenv("PATH", path_value.c_str(), 1) != 0)
            _exit(125);
        execv(argv_p[0], argv_p.data());
        _exit(126);
    }
}

Child::~Child() {
    if (!m_waited)
        waitpid(m_pid, nullptr, 0);
}

Result Child::wait() {
    m_waited = true;
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            read_file(m_capture / "stdout"), read_file(m_capture / "stderr")};
}

Workspace::Workspace() {
    fs::create_directories(tools / "logs");
    fs::create_directories(tools / "saved");
    mavlin(R"(for a; do printf '%s\n' "$a"; done > "$tools/logs/$$"
for a; do case "$a" in *.dat) [ -f "$a" ] && cp "$a" "$tools/saved/";; esac; done
exec "$real" "$@")");
}

void Workspace::put(const std::string& name, const std::string& bytes) {
    if (name.ends_with('/'))
        fs::create_directories(dir / name);
    else if (bytes.starts_with("->"))
        fs::create_symlink(bytes.substr(2), dir / name);
    else
        write_file(dir / name, bytes);
}

void Workspace::mavlin(const std::string& body) {
    write_file(tools / "mavlin", "#!/bin/sh\nreal='" + (bin_dir() / "mavlin").string() +
                                     "'\ntools='" + tools.path().string() + "'\n" + body + "\n");
    fs::permissions(tools / "mavlin", fs::perms::owner_all);
}

Result Workspace::run(const std::vector<std::string>& args, const std::string& shell,
                      const std::string& program) {
    if (shell.empty())
        return testrun::run(program, args, dir.path(), tools.path());
    std::vector<std::string> sh_args{"-c", shell + "\nexec " + program + " \"$@\"", "sh"};
    sh_args.insert(sh_args.end(), args.begin(), args.end());
    return testrun::run("/bin/sh", sh_args, dir.path(), tools.path());
}

std::string Workspace::get(const std::string& where, const Result& r) const {
    std::vector<std::string> lines;
    if (where == "status")
        return std::to_string(r.status);
    if (where == "out" || where == "err") {
        std::istringstream in(where == "out" ? r.out : r.err);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.starts_with("Waiting for pid ")
                                ? std::regex_replace(line, std::regex("[0-9]+"), "#")
                                : std::regex_replace(line, std::regex("pid [0-9]+"), "pid #"));
    } else if (where == "ls" || where == "runs" || where.ends_with('/')) {
        const fs::path folder = where == "ls"     ? dir.path()
                                : where == "runs" ? tools / "logs"
                                                  : (where == "saved/" ? tools : dir) / where;
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string s = where == "runs" ? read_file(entry) : entry.path().filename().string();
            std::replace(s.begin(), s.end(), '\n', ' ');
            lines.push_back(s);
        }
        std::sort(lines.begin(), lines.end());
    } else {
        return read_file((where.starts_with("saved/") ? tools : dir) / where);
    }
    std::string s;
    for (const auto& line : lines)
        s += line + "\n";
    return s;
}

std::string Workspace::check(const Result& r, const std::vector<Expect>& expects) const {
    std::string failures;
    for (const auto& [where, how, text] : expects) {
        const std::string s = get(where, r);
        const bool ok = how == '='   ? s == text
                        : how == '~' ? s.find(text) != std::string::npos
                        : how == '!' ? s.find(text) == std::string::npos
                        : how == '<' ? s.starts_with(text)
                        : how == '>' ? s.ends_with(text)
                        : how == '*' ? std::regex_search(s, std::regex(text))
                        : how == '#' ? s.size() == std::stoul(text)
                                     : std::count(s.begin(), s.end(), '\n') == std::stol(text);
        if (!ok)
            failures += where + " " + how + " " + text.substr(0, 300) + "\n--- is (" +
                        std::to_string(s.size()) + " bytes) ---\n" + s.substr(0, 600) +
                        "\n--- stderr ---\n" + r.err.substr(0, 600) + "\n";
    }
    return failures;
}

std::string run_case(const Case& c, const std::string& program) {
    Workspace w;
    for (const auto& [name, bytes] : c.files)
        w.put(name, bytes);
    if (!c.script.empty())
        w.mavlin(c.script);
    const std::string failures = w.check(w.run(c.args, c.shell, program), c.expect);
    std::string args;
    for (const auto& a : c.args)
        args += " " + a.substr(0, 80);
    return failures.empty() ? "" : program + args + ":\n" + failures;
}

}  // namespace testrun
