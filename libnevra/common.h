// Shared helpers of the sample-file library: the message builder and the debug switch.
#pragma once

#include <sstream>
#include <string>
#include <string_view>

namespace Nevra {

// Process-wide debug switch; 0 at start. When non-zero, library functions
// write trace lines beginning "Debug:" to standard error.
extern int nevra_debug;

// Writes "Debug:<source>(<line>) <text>" to standard error in one write, only
// when nevra_debug is non-zero. The text carries its own line end.
void debug_trace(const char* source, int line, std::string_view text);

// The white space of scanf's conversions.
inline bool is_scanf_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// True when the text at p, up to last, starts like a plain decimal number:
// an optional '-', then a digit or a decimal point.
inline bool starts_plain_number(const char* p, const char* last) {
    if (p != last && *p == '-')
        ++p;
    return p != last && ((*p >= '0' && *p <= '9') || *p == '.');
}

// The fast path of the text readers' number scans: a plain decimal number at
// p (see starts_plain_number) that ends at last or at white space reads the
// same with from_chars as with scanf's %lf. Returns the end of the number, or
// null when the text is anything else (a '+', hex, inf or nan, a number out
// of range or followed by other text), which the caller leaves to sscanf.
const char* read_plain_decimal(const char* p, const char* last, double& value);

// True when truncating value toward zero gives a 32-bit signed integer.
inline bool fits_int32(double value) {
    return value > -2147483648.0 - 1.0 && value < 2147483647.0 + 1.0;
}

// The shortest text that reads back as the same double (std::to_chars with
// no precision): "8388607", "0.1", "100.001220703125", "1e+300".
std::string round_trip_text(double value);

// Builds a message with <<; converts to a string.
class Formatter {
public:
    enum ConvertToString { to_str };

    Formatter() = default;
    Formatter(const Formatter&) = delete;
    Formatter& operator=(const Formatter&) = delete;

    template <typename T>
    Formatter& operator<<(const T& value) {
        stream_ << value;
        return *this;
    }

    std::string str() const { return stream_.str(); }
    operator std::string() const { return stream_.str(); }
    std::string operator>>(ConvertToString) const { return stream_.str(); }

private:
    std::ostringstream stream_;
};

}  // namespace Nevra
