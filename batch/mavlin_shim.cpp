#include "mavlin_shim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "programs.h"

int run_mavlin_shim(char** argv) {
    const char* log = std::getenv("VIMSOR_BATCH_LOG");
    const char* path = std::getenv("VIMSOR_BATCH_PATH");
    if (log != nullptr) {
        const int fd = open(log, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0 && dup2(fd, STDERR_FILENO) >= 0)
            close(fd);
    }
    const std::string mavlin = path == nullptr ? "" : find_on_path("mavlin", path);
    std::string reason = "mavlin is not on PATH";
    if (!mavlin.empty()) {
        setenv("PATH", path, 1);
        execv(mavlin.c_str(), argv);
        reason = "cannot run " + mavlin + ": " + std::strerror(errno);
    }
    const std::string message = "vimsor-batch: " + reason + "\n";
    if (write(STDERR_FILENO, message.data(), message.size()) < 0)
        return 127;
    return 127;
}
