#pragma once

// vimsor's own error message, found by the shape of its standard error and
// not by its wording. The batch hands vimsor a standard error that keeps the
// bounds of every write (a sequenced-packet socket), while the analysis
// program's standard error goes to the log (see mavlin_shim.h). vimsor ends
// a failed run with its message; a message is the text of one write that
// starts a line, with the writes that continue its last line ("fork: ...\n
// Terminating" is one write, its line end another). So the error is the last
// message written.

#include <string>
#include <string_view>

class error_stream {
public:
    void add_write(std::string_view bytes);

    // Everything written, in order.
    const std::string& text() const { return text_; }

    // The last message without its final line end ("" when nothing was written).
    std::string last_message() const;

private:
    std::string text_;
    std::size_t last_start_ = 0;
};
