// The command-line skeleton the nv tools share: options and operands in any
// order, "--" ending the options, -h and --help; a wrong command line ends
// with status 2, a failure with a file with status 1.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nvtools {

// A wrong command line: the program says why, shows its usage and ends with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Option {
    std::string name;  // "json" is given as --json; a single character "o" as -o
    bool takes_value = false;
    // Takes the option's value ("" for an option without one); throws
    // UsageError for a value it refuses.
    std::function<void(const std::string& value)> take;
};

struct Program {
    std::string name;   // the start of every message: "nvplot"
    std::string usage;  // the usage text, ending in a line end
    std::vector<Option> options;
    std::size_t min_operands = 1;
    std::size_t max_operands = 1;
    std::string operands_wanted;  // why a wrong count of operands is refused
};

// The operands of the command line, after every option was handed to its
// take(). A long option's value follows it as "--name=value" or as the next
// argument; a short one's as "-ovalue" or the next argument. An argument
// after "--", and "-" itself, is an operand. Throws UsageError naming an
// unknown option, a missing or unwanted value, or a wrong count of operands.
// help tells whether -h or --help came first (nothing is checked then).
std::vector<std::string> parse_command_line(const Program& program,
                                            const std::vector<std::string>& arguments, bool& help);

// A whole program: parses the command line (argv[1] on), then runs work on
// the operands and returns its status. Help goes to standard output with
// status 0; a usage error is told as "<name>: <why>" followed by the usage on
// the error stream, status 2; an exception from work as "<name>: <what>",
// status 1; and a standard output that could not be written gives status 1.
int run_program(const Program& program, int argc, char** argv,
                const std::function<int(const std::vector<std::string>& operands)>& work);

}  // namespace nvtools
