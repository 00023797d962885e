// nvinfo FILE...: what a recording or result file holds.

#include "child_run.h"
#include "command_line.h"
#include "info_report.h"

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage = "usage: nvinfo [--json] FILE...\n";

int report(const std::vector<std::string>& files, bool json) {
    int status = 0;
    std::vector<std::string> objects;
    for (const std::string& file : files) {
        nvtools::ChildOutcome outcome;
        try {
            // Each file in its own process: the legacy reader may end the process.
            outcome =
                nvtools::run_in_child([&file, json] { return nvtools::describe_file(file, json); });
        } catch (const std::exception& e) {
            outcome.reason = e.what();
        }
        if (!outcome.ok) {
            std::cerr << "nvinfo: " << file << ": " << outcome.reason << "\n";
            status = 1;
        } else if (json) {
            objects.push_back(outcome.output);
        } else {
            std::cout << (&file == &files.front() ? "" : "\n") << outcome.output << std::flush;
        }
    }
    if (json) {
        std::cout << "[";
        for (size_t i = 0; i < objects.size(); ++i)
            std::cout << (i == 0 ? "\n" : ",\n") << objects[i];
        std::cout << "\n]\n";
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    const nvtools::Program program{
        .name = "nvinfo",
        .usage = usage,
        .options = {{"json", false, [&json](const std::string&) { json = true; }}},
        .min_operands = 1,
        .max_operands = SIZE_MAX,
        .operands_wanted = "needs at least one file",
    };
    return nvtools::run_program(
        program, argc, argv,
        [&json](const std::vector<std::string>& files) { return report(files, json); });
}
