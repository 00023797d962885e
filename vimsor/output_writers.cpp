// The writer of every output mode, looked up by the mode of the output format
// table.

#include <array>

#include "nevra_writer.h"
#include "nevra_writer_ascii.h"
#include "nevra_writer_binary.h"
#include "nevra_writer_tm4.h"
#include "output_formats.h"
#include "settings.h"

namespace {

template <class Writer>
nevra_writer* make(const char* fname, const char* comnt) {
    return new Writer(fname, comnt);
}

struct output_writer {
    output_modes_t mode;
    nevra_writer* (*make)(const char* fname, const char* comnt);
};

constexpr std::array<output_writer, OUTPUT_MODE_LAST> writers{{
    {OUTPUT_MODE_BINARY, make<nevra_writer_binary>},
    {OUTPUT_MODE_ASCII, make<nevra_writer_ascii>},
    {OUTPUT_MODE_TM4, make<nevra_writer_tm4>},
}};

// A row left out leaves a zero row behind, whose mode 0 is not its index.
// (Comparing the function pointers is no constant expression under the
// sanitizers.)
constexpr bool every_mode_has_its_writer() {
    for (std::size_t i = 0; i < writers.size(); ++i)
        if (writers[i].mode != static_cast<output_modes_t>(i))
            return false;
    return true;
}

static_assert(every_mode_has_its_writer(), "row i of the writers must make the writer of mode i");

}  // namespace

nevra_writer* nevra_writer_detect(const char* fname, const char* comnt) {
    return writers[output_format_of(mode).mode].make(fname, comnt);
}
