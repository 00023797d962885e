#include "processes.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch_error.h"
#include "proc_stat.h"

namespace {

struct stat_fields {
    char state = 0;
    pid_t session = 0;
    unsigned long long start = 0;
};

// Fields 3 (state), 6 (session) and 22 (start time) of /proc/PID/stat.
bool read_stat(pid_t pid, stat_fields& fields) {
    std::vector<std::string> all;
    if (!read_proc_stat(pid, all) || all.size() < 20 || all[0].size() != 1)
        return false;
    const auto number = [](const std::string& text, auto& value) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size();
    };
    fields.state = all[0][0];
    return number(all[6 - 3], fields.session) && number(all[22 - 3], fields.start);
}

std::vector<pid_t> session_members(pid_t session) {
    std::vector<pid_t> members;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        throw batch_error("cannot read /proc: " + reason_of(errno));
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        stat_fields fields;
        if (*end == '\0' && pid > 0 && read_stat(static_cast<pid_t>(pid), fields) &&
            fields.session == session && fields.state != 'Z')
            members.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);  // read-only
    return members;
}

}  // namespace

std::string host_name() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0)
        throw batch_error(std::string("cannot read the host name: ") + reason_of(errno));
    return name;
}

process_id identify(pid_t pid) {
    stat_fields fields;
    return {pid, pid > 0 && read_stat(pid, fields) && fields.state != 'Z' ? fields.start : 0};
}

bool is_alive(const process_id& process) {
    return process.start != 0 && identify(process.pid) == process;
}

void stop_process(const process_id& process) {
    if (is_alive(process))
        kill(process.pid, SIGKILL);
}

void stop_session(const process_id& leader) {
    if (leader.pid <= 0)
        return;
    const process_id now = identify(leader.pid);
    if (now.start != 0 && now != leader)
        return;  // the pid belongs to another process now
    for (std::vector<pid_t> members; !(members = session_members(leader.pid)).empty();) {
        for (pid_t member : members)
            kill(member, SIGKILL);
        usleep(10000);  // until they are gone (zombies are not counted)
    }
}
