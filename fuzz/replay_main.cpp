// Replays inputs through a fuzz target without a fuzzing engine, so that the
// inputs kept from fuzzing are ordinary regression tests:
//   replay_TARGET [--exit-ok] FILE|DIR...
// Each input runs in a child process: a crash, a sanitizer report, a check of
// the target that fails or more than 20 s fail the replay. With --exit-ok an
// exit status of 1 is accepted too (the legacy reader ends the process on
// some inputs).
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A sanitizer report must not pass for the legacy reader's exit status 1.
extern "C" const char* __asan_default_options() { return "exitcode=86"; }
extern "C" const char* __ubsan_default_options() { return "exitcode=86:print_stacktrace=1"; }

namespace {

namespace fs = std::filesystem;

constexpr unsigned time_limit_seconds = 20;

[[noreturn]] void run_child(const fs::path& input) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        std::_Exit(2);
    }
    alarm(time_limit_seconds);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::exit(0);
}

// True when the input ended in a way the target allows.
bool replay(const fs::path& input, bool exit_ok) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return false;
    }
    if (child == 0)
        run_child(input);
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        std::perror("waitpid");
        return false;
    }
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || (exit_ok && WEXITSTATUS(status) == 1)))
        return true;
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "FAIL %s: signal %d%s\n", input.c_str(), WTERMSIG(status),
                     WTERMSIG(status) == SIGALRM ? " (time limit)" : "");
    else
        std::fprintf(stderr, "FAIL %s: exit status %d\n", input.c_str(), WEXITSTATUS(status));
    return false;
}

std::vector<fs::path> inputs_of(const fs::path& arg) {
    std::vector<fs::path> inputs;
    // A target that has kept no input from fuzzing has no folder of them.
    if (!fs::exists(arg))
        return inputs;
    if (fs::is_directory(arg)) {
        for (const auto& entry : fs::directory_iterator(arg))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else {
        inputs.push_back(arg);
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    bool exit_ok = false;
    size_t count = 0;
    size_t failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--exit-ok") == 0) {
            exit_ok = true;
            continue;
        }
        for (const fs::path& input : inputs_of(argv[i])) {
            ++count;
            if (!replay(input, exit_ok))
                ++failed;
        }
    }
    std::printf("%zu passed, %zu failed\n", count - failed, failed);
    return failed == 0 && count > 0 ? 0 : 1;
}
