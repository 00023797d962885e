#include "submit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "batch_error.h"
#include "claim.h"
#include "sds_batch.h"
#include "files.h"
#include "manifest.h"
#include "programs.h"
#include "run.h"
#include "shell_quote.h"
#include "slurm.h"
#include "task.h"

namespace {

// One CPU per task by default: an allocated CPU that idles through vimsor's
// serial phases is lost to the cluster.
constexpr unsigned long default_cpus_per_task = 1;

struct submit_request {
    std::vector<std::string> sbatch_options;
    unsigned long cpus = default_cpus_per_task, chunk = 0, max_parallel = 0;
    bool dry_run = false;
    bool changed = false;  // --changed: done days whose day files changed are redone
};

submit_request read_submit_arguments(const std::vector<std::string>& arguments) {
    submit_request request;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string option = arguments[i], value;
        if (option == "--dry-run" || option == "--changed") {
            (option == "--changed" ? request.changed : request.dry_run) = true;
            continue;
        }
        if (!option.starts_with("--"))
            throw batch_error("submit: unknown argument " + option);
        if (const std::size_t equals = option.find('='); equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        } else if (++i < arguments.size()) {
            value = arguments[i];
        } else {
            throw batch_error(option + " needs a value");
        }
        if (option == "--partition" || option == "--time")
            request.sbatch_options.push_back(option + "=" + value);
        else if (option == "--cpus-per-task")
            request.cpus = positive(option, value);
        else if (option == "--max-parallel")
            request.max_parallel = positive(option, value);
        else if (option == "--chunk")
            request.chunk = positive(option, value);
        else
            throw batch_error("submit: unknown option " + option);
    }
    return request;
}

void write_or_refuse(const std::string& path, const std::string& text) {
    if (const int error = replace_file(path, text); error != 0)
        throw batch_error("cannot write " + path + ": " + reason_of(error));
}

// A new name in directory: PREFIX.XXXXXX.SUFFIX, made by mkstemps.
std::string new_file(const std::string& directory, const std::string& prefix, const std::string& suffix) {
    std::string path = directory + "/" + prefix + ".XXXXXX" + suffix;
    const int fd = mkostemps(path.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0)
        throw batch_error("cannot write in " + directory + ": " + reason_of(errno));
    close(fd);  // empty: written whole later
    return path;
}

}  // namespace

std::string array_script(const std::string& self, const std::string& dir, const std::string& list,
                         std::size_t count, std::size_t chunk, std::size_t tasks,
                         unsigned long cpus, unsigned long max_parallel) {
    std::string array = "0-" + std::to_string(tasks - 1);
    if (max_parallel != 0)
        array += "%" + std::to_string(max_parallel);
    return "#!/bin/sh\n#SBATCH --job-name=vimsor-batch\n#SBATCH --array=" + array +
           "\n#SBATCH --cpus-per-task=" + std::to_string(cpus) + "\n# " + std::to_string(count) +
           " input(s), " + std::to_string(chunk) + " per task; written by vimsor-batch submit.\nexec " +
           shell_quoted(self) + " array-task " + shell_quoted(dir) + " " + shell_quoted(list) + " " +
           std::to_string(chunk) + "\n";
}

