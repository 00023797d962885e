#pragma once

// The plan on disk. The manifest holds, per input, its absolute path and the
// names of its outputs, each word ended by a NUL and the entry by an empty
// word, so that no name is ever split; the options file holds vimsor's option
// words, each ended by a NUL (an empty word is kept).

#include <string>
#include <vector>

struct planned_input {
    std::string input;                 // absolute path
    std::vector<std::string> outputs;  // the names vimsor gives its outputs
};

std::string manifest_text(const std::vector<planned_input>& inputs);

// Throws batch_error naming path when the text is not a manifest.
std::vector<planned_input> parse_manifest(const std::string& text, const std::string& path);
