// mavlin stand-in: an analysis program for vimsor's tests and demos. It
// honours the contract of the real program (command line, job files, result
// files) with a simple, deterministic computation; it is not an array analysis.

#include <cstdio>
#include <stdexcept>

#include "command_line.h"
#include "job_analysis.h"

namespace {

void print_banner() {
    std::fputs(
        "mavlin: stand-in analysis program of vimsor, for tests and demos only\n"
        "usage: mavlin [--swatch] [-#2sf128[o][z1|z2]] [-#] -p<size>i<interval>v<threshold>[w<low>]"
        " job.dat...\n",
        stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        print_banner();
        return 0;
    }
    command_line line;
    try {
        line = parse_command_line(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    for (const auto& note : line.notes)
        std::fprintf(stderr, "%s\n", note.c_str());
    bool all_done = true;
    for (const auto& name : line.job_names)
        all_done = analyse_job(name, line.options) && all_done;
    return all_done ? 0 : 1;
}
