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

// The words of --channels: patterns separated by commas.
std::vector<std::string> split_patterns(const std::string& text) {
    std::vector<std::string> patterns;
    std::size_t from = 0;
    for (std::size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
        patterns.push_back(text.substr(from, comma - from));
    patterns.push_back(text.substr(from));
    return patterns;
}

// Takes --sds, --channels, --from and --to (as "--x V" or "--x=V") at word i;
// false for any other word.
bool take_sds_option(const std::vector<std::string>& arguments, std::size_t& i,
                     plan_request& request) {
    const std::string& word = arguments[i];
    const std::size_t equals = word.find('=');
    const std::string option = word.substr(0, equals);
    if (option != "--sds" && option != "--channels" && option != "--from" && option != "--to")
        return false;
    std::string value;
    if (equals != std::string::npos)
        value = word.substr(equals + 1);
    else if (++i < arguments.size())
        value = arguments[i];
    else
        throw batch_error(option + " needs a value");
    sds_request& sds = request.sds ? *request.sds : request.sds.emplace();
    if (option == "--sds")
        sds.root = value;
    else if (option == "--channels")
        sds.patterns = split_patterns(value);
    else
        (option == "--from" ? sds.from : sds.to) = value;
    return true;
}

void check_sds_request(const plan_request& request) {
    const sds_request& sds = *request.sds;
    if (!request.inputs.empty())
        throw batch_error("plan: files (" + request.inputs.front() +
                          ") and an SDS archive are not taken together");
    const std::pair<const char*, bool> needed[] = {{"--sds", sds.root.empty()},
                                                   {"--channels", sds.patterns.empty()},
                                                   {"--from", sds.from.empty()},
                                                   {"--to", sds.to.empty()}};
    for (const auto& [option, missing] : needed)
        if (missing)
            throw batch_error(std::string("plan: an SDS archive needs ") + option);
}

plan_request read_plan_arguments(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw batch_error("plan: no batch directory given");
    plan_request request{arguments.front(), {}, {}, {}};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--") {
            request.options.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        if (take_sds_option(arguments, i, request))
            continue;
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
    if (request.sds)
        check_sds_request(request);
    else if (request.inputs.empty())
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

void check_no_plan(const batch_layout& layout, const std::string& dir) {
    struct stat info;
    if (stat(layout.manifest().c_str(), &info) == 0)
        throw batch_error(dir + " already holds a plan; use a new directory");
}

void write_plan(const batch_layout& layout, const std::vector<std::string>& option_words,
                const std::vector<planned_input>& planned,
                const std::vector<std::pair<std::string, std::string>>& more) {
    for (const std::string& directory : {layout.records(), layout.out(), layout.dir + "/logs"})
        if (const int error = make_directories(directory); error != 0)
            throw batch_error("cannot create " + directory + ": " + reason_of(error));
    write_or_refuse(layout.options(), nul_terminated(option_words));
    for (const auto& [path, text] : more)
        write_or_refuse(path, text);
    // The manifest last: a directory holds a plan only once it is complete.
    write_or_refuse(layout.manifest(), manifest_text(planned));
}

std::size_t make_plan(const plan_request& request) {
    if (request.sds)
        return make_sds_plan(request.dir, *request.sds, request.options);
    const run_options options = read_run_options(request.options);
    const batch_layout layout{request.dir};
    check_no_plan(layout, request.dir);
    const std::vector<planned_input> planned = plan_inputs(request.inputs, options);
    write_plan(layout, options.words, planned);
    return planned.size();
}
