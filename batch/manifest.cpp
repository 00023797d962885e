#include "manifest.h"

#include "batch_error.h"
#include "files.h"

std::string manifest_text(const std::vector<planned_input>& inputs) {
    std::string text;
    for (const planned_input& entry : inputs) {
        std::vector<std::string> words{entry.input};
        words.insert(words.end(), entry.outputs.begin(), entry.outputs.end());
        words.emplace_back();
        text += nul_terminated(words);
    }
    return text;
}

std::vector<planned_input> parse_manifest(const std::string& text, const std::string& path) {
    if (!text.empty() && text.back() != '\0')
        throw batch_error(path + " is not a manifest (its last entry is cut short)");
    std::vector<planned_input> inputs;
    planned_input entry;
    for (std::string& word : split_nul_terminated(text)) {
        if (!word.empty()) {
            (entry.input.empty() ? entry.input : entry.outputs.emplace_back()) = std::move(word);
            continue;
        }
        if (entry.outputs.empty())
            throw batch_error(path + " is not a manifest (entry " +
                              std::to_string(inputs.size() + 1) + " names no output)");
        inputs.push_back(std::move(entry));
        entry = {};
    }
    if (!entry.input.empty())
        throw batch_error(path + " is not a manifest (its last entry is cut short)");
    return inputs;
}
