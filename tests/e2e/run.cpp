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

extern char** environ;

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
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
             const std::vector<std::string>& extra_env, const fs::path& path_first) {
    const fs::path out_file = m_capture / "stdout", err_file = m_capture / "stderr";
    const fs::path exe =
        program.find('/') == std::string::npos ? bin_dir() / program : fs::path(program);
    std::vector<std::string> argv_strings{exe.string()};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    const char* old_path = std::getenv("PATH");
    std::vector<std::string> env{"PATH=" + (path_first.empty() ? "" : path_first.string() + ":") +
                                 bin_dir().string() + ":" +
                                 (old_path ? old_path : "/usr/bin:/bin")};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "PATH=", 5) != 0)
            env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> argv = pointers(argv_strings), envp = pointers(env);
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0)
            _exit(125);
        execve(argv[0], argv.data(), envp.data());
        _exit(126);
    }
}

Child::~Child() {
    try {
        if (!m_waited)
            wait();
    } catch (const std::exception&) {  // nothing left to wait for
    }
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

Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
           const std::vector<std::string>& extra_env, const fs::path& path_first) {
    return Child(program, args, cwd, extra_env, path_first).wait();
}

Workspace::Workspace() {
    fs::create_directories(tools / "logs");
    fs::create_directories(tools / "saved");
    mavlin(
        "for a; do printf '%s\\n' \"$a\"; done > \"$tools/logs/$$\"\n"
        "for a; do case \"$a\" in *.dat) [ -f \"$a\" ] && cp \"$a\" \"$tools/saved/\";; esac; "
        "done\n"
        "exec \"$real\" \"$@\"");
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

Result Workspace::vimsor(const std::vector<std::string>& args, const std::string& shell) {
    if (shell.empty())
        return run("vimsor", args, dir.path(), {}, tools.path());
    std::vector<std::string> sh_args{"-c", shell + "\nexec vimsor \"$@\"", "sh"};
    sh_args.insert(sh_args.end(), args.begin(), args.end());
    return run("/bin/sh", sh_args, dir.path(), {}, tools.path());
}

namespace {

// The sorted names in folder, one a line, or each file's lines as one line.
std::string listing(const fs::path& folder, bool contents) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string text = contents ? read_file(entry.path()) : entry.path().filename().string();
        std::replace(text.begin(), text.end(), '\n', ' ');
        names.push_back(text);
    }
    std::sort(names.begin(), names.end());
    std::string s;
    for (const auto& name : names)
        s += name + "\n";
    return s;
}

}  // namespace

std::string Workspace::get(const std::string& where, const Result& r) const {
    if (where == "status")
        return std::to_string(r.status);
    if (where == "out" || where == "err") {
        std::string s;
        std::istringstream lines(where == "out" ? r.out : r.err);
        for (std::string line; std::getline(lines, line);)
            s += (line.starts_with("Waiting for pid ")
                      ? std::regex_replace(line, std::regex("[0-9]+"), "#")
                      : std::regex_replace(line, std::regex("\\(pid [0-9]+\\)"), "(pid #)")) +
                 "\n";
        return s;
    }
    if (where == "ls" || where == "runs")
        return listing(where == "ls" ? dir.path() : tools / "logs", where == "runs");
    if (where.ends_with('/'))
        return listing((where == "saved/" ? tools.path() : dir.path()) / where, false);
    return read_file((where.starts_with("saved/") ? tools.path() : dir.path()) / where);
}

std::string Workspace::check(const Result& r, const std::vector<Expect>& expects) const {
    std::string failures;
    for (const Expect& e : expects) {
        const std::string s = get(e.where, r);
        const auto lines = static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
        const bool ok = e.how == '='   ? s == e.text
                        : e.how == '~' ? s.find(e.text) != std::string::npos
                        : e.how == '!' ? s.find(e.text) == std::string::npos
                        : e.how == '<' ? s.starts_with(e.text)
                        : e.how == '>' ? s.ends_with(e.text)
                        : e.how == '#' ? s.size() == std::stoul(e.text)
                        : e.how == 'n' ? lines == std::stoul(e.text)
                        : e.how == '*' ? std::regex_search(s, std::regex(e.text))
                                       : !fs::exists(fs::symlink_status(dir / e.where));
        if (!ok)
            failures += e.where + " " + e.how + " " + e.text.substr(0, 300) + "\n--- is (" +
                        std::to_string(s.size()) + " bytes) ---\n" + s.substr(0, 600) +
                        "\n--- stderr ---\n" + r.err.substr(0, 600) + "\n";
    }
    return failures;
}

std::string run_case(const Case& c) {
    Workspace w;
    for (const auto& [name, bytes] : c.files)
        w.put(name, bytes);
    if (!c.script.empty())
        w.mavlin(c.script);
    const std::string failures = w.check(w.vimsor(c.args, c.shell), c.expect);
    std::string args;
    for (const auto& a : c.args)
        args += " " + a.substr(0, 80);
    return failures.empty() ? "" : "vimsor" + args + ":\n" + failures;
}

}  // namespace testrun
