#include "slurm.h"

#include <algorithm>
#include <sstream>

#include "batch_error.h"
#include "files.h"
#include "programs.h"

namespace {

std::vector<std::string> words_of(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::string joined(const std::vector<std::string>& words) {
    std::string list;
    for (const std::string& word : words)
        list += (list.empty() ? "" : ",") + word;
    return list;
}

// squeue's FORMAT field of every task of the arrays, one a line.
std::vector<std::string> queue_field(const std::vector<std::string>& arrays, const char* format) {
    std::string output;
    if (arrays.empty() || find_on_path("squeue", path_variable()).empty() ||
        run_program({"squeue", "-h", "-r", "-j", joined(arrays), "-o", format}, output) != 0)
        return {};
    return words_of(output);
}

}  // namespace

std::vector<std::string> active_arrays(const batch_layout& layout) {
    std::vector<std::string> jobs;
    try {
        jobs = words_of(read_file(layout.jobs()));
    } catch (const batch_error&) {
        return {};  // nothing submitted
    }
    std::vector<std::string> active = queue_field(jobs, "%F");
    std::sort(active.begin(), active.end());
    active.erase(std::unique(active.begin(), active.end()), active.end());
    return active;
}

slurm_task_counts task_counts(const std::vector<std::string>& arrays) {
    slurm_task_counts counts;
    for (const std::string& state : queue_field(arrays, "%T"))
        ++(state == "PENDING" ? counts.pending : counts.running);
    return counts;
}

std::size_t max_array_size() {
    constexpr std::size_t slurm_default = 1001;
    std::string output;
    if (find_on_path("scontrol", path_variable()).empty() ||
        run_program({"scontrol", "show", "config"}, output) != 0)
        return slurm_default;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> words = words_of(line);
        if (words.size() == 3 && words[0] == "MaxArraySize")
            return std::stoul(words[2]);
    }
    return slurm_default;
}
