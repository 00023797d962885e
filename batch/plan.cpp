#include "plan.h"

#include <sys/stat.h>

#include <fstream>
#include <map>

#include "batch_error.h"
#include "files.h"
#include "layout.h"

namespace {

// One path a line; empty lines and lines starting with # are skipped.
void add_listed(const std::string& list, std::vector<std::string>& inputs) {
    std::ifstream in(list);
    if (!in)
        throw batch_error("cannot read the list " + list);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.front() != '#')
            inputs.push_back(line);
    if (in.bad())
        throw batch_error("cannot read the list " + list);
}

void write_or_refuse(const std::string& path, const std::string& text) {
    if (const int error = replace_file(path, text); error != 0)
        throw batch_error("cannot write " + path + ": " + reason_of(error));
}

}  // namespace

plan_request read_plan_arguments(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw batch_error("plan: no batch directory given");
    plan_request request{arguments.front(), {}, {}};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--") {
            request.options.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        if (word == "--list") {
            if (++i == arguments.size())
                throw batch_error("--list needs a file");
            add_listed(arguments[i], request.inputs);
        } else if (word.starts_with("--list=")) {
            add_listed(word.substr(7), request.inputs);
        } else if (word.starts_with("-") && word.size() > 1) {
            throw batch_error("plan: unknown option " + word + " (vimsor options go after --)");
        } else {
            request.inputs.push_back(word);
        }
    }
    if (request.inputs.empty())
        throw batch_error("plan: no input file given");
    return request;
}

std::vector<planned_input> plan_inputs(const std::vector<std::string>& inputs,
                                       const run_options& options) {
    std::vector<planned_input> planned;
    std::map<std::string, std::string> first_with_output;
    for (const std::string& input : inputs) {
        struct stat info;
        if (stat(input.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            throw batch_error("no such input file: " + input);
        planned_input entry{absolute_path(input), {}};
        entry.outputs = output_names(entry.input, options);
        for (const std::string& output : entry.outputs) {
            const auto [first, fresh] = first_with_output.emplace(output, entry.input);
            if (!fresh)
                throw batch_error(first->second + " and " + entry.input +
                                  " would both give the output " + output);
        }
        planned.push_back(std::move(entry));
    }
    return planned;
}

std::size_t make_plan(const plan_request& request) {
    const run_options options = read_run_options(request.options);
    const batch_layout layout{request.dir};
    struct stat info;
    if (stat(layout.manifest().c_str(), &info) == 0)
        throw batch_error(request.dir + " already holds a plan; use a new directory");
    const std::vector<planned_input> planned = plan_inputs(request.inputs, options);
    for (const std::string& directory : {layout.records(), layout.out(), layout.dir + "/logs"})
        if (const int error = make_directories(directory); error != 0)
            throw batch_error("cannot create " + directory + ": " + reason_of(error));
    write_or_refuse(layout.options(), nul_terminated(options.words));
    // The manifest last: a directory holds a plan only once it is complete.
    write_or_refuse(layout.manifest(), manifest_text(planned));
    return planned.size();
}
