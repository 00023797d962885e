#pragma once

// File access for the batch directory: whole files read and written, files
// replaced in one rename, lists of words kept NUL-terminated so that any name
// (line breaks included) and an empty word survive.

#include <string>
#include <vector>

// The whole file; throws batch_error naming it when it cannot be read.
std::string read_file(const std::string& path);

// Writes text to path through a temporary file beside it and one rename, so
// a reader sees the old content or the new, never a part. Returns 0 or the
// error number of the step that failed (the temporary file is then removed).
int replace_file(const std::string& path, const std::string& text);

// Copies the file from into a new file to (replaced when it exists), with
// from's permissions. 0 or the error number; to may then be partly written.
int copy_file(const std::string& from, const std::string& to);

// Words each ended by a NUL, and back.
std::string nul_terminated(const std::vector<std::string>& words);
std::vector<std::string> split_nul_terminated(const std::string& text);

// mkdir -p; 0 or the error number.
int make_directories(const std::string& path);

// Removes a file or a whole tree; a missing path is no error. 0 or the error number.
int remove_tree(const std::string& path);

// The absolute form of path (not resolving links): relative paths are taken
// from the working directory, which is read as it is (a backslash stays one).
std::string absolute_path(const std::string& path);

// The last component of a path.
std::string base_name(const std::string& path);
