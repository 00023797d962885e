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
    if (const std::optional<sds_batch> sds = open_sds(layout)) {
        summary.days = sds_figures_of(layout, *sds, inputs);
        for (const std::size_t index : summary.days->changed)
            summary.changed.push_back(inputs[index - 1].input);
    }
    return summary;
}

std::string status_text(const batch_summary& summary, const std::optional<slurm_task_counts>& tasks) {
    const std::string no_data =
        summary.days ? " (" + std::to_string(summary.days->no_data) + " with no data)" : "";
    std::string text = "done " + std::to_string(summary.done) + no_data + ", failed " +
                       std::to_string(summary.failed) + ", pending " +
                       std::to_string(summary.pending) + ", running " +
                       std::to_string(summary.running) + " (of " + std::to_string(summary.total) +
                       ")\n";
    for (const std::string& failure : summary.failures)
        text += "failed: " + failure + "\n";
    if (summary.days)
        text += "samples without a result: " + std::to_string(summary.days->without_result) +
                " (each piece's tail after its last whole row of 512, and what not every "
                "element has)\n";
    for (const std::string& day : summary.changed)
        text += "changed: " + day + " (its day files changed since it was done; run --changed redoes it)\n";
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
