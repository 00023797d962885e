// The comment line grammar and the start day and hour taken from a file name,
// on arbitrary text: the bytes before the first line feed are a file name,
// the rest a comment line, both given to one legacy reader made at start.
#include "fuzz_input.h"
#include "nevra.h"

#include <string>

namespace {

Nevra::NEVRA& reader() {
    static const std::unique_ptr<Nevra::NEVRA> made = [] {
        std::string file = "!S128Tidserier sampfrek: 10\r";
        file.resize(Nevra::NEVRA::LINELEN + 780, '\0');
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        return std::unique_ptr<Nevra::NEVRA>(Nevra::detect(
            fuzz::input_file(reinterpret_cast<const uint8_t*>(file.data()), file.size()), &args));
    }();
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Nevra::NEVRA& nevra = reader();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t end_of_name = text.find('\n');
    const std::string name = text.substr(0, end_of_name);
    const std::string comment =
        end_of_name == std::string::npos ? "" : text.substr(end_of_name + 1);

    fuzz::reset_peak();
    nevra.set_time_start_of_day(name.c_str());
    nevra.set_time_base(name.c_str());
    Nevra::validate_comment(comment.c_str());
    nevra.parse_comment(comment.c_str());
    volatile time_t sink = nevra.get_start_of_day() + nevra.get_nvtime(0);
    (void)sink;
    fuzz::check_memory(size);
    return 0;
}
