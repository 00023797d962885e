#include "run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

fs::path device(const fs::path& dir, const std::string& name) {
    const fs::path system = "/dev/" + name;
    if (geteuid() != 0)
        return system;
    struct stat st {};
    if (stat(system.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        throw std::runtime_error(system.string() + " is not a device");
    const fs::path own = dir / name;
    if (mknod(own.c_str(), S_IFCHR | 0666, st.st_rdev) != 0)
        throw std::runtime_error("mknod " + own.string() + ": " + std::strerror(errno));
    return own;
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

}  // namespace testrun
