#pragma once

// Argument files: an argument "@path" (or "$path") is replaced by the lines of
// the file path, one argument per line, recursively; an argument beginning
// with "#" is dropped. An argument file that cannot be opened is passed on as
// an ordinary argument.

// Expands the argument vector in place. When nothing was expanded or dropped,
// the count and the array are left as they are; otherwise they are replaced by
// a newly allocated vector (ended by a null pointer) whose strings are private
// copies. Returns 0, ENOMEM when memory ran out (the vector is then left
// unchanged), or E2BIG when the expansion has more arguments than an int
// counts. Nesting deeper than max_argument_file_depth, and a file that names
// itself (directly or through others), is reported on the error stream and
// the argument is passed on unchanged.
int rebuild_argv(int* argc, char*** argv);

// Whether rebuild_argv replaces or drops arg: it names an argument file or
// starts a comment.
bool expands_as_argument_file(const char* arg);

// Releases a vector made by rebuild_argv and puts the saved one back.
int restore_argv(int* argc, char*** argv, int old_argc, char** old_argv);

constexpr int max_argument_file_depth = 32;
