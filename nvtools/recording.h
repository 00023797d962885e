// A recording or result file loaded through libnevra, with what the tools
// report beside the channel model: the format found and the comment line.
#pragma once

#include "nevra_base.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nvtools {

enum class Format { block, legacy_binary, legacy_ascii, legacy_old_type, tm4 };

const char* format_name(Format format);

struct Recording {
    std::string file;
    Format format = Format::block;
    std::unique_ptr<Nevra::Nevra_Base> model;
    std::optional<std::string> comment;  // the comment line, where the format has one

    size_t samples() const { return model->get_time().size(); }
    size_t channels() const { return model->get_channels().size(); }
    bool is_legacy() const;
};

// The station's name from the station tables; nothing for an id they lack.
std::optional<std::string> station_name(const Recording& recording);

// Loads file with the reader nvdetect picks. Throws std::runtime_error with
// the reason (without the file name) when no reader accepts it. The legacy
// reader ends the process itself on some damaged files.
Recording load_recording(const std::string& file);

// The values of every channel as numbers. The model keeps whole numbers only,
// so a TM4 file (whose results have fractions) is read again as text here;
// other formats give their samples as they are.
std::vector<std::vector<double>> channel_values(const Recording& recording);

// True when every value is a whole number within the 32-bit range.
bool all_whole_numbers(const std::vector<std::vector<double>>& values);

}  // namespace nvtools
