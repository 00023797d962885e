#include "run.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "batch_error.h"
#include "claim.h"
#include "files.h"
#include "manifest.h"
#include "processes.h"
#include "programs.h"
#include "progress.h"
#include "records.h"
#include "scratch.h"
#include "sds_batch.h"
#include "slurm.h"
#include "status.h"

namespace {

// As many inputs at a time as cores, each vimsor with two workers. The other
// inputs fill the cores through one input's serial phases (job files,
// collection), and two workers finish its analysis sooner: on two cores this
// measured best (bench/batch.sh, README "Processing an archive").
constexpr unsigned long default_cpus_per_input = 2;

// The one command GNU parallel runs: no path in it, everything comes from
// the environment and the input index that parallel appends, quoted.
const char* const job_command = "\"$VIMSOR_BATCH_SELF\" task";

void set(const char* name, const std::string& value) {
    if (setenv(name, value.c_str(), 1) != 0)
        throw batch_error(std::string("cannot set ") + name + ": " + reason_of(errno));
}

// GNU parallel in the batch directory (its temporary files in staging/, the
// job log and the list by relative names), ended with this process.
pid_t start_parallel(const batch_layout& layout, unsigned long jobs, const std::string& list) {
    const pid_t runner = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw batch_error("cannot start parallel: " + reason_of(errno));
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != runner || chdir(layout.dir.c_str()) != 0)
            _exit(127);
        const std::string jobs_word = std::to_string(jobs);
        execlp("parallel", "parallel", "--will-cite", "--halt", "never", "-j", jobs_word.c_str(),
               "--joblog", "+parallel.joblog", job_command, "::::", list.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

int wait_showing_progress(pid_t parallel, const batch_layout& layout, std::size_t count) {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const liveness live{host_name(), {}};
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(parallel, &status, terminal ? WNOHANG : 0);
        if (ended == parallel)
            break;
        if (ended < 0 && errno != EINTR)
            throw batch_error("cannot wait for parallel: " + reason_of(errno));
        if (terminal && ended == 0) {
            batch_records records = scan_records(layout, count);
            mark_live(records, live);
            std::cerr << "\r" << progress_line(progress_of(records.inputs, std::time(nullptr))) << "\033[K"
                      << std::flush;
            sleep(2);
        }
    }
    if (terminal)
        std::cerr << "\n";
    return status;
}

}  // namespace

unsigned long positive(const std::string& option, const std::string& value) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || value.front() < '1' || value.front() > '9' || *end != '\0')
        throw batch_error(option + " must be a positive whole number, not '" + value + "'");
    return number;
}

std::string pending_list(const batch_layout& layout, std::size_t count, const liveness& live) {
    batch_records records = scan_records(layout, count);
    mark_live(records, live);
    std::string list;
    for (std::size_t index = 1; index <= count; ++index)
        if (!records.inputs[index].done && !records.inputs[index].running)
            list += std::to_string(index) + "\n";
    return list;
}

int run_batch(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw batch_error("run: no batch directory given");
    const batch_layout layout = open_batch(arguments.front());
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned long jobs = cores > 0 ? static_cast<unsigned long>(cores) : 1;
    unsigned long cpus = default_cpus_per_input;
    bool changed = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        const bool last = i + 1 == arguments.size();
        if (word == "--changed") {
            changed = true;
            continue;
        }
        if ((word == "-j" || word == "--cpus") && last)
            throw batch_error(word + " needs a value");
        if (word == "-j")
            jobs = positive("-j", arguments[++i]);
        else if (word.starts_with("-j"))
            jobs = positive("-j", word.substr(2));
        else if (word == "--cpus")
            cpus = positive("--cpus", arguments[++i]);
        else if (word.starts_with("--cpus="))
            cpus = positive("--cpus", word.substr(7));
        else
            throw batch_error("run: unknown argument " + word);
    }
    for (const char* needed : {"parallel", "vimsor"})
        if (find_on_path(needed, path_variable()).empty())
            throw batch_error(std::string(needed) + " is not on PATH" +
                              (needed == std::string("parallel") ? " (Debian package parallel)" : ""));

    const std::size_t count = parse_manifest(read_file(layout.manifest()), layout.manifest()).size();
    int parallel_status = 0;
    {
        const batch_claim claim(layout);
        if (changed)
            std::cout << "vimsor-batch: " << reopen_changed_days(layout) << " changed day(s) to redo\n";
        const std::string list = pending_list(layout, count, {host_name(), {}});
        const std::string list_name = "staging/pending";
        if (const int error = replace_file(layout.dir + "/" + list_name, list); error != 0)
            throw batch_error("cannot write " + layout.dir + "/" + list_name + ": " + reason_of(error));
        if (const int error = make_directories(layout.staging() + "/parallel"); error != 0)
            throw batch_error("cannot create " + layout.staging() + "/parallel: " + reason_of(error));
        std::size_t pending = 0;
        for (char c : list)
            pending += c == '\n';
        std::cout << "vimsor-batch: " << pending << " input(s) to run, " << jobs
                  << " at a time with --cpus " << cpus << std::endl;

        const process_id runner = identify(getpid());
        set("VIMSOR_BATCH_SELF", own_path());
        set("VIMSOR_BATCH_DIR", layout.dir);
        set("VIMSOR_BATCH_CPUS", std::to_string(cpus));
        set("VIMSOR_BATCH_RUN", std::to_string(runner.pid) + " " + std::to_string(runner.start));
        set("VIMSOR_BATCH_TMPDIR", scratch_parent());
        set("TMPDIR", layout.staging() + "/parallel");
        parallel_status = wait_showing_progress(start_parallel(layout, jobs, list_name), layout, count);
        remove_tree(layout.dir + "/" + list_name);
    }
    (void)parallel_status;  // the records tell how every input ended
    return show_status(layout.dir);
}
