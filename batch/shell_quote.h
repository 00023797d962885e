#pragma once

// A word quoted for the POSIX shell: the shell reads it back as exactly that
// word, whatever bytes it holds (line breaks, quotes, $, `, %, backslashes).

#include <string>

std::string shell_quoted(const std::string& word);
