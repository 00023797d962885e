// nvinfo FILE...: what a recording or result file holds.

#include "child_run.h"
#include "info_report.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage = "usage: nvinfo [--json] FILE...\n";

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_ended && arg == "--json") {
            json = true;
        } else if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && (arg == "-h" || arg == "--help")) {
            std::cout << usage;
            return 0;
        } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            std::cerr << "nvinfo: unknown option " << arg << "\n" << usage;
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::cerr << usage;
        return 2;
    }

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
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "nvinfo: cannot write the report\n";
        return 1;
    }
    return status;
}
