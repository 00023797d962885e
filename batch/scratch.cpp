#include "scratch.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "batch_error.h"
#include "files.h"

namespace {

const std::string prefix = "vimsor-batch.";

}  // namespace

std::string scratch_parent() {
    for (const char* name : {"VIMSOR_BATCH_TMPDIR", "TMPDIR"})
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
            return value;
    return "/tmp";
}

std::string work_dir(const std::string& scratch) { return scratch + "/work"; }

std::string make_scratch(const std::string& parent, const std::string& host, const std::string& self) {
    std::string scratch = parent + "/" + prefix + host + "." + std::to_string(getpid()) + ".XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr)
        throw batch_error("cannot create a scratch directory in " + parent + ": " + reason_of(errno));
    if (mkdir(work_dir(scratch).c_str(), 0777) != 0 || mkdir((scratch + "/bin").c_str(), 0777) != 0 ||
        symlink(self.c_str(), (scratch + "/bin/mavlin").c_str()) != 0) {
        const int error = errno;
        remove_tree(scratch);
        throw batch_error("cannot prepare the scratch directory in " + parent + ": " + reason_of(error));
    }
    return scratch;
}

void remove_dead_scratch(const std::string& parent, const std::string& host) {
    DIR* dir = opendir(parent.c_str());
    if (dir == nullptr)
        return;  // nothing of ours can be there
    const std::string ours = prefix + host + ".";
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.starts_with(ours))
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + ours.size(), &end, 10);
        if (*end == '.' && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            remove_tree(parent + "/" + name);
    }
    closedir(dir);  // read-only
}
