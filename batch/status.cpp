#include "status.h"

#include <iostream>

#include "batch_error.h"
#include "files.h"
#include "processes.h"
#include "slurm.h"

namespace {

std::string first_line(const std::string& path) {
    try {
        const std::string text = read_file(path);
        return text.substr(0, text.find('\n'));
    } catch (const batch_error&) {
        return "";  // retried since the listing
    }
}

}  // namespace

batch_summary summarize(const batch_layout& layout, const std::vector<planned_input>& inputs,
                        const liveness& live, std::time_t now) {
    batch_records records = scan_records(layout, inputs.size());
    mark_live(records, live);
    batch_summary summary;
    summary.total = inputs.size();
    for (std::size_t index = 1; index <= inputs.size(); ++index) {
        const input_records& input = records.inputs[index];
        if (input.done) {
            ++summary.done;
        } else if (input.running) {
            ++summary.running;
        } else if (input.failed) {
            ++summary.failed;
            summary.failures.push_back(inputs[index - 1].input + ": " +
                                       first_line(layout.record(index, record_state::failed)));
        }
    }
    summary.pending = summary.total - summary.done - summary.failed - summary.running;
    summary.progress = progress_of(records.inputs, now);
    return summary;
}

std::string status_text(const batch_summary& summary, const std::optional<slurm_task_counts>& tasks) {
    std::string text = "done " + std::to_string(summary.done) + ", failed " +
                       std::to_string(summary.failed) + ", pending " +
                       std::to_string(summary.pending) + ", running " +
                       std::to_string(summary.running) + " (of " + std::to_string(summary.total) +
                       ")\n";
    for (const std::string& failure : summary.failures)
        text += "failed: " + failure + "\n";
    text += progress_line(summary.progress) + "\n";
    if (tasks)
        text += "Slurm: " + std::to_string(tasks->running) + " task(s) running, " +
                std::to_string(tasks->pending) + " pending\n";
    return text;
}

int status_exit(const batch_summary& summary) { return summary.done == summary.total ? 0 : 1; }

int show_status(const std::string& dir) {
    const batch_layout layout = open_batch(dir);
    const std::vector<planned_input> inputs =
        parse_manifest(read_file(layout.manifest()), layout.manifest());
    liveness live{host_name(), active_arrays(layout)};
    const batch_summary summary = summarize(layout, inputs, live, std::time(nullptr));
    std::optional<slurm_task_counts> tasks;
    if (!live.active_arrays.empty())
        tasks = task_counts(live.active_arrays);
    std::cout << status_text(summary, tasks) << std::flush;
    return status_exit(summary);
}
