#include "vimsor_rules.h"

#include <algorithm>
#include <cerrno>

#include "at_file.h"
#include "batch_error.h"
#include "output_names.h"

namespace {

// An option as the user would spell it, from its canonical name.
std::string spelled(const std::string& seen) { return (seen.size() == 1 ? "-" : "--") + seen; }

bool was_given(const parsed_options& parsed, const char* name) {
    return std::find(parsed.seen.begin(), parsed.seen.end(), name) != parsed.seen.end();
}

void refuse_outcome(const parsed_options& parsed, const std::vector<std::string>& words) {
    switch (parsed.outcome) {
    case OPTIONS_RUN: return;
    case OPTIONS_BAD_VALUE:
        throw batch_error("not a number: " + parsed.bad_word + " (vimsor: " + parsed.message + ")");
    case OPTIONS_HELP:
        if (!was_given(parsed, "help")) {
            std::string all;
            for (const std::string& word : words)
                all += " " + word;
            throw batch_error("not a vimsor option, or one without its value, in:" + all);
        }
        [[fallthrough]];
    case OPTIONS_VERSION:
    case OPTIONS_VER_MAVLIN:
        throw batch_error(spelled(parsed.seen.back()) + " is not taken: it processes no file");
    }
}

}  // namespace

run_options read_run_options(const std::vector<std::string>& words) {
    for (const std::string& word : words)
        if (expands_as_argument_file(word.c_str()))
            throw batch_error("argument files and comments (" + word +
                              ") are not taken after --; give the options themselves");
    std::vector<std::string> copies{"vimsor"};
    copies.insert(copies.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& copy : copies)
        argv.push_back(copy.data());
    argv.push_back(nullptr);
    const parsed_options parsed =
        parse_vimsor_options(static_cast<int>(copies.size()), argv.data(), false);

    refuse_outcome(parsed, words);
    if (!parsed.unknown_mode_words.empty())
        throw batch_error("--mode " + parsed.unknown_mode_words.front() + " names no output format");
    for (const char* batch_own : {"o", "namebase"})
        if (was_given(parsed, batch_own))
            throw batch_error(spelled(batch_own) +
                              " is not taken: the batch names the outputs and job files itself");
    if (was_given(parsed, "cpus"))
        throw batch_error("--cpus is not taken: give run --cpus or submit --cpus-per-task");
    if (!parsed.operands.empty())
        throw batch_error("only options are taken after --, not the file " + parsed.operands.front());
    return {words, output_extensions(parsed.values), parsed.values, parsed.seen};
}

std::vector<std::string> output_names(const std::string& input, const run_options& options) {
    std::vector<std::string> names;
    for (const std::string& extension : options.extensions)
        if (output_file_name(input, options.values, extension, names.emplace_back()) != 0)
            throw batch_error(input + ": vimsor cannot name its output (the name is too long)");
    return names;
}
