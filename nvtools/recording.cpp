#include "recording.h"

#include "common.h"
#include "file_bytes.h"
#include "nevra.h"
#include "tm4_values.h"

#include <cmath>
#include <stdexcept>

namespace nvtools {

namespace {

// As many bytes as classify_input looks at.
constexpr size_t head_bytes = 3072;

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Which legacy layout the file has and its comment line, from the legacy
// reader's own look at the file start.
void describe_legacy(Recording& recording) {
    Nevra::NEVRA_arguments quiet;
    quiet.m_quiet = true;
    const std::unique_ptr<Nevra::NEVRA> reader(Nevra::detect(recording.file.c_str(), &quiet));
    if (reader->is_old_file_type())
        recording.format = Format::legacy_old_type;
    else
        recording.format = reader->is_binary() ? Format::legacy_binary : Format::legacy_ascii;
    if (reader->firstline()[0] != '\0')
        recording.comment = reader->firstline();
}

void describe_tm4(Recording& recording, const std::string& head) {
    recording.format = Format::tm4;
    if (!head.empty() && head.front() == '!')
        recording.comment = without_line_end(head.substr(0, head.find('\n')));
}

}  // namespace

const char* format_name(Format format) {
    switch (format) {
    case Format::block: return "24-bit block";
    case Format::legacy_binary: return "legacy binary";
    case Format::legacy_ascii: return "legacy ASCII";
    case Format::legacy_old_type: return "old-type legacy";
    case Format::tm4: return "TM4";
    }
    return "unknown";
}

bool Recording::is_legacy() const {
    return format == Format::legacy_binary || format == Format::legacy_ascii ||
           format == Format::legacy_old_type;
}

Recording load_recording(const std::string& file) {
    Recording recording;
    recording.file = file;
    const std::string head = file_head(file, head_bytes);
    const Nevra::input_format found = Nevra::classify_input(head);
    if (found == Nevra::INPUT_FORMAT_NONE)
        throw std::runtime_error("no reader accepts this file (comment line without a line end)");
    try {
        recording.model.reset(Nevra::nvdetect(file.c_str(), 0.0));
        if (!recording.model)
            throw std::runtime_error("no reader accepts this file");
        if (found == Nevra::INPUT_FORMAT_LEGACY)
            describe_legacy(recording);
        else if (found == Nevra::INPUT_FORMAT_TM4)
            describe_tm4(recording, head);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(without_line_end(e.what()));
    } catch (const std::exception& e) {
        throw std::runtime_error(Nevra::Formatter()
                                 << "not a readable recording (" << e.what() << ")");
    }
    if (recording.samples() == 0)
        throw std::runtime_error("the file holds no samples");
    return recording;
}

std::vector<std::vector<double>> channel_values(const Recording& recording) {
    if (recording.format == Format::tm4)
        return read_tm4_values(recording.file, recording.samples(), recording.channels());
    std::vector<std::vector<double>> values(recording.channels());
    for (size_t c = 0; c < values.size(); ++c) {
        const auto& samples = recording.model->get_data(c);
        values[c].assign(samples.begin(), samples.end());
    }
    return values;
}

std::optional<std::string> station_name(const Recording& recording) {
    try {
        return std::string(recording.model->station_name());
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

bool all_whole_numbers(const std::vector<std::vector<double>>& values) {
    for (const auto& channel : values)
        for (double v : channel)
            if (v != std::trunc(v) || !Nevra::fits_int32(v))
                return false;
    return true;
}

}  // namespace nvtools
