#include "command_line.h"

#include <algorithm>
#include <iostream>

namespace nvtools {

namespace {

const Option* option_named(const Program& program, const std::string& name) {
    const auto found = std::find_if(program.options.begin(), program.options.end(),
                                    [&name](const Option& option) { return option.name == name; });
    return found == program.options.end() ? nullptr : &*found;
}

bool is_help(const std::string& argument) { return argument == "-h" || argument == "--help"; }

// The option of an argument that starts with "-" or "--", with the value
// written into the argument itself ("--name=value", "-ovalue"), if any.
struct Spelled {
    const Option* option = nullptr;
    bool has_value = false;
    std::string value;
};

Spelled spelled_option(const Program& program, const std::string& argument) {
    Spelled spelled;
    if (argument.rfind("--", 0) == 0) {
        const std::size_t equals = argument.find('=');
        spelled.option = option_named(program, argument.substr(2, equals - 2));
        if (spelled.option != nullptr && spelled.option->name.size() == 1)
            spelled.option = nullptr;  // a short option is not spelled --o
        if (equals != std::string::npos) {
            spelled.has_value = true;
            spelled.value = argument.substr(equals + 1);
        }
    } else {
        spelled.option = option_named(program, argument.substr(1, 1));
        if (argument.size() > 2) {
            spelled.has_value = true;
            spelled.value = argument.substr(2);
        }
    }
    if (spelled.option == nullptr)
        throw UsageError("unknown option " + argument);
    return spelled;
}

std::string spelling(const Option& option) {
    return (option.name.size() == 1 ? "-" : "--") + option.name;
}

}  // namespace

std::vector<std::string> parse_command_line(const Program& program,
                                            const std::vector<std::string>& arguments, bool& help) {
    help = false;
    std::vector<std::string> operands;
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            operands.push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (is_help(argument)) {
            help = true;
            return operands;
        } else {
            Spelled spelled = spelled_option(program, argument);
            const Option& option = *spelled.option;
            if (!option.takes_value && spelled.has_value)
                throw UsageError(spelling(option) + " takes no value");
            if (option.takes_value && !spelled.has_value) {
                if (i + 1 == arguments.size())
                    throw UsageError(spelling(option) + " needs a value");
                spelled.value = arguments[++i];
            }
            option.take(spelled.value);
        }
    }
    if (operands.size() < program.min_operands || operands.size() > program.max_operands)
        throw UsageError(program.operands_wanted);
    return operands;
}

int run_program(const Program& program, int argc, char** argv,
                const std::function<int(const std::vector<std::string>& operands)>& work) {
    int status = 0;
    try {
        bool help = false;
        const std::vector<std::string> operands = parse_command_line(
            program, std::vector<std::string>(argv + std::min(argc, 1), argv + argc), help);
        if (help)
            std::cout << program.usage;
        else
            status = work(operands);
    } catch (const UsageError& e) {
        std::cerr << program.name << ": " << e.what() << "\n" << program.usage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << program.name << ": " << e.what() << "\n";
        return 1;
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << program.name << ": cannot write to standard output\n";
        return 1;
    }
    return status;
}

}  // namespace nvtools
