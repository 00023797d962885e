// vimsor-batch: runs vimsor over an archive, one input file per run, on this
// machine with GNU parallel or on a Slurm cluster as a job array, and resumes
// where an earlier run stopped. See vimsor-batch(1).
//
// Exit statuses: 0 all done (or submitted), 1 work not (all) done, 2 wrong
// use or a fault of the batch.

#include <sys/prctl.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "batch_error.h"
#include "files.h"
#include "layout.h"
#include "mavlin_shim.h"
#include "plan.h"
#include "processes.h"
#include "run.h"
#include "status.h"
#include "submit.h"
#include "task.h"

namespace {

const char* const usage_text =
    "usage: vimsor-batch plan DIR [--list LISTFILE] [FILE...] [-- VIMSOR-OPTION...]\n"
    "       vimsor-batch plan DIR --sds ROOT --channels PATTERN[,PATTERN...] --from DAY --to DAY\n"
    "                             [-- VIMSOR-OPTION...]\n"
    "       vimsor-batch run DIR [-j N] [--cpus C] [--changed]\n"
    "       vimsor-batch submit DIR [--partition P] [--cpus-per-task C] [--max-parallel M]\n"
    "                               [--time T] [--chunk K] [--dry-run] [--changed]\n"
    "       vimsor-batch status DIR\n";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        throw batch_error(std::string("task: ") + name + " is not set (a task is started by run)");
    return value;
}

// Internal: a job of run; the batch, the CPUs and the run come from the environment.
int run_run_task(const std::vector<std::string>& arguments) {
    task_setting setting{open_batch(environment("VIMSOR_BATCH_DIR")),
                         positive("VIMSOR_BATCH_CPUS", environment("VIMSOR_BATCH_CPUS")), {}, ""};
    std::istringstream(environment("VIMSOR_BATCH_RUN")) >> setting.runner.pid >> setting.runner.start;
    // The task stops with GNU parallel, which ends with the run; a run that
    // ended before this took effect is seen here.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (!is_alive(setting.runner))
        return 1;  // the run has ended; what it left is the next run's
    std::vector<std::size_t> indices;
    for (const std::string& word : arguments)
        indices.push_back(positive("task", word));
    return run_task(setting, indices);
}

int dispatch(const std::string& command, const std::vector<std::string>& arguments) {
    if (command == "plan") {
        const std::size_t count = make_plan(read_plan_arguments(arguments));
        std::cout << "vimsor-batch: planned " << count << " input(s) in " << arguments.front() << "/manifest\n";
        return 0;
    }
    if (command == "run")
        return run_batch(arguments);
    if (command == "submit")
        return submit_batch(arguments);
    if (command == "status") {
        if (arguments.size() != 1)
            throw batch_error("status: one batch directory expected");
        return show_status(arguments.front());
    }
    if (command == "task")
        return run_run_task(arguments);
    if (command == "array-task")
        return run_array_task(arguments);
    if (command == "-h" || command == "--help" || command == "help") {
        std::cerr << usage_text;
        return 2;
    }
    throw batch_error("unknown command " + command + " (plan, run, submit or status)");
}

}  // namespace

int main(int argc, char** argv) {
    if (base_name(argv[0]) == "mavlin")
        return run_mavlin_shim(argv);
    if (argc < 2) {
        std::cerr << usage_text;
        return 2;
    }
    try {
        return dispatch(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const batch_error& error) {
        std::cerr << "vimsor-batch: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "vimsor-batch: " << error.what() << "\n";
        return 2;
    }
}
