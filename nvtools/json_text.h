// Pieces of JSON text: strings from any bytes, numbers that may not be finite.
#pragma once

#include <string>

namespace nvtools {

// A JSON string of text (a file name, a comment line: any bytes). Quotes,
// backslashes and control characters are escaped (\uXXXX for those without a
// short form). A byte that is not part of valid UTF-8 becomes \ufffd, the
// replacement character, so that every name gives valid JSON; such a name
// cannot be recovered exactly from the text.
std::string json_string(const std::string& text);

// The shortest text that reads back as value, or null when it is not finite.
std::string json_number(double value);

// "YYYY-MM-DDTHH:MM:SS.ffffffZ" of seconds since 1970 in quotes, or null when not finite.
std::string json_time(double seconds);

}  // namespace nvtools