int submit_batch(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw batch_error("submit: no batch directory given");
    const batch_layout layout = open_batch(arguments.front());
    const submit_request request = read_submit_arguments(arguments);
    if (!request.dry_run && find_on_path("sbatch", path_variable()).empty())
        throw batch_error("sbatch is not installed (Debian package slurm-client)");
    const batch_claim claim(layout);
    for (const std::string& directory : {layout.arrays(), layout.slurm()})
        if (const int error = make_directories(directory); error != 0)
            throw batch_error("cannot create " + directory + ": " + reason_of(error));
    const std::size_t total = parse_manifest(read_file(layout.manifest()), layout.manifest()).size();
    if (request.changed && !request.dry_run)
        std::cout << "vimsor-batch: " << reopen_changed_days(layout) << " changed day(s) to redo\n";
    const std::string pending = pending_list(layout, total, {});
    std::size_t count = 0;
    for (char c : pending)
        count += c == '\n';
    if (count == 0) {
        std::cout << "vimsor-batch: every input of " << layout.dir << " is done; nothing to submit\n";
        return 0;
    }
    // Task ids run from 0 to tasks - 1, which must stay below MaxArraySize.
    const std::size_t max = max_array_size();
    const std::size_t smallest = (count + max - 1) / max;
    const std::size_t chunk = request.chunk != 0 ? request.chunk : smallest;
    if ((count + chunk - 1) / chunk > max)
        throw batch_error(std::to_string(count) + " inputs in chunks of " + std::to_string(chunk) +
                          " make more array tasks than MaxArraySize " + std::to_string(max) +
                          " allows; use --chunk " + std::to_string(smallest) + " or more");
    const std::size_t tasks = (count + chunk - 1) / chunk;
    const std::string list = new_file(layout.arrays(), "pending", "");
    write_or_refuse(list, pending);
    const std::string script = new_file(layout.arrays(), "job", ".sh");
    write_or_refuse(script, array_script(own_path(), layout.dir, list, count, chunk, tasks,
                                         request.cpus, request.max_parallel));
    if (request.dry_run) {
        std::cout << "vimsor-batch: " << script << ": " << tasks << " array task(s) over " << count
                  << " input(s), " << chunk << " per task (not submitted)\n";
        return 0;
    }
    // No path of the batch goes to sbatch but the script's: Slurm reads
    // %-patterns and backslashes in --output, so each task writes its own log
    // (see run_array_task).
    std::vector<std::string> sbatch{"sbatch", "--parsable", "--chdir=/", "--output=/dev/null"};
    sbatch.insert(sbatch.end(), request.sbatch_options.begin(), request.sbatch_options.end());
    sbatch.push_back(script);
    std::string answer;
    if (run_program(sbatch, answer, true) != 0)
        throw batch_error("sbatch refused " + script);
    const std::string job = answer.substr(0, answer.find_first_of(";\n"));
    const int jobs = open(layout.jobs().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    const std::string line = job + "\n";
    if (jobs < 0 || write(jobs, line.data(), line.size()) != static_cast<ssize_t>(line.size()) || close(jobs) != 0)
        throw batch_error("cannot write " + layout.jobs() + ": " + reason_of(errno));
    std::cout << "vimsor-batch: submitted array job " << job << ": " << tasks << " task(s) over "
              << count << " input(s), " << chunk << " per task\n"
              << job << "\n";
    return 0;
}

int run_array_task(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3)
        throw batch_error("array-task: DIR LIST CHUNK expected");
    const char* task_id = std::getenv("SLURM_ARRAY_TASK_ID");
    if (task_id == nullptr)
        throw batch_error("array-task: not run as a Slurm array task");
    const std::size_t task = std::strtoul(task_id, nullptr, 10);
    const std::size_t chunk = positive("chunk", arguments[2]);
    std::istringstream list(read_file(arguments[1]));
    std::vector<std::size_t> indices;
    std::size_t line = 0;
    for (std::size_t index; list >> index; ++line)
        if (line >= task * chunk && line < (task + 1) * chunk)
            indices.push_back(index);
    if (indices.empty())
        throw batch_error("array task " + std::to_string(task) + " has no input in " + arguments[1]);
    const char* cpus = std::getenv("SLURM_CPUS_PER_TASK");
    const char* job = std::getenv("SLURM_ARRAY_JOB_ID");
    const batch_layout layout = open_batch(arguments[0]);
    // The task's log: DIR/slurm/JOB_TASK.out, as sbatch would name it.
    const std::string log = layout.slurm() + "/" + (job != nullptr ? job : "") + "_" + task_id + ".out";
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0 && (dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0 || close(fd) != 0))
        throw batch_error("cannot write " + log + ": " + reason_of(errno));
    return run_task({layout, cpus != nullptr ? positive("SLURM_CPUS_PER_TASK", cpus) : 1,
                     {}, job != nullptr ? job : ""},
                    indices);
}
