#include "run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testrun {

namespace fs = std::filesystem;

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

std::vector<std::string> child_environment(const std::vector<std::string>& extra_env, const fs::path& path_first) {
    std::vector<std::string> env;
    const char* old_path = std::getenv("PATH");
    const std::string first = path_first.empty() ? "" : path_first.string() + ":";
    env.push_back("PATH=" + first + bin_dir().string() + ":" + (old_path ? old_path : "/usr/bin:/bin"));
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "PATH=", 5) != 0)
            env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    return env;
}

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
    const fs::path out_file = m_capture / "stdout";
    const fs::path err_file = m_capture / "stderr";
    const fs::path exe = program.find('/') == std::string::npos ? bin_dir() / program : fs::path(program);

    std::vector<std::string> argv_strings{exe.string()};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = child_environment(extra_env, path_first);
    std::vector<char*> argv = pointers(argv_strings);
    std::vector<char*> envp = pointers(env_strings);

    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(cwd.c_str()) != 0)
            _exit(125);
        execve(argv[0], argv.data(), envp.data());
        _exit(126);
    }
}

Child::~Child() {
    if (m_waited)
        return;
    try {
        wait();
    } catch (const std::exception&) {
        // nothing left to wait for
    }
}

Result Child::wait() {
    m_waited = true;
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(m_capture / "stdout");
    r.err = read_file(m_capture / "stderr");
    return r;
}

Result run(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd,
           const std::vector<std::string>& extra_env, const fs::path& path_first) {
    return Child(program, args, cwd, extra_env, path_first).wait();
}

Result run_vimsor(const std::vector<std::string>& args, const fs::path& cwd,
                  const std::vector<std::string>& extra_env, const fs::path& path_first) {
    return run("vimsor", args, cwd, extra_env, path_first);
}

}  // namespace testrun
