#include "output_formats.h"

#include <algorithm>

namespace {

constexpr std::array<output_format, OUTPUT_MODE_LAST> formats{{
    {OUTPUT_MODE_BINARY, {"bin", "binary"}, "bin = old nv16-format (default)", ".bi1"},
    {OUTPUT_MODE_ASCII, {"ascii", "asc"}, "ascii = old ascii nv16 format", ".da1"},
    {OUTPUT_MODE_TM4, {"tm4", "tm4"}, "tm4 = use this for nv24", ".tm4_1"},
}};

constexpr bool rows_follow_modes() {
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (formats[i].mode != static_cast<output_modes_t>(i))
            return false;
    return true;
}

constexpr bool extensions_end_in_one() {
    return std::all_of(formats.begin(), formats.end(), [](const output_format& f) {
        return !f.extension.empty() && f.extension.back() == '1';
    });
}

static_assert(rows_follow_modes(), "row i of the output formats must describe mode i");
static_assert(extensions_end_in_one(),
              "the strength replaces the last character of an extension, a '1'");

}  // namespace

const std::array<output_format, OUTPUT_MODE_LAST> output_formats = formats;

const output_format& output_format_of(output_modes_t m) {
    const auto index = static_cast<std::size_t>(m);
    return index < output_formats.size() ? output_formats[index]
                                         : output_formats[OUTPUT_MODE_BINARY];
}

const output_format* output_format_named(std::string_view word) {
    for (const output_format& format : output_formats)
        if (std::find(format.words.begin(), format.words.end(), word) != format.words.end())
            return &format;
    return nullptr;
}
