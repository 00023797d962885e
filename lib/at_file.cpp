#include "at_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// A line is read in pieces of at most line_buffer_size - 1 characters.
constexpr int line_buffer_size = 4096;

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

// The expansion in progress: the new arguments (malloc'd copies) and the chain
// of argument files that are open at the moment.
struct Expansion {
    std::vector<char*> args;
    std::vector<FileId> open_files;
    bool changed = false;  // an argument file was read or an argument dropped
    int error = 0;
};

void add_arg_to_argv(Expansion& e, const char* arg);

void keep(Expansion& e, const char* arg) {
    if (e.args.size() >= static_cast<std::size_t>(INT_MAX - 2)) {
        e.error = E2BIG;
        return;
    }
    char* copy = strdup(arg);
    if (copy == nullptr) {
        e.error = ENOMEM;
        return;
    }
    e.args.push_back(copy);
}

// Opens the argument file named by arg (without its "@" or "$"). Null when it
// is not an argument file after all: it does not open, or it is a directory.
std::FILE* open_argument_file(const char* path, FileId& id) {
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr)
        return nullptr;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(f);  // opened for reading only: nothing is lost if closing fails
        return nullptr;
    }
    id = FileId{st.st_dev, st.st_ino};
    return f;
}

bool is_open(const Expansion& e, const FileId& id) {
    for (const FileId& open : e.open_files)
        if (open == id)
            return true;
    return false;
}

// Every line of f becomes an argument; a line longer than the buffer gives one
// argument per piece. A read error ends the file like its end does.
void add_lines(Expansion& e, std::FILE* f) {
    char line[line_buffer_size];
    bool continued = false;  // the previous piece was cut before its line feed
    while (e.error == 0 && std::fgets(line, sizeof line, f) != nullptr) {
        std::size_t len = std::strlen(line);
        const bool complete = len > 0 && line[len - 1] == '\n';
        if (complete)
            line[--len] = '\0';
        // The line feed of a line that filled the buffer exactly is the end
        // of that line, not an empty line of its own.
        if (!(continued && complete && len == 0))
            add_arg_to_argv(e, line);
        continued = !complete;
    }
}

void expand_file(Expansion& e, const char* arg) {
    FileId id{};
    std::FILE* f = open_argument_file(arg + 1, id);
    if (f == nullptr) {
        keep(e, arg);
        return;
    }
    if (is_open(e, id) ||
        e.open_files.size() >= static_cast<std::size_t>(max_argument_file_depth)) {
        std::fclose(f);  // read-only
        if (is_open(e, id))
            std::fprintf(stderr, "argument file %s names itself; %s is passed on unchanged\n",
                         arg + 1, arg);
        else
            std::fprintf(
                stderr, "argument file %s is nested more than %d deep; %s is passed on unchanged\n",
                arg + 1, max_argument_file_depth, arg);
        keep(e, arg);
        return;
    }
    e.changed = true;
    e.open_files.push_back(id);
    add_lines(e, f);
    e.open_files.pop_back();
    std::fclose(f);  // read-only
}

// Applies the rules to one argument: "@" or "$" names an argument file, "#"
// starts a comment, anything else is kept.
void add_arg_to_argv(Expansion& e, const char* arg) {
    if (arg[0] == '@' || arg[0] == '$')
        expand_file(e, arg);
    else if (arg[0] == '#')
        e.changed = true;
    else
        keep(e, arg);
}

void release(std::vector<char*>& args) {
    for (char* a : args)
        std::free(a);
    args.clear();
}

}  // namespace

bool expands_as_argument_file(const char* arg) {
    return arg[0] == '@' || arg[0] == '$' || arg[0] == '#';
}

int rebuild_argv(int* argc, char*** argv) {
    Expansion e;
    try {
        e.open_files.reserve(max_argument_file_depth);
        for (int i = 0; i < *argc && e.error == 0; ++i)
            add_arg_to_argv(e, (*argv)[i]);
    } catch (const std::bad_alloc&) {
        e.error = ENOMEM;
    }
    if (e.error != 0 || !e.changed) {
        release(e.args);
        return e.error;
    }
    auto** array = static_cast<char**>(std::malloc((e.args.size() + 2) * sizeof(char*)));
    if (array == nullptr) {
        release(e.args);
        return ENOMEM;
    }
    std::copy(e.args.begin(), e.args.end(), array);
    array[e.args.size()] = nullptr;
    array[e.args.size() + 1] = nullptr;
    *argc = static_cast<int>(e.args.size());
    *argv = array;
    return 0;
}

int restore_argv(int* argc, char*** argv, int old_argc, char** old_argv) {
    if (*argv == old_argv)
        return 0;
    for (int i = 0; i < *argc; ++i) {
        std::free((*argv)[i]);
        (*argv)[i] = nullptr;
    }
    std::free(*argv);
    *argc = old_argc;
    *argv = old_argv;
    return 0;
}
