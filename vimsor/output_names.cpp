#include "output_names.h"

#include <cerrno>

#include "mypath.h"
#include "output_formats.h"

std::string name_of_strength(std::string weak_name, enum global_strength which, bool bandp) {
    if (weak_name.empty())
        return weak_name;
    if (which == strong)
        weak_name.back() = '2';
    if (bandp)
        weak_name.back() = '3';
    return weak_name;
}

std::string output_extension(output_modes_t mode, enum global_strength which, bool bandp) {
    return name_of_strength(std::string(output_format_of(mode).extension), which, bandp);
}

std::vector<std::string> output_extensions(const option_values& values) {
    const enum global_strength strength = strength_in_use(values);
    if (strength == both)
        return {output_extension(values.mode, weak, values.bandp),
                output_extension(values.mode, strong, values.bandp)};
    return {output_extension(values.mode, strength, values.bandp)};
}

output_name_fault form_output_name(const std::string& input, const std::string& output_name,
                                   const std::string& extension, std::string& name) {
    char filename[output_name_piece_size] = "";
    // Only the file name is used; a long directory or extension does no harm.
    if (explode_path_n(input.c_str(), nullptr, 0, nullptr, 0, filename, sizeof filename, nullptr,
                       0) != 0)
        return OUTPUT_NAME_INPUT_TOO_LONG;
    const std::string base = output_name.empty() ? filename : output_name;
    if (base.size() >= output_name_piece_size)
        return OUTPUT_NAME_O_TOO_LONG;
    char joined[output_name_size];
    if (combine_path_n(joined, sizeof joined, nullptr, nullptr, base.c_str(), extension.c_str()) !=
        0) {
        name = base + extension;
        return OUTPUT_NAME_TOO_LONG;
    }
    name = joined;
    return OUTPUT_NAME_FITS;
}

int output_file_name(const std::string& input, const option_values& values,
                     const std::string& extension, std::string& name) {
    std::string formed;
    if (form_output_name(input, values.output_name, extension, formed) != OUTPUT_NAME_FITS)
        return ENAMETOOLONG;
    name = formed;
    return 0;
}

std::string job_namebase(const std::string& namebase, const std::string& output_name) {
    return !output_name.empty() && namebase == option_values{}.namebase ? output_name : namebase;
}
